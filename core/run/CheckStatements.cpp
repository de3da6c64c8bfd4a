#include "run/CheckStatements.h"

using Dialect = CardSql::Dialect;

QStringList CheckStatements::untrimmedValues() const
{
    // Compared byte for byte: under a collation that ignores case, or SQLite's rtrim, a value with a
    // trailing blank may equal its trimmed text.
    const QString binary = m_sql.dialect() == Dialect::SQLite ? QStringLiteral(" collate binary") : QString();
    const QString pg = m_sql.dialect() == Dialect::PostgreSQL ? QStringLiteral("::text collate \"C\"") : QString();
    return {QStringLiteral("select case when exists (select 1 from lib_people where pe_id%1<>rtrim(pe_id)%2) then 1 else 0 end,")
                .arg(pg, binary),
            QStringLiteral("       case when exists (select 1 from lib_people where pe_passwd%1<>rtrim(pe_passwd)%2) then 1 else 0 end")
                .arg(pg, binary)};
}

QStringList CheckStatements::countReadersWithoutNumber() const
{
    return {QStringLiteral("select count(*) from lib_people"), QStringLiteral("where pe_id is null")};
}

QStringList CheckStatements::anyCardToPad(const QString &table, const QString &column, int length) const
{
    return {QStringLiteral("select case when exists ("),
            QStringLiteral("  select 1 from ") + table + QStringLiteral(" where ") + m_sql.len(column)
                + QStringLiteral(" between 1 and ") + QString::number(qint64(length) - 1) + u')',
            QStringLiteral("then 1 else 0 end")};
}

QStringList CheckStatements::longestPasswordSet(int length) const
{
    const QString people = m_sql.len(QStringLiteral("pe_id"));
    return {QStringLiteral("select max(case when ") + people + QStringLiteral(" between 1 and ")
                + QString::number(qint64(length) - 1) + QStringLiteral(" then ") + QString::number(length)
                + QStringLiteral(" else ") + people + QStringLiteral(" end) from lib_people"),
            QStringLiteral("where ") + m_sql.emptyPassword(QStringLiteral("pe_passwd")) + QStringLiteral(" or ")
                + m_sql.compared(QStringLiteral("pe_id")) + u'=' + m_sql.compared(QStringLiteral("pe_passwd"))};
}

QStringList CheckStatements::sqliteDeclaredTypes(const QString &table) const
{
    return {QStringLiteral("pragma table_info(") + table + u')'};
}

bool CheckStatements::sqliteNumericAffinity(const QString &declaredType)
{
    // SQLite's rules, in their order: INT gives integer affinity; CHAR, CLOB or TEXT text; BLOB or
    // no type none; REAL, FLOA or DOUB real; anything else (numeric, decimal, date, string, ...)
    // numeric.
    const QString type = declaredType.toUpper();
    if (type.contains(QLatin1String("INT")))
        return true;
    for (const char *text : {"CHAR", "CLOB", "TEXT", "BLOB"}) {
        if (type.contains(QLatin1String(text)))
            return false;
    }
    return !type.trimmed().isEmpty();
}

QStringList CheckStatements::sqliteColumnType() const
{
    return {QStringLiteral("select type from pragma_table_info(?) where lower(name) = lower(?)")};
}

QStringList CheckStatements::anyValueToPad(const QString &table, const QString &column, int length) const
{
    return {QStringLiteral("select case when exists ("),
            QStringLiteral("  select 1 from ") + table + QStringLiteral(" where ") + m_sql.len(column)
                + QStringLiteral(" between 1 and ") + QString::number(qint64(length) - 1) + u')',
            QStringLiteral("then 1 else 0 end")};
}

QStringList CheckStatements::sqliteReaderTable() const
{
    return {QStringLiteral("select sql from sqlite_master where type='table' and lower(name)='lib_people'")};
}

QStringList CheckStatements::sqliteForeignKeysEnforced() const
{
    return {QStringLiteral("pragma foreign_keys")};
}

QStringList CheckStatements::postgresqlColumns() const
{
    return {QStringLiteral("select c.relname, a.attname,"),
            QStringLiteral("       case when t.typname = 'citext' or bt.typname = 'citext' then 1 else 0 end,"),
            QStringLiteral("       a.attcollation, coalesce(co.collname, ''),"),
            QStringLiteral("       case when co.collisdeterministic = false then 0 else 1 end"),
            QStringLiteral("from pg_attribute a"),
            QStringLiteral("join pg_class c on c.oid = a.attrelid"),
            QStringLiteral("join pg_type t on t.oid = a.atttypid"),
            QStringLiteral("left join pg_type bt on bt.oid = t.typbasetype"),
            QStringLiteral("left join pg_collation co on co.oid = a.attcollation"),
            QStringLiteral("where a.attrelid in ('lib_people'::regclass, 'lib_jieshu'::regclass)"),
            QStringLiteral("  and a.attname in ('pe_id', 'pe_passwd', 'js_libcard') and not a.attisdropped")};
}

