#include "SheetRecord.h"

#include "platform/Exceptions.h"
#include "run/ChangeRecord.h"

#include <QFile>

#include <xlsxwriter.h>

QByteArray SheetRecord::signature()
{
    return QByteArrayLiteral("PK\x03\x04");
}

void SheetRecord::fail(const QString &what) const
{
    throw EAbort(QStringLiteral("无法写入表格%1：%2，系统没有做任何改动").arg(m_file.path(), what));
}

SheetRecord::SheetRecord(const QString &path) : RecordFileSink(path, QStringLiteral("表格"))
{
    // The library writes the file when the workbook is closed, by name: the name of the open file
    // itself, so that nothing put in the hidden file's place meanwhile is written.
    m_book = workbook_new(QFile::encodeName(m_file.writablePath()).constData());
    if (!m_book)
        fail(QStringLiteral("无法建立工作簿"));
    m_sheet = workbook_add_worksheet(m_book, "变更记录");
    m_text = workbook_add_format(m_book);
    m_heading = workbook_add_format(m_book);
    if (!m_sheet || !m_text || !m_heading) {
        lxw_workbook_free(m_book);
        m_book = nullptr;
        fail(QStringLiteral("无法建立工作表"));
    }
    // "@": text. A number typed into these columns later stays text too.
    format_set_num_format(m_text, "@");
    format_set_num_format(m_heading, "@");
    format_set_bold(m_heading);
    worksheet_set_column(m_sheet, 0, 1, 16, m_text);
    worksheet_set_column(m_sheet, 2, 2, 18, m_text);
    worksheet_set_column(m_sheet, 3, 3, 14, m_text);
    worksheet_set_column(m_sheet, 4, 4, 16, m_text);
    worksheet_freeze_panes(m_sheet, 1, 0);
    lxw_col_t column = 0;
    for (const QString &heading : ChangeRecord::Header)
        worksheet_write_string(m_sheet, 0, column++, heading.toUtf8().constData(), m_heading);
}

SheetRecord::~SheetRecord()
{
    if (m_book)
        lxw_workbook_free(m_book);
}

void SheetRecord::writeRow(const QStringList &cells)
{
    if (m_rows + 1 >= LXW_ROW_MAX)
        fail(QStringLiteral("改动超过了一张工作表能放下的%1行").arg(LXW_ROW_MAX - 1));
    const auto row = lxw_row_t(m_rows + 1);
    lxw_col_t column = 0;
    for (const QString &cell : cells) {
        const lxw_error error = worksheet_write_string(m_sheet, row, column++, cell.toUtf8().constData(), m_text);
        if (error != LXW_NO_ERROR)
            fail(QString::fromUtf8(lxw_strerror(error)));
    }
    ++m_rows;
}

void SheetRecord::add(const ChangedCard &card)
{
    for (const QStringList &row : ChangeRecord::rowsFor(card))
        writeRow(row);
}

void SheetRecord::finish()
{
    if (m_finished)
        return;
    lxw_workbook *book = m_book;
    m_book = nullptr;
    const lxw_error error = workbook_close(book);
    if (error != LXW_NO_ERROR)
        fail(QString::fromUtf8(lxw_strerror(error)));
    m_file.sync();
    m_finished = true;
}
