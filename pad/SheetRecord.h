#pragma once

#include "run/RecordFileSink.h"

#include <QString>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// The change record as a spreadsheet (.xlsx) for the librarians: the rows of the CSV record
// (ChangeRecord), every cell a text cell in a text-formatted column, so that a spreadsheet keeps the
// leading zeros of "000001042", shows the Chinese, and runs nothing that looks like a formula. The
// file follows the same rules as the CSV (RecordFile): never over an existing name, readable by its
// owner only, under its name only after the commit.
class SheetRecord : public RecordFileSink
{
public:
    // What an .xlsx file starts with (a ZIP archive).
    static QByteArray signature();

    // Raises EAbort (nothing changed) when the file cannot be made there.
    explicit SheetRecord(const QString &path);
    ~SheetRecord() override;

    // Raises EAbort when the sheet is full (a spreadsheet holds 1,048,576 rows).
    void add(const ChangedCard &card) override;
    // Writes the workbook into the file and puts it on the disk (raises when that fails); a second
    // call does nothing.
    void finish() override;

private:
    void writeRow(const QStringList &cells);
    [[noreturn]] void fail(const QString &what) const;

    lxw_workbook *m_book = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    lxw_format *m_text = nullptr;
    lxw_format *m_heading = nullptr;
    bool m_finished = false;
};
