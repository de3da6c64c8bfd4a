#include "undo/UndoStatements.h"

using Dialect = CardSql::Dialect;

QString UndoStatements::table() const
{
    return m_sql.dialect() == Dialect::SqlServer ? QStringLiteral("#norvel_undo") : QStringLiteral("norvel_undo");
}

QString UndoStatements::planTable() const
{
    return table() + QStringLiteral("_plan");
}

QStringList UndoStatements::createTable() const
{
    switch (m_sql.dialect()) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("create temp table norvel_undo (seq integer, old_number text, new_number text, kind text, pw text,"),
                QStringLiteral("  loans bigint, joined bigint) on commit drop")};
    case Dialect::SQLite:
        return {QStringLiteral("create temp table norvel_undo (seq integer, old_number text, new_number text, kind text, pw text,"),
                QStringLiteral("  loans integer, joined integer)")};
    case Dialect::SqlServer:
        break;
    }
    // Compared with the library's columns in the library's collation, not tempdb's.
    return {QStringLiteral("create table #norvel_undo (seq int, old_number nvarchar(255) collate database_default,"),
            QStringLiteral("  new_number nvarchar(255) collate database_default, kind char(1), pw char(1), loans bigint, joined bigint)")};
}

int UndoStatements::rowsPerInsert() const
{
    switch (m_sql.dialect()) {
    case Dialect::SqlServer:
        return 250;
    case Dialect::PostgreSQL:
        return 20000;
    case Dialect::SQLite:
        break;
    }
    return 1000;
}

QString UndoStatements::arrayOf(const QStringList &values)
{
    QString array;
    array.reserve(values.size() * 12 + 2);
    array += u'{';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            array += u',';
        array += u'"';
        for (const QChar c : values[i]) {
            if (c == u'"' || c == u'\\')
                array += u'\\';
            array += c;
        }
        array += u'"';
    }
    array += u'}';
    return array;
}

QStringList UndoStatements::insertRows(int rows) const
{
    if (parametersByColumn()) {
        return {QStringLiteral("insert into %1 (seq, old_number, new_number, kind, pw, loans, joined)").arg(table()),
                QStringLiteral("select * from unnest(cast(? as integer[]), cast(? as text[]), cast(? as text[]), cast(? as text[]),"),
                QStringLiteral("  cast(? as text[]), cast(? as bigint[]), cast(? as bigint[]))")};
    }
    QStringList values;
    const QString integer = m_sql.dialect() == Dialect::SqlServer ? QStringLiteral("int") : QStringLiteral("integer");
    for (int i = 0; i < rows; ++i)
        values << QStringLiteral("(cast(? as %1), ?, ?, ?, ?, cast(? as bigint), cast(? as bigint))").arg(integer);
    return {QStringLiteral("insert into %1 (seq, old_number, new_number, kind, pw, loans, joined) values").arg(table()),
            values.join(QStringLiteral(",\n"))};
}

QStringList UndoStatements::planStatistics() const
{
    if (m_sql.dialect() != Dialect::PostgreSQL)
        return {};
    return {QStringLiteral("analyze norvel_undo_plan")};
}

