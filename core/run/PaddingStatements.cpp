#include "run/PaddingStatements.h"

PaddingStatements::Dialect PaddingStatements::dialectFor(const QString &dbmsName)
{
    if (dbmsName.startsWith(QStringLiteral("PostgreSQL"), Qt::CaseInsensitive))
        return Dialect::PostgreSQL;
    if (dbmsName.contains(QStringLiteral("SQLite"), Qt::CaseInsensitive))
        return Dialect::SQLite;
    return Dialect::SqlServer;
}

QString PaddingStatements::text(const QStringList &lines)
{
    QString text;
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const QString &line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

QString PaddingStatements::len(const QString &column) const
{
    const QString function = m_dialect == Dialect::SqlServer ? QStringLiteral("len") : QStringLiteral("length");
    return function + QStringLiteral("(rtrim(") + column + QStringLiteral("))");
}

QString PaddingStatements::concat(const QString &zeros, const QString &column) const
{
    const QString op = m_dialect == Dialect::SqlServer ? QStringLiteral("+") : QStringLiteral("||");
    return u'\'' + zeros + u'\'' + op + QStringLiteral("rtrim(") + column + u')';
}

QStringList PaddingStatements::transactionSettings() const
{
    if (m_dialect == Dialect::PostgreSQL)
        return {QStringLiteral("set local work_mem = '64MB'")};
    return {};
}

QStringList PaddingStatements::markPasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=''"), QStringLiteral("where pe_id=pe_passwd")};
}

QStringList PaddingStatements::collisionScan(int n, const QString &zeros) const
{
    return {QStringLiteral("select pe_id from lib_people"),
            QStringLiteral("where ") + len(QStringLiteral("pe_id")) + u'=' + QString::number(n),
            QStringLiteral("  and ") + concat(zeros, QStringLiteral("pe_id")) + QStringLiteral(" in ("),
            QStringLiteral("      select pe_id from lib_people)")};
}

QStringList PaddingStatements::pad(const QString &table, const QString &column, int n, const QString &zeros) const
{
    const QString padded = concat(zeros, column);
    QStringList lines{QStringLiteral("update ") + table + QStringLiteral(" set"), QStringLiteral("  ") + column + u'=' + padded,
                      QStringLiteral("where ") + len(column) + u'=' + QString::number(n)};
    if (m_dialect == Dialect::PostgreSQL) {
        // The readers inside get a name of their own, so that the column on the right means the row
        // being updated also when the table updated is lib_people itself.
        lines << QStringLiteral("  and not exists (")
              << QStringLiteral("      select 1 from lib_people p where p.pe_id=")
                     + concat(zeros, table + u'.' + column) + u')';
    } else {
        lines << QStringLiteral("  and ") + padded + QStringLiteral(" not in (")
              << QStringLiteral("      select pe_id from lib_people)");
    }
    return lines;
}

QStringList PaddingStatements::padLoans(int n, const QString &zeros) const
{
    return pad(QStringLiteral("lib_jieshu"), QStringLiteral("js_libcard"), n, zeros);
}

QStringList PaddingStatements::padReaders(int n, const QString &zeros) const
{
    return pad(QStringLiteral("lib_people"), QStringLiteral("pe_id"), n, zeros);
}

QString PaddingStatements::passwordEmpty() const
{
    return QStringLiteral("pe_passwd=''");
}

QStringList PaddingStatements::restorePasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=pe_id"), QStringLiteral("where ") + passwordEmpty()};
}

QStringList PaddingStatements::readersWithEmptyPassword() const
{
    return {QStringLiteral("select pe_id from lib_people"), QStringLiteral("where ") + passwordEmpty()};
}

QStringList PaddingStatements::readersToPad(int n, const QString &zeros) const
{
    QStringList lines{QStringLiteral("select pe_id, case when ") + passwordEmpty()
                      + QStringLiteral(" then 1 else 0 end from lib_people")};
    lines << padReaders(n, zeros).mid(2);
    return lines;
}

QStringList PaddingStatements::shortLoanCards(int limit) const
{
    const QString length = len(QStringLiteral("js_libcard"));
    return {QStringLiteral("select rtrim(js_libcard), count(*) from lib_jieshu"),
            QStringLiteral("where ") + length + QStringLiteral(">=1 and ") + length + u'<' + QString::number(limit),
            QStringLiteral("group by rtrim(js_libcard)")};
}

QStringList PaddingStatements::readersAmong(const QStringList &numbers) const
{
    QStringList quoted;
    for (QString number : numbers)
        quoted << u'\'' + number.replace(u'\'', QStringLiteral("''")) + u'\'';
    return {QStringLiteral("select pe_id from lib_people"),
            QStringLiteral("where rtrim(pe_id) in (") + quoted.join(u',') + u')'};
}

QStringList PaddingStatements::countReadersWithoutNumber() const
{
    return {QStringLiteral("select count(*) from lib_people"), QStringLiteral("where pe_id is null")};
}

QStringList PaddingStatements::cardLengths(int limit) const
{
    const QString people = len(QStringLiteral("pe_id"));
    const QString loans = len(QStringLiteral("js_libcard"));
    if (cardLengthsAsMasks()) {
        const QString mask = QStringLiteral("select bit_or(1::bigint << least(%1, %2))");
        const QString bit = QString::number(MaskOverflowBit);
        return {mask.arg(people, bit) + QStringLiteral(" from lib_people"), QStringLiteral("union all"),
                mask.arg(loans, bit) + QStringLiteral(" from lib_jieshu")};
    }
    return {QStringLiteral("select distinct ") + people + QStringLiteral(" from lib_people"),
            QStringLiteral("where ") + people + QStringLiteral("<") + QString::number(limit),
            QStringLiteral("union"),
            QStringLiteral("select distinct ") + loans + QStringLiteral(" from lib_jieshu"),
            QStringLiteral("where ") + loans + QStringLiteral("<") + QString::number(limit)};
}