QStringList CheckStatements::uniqueKeys() const
{
    switch (m_sql.dialect()) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("select c.relname, i.relname, a.attname"),
                QStringLiteral("from pg_index x"),
                QStringLiteral("join pg_class i on i.oid = x.indexrelid"),
                QStringLiteral("join pg_class c on c.oid = x.indrelid"),
                QStringLiteral("join pg_attribute a on a.attrelid = x.indrelid and a.attnum = x.indkey[0]"),
                QStringLiteral("where x.indisunique and x.indnkeyatts = 1"),
                QStringLiteral("  and x.indrelid in ('lib_people'::regclass, 'lib_jieshu'::regclass)"),
                QStringLiteral("  and a.attname in ('pe_id', 'js_libcard')")};
    case Dialect::SQLite:
        // The index names go to the pragma functions as values, never into the text.
        return {QStringLiteral("select lower(m.name), il.name, lower(ii.name)"),
                QStringLiteral("from sqlite_master m"),
                QStringLiteral("join pragma_index_list(m.name) il"),
                QStringLiteral("join pragma_index_info(il.name) ii"),
                QStringLiteral("where m.type = 'table' and lower(m.name) in ('lib_people', 'lib_jieshu')"),
                QStringLiteral("  and il.\"unique\" = 1 and lower(ii.name) in ('pe_id', 'js_libcard')"),
                QStringLiteral("  and (select count(*) from pragma_index_info(il.name)) = 1")};
    case Dialect::SqlServer:
        break;
    }
    return {};
}

QStringList CheckStatements::sameCardStoredTwice(const QString &table, const QString &column, int length) const
{
    const QString card = m_sql.compared(column);
    return {QStringLiteral("select ") + m_sql.asText(column) + QStringLiteral(" from ") + table,
            QStringLiteral("where ") + card + QStringLiteral(" in ("),
            QStringLiteral("  select ") + card + QStringLiteral(" from ") + table,
            QStringLiteral("  where ") + m_sql.len(column) + QStringLiteral(" between 1 and ") + QString::number(qint64(length) - 1),
            QStringLiteral("  group by ") + card + QStringLiteral(" having count(*) > 1)")};
}

QStringList CheckStatements::foreignKeys() const
{
    switch (m_sql.dialect()) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("select k.conname, c.relname,"),
                QStringLiteral("       (select string_agg(a.attname, ',') from pg_attribute a where a.attrelid = k.conrelid and a.attnum = any(k.conkey)),"),
                QStringLiteral("       r.relname,"),
                QStringLiteral("       (select string_agg(a.attname, ',') from pg_attribute a where a.attrelid = k.confrelid and a.attnum = any(k.confkey)),"),
                QStringLiteral("       case when k.condeferrable then 1 else 0 end,"),
                QStringLiteral("       case k.confupdtype when 'c' then 'CASCADE' when 'r' then 'RESTRICT' when 'n' then 'SET NULL'"),
                QStringLiteral("                          when 'd' then 'SET DEFAULT' else 'NO ACTION' end"),
                QStringLiteral("from pg_constraint k"),
                QStringLiteral("join pg_class c on c.oid = k.conrelid"),
                QStringLiteral("join pg_class r on r.oid = k.confrelid"),
                QStringLiteral("where k.contype = 'f'"),
                QStringLiteral("  and (k.confrelid = 'lib_people'::regclass or k.conrelid in ('lib_people'::regclass, 'lib_jieshu'::regclass))")};
    case Dialect::SQLite:
        // A reference without a column names the parent's primary key. SQLite defers every foreign
        // key on request, so "deferrable" is 1.
        return {QStringLiteral("select 'foreign key ' || f.id || ' of ' || m.name, lower(m.name), group_concat(lower(f.\"from\")),"),
                QStringLiteral("       lower(f.\"table\"),"),
                QStringLiteral("       group_concat(lower(coalesce(f.\"to\", (select p.name from pragma_table_info(f.\"table\") p where p.pk = 1)))),"),
                QStringLiteral("       1, upper(f.on_update)"),
                QStringLiteral("from sqlite_master m"),
                QStringLiteral("join pragma_foreign_key_list(m.name) f"),
                QStringLiteral("where m.type = 'table'"),
                QStringLiteral("group by m.name, f.id")};
    case Dialect::SqlServer:
        break;
    }
    // SQL Server has no deferrable constraints; INFORMATION_SCHEMA names them the same on PostgreSQL.
    return {QStringLiteral("select rc.CONSTRAINT_NAME, fk.TABLE_NAME, fk.COLUMN_NAME, pk.TABLE_NAME, pk.COLUMN_NAME,"),
            QStringLiteral("       case when tc.IS_DEFERRABLE = 'YES' then 1 else 0 end, rc.UPDATE_RULE"),
            QStringLiteral("from INFORMATION_SCHEMA.REFERENTIAL_CONSTRAINTS rc"),
            QStringLiteral("join INFORMATION_SCHEMA.KEY_COLUMN_USAGE fk"),
            QStringLiteral("  on fk.CONSTRAINT_SCHEMA = rc.CONSTRAINT_SCHEMA and fk.CONSTRAINT_NAME = rc.CONSTRAINT_NAME"),
            QStringLiteral("join INFORMATION_SCHEMA.KEY_COLUMN_USAGE pk"),
            QStringLiteral("  on pk.CONSTRAINT_SCHEMA = rc.UNIQUE_CONSTRAINT_SCHEMA and pk.CONSTRAINT_NAME = rc.UNIQUE_CONSTRAINT_NAME"),
            QStringLiteral("  and pk.ORDINAL_POSITION = fk.ORDINAL_POSITION"),
            QStringLiteral("join INFORMATION_SCHEMA.TABLE_CONSTRAINTS tc"),
            QStringLiteral("  on tc.CONSTRAINT_SCHEMA = rc.CONSTRAINT_SCHEMA and tc.CONSTRAINT_NAME = rc.CONSTRAINT_NAME")};
}