QList<QStringList> UndoStatements::preparePlan() const
{
    if (m_sql.dialect() == Dialect::PostgreSQL)
        return {{QStringLiteral("analyze ") + table()}, {QStringLiteral("set local jit = off")}};
    if (m_sql.dialect() != Dialect::SQLite)
        return {};
    const QString T = table();
    const QString cardKey = key(QStringLiteral("rtrim(p.pe_id)"));
    const QString loanKey = key(QStringLiteral("rtrim(j.js_libcard)"));
    const QString stillTheRuns = m_sql.compared(QStringLiteral("p.pe_passwd")) + u'=' + m_sql.compared(QStringLiteral("p.pe_id"));
    // The key column compares as the card numbers do: its declared collation is theirs.
    const QString keyColumn = m_sql.comparedExpression(QStringLiteral("k text")).remove(u'(').remove(u')');
    return {{QStringLiteral("create temp table norvel_undo_readers (%1, n integer, follows integer, empties integer)").arg(keyColumn)},
            {QStringLiteral("insert into norvel_undo_readers"),
             QStringLiteral("select %1, count(*), sum(case when %2 then 1 else 0 end), sum(case when %3 then 1 else 0 end)")
                 .arg(cardKey, stillTheRuns, m_sql.emptyPassword(QStringLiteral("p.pe_passwd"))),
             QStringLiteral("from lib_people p where %1 in (select %2 from %3 union select %4 from %3) group by %1")
                 .arg(cardKey, key(QStringLiteral("new_number")), T, key(QStringLiteral("old_number")))},
            {QStringLiteral("create index temp.norvel_undo_readers_k on norvel_undo_readers (k)")},
            {QStringLiteral("create temp table norvel_undo_loans (%1, n integer)").arg(keyColumn)},
            {QStringLiteral("insert into norvel_undo_loans"),
             QStringLiteral("select %1, count(*) from lib_jieshu j where %1 in (select %2 from %3) group by %1")
                 .arg(loanKey, key(QStringLiteral("new_number")), T)},
            {QStringLiteral("create index temp.norvel_undo_loans_k on norvel_undo_loans (k)")}};
}

