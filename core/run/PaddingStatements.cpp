#include "run/PaddingStatements.h"

#include <algorithm>

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

QString PaddingStatements::padZeros(int length, int n)
{
    return ZeroLiteral.left(std::max(qint64(length) - n, qint64(0)));
}

QList<int> PaddingStatements::passesFor(int length, const QList<int> &present)
{
    // A number of length n < L becomes one of length n + (L - n, at most 12): L itself up to 13,
    // shorter above, and such a number is padded again in the pass of its new length.
    QList<bool> runs(std::max(length, 0), false);
    for (const int n : present) {
        if (n >= 1 && n < length)
            runs[n] = true;
    }
    QList<int> passes;
    for (int n = 1; n < length; ++n) {
        if (!runs[n])
            continue;
        passes << n;
        const int next = n + int(padZeros(length, n).size());
        if (next < length)
            runs[next] = true;
    }
    return passes;
}

QStringList PaddingStatements::transactionSettings() const
{
    if (dialect() == Dialect::PostgreSQL)
        return {QStringLiteral("set local work_mem = '64MB'")};
    if (dialect() == Dialect::SQLite)
        return {QStringLiteral("pragma cache_size = -65536")};
    return {};
}

QStringList PaddingStatements::lockTables(Dialect server)
{
    switch (server) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("lock table lib_people, lib_jieshu in exclusive mode")};
    case Dialect::SQLite:
        return {QStringLiteral("update lib_people set pe_id=pe_id where 0")};
    case Dialect::SqlServer:
        break;
    }
    return {QStringLiteral("select (select count(*) from lib_people with (tablockx, holdlock)),"),
            QStringLiteral("       (select count(*) from lib_jieshu with (tablockx, holdlock))")};
}

bool PaddingStatements::isSqliteBusy(const QString &error)
{
    // SQLITE_BUSY, as the driver words it.
    return error.contains(QStringLiteral("database is locked")) || error.contains(QStringLiteral("(5)"));
}

QStringList PaddingStatements::deferConstraints() const
{
    if (!m_constraints.defer)
        return {};
    switch (dialect()) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("set constraints all deferred")};
    case Dialect::SQLite:
        return {QStringLiteral("pragma defer_foreign_keys = on")};
    case Dialect::SqlServer:
        break;
    }
    return {};
}

QStringList PaddingStatements::checkDeferredConstraints() const
{
    if (!m_constraints.defer)
        return {};
    switch (dialect()) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("set constraints all immediate")};
    case Dialect::SQLite:
        // Selected, not changed: the run stops when it returns a row.
        return {QStringLiteral("select count(*) from pragma_foreign_key_check")};
    case Dialect::SqlServer:
        break;
    }
    return {};
}

QStringList PaddingStatements::markPasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=''"),
            QStringLiteral("where ") + m_sql.compared(QStringLiteral("pe_id")) + u'=' + m_sql.compared(QStringLiteral("pe_passwd"))};
}

QStringList PaddingStatements::collisionScan(int n, const QString &zeros) const
{
    return {QStringLiteral("select ") + m_sql.asText(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people"),
            QStringLiteral("where ") + m_sql.len(QStringLiteral("pe_id")) + u'=' + QString::number(n),
            QStringLiteral("  and ") + m_sql.comparedPadded(zeros, QStringLiteral("pe_id")) + QStringLiteral(" in ("),
            QStringLiteral("      select ") + m_sql.compared(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people)")};
}

QStringList PaddingStatements::pad(const QString &table, const QString &column, int n, const QString &zeros) const
{
    QStringList lines{QStringLiteral("update ") + table + QStringLiteral(" set"),
                      QStringLiteral("  ") + column + u'=' + m_sql.padded(zeros, column),
                      QStringLiteral("where ") + m_sql.len(column) + u'=' + QString::number(n)};
    if (dialect() == Dialect::PostgreSQL) {
        // The readers inside get a name of their own, so that the column on the right means the row
        // being updated also when the table updated is lib_people itself.
        lines << QStringLiteral("  and not exists (")
              << QStringLiteral("      select 1 from lib_people p where ") + m_sql.compared(QStringLiteral("p.pe_id")) + u'='
                     + m_sql.comparedPadded(zeros, table + u'.' + column) + u')';
    } else {
        lines << QStringLiteral("  and ") + m_sql.comparedPadded(zeros, column) + QStringLiteral(" not in (")
              << QStringLiteral("      select ") + m_sql.compared(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people)");
    }
    return lines;
}

QStringList PaddingStatements::padLoans(int n, const QString &zeros) const
{
    if (m_constraints.loansFollowReaders)
        return {};
    return pad(QStringLiteral("lib_jieshu"), QStringLiteral("js_libcard"), n, zeros);
}

QStringList PaddingStatements::padAlso(const AlsoColumn &also, int n, const QString &zeros) const
{
    const QString table = also.tableIdentifier(dialect());
    const QString column = also.columnIdentifier(dialect());
    QStringList lines{QStringLiteral("update ") + table + QStringLiteral(" set"),
                      QStringLiteral("  ") + column + u'=' + m_sql.padded(zeros, column),
                      QStringLiteral("where ") + m_sql.len(column) + u'=' + QString::number(n)};
    if (dialect() == Dialect::PostgreSQL) {
        lines << QStringLiteral("  and not exists (")
              << QStringLiteral("      select 1 from lib_people p where ") + m_sql.compared(QStringLiteral("p.pe_id")) + u'='
                     + m_sql.comparedPadded(zeros, table + u'.' + column) + u')';
    } else {
        lines << QStringLiteral("  and ") + m_sql.comparedPadded(zeros, column) + QStringLiteral(" not in (")
              << QStringLiteral("      select ") + m_sql.compared(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people)");
    }
    return lines;
}

QStringList PaddingStatements::padReaders(int n, const QString &zeros) const
{
    return pad(QStringLiteral("lib_people"), QStringLiteral("pe_id"), n, zeros);
}

QStringList PaddingStatements::restorePasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=pe_id"),
            QStringLiteral("where ") + m_sql.emptyPassword(QStringLiteral("pe_passwd"))};
}

QStringList PaddingStatements::cardLengths(int limit) const
{
    const QString people = m_sql.len(QStringLiteral("pe_id"));
    const QString loans = m_sql.len(QStringLiteral("js_libcard"));
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
