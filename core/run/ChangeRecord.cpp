#include "run/ChangeRecord.h"

namespace {

// Rows are handed to the file in pieces of about this size.
constexpr qsizetype FlushSize = 64 * 1024;

QString headerLine()
{
    QStringList header;
    for (const QString &column : ChangeRecord::Header)
        header << ChangeRecord::field(column);
    return header.join(u',');
}

bool startsFormula(const QString &text)
{
    if (text.isEmpty())
        return false;
    const QChar first = text.front();
    return first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' || first == u'\r'
        || first == u'\'';
}

} // namespace

QString ChangeRecord::passwordText(PasswordChange change, bool reader)
{
    if (!reader)
        return {};
    switch (change) {
    case PasswordChange::FollowsCard:
        return QStringLiteral("随证号变更");
    case PasswordChange::WasEmpty:
        return QStringLiteral("原为空，现为证号");
    case PasswordChange::Emptied:
        return QStringLiteral("原为证号，现为空");
    case PasswordChange::Unchanged:
        break;
    }
    return QStringLiteral("未变");
}

QString ChangeRecord::field(const QString &text)
{
    const QString cell = startsFormula(text) ? u'\'' + text : text;
    const bool quote = cell.contains(u',') || cell.contains(u'"') || cell.contains(u'\r') || cell.contains(u'\n')
        || (!cell.isEmpty() && (cell.front() == u' ' || cell.back() == u' '));
    if (!quote)
        return cell;
    QString quoted = cell;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString ChangeRecord::cellValue(const QString &cell)
{
    return cell.startsWith(u'\'') ? cell.mid(1) : cell;
}

QByteArray ChangeRecord::signature()
{
    return headerLine().toUtf8() + "\r\n";
}

ChangeRecord::ChangeRecord(const QString &path) : RecordFileSink(path, QStringLiteral("变更记录"))
{
    // The header at once: a file of this name and pattern that starts otherwise is not a record.
    m_file.write(signature());
}

ChangeRecord::~ChangeRecord() = default;

void ChangeRecord::write(const QString &line)
{
    m_buffer += line.toUtf8();
    m_buffer += "\r\n";
    if (m_buffer.size() >= FlushSize)
        flush();
}

void ChangeRecord::flush()
{
    m_file.write(m_buffer);
    m_buffer.clear();
}

QList<QStringList> ChangeRecord::rowsFor(const ChangedCard &card)
{
    if (card.leftAlone)
        return {{card.oldNumber, card.newNumber, QString(), QStringLiteral("0"), LeftAloneCategory}};
    const QString category = !card.also.isEmpty() ? AlsoCategory + card.also : card.reader ? ReaderCategory : LoanOnlyCategory;
    QList<QStringList> rows{
        {card.oldNumber, card.newNumber, passwordText(card.password, card.reader), QString::number(card.loans), category}};
    // The loans that were under the reader's new number before the run: they stay there when the
    // run is taken back.
    if (card.joinedLoans > 0)
        rows.append({card.newNumber, card.newNumber, QString(), QString::number(card.joinedLoans), JoinedCategory});
    return rows;
}

void ChangeRecord::add(const ChangedCard &card)
{
    for (const QStringList &row : rowsFor(card)) {
        QStringList fields;
        for (const QString &cell : row)
            fields << field(cell);
        write(fields.join(u','));
        ++m_rows;
    }
}

void ChangeRecord::finish()
{
    flush();
    m_file.sync();
}