QStringList UndoStatements::plan() const
{
    const QString T = table();
    const QString cardKey = key(QStringLiteral("rtrim(p.pe_id)"));
    const QString loanKey = key(QStringLiteral("rtrim(j.js_libcard)"));
    const QString stillTheRuns = m_sql.compared(QStringLiteral("p.pe_passwd")) + u'=' + m_sql.compared(QStringLiteral("p.pe_id"));
    const bool sqlite = m_sql.dialect() == Dialect::SQLite;
    const QString readersTable = sqlite ? QStringLiteral("norvel_undo_readers") : QStringLiteral("readers");
    const QString loansTable = sqlite ? QStringLiteral("norvel_undo_loans") : QStringLiteral("loans");
    QStringList ctes;
    if (!sqlite) {
        ctes << QStringLiteral("ids as (select %1 as k from %2 union select %3 from %2)").arg(key(QStringLiteral("new_number")), T,
                                                                                             key(QStringLiteral("old_number")))
             << QStringLiteral("readers as (select %1 as k, count(*) as n,").arg(cardKey)
             << QStringLiteral("    sum(case when %1 then 1 else 0 end) as follows,").arg(stillTheRuns)
             << QStringLiteral("    sum(case when %1 then 1 else 0 end) as empties").arg(m_sql.emptyPassword(QStringLiteral("p.pe_passwd")))
             << QStringLiteral("  from lib_people p where %1 in (select k from ids) group by %1),").arg(cardKey)
             << (m_sql.columns().exactLoans
                         ? QStringLiteral("loans as (select %1 as k, sum(j.loans) as n from %2 j").arg(loanKey, CardSql::loanCounts())
                         : QStringLiteral("loans as (select %1 as k, count(*) as n from lib_jieshu j").arg(loanKey))
             << QStringLiteral("  where %1 in (select %2 from %3) group by %1),").arg(loanKey, key(QStringLiteral("new_number")), T);
    }
    ctes << QStringLiteral("expected as (select %1 as k, count(*) as n, sum(joined) as joined from %2").arg(key(QStringLiteral("new_number")), T)
         << QStringLiteral("  where kind = 'R' and old_number <> new_number group by %1),").arg(key(QStringLiteral("new_number")))
         << QStringLiteral("f as (select u.seq, u.old_number, u.new_number, u.kind, u.pw, u.loans,")
         << QStringLiteral("    coalesce(rn.n, 0) as under_new, coalesce(ro.n, 0) as under_old, coalesce(rn.follows, 0) as follows,")
         << QStringLiteral("    coalesce(rn.empties, 0) as empties, coalesce(ln.n, 0) as loans_now, coalesce(e.n, 0) as expected,")
         << QStringLiteral("    coalesce(e.joined, 0) as joined,")
         << QStringLiteral("    row_number() over (partition by %1 order by u.seq) as rank_of_new").arg(key(QStringLiteral("u.new_number")))
         << QStringLiteral("  from %1 u").arg(T)
         << QStringLiteral("  left join %1 rn on rn.k = %2").arg(readersTable, key(QStringLiteral("u.new_number")))
         << QStringLiteral("  left join %1 ro on ro.k = %2").arg(readersTable, key(QStringLiteral("u.old_number")))
         << QStringLiteral("  left join %1 ln on ln.k = %2").arg(loansTable, key(QStringLiteral("u.new_number")))
         << QStringLiteral("  left join expected e on e.k = %1)").arg(key(QStringLiteral("u.new_number")));
    const QStringList columns{
        QStringLiteral("select f.*,"),
        QStringLiteral("  case when f.kind = 'R' and f.old_number = f.new_number then case when f.under_new > 0 then 'P' else 'N' end"),
        QStringLiteral("       when f.kind = 'R' and f.under_new = 0 then 'N'"),
        QStringLiteral("       when f.kind = 'R' and (f.under_old > 0 or f.under_new > f.expected or f.joined > 0) then 'C'"),
        QStringLiteral("       when f.kind = 'R' then 'R'"),
        QStringLiteral("       when f.kind in ('L', 'A') and (f.under_new > 0 or f.under_old > 0) then 'C'"),
        QStringLiteral("       when f.kind = 'L' and f.loans_now > 0 then 'R'"),
        QStringLiteral("       when f.kind = 'A' then 'R'"),
        QStringLiteral("       else 'N' end as action,"),
        QStringLiteral("  case when f.kind = 'R' and f.old_number <> f.new_number and f.under_new > 0 and f.under_old > 0 then 'O'"),
        QStringLiteral("       when f.kind = 'R' and f.old_number <> f.new_number and f.under_new > f.expected then 'M'"),
        QStringLiteral("       when f.kind = 'R' and f.old_number <> f.new_number and f.under_new > 0 and f.joined > 0 then 'J'"),
        QStringLiteral("       when f.kind in ('L', 'A') and (f.under_new > 0 or f.under_old > 0) then 'L'"),
        QStringLiteral("       else '' end as reason")};
    QStringList lines;
    switch (m_sql.dialect()) {
    case Dialect::PostgreSQL:
        lines << QStringLiteral("create temp table norvel_undo_plan on commit drop as");
        break;
    case Dialect::SQLite:
        lines << QStringLiteral("create temp table norvel_undo_plan as");
        break;
    case Dialect::SqlServer:
        break;
    }
    lines << QStringLiteral("with ") + ctes.first();
    for (qsizetype i = 1; i < ctes.size(); ++i)
        lines << (ctes[i].startsWith(u' ') || ctes[i - 1].endsWith(u',') ? QString() : QStringLiteral(", ")) + ctes[i];
    lines << columns;
    if (m_sql.dialect() == Dialect::SqlServer)
        lines << QStringLiteral("into #norvel_undo_plan");
    lines << QStringLiteral("from f");
    return lines;
}

QStringList UndoStatements::planFigures() const
{
    return {QStringLiteral("select action, reason, count(*), sum(case when rank_of_new = 1 then under_new else 0 end),"),
            QStringLiteral("       sum(case when rank_of_new = 1 then follows else 0 end), sum(case when rank_of_new = 1 then loans_now else 0 end)"),
            QStringLiteral("from %1 group by action, reason").arg(planTable())};
}

QStringList UndoStatements::conflicts() const
{
    return {QStringLiteral("select seq, reason from %1 where action = 'C' order by seq").arg(planTable())};
}

QStringList UndoStatements::leftAsTheyAre() const
{
    return {QStringLiteral("select seq from %1 where action = 'N' and kind = 'R' and old_number <> new_number order by seq")
                .arg(planTable())};
}

