#pragma once

#include "run/PaddingReport.h"
#include "run/RecordFileSink.h"

#include <QString>
#include <QStringList>

// The record of what a run changed: a CSV file (UTF-8, a header row, CR LF line ends), one row per
// changed card: old number, new number, what happened to the password (never the password itself),
// loans moved, and whether it is a reader or a number found only in loans.
//
// A cell that a spreadsheet would run as a formula (one that starts with "=", "+", "-", "@", a tab
// or a carriage return) is written with an apostrophe in front, and so is a cell that starts with
// an apostrophe itself: a program that reads the record back takes the first character off every
// cell that starts with an apostrophe (cellValue()) and has the value exactly.
//
// The file follows RecordFile: a name that exists is refused, the rows go to a hidden file beside
// it, created when the record is (a path that cannot be written is refused before the run changes
// anything), and the file appears under its name only by publish(); a record that is never
// published, and whose commit was not sent, leaves nothing.
class ChangeRecord : public RecordFileSink
{
public:
    static inline const QStringList Header = {QStringLiteral("原借书证号"), QStringLiteral("新借书证号"),
                                              QStringLiteral("密码"), QStringLiteral("移动的借阅记录"),
                                              QStringLiteral("类别")};
    // The kinds of rows, in the last column.
    static inline const QString ReaderCategory = QStringLiteral("读者");
    static inline const QString LoanOnlyCategory = QStringLiteral("仅见于借阅记录");
    static inline const QString LeftAloneCategory = QStringLiteral("未处理（补0后与现有证号重复）");
    static inline const QString JoinedCategory = QStringLiteral("原已在新证号下的借阅记录");
    // Followed by TABLE.COLUMN: values of a column of another table padded with the loans.
    static inline const QString AlsoCategory = QStringLiteral("表");
    static QString passwordText(PasswordChange change, bool reader);
    // One CSV field: escaped where a spreadsheet would take it for a formula, quoted where it needs
    // to be.
    static QString field(const QString &text);
    // The value of a cell as a CSV reader returns it (quotes already removed): the inverse of the
    // formula escaping.
    // The rows one changed card takes, as cell values (before field()).
    static QList<QStringList> rowsFor(const ChangedCard &card);
    static QString cellValue(const QString &cell);
    // The first bytes of every record file: its header line.
    static QByteArray signature();

    // Raises EAbort (nothing changed) when the file cannot be made there.
    explicit ChangeRecord(const QString &path);
    ~ChangeRecord() override;

    void add(const ChangedCard &card) override;
    void finish() override;

private:
    void write(const QString &line);
    void flush();

    QByteArray m_buffer;
};
