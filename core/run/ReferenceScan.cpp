#include "run/ReferenceScan.h"

#include "db/CancelTimer.h"
#include "platform/Exceptions.h"

#include <QElapsedTimer>

using Dialect = CardSql::Dialect;

QString ReferenceScan::quoted(const QString &name, Dialect dialect)
{
    // Standard SQL's quotes on every server: SQL Server reads them so with QUOTED_IDENTIFIER on,
    // which an ODBC login has.
    (void)dialect;
    QString inner = name;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

QList<ReferenceScan::Column> ReferenceScan::candidates()
{
    QStringList query;
    switch (m_cards.dialect()) {
    case Dialect::PostgreSQL:
        query = {QStringLiteral("select c.table_schema, c.table_name, c.column_name"),
                 QStringLiteral("from information_schema.columns c"),
                 QStringLiteral("join information_schema.tables t on t.table_schema = c.table_schema and t.table_name = c.table_name"),
                 QStringLiteral("where t.table_type = 'BASE TABLE'"),
                 QStringLiteral("  and c.table_schema not in ('pg_catalog', 'information_schema') and c.table_schema not like 'pg_temp%'"),
                 QStringLiteral("  and c.table_name not in ('lib_people', 'lib_jieshu')"),
                 QStringLiteral("  and (c.data_type in ('character varying', 'character', 'text') or c.udt_name = 'citext')"),
                 QStringLiteral("order by c.table_schema, c.table_name, c.ordinal_position")};
        break;
    case Dialect::SQLite:
        query = {QStringLiteral("select '', m.name, p.name from sqlite_master m join pragma_table_info(m.name) p"),
                 QStringLiteral("where m.type = 'table' and lower(m.name) not in ('lib_people', 'lib_jieshu') and m.name not like 'sqlite!_%' escape '!'"),
                 QStringLiteral("  and (upper(p.type) like '%CHAR%' or upper(p.type) like '%TEXT%' or upper(p.type) like '%CLOB%' or p.type = '')"),
                 QStringLiteral("order by m.name, p.cid")};
        break;
    case Dialect::SqlServer:
        query = {QStringLiteral("select c.TABLE_SCHEMA, c.TABLE_NAME, c.COLUMN_NAME"),
                 QStringLiteral("from INFORMATION_SCHEMA.COLUMNS c"),
                 QStringLiteral("join INFORMATION_SCHEMA.TABLES t on t.TABLE_SCHEMA = c.TABLE_SCHEMA and t.TABLE_NAME = c.TABLE_NAME"),
                 QStringLiteral("where t.TABLE_TYPE = 'BASE TABLE' and c.TABLE_NAME not in ('lib_people', 'lib_jieshu')"),
                 QStringLiteral("  and c.DATA_TYPE in ('char', 'varchar', 'nchar', 'nvarchar', 'text', 'ntext')"),
                 QStringLiteral("order by c.TABLE_SCHEMA, c.TABLE_NAME, c.ORDINAL_POSITION")};
        break;
    }
    QList<Column> columns;
    m_sql.select(query, [&](const LibQuery &row) { columns.append({row.value(0), row.value(1), row.value(2)}); });
    return columns;
}

QStringList ReferenceScan::count(const Column &column, int length) const
{
    const Dialect dialect = m_cards.dialect();
    QString table = quoted(column.table, dialect);
    if (!column.schema.isEmpty())
        table = quoted(column.schema, dialect) + u'.' + table;
    const QString value = QStringLiteral("rtrim(x.%1)").arg(quoted(column.column, dialect));
    const QString number = m_cards.comparedExpression(value);
    return {QStringLiteral("select count(*), count(distinct %1) from %2 x").arg(number, table),
            QStringLiteral("where %1 in (select %2 from lib_people where %3 between 1 and %4)")
                .arg(number, m_cards.comparedExpression(QStringLiteral("rtrim(pe_id)")), m_cards.len(QStringLiteral("pe_id")))
                .arg(length - 1)};
}

ReferenceScan::Result ReferenceScan::scan(int length, int seconds)
{
    Result result;
    if (length < 2)
        return result;
    const QList<Column> columns = candidates();
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const qint64 left = qint64(seconds) * 1000 - clock.elapsed();
        if (left <= 0) {
            for (qsizetype k = i; k < columns.size(); ++k)
                result.notScanned << columns[k].name();
            break;
        }
        Column column = columns[i];
        const CancelTimer timer(int((left + 999) / 1000));
        try {
            m_sql.select(count(column, length), [&](const LibQuery &row) {
                column.rows = row.int64Value(0);
                column.numbers = row.int64Value(1);
            });
        } catch (const EInterrupted &) {
            if (!timer.fired())
                throw;
            for (qsizetype k = i; k < columns.size(); ++k)
                result.notScanned << columns[k].name();
            break;
        } catch (const EDatabaseError &) {
            result.unreadable << column.name();
            continue;
        }
        if (column.rows > 0)
            result.found << column;
    }
    return result;
}