QStringList UndoStatements::takenBack() const
{
    return {QStringLiteral("select seq, case when rank_of_new = 1 then under_new else 0 end, case when rank_of_new = 1 then follows else 0 end,"),
            QStringLiteral("       case when rank_of_new = 1 and action = 'R' then loans_now else 0 end,"),
            QStringLiteral("       case when rank_of_new = 1 then empties else 0 end"),
            QStringLiteral("from %1 where action in ('R', 'P') order by seq").arg(planTable())};
}

QStringList UndoStatements::moveLoansBack() const
{
    return {QStringLiteral("update lib_jieshu set js_libcard = u.old_number"),
            QStringLiteral("from %1 u").arg(planTable()),
            QStringLiteral("where u.action = 'R' and u.rank_of_new = 1 and ") + key(QStringLiteral("rtrim(lib_jieshu.js_libcard)")) + u'='
                + key(QStringLiteral("u.new_number"))};
}

QStringList UndoStatements::alsoBack(const AlsoColumn &also) const
{
    const QString table = also.tableIdentifier(m_sql.dialect());
    const QString column = table + u'.' + also.columnIdentifier(m_sql.dialect());
    return {QStringLiteral("update %1 set %2 = u.old_number").arg(table, also.columnIdentifier(m_sql.dialect())),
            QStringLiteral("from %1 u").arg(planTable()),
            QStringLiteral("where u.action = 'R' and u.rank_of_new = 1 and ") + key(m_sql.trimmed(column)) + u'='
                + key(QStringLiteral("u.new_number"))};
}

QStringList UndoStatements::readersBack() const
{
    const QString stillTheRuns = m_sql.compared(QStringLiteral("lib_people.pe_passwd")) + u'='
        + m_sql.compared(QStringLiteral("lib_people.pe_id"));
    return {QStringLiteral("update lib_people set pe_id = u.old_number,"),
            QStringLiteral("  pe_passwd = case when u.pw = 'F' and %1 then u.old_number").arg(stillTheRuns),
            QStringLiteral("                   when u.pw = 'E' and %1 then ''").arg(stillTheRuns),
            QStringLiteral("                   when u.pw = 'X' and %1 then u.old_number").arg(m_sql.emptyPassword(QStringLiteral("lib_people.pe_passwd"))),
            QStringLiteral("                   else lib_people.pe_passwd end"),
            QStringLiteral("from %1 u").arg(planTable()),
            QStringLiteral("where u.action = 'R' and u.kind = 'R' and u.rank_of_new = 1 and ") + key(QStringLiteral("rtrim(lib_people.pe_id)"))
                + u'=' + key(QStringLiteral("u.new_number"))};
}

QStringList UndoStatements::passwordsBack() const
{
    const QString stillTheRuns = m_sql.compared(QStringLiteral("lib_people.pe_passwd")) + u'='
        + m_sql.compared(QStringLiteral("lib_people.pe_id"));
    return {QStringLiteral("update lib_people set pe_passwd = case when u.pw = 'E' then '' else u.old_number end"),
            QStringLiteral("from %1 u").arg(planTable()),
            QStringLiteral("where u.action = 'P' and u.rank_of_new = 1 and ") + key(QStringLiteral("rtrim(lib_people.pe_id)")) + u'='
                + key(QStringLiteral("u.new_number")),
            QStringLiteral("  and ((u.pw = 'E' and %1) or (u.pw = 'X' and %2))")
                .arg(stillTheRuns, m_sql.emptyPassword(QStringLiteral("lib_people.pe_passwd")))};
}

QStringList UndoStatements::dropTable() const
{
    switch (m_sql.dialect()) {
    case Dialect::SQLite:
        return {QStringLiteral("drop table if exists temp.norvel_undo_plan"), QStringLiteral("drop table if exists temp.norvel_undo_loans"),
                QStringLiteral("drop table if exists temp.norvel_undo_readers"), QStringLiteral("drop table if exists temp.norvel_undo")};
    case Dialect::SqlServer:
        return {QStringLiteral("drop table #norvel_undo_plan"), QStringLiteral("drop table #norvel_undo")};
    case Dialect::PostgreSQL:
        break;
    }
    return {};
}
