#pragma once

#include "run/PaddingReport.h"

#include <QString>
#include <QStringList>

#include <cstdio>

// The record of what a run changed: a CSV file (UTF-8, a header row, CR LF line ends), one row per
// changed card: old number, new number, what happened to the password (never the password itself),
// loans moved, and whether it is a reader or a number found only in loans.
//
// The rows go to a temporary file beside the final one, created when the record is: a path that
// cannot be written is refused before the run changes anything. The file appears under its name
// only by publish(), once the run is committed; a record that is never published leaves nothing.
class ChangeRecord : public ChangeSink
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
    // One CSV field, quoted where it needs to be.
    static QString field(const QString &text);

    // Raises EAbort (nothing changed) when the file cannot be made there.
    explicit ChangeRecord(const QString &path);
    ~ChangeRecord() override;
    ChangeRecord(const ChangeRecord &) = delete;
    ChangeRecord &operator=(const ChangeRecord &) = delete;

    void add(const ChangedCard &card) override;
    // Every row is on the disk (raises when not).
    void finish();
    // Puts the file in place under its name (raises when that fails).
    void publish();

    const QString &path() const { return m_path; }
    qint64 rows() const { return m_rows; }

    // The temporary file while it exists, for a signal handler that must leave nothing behind
    // (a plain C string: it may be read at any time).
    static const char *pendingFile();

private:
    void write(const QString &line);
    void fail(const QString &what) const;

    QString m_path;
    QByteArray m_temporary;
    std::FILE *m_file = nullptr;
    qint64 m_rows = 0;
    bool m_published = false;
};
