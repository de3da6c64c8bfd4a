#include "forms/PaddingStatements.h"

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

QStringList PaddingStatements::padLoans(int n, const QString &zeros) const
{
    const QString padded = concat(zeros, QStringLiteral("js_libcard"));
    QStringList lines{QStringLiteral("update lib_jieshu set"), QStringLiteral("  js_libcard=") + padded,
                      QStringLiteral("where ") + len(QStringLiteral("js_libcard")) + u'=' + QString::number(n)};
    if (m_dialect == Dialect::PostgreSQL) {
        lines << QStringLiteral("  and not exists (")
              << QStringLiteral("      select 1 from lib_people where pe_id=") + padded + u')';
    } else {
        lines << QStringLiteral("  and ") + padded + QStringLiteral(" not in (")
              << QStringLiteral("      select pe_id from lib_people)");
    }
    return lines;
}

QStringList PaddingStatements::padReaders(int n, const QString &zeros) const
{
    const QString padded = concat(zeros, QStringLiteral("pe_id"));
    QStringList lines{QStringLiteral("update lib_people set"), QStringLiteral("  pe_id=") + padded,
                      QStringLiteral("where ") + len(QStringLiteral("pe_id")) + u'=' + QString::number(n)};
    if (m_dialect == Dialect::PostgreSQL) {
        // The inner table needs its own name so that pe_id on the right means the row being updated.
        lines << QStringLiteral("  and not exists (")
              << QStringLiteral("      select 1 from lib_people p where p.pe_id=")
                     + concat(zeros, QStringLiteral("lib_people.pe_id")) + u')';
    } else {
        lines << QStringLiteral("  and ") + padded + QStringLiteral(" not in (")
              << QStringLiteral("      select pe_id from lib_people)");
    }
    return lines;
}

QStringList PaddingStatements::restorePasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=pe_id"), QStringLiteral("where pe_passwd=''")};
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
