#include "run/SetStatements.h"

#include <algorithm>

using Dialect = CardSql::Dialect;

namespace {

bool isSqlite(const CardSql &sql)
{
    return sql.dialect() == Dialect::SQLite;
}

} // namespace

QString SetStatements::zeros(const QString &count) const
{
    if (isSqlite(m_sql))
        return QStringLiteral("substr('%1', 1, %2)").arg(QString(std::max(m_length, 12), u'0'), count);
    return QStringLiteral("repeat('0', %1)").arg(count);
}

QString SetStatements::keyColumn(const QString &column) const
{
    // PostgreSQL's working tables keep the type and collation of the values they were made from;
    // SQLite's keep none.
    return isSqlite(m_sql) ? m_sql.comparedExpression(column) : column;
}

QString SetStatements::steps(const QString &n) const
{
    // The twelve-zero steps before the last one: while L - length > 12.
    return QStringLiteral("((%1 - %2 - 1) / 12)").arg(m_length).arg(n);
}

QString SetStatements::onCommitDrop() const
{
    return isSqlite(m_sql) ? QString() : QStringLiteral(" on commit drop");
}

QStringList SetStatements::cards() const
{
    return QStringList{QStringLiteral("create temp table norvel_cards%1 as").arg(onCommitDrop())} << grouping();
}

QStringList SetStatements::grouping() const
{
    const QString shorter = QStringLiteral(" between 1 and ") + number(m_length - 1);
    const QString empty = m_sql.emptyPassword(QStringLiteral("pe_passwd"));
    QStringList lines{
        QStringLiteral("select K as key, min(V) as v, min(N) as n, sum(R) as readers, sum(F) as follows,"),
        QStringLiteral("       sum(E) as empties, sum(L) as loans, sum(A) as also"),
        QStringLiteral("from ("),
        QStringLiteral("  select ") + key(QStringLiteral("rtrim(pe_id)")) + QStringLiteral(" as K, rtrim(pe_id) as V, ")
            + m_sql.len(QStringLiteral("pe_id")) + QStringLiteral(" as N, 1 as R,"),
        QStringLiteral("         case when ") + empty + QStringLiteral(" then 0 when ") + m_sql.compared(QStringLiteral("pe_id"))
            + u'=' + m_sql.compared(QStringLiteral("pe_passwd")) + QStringLiteral(" then 1 else 0 end as F,"),
        QStringLiteral("         case when ") + empty + QStringLiteral(" then 1 else 0 end as E, 0 as L, 0 as A"),
        QStringLiteral("  from lib_people where ") + m_sql.len(QStringLiteral("pe_id")) + shorter,
        QStringLiteral("  union all")};
    if (m_sql.columns().exactLoans) {
        lines << QStringLiteral("  select ") + key(QStringLiteral("rtrim(js_libcard)")) + QStringLiteral(", rtrim(js_libcard), ")
                     + m_sql.len(QStringLiteral("js_libcard")) + QStringLiteral(", 0, 0, 0, loans, 0")
              << QStringLiteral("  from ") + CardSql::loanCounts() + QStringLiteral(" l")
              << QStringLiteral("  where ") + m_sql.len(QStringLiteral("js_libcard")) + shorter;
    } else {
        lines << QStringLiteral("  select ") + key(QStringLiteral("rtrim(js_libcard)")) + QStringLiteral(", rtrim(js_libcard), ")
                     + m_sql.len(QStringLiteral("js_libcard")) + QStringLiteral(", 0, 0, 0, 1, 0")
              << QStringLiteral("  from lib_jieshu where ") + m_sql.len(QStringLiteral("js_libcard")) + shorter;
    }
    // Columns padded with the loans: their values are cards as the loans' are.
    for (const AlsoColumn &also : m_also) {
        const QString column = also.columnIdentifier(m_sql.dialect());
        lines << QStringLiteral("  union all")
              << QStringLiteral("  select ") + key(m_sql.trimmed(column)) + QStringLiteral(", ") + m_sql.trimmed(column) + QStringLiteral(", ")
                     + m_sql.len(column) + QStringLiteral(", 0, 0, 0, 0, 1")
              << QStringLiteral("  from ") + also.tableIdentifier(m_sql.dialect()) + QStringLiteral(" where ") + m_sql.len(column) + shorter;
    }
    lines << QStringLiteral(") s") << QStringLiteral("group by ") + keyColumn(QStringLiteral("K"));
    return lines;
}

QStringList SetStatements::sortsOff() const
{
    if (isSqlite(m_sql))
        return {};
    return {QStringLiteral("select set_config('enable_sort', 'off', true)"),
            QStringLiteral("from (select set_config('norvel.enable_sort', current_setting('enable_sort'), true)) saved")};
}

QStringList SetStatements::sortsBack() const
{
    if (isSqlite(m_sql))
        return {};
    return {QStringLiteral("select set_config('enable_sort', current_setting('norvel.enable_sort'), true)")};
}

QStringList SetStatements::padAlso(const AlsoColumn &also) const
{
    const QString table = also.tableIdentifier(m_sql.dialect());
    const QString column = table + u'.' + also.columnIdentifier(m_sql.dialect());
    return {QStringLiteral("update %1 set %2 = %3 || %4").arg(table, also.columnIdentifier(m_sql.dialect()), zeros(QStringLiteral("o.kl")),
                                                             m_sql.trimmed(column)),
            QStringLiteral("from norvel_outcome o"),
            QStringLiteral("where ") + m_sql.len(column) + QStringLiteral(" between 1 and ") + number(m_length - 1) + QStringLiteral(" and o.kl > 0"),
            QStringLiteral("  and ") + key(m_sql.trimmed(column)) + u'=' + keyColumn(QStringLiteral("o.key"))};
}

QStringList SetStatements::recordAlso(const AlsoColumn &also) const
{
    const QString table = also.tableIdentifier(m_sql.dialect());
    const QString column = table + u'.' + also.columnIdentifier(m_sql.dialect());
    return {QStringLiteral("select min(%1), o.kl, count(*)").arg(m_sql.trimmed(column)),
            QStringLiteral("from %1 join norvel_outcome o on %2 = %3").arg(table, key(m_sql.trimmed(column)), keyColumn(QStringLiteral("o.key"))),
            QStringLiteral("where ") + m_sql.len(column) + QStringLiteral(" between 1 and ") + number(m_length - 1) + QStringLiteral(" and o.kl > 0"),
            QStringLiteral("group by o.key, o.kl"),
            QStringLiteral("order by 1")};
}

QStringList SetStatements::blocked() const
{
    const QString step = QStringLiteral("g.j <= ") + steps(QStringLiteral("c.n"));
    const QString taken = QStringLiteral("where ") + m_sql.readerHas(key(zeros(QStringLiteral("12 * g.j")) + QStringLiteral(" || c.key")));
    if (isSqlite(m_sql)) {
        return {QStringLiteral("create temp table norvel_blocked as"),
                QStringLiteral("with recursive g(j) as (select 1 union all select j + 1 from g where j < %1)").arg(maxSteps()),
                QStringLiteral("select c.key, min(g.j) as j"),
                QStringLiteral("from norvel_cards c join g on ") + step,
                taken,
                QStringLiteral("group by c.key")};
    }
    return {QStringLiteral("create temp table norvel_blocked on commit drop as"),
            QStringLiteral("select c.key, min(g.j) as j"),
            QStringLiteral("from norvel_cards c join generate_series(1, %1) as g(j) on ").arg(maxSteps()) + step,
            taken,
            QStringLiteral("group by c.key")};
}

QStringList SetStatements::fates() const
{
    const QString L = number(m_length);
    const QString blockedColumn = hasSteps() ? QStringLiteral("b.j") : QStringLiteral("cast(null as integer)");
    QStringList lines{
        QStringLiteral("create temp table norvel_fates%1 as").arg(onCommitDrop()),
        QStringLiteral("select c.key, c.v, c.n, c.readers, c.follows, c.empties, c.loans, c.also, %1 as blocked,").arg(blockedColumn),
        QStringLiteral("       case when %1 is null then c.n + 12 * %2 else c.n + 12 * (%1 - 1) end as q,")
            .arg(blockedColumn, steps(QStringLiteral("c.n"))),
        QStringLiteral("       %1 as w").arg(key(zeros(L + QStringLiteral(" - c.n")) + QStringLiteral(" || c.key")))};
    if (hasSteps()) {
        lines << QStringLiteral("from norvel_cards c") << QStringLiteral("left join norvel_blocked b on b.key = c.key");
    } else {
        // Nothing else needs the cards by themselves: grouped here, they are written once.
        lines << QStringLiteral("from (");
        for (const QString &line : grouping())
            lines << QStringLiteral("  ") + line;
        lines << QStringLiteral(") c");
    }
    return lines;
}

bool SetStatements::takenWithClaims() const
{
    // Where every card number compares as the same text or not at all, a padded number can only be
    // a reader's number of length L.
    const CardSql::Columns &columns = m_sql.columns();
    return m_sql.dialect() == Dialect::PostgreSQL && columns.caseSensitiveCards && columns.exactLoans && m_also.isEmpty();
}

QList<QStringList> SetStatements::workingTables() const
{
    QList<QStringList> statements;
    if (hasSteps())
        statements << sortsOff() << cards() << sortsBack() << blocked() << fates();
    else
        statements << sortsOff() << fates() << sortsBack();
    statements << claims() << outcome();
    statements.removeAll(QStringList());
    return statements;
}

QStringList SetStatements::claims() const
{
    const QString creation = QStringLiteral("create temp table norvel_claims%1 as").arg(onCommitDrop());
    if (takenWithClaims()) {
        // The readers that have a padded number from before the run are found with the claims on it:
        // one grouping instead of a join with every reader.
        return {creation, QStringLiteral("select w, min(case when readers > 0 then q end) as mq, max(t) as taken"),
                QStringLiteral("from (select w, q, readers, 0 as t from norvel_fates where blocked is null"),
                QStringLiteral("      union all"),
                QStringLiteral("      select ") + m_sql.compared(QStringLiteral("pe_id")) + QStringLiteral(", null, null, 1 from lib_people where ")
                    + m_sql.len(QStringLiteral("pe_id")) + u'=' + number(m_length) + QStringLiteral(") c"),
                QStringLiteral("group by w having min(t) = 0")};
    }
    return {creation, QStringLiteral("select w, min(q) as mq from norvel_fates where blocked is null and readers > 0 group by ")
                + keyColumn(QStringLiteral("w"))};
}

QStringList SetStatements::outcome() const
{
    const QString L = number(m_length);
    const bool withClaims = takenWithClaims();
    const QString notTaken = withClaims ? QStringLiteral("coalesce(cl.taken, 0) = 0") : QStringLiteral("t.w is null");
    const QString stepsDone = QStringLiteral("12 * ") + steps(QStringLiteral("f.n"));
    QStringList lines{QStringLiteral("create temp table norvel_outcome%1 as").arg(onCommitDrop())};
    if (!withClaims) {
        lines << QStringLiteral("with taken as (") << QStringLiteral("  select w from norvel_fates g where blocked is null")
              << QStringLiteral("    and ") + m_sql.readerHas(keyColumn(QStringLiteral("g.w")))
              << QStringLiteral("  group by ") + keyColumn(QStringLiteral("w")) << QStringLiteral(")");
    }
    lines << QStringLiteral("select f.key, f.v, f.n, f.readers, f.follows, f.empties, f.loans, f.also, f.q, f.w,")
          << QStringLiteral("  case when f.blocked is not null then 12 * (f.blocked - 1)")
          << QStringLiteral("       when %1 and f.q = cl.mq then %2 - f.n else %3 end as kr,").arg(notTaken, L, stepsDone)
          << QStringLiteral("  case when f.blocked is not null then 12 * (f.blocked - 1)")
          << QStringLiteral("       when %1 and (cl.mq is null or cl.mq >= f.q) then %2 - f.n else %3 end as kl,").arg(notTaken, L, stepsDone)
          << QStringLiteral("  case when f.readers = 0 then null")
          << QStringLiteral("       when f.blocked is not null then f.n + 12 * (f.blocked - 1)")
          << QStringLiteral("       when %1 and f.q = cl.mq then null else f.q end as cp").arg(notTaken)
          << QStringLiteral("from norvel_fates f")
          << QStringLiteral("left join norvel_claims cl on ") + keyColumn(QStringLiteral("cl.w")) + u'=' + keyColumn(QStringLiteral("f.w"));
    if (!withClaims)
        lines << QStringLiteral("left join taken t on ") + keyColumn(QStringLiteral("t.w")) + u'=' + keyColumn(QStringLiteral("f.w"));
    return lines;
}

QStringList SetStatements::statisticsFor(const QStringList &creation) const
{
    // The cards and the blocked steps are only read whole; the others are joined.
    static const QStringList joined{QStringLiteral("norvel_fates"), QStringLiteral("norvel_claims"), QStringLiteral("norvel_outcome"),
                                    QStringLiteral("norvel_joined")};
    const QString first = creation.value(0);
    const QString table = first.section(u' ', 3, 3);
    if (!first.startsWith(QStringLiteral("create temp table ")) || !joined.contains(table))
        return {};
    return {(isSqlite(m_sql) ? QStringLiteral("analyze temp.") : QStringLiteral("analyze ")) + table};
}

QStringList SetStatements::presentLengths() const
{
    return {QStringLiteral("select distinct n from norvel_fates")};
}

QStringList SetStatements::collisions() const
{
    return {QStringLiteral("select ")
                + m_sql.asText(QStringLiteral("case when o.kr > 0 then %1 || rtrim(p.pe_id) else p.pe_id end").arg(zeros(QStringLiteral("o.kr"))))
                + QStringLiteral(", o.cp"),
            QStringLiteral("from lib_people p join norvel_outcome o on ") + key(QStringLiteral("rtrim(p.pe_id)")) + u'='
                + keyColumn(QStringLiteral("o.key")),
            QStringLiteral("where ") + m_sql.len(QStringLiteral("p.pe_id")) + QStringLiteral(" between 1 and ") + number(m_length - 1)
                + QStringLiteral(" and o.cp is not null"),
            QStringLiteral("order by o.cp")};
}

QStringList SetStatements::passwordsToSettle(bool count) const
{
    QString differs;
    if (isSqlite(m_sql))
        differs = QStringLiteral("pe_passwd is not pe_id collate binary");
    else
        differs = QStringLiteral("cast(pe_passwd as text) collate \"C\" is distinct from cast(pe_id as text) collate \"C\"");
    return {count ? QStringLiteral("select count(*) from lib_people") : QStringLiteral("update lib_people set pe_passwd = pe_id"),
            QStringLiteral("where (") + m_sql.compared(QStringLiteral("pe_id")) + u'=' + m_sql.compared(QStringLiteral("pe_passwd"))
                + QStringLiteral(" or ") + m_sql.emptyPassword(QStringLiteral("pe_passwd")) + u')',
            QStringLiteral("  and ") + differs};
}

QStringList SetStatements::padLoans() const
{
    const QString shortLoan = m_sql.len(QStringLiteral("lib_jieshu.js_libcard")) + QStringLiteral(" between 1 and ") + number(m_length - 1);
    // SQLite goes through the loans in the order they are stored, not in the order of the index on
    // their card numbers that it would otherwise pick: the rows it rewrites are then next to each other.
    return {QStringLiteral("update lib_jieshu%1 set js_libcard = %2 || rtrim(lib_jieshu.js_libcard)")
                .arg(isSqlite(m_sql) ? QStringLiteral(" not indexed") : QString(), zeros(QStringLiteral("o.kl"))),
            QStringLiteral("from norvel_outcome o"),
            QStringLiteral("where ") + shortLoan + QStringLiteral(" and o.kl > 0"),
            QStringLiteral("  and ") + key(QStringLiteral("rtrim(lib_jieshu.js_libcard)")) + u'=' + keyColumn(QStringLiteral("o.key"))};
}

QStringList SetStatements::padReaders() const
{
    const QString padded = zeros(QStringLiteral("o.kr")) + QStringLiteral(" || rtrim(lib_people.pe_id)");
    return {QStringLiteral("update lib_people%1 set pe_id = ").arg(isSqlite(m_sql) ? QStringLiteral(" not indexed") : QString()) + padded + u',',
            QStringLiteral("  pe_passwd = case when ") + m_sql.compared(QStringLiteral("lib_people.pe_id")) + u'='
                + m_sql.compared(QStringLiteral("lib_people.pe_passwd")) + QStringLiteral(" then ") + padded
                + QStringLiteral(" else lib_people.pe_passwd end"),
            QStringLiteral("from norvel_outcome o"),
            QStringLiteral("where ") + m_sql.len(QStringLiteral("lib_people.pe_id")) + QStringLiteral(" between 1 and ")
                + number(m_length - 1) + QStringLiteral(" and o.kr > 0"),
            QStringLiteral("  and ") + key(QStringLiteral("rtrim(lib_people.pe_id)")) + u'=' + keyColumn(QStringLiteral("o.key"))};
}

QStringList SetStatements::dropWorkingTables() const
{
    if (!isSqlite(m_sql))
        return {};
    QStringList drops;
    for (const char *table : {"norvel_joined", "norvel_outcome", "norvel_claims", "norvel_fates", "norvel_blocked", "norvel_cards"})
        drops << QStringLiteral("drop table if exists temp.%1").arg(QLatin1String(table));
    return drops;
}

QStringList SetStatements::joinedLoans() const
{
    const QString L = number(m_length);
    // Two joins on the new number: the cards whose loans get it in an earlier pass, and the loans
    // that have it from before the run. Only the cards that have such loans are in the table, so
    // that the joins with it stay small. A card that gets the number in an earlier pass has no
    // readers (they would have got it first), which keeps the first join's other side small too.
    const QString padded = QStringLiteral("o.readers > 0 and o.kr = %1 - o.n").arg(L);
    return {QStringLiteral("create temp table norvel_joined%1 as").arg(onCommitDrop()),
            QStringLiteral("select key, sum(loans) as joined from ("),
            QStringLiteral("  select o.key, e.loans from norvel_outcome o join norvel_outcome e on ") + keyColumn(QStringLiteral("e.w")) + u'='
                + keyColumn(QStringLiteral("o.w")),
            QStringLiteral("  where %1 and e.readers = 0 and e.q < o.q and e.kl = %2 - e.n and e.loans > 0").arg(padded, L),
            QStringLiteral("  union all"),
            QStringLiteral("  select o.key, a.loans from norvel_outcome o"),
            QStringLiteral("  join (select ") + key(QStringLiteral("rtrim(js_libcard)")) + QStringLiteral(" as w, count(*) as loans"),
            QStringLiteral("        from lib_jieshu where ") + m_sql.len(QStringLiteral("js_libcard")) + u'=' + L,
            QStringLiteral("        group by ") + key(QStringLiteral("rtrim(js_libcard)")) + QStringLiteral(") a on ")
                + keyColumn(QStringLiteral("a.w")) + u'=' + keyColumn(QStringLiteral("o.w")),
            QStringLiteral("  where ") + padded,
            QStringLiteral(") j group by ") + keyColumn(QStringLiteral("key"))};
}

QStringList SetStatements::figures(bool withJoined) const
{
    if (!withJoined) {
        return {QStringLiteral("select o.n, o.q, o.cp, o.kr, o.kl, sum(o.readers), sum(o.loans), sum(o.follows), sum(o.also)"),
                QStringLiteral("from norvel_outcome o"), QStringLiteral("group by o.n, o.q, o.cp, o.kr, o.kl")};
    }
    const QString padded = QStringLiteral("o.readers > 0 and o.kr = %1 - o.n").arg(m_length);
    return {QStringLiteral("select o.n, o.q, o.cp, o.kr, o.kl, sum(o.readers), sum(o.loans), sum(o.follows), sum(o.also),"),
            QStringLiteral("       sum(case when %1 then coalesce(j.joined, 0) else 0 end)").arg(padded),
            QStringLiteral("from norvel_outcome o left join norvel_joined j on j.key = o.key"),
            QStringLiteral("group by o.n, o.q, o.cp, o.kr, o.kl")};
}

QStringList SetStatements::emptyPasswordsFilled() const
{
    return {QStringLiteral("select count(*) from lib_people"),
            QStringLiteral("where ") + m_sql.emptyPassword(QStringLiteral("pe_passwd")) + QStringLiteral(" and ")
                + m_sql.len(QStringLiteral("pe_id")) + QStringLiteral(">0")};
}

QStringList SetStatements::recordReaders() const
{
    // The card is its outcome row: its key is one value, so the partitions may compare it as bytes,
    // which sorts far faster than a collation does. The first reader is the first by the collation.
    const QString card = isSqlite(m_sql) ? QStringLiteral("o.key") : QStringLiteral("cast(o.key as text) collate \"C\"");
    const QString first = QStringLiteral("row_number() over (partition by %1 order by p.pe_id) = 1").arg(card);
    const QString empty = m_sql.emptyPassword(QStringLiteral("p.pe_passwd"));
    return {QStringLiteral("select ") + m_sql.asText(QStringLiteral("p.pe_id")) + QStringLiteral(", o.kr,"),
            QStringLiteral("       case when ") + empty + QStringLiteral(" then 'E' when ") + m_sql.compared(QStringLiteral("p.pe_id"))
                + u'=' + m_sql.compared(QStringLiteral("p.pe_passwd")) + QStringLiteral(" then 'F' else 'U' end,"),
            QStringLiteral("       case when %1 and o.kl > 0 then o.loans else 0 end,").arg(first),
            QStringLiteral("       case when %1 and o.kr = %2 - o.n then coalesce(j.joined, 0) else 0 end").arg(first).arg(m_length),
            QStringLiteral("from lib_people p join norvel_outcome o on ") + key(QStringLiteral("rtrim(p.pe_id)")) + u'='
                + keyColumn(QStringLiteral("o.key")),
            QStringLiteral("left join norvel_joined j on j.key = o.key"),
            QStringLiteral("where ") + m_sql.len(QStringLiteral("p.pe_id")) + QStringLiteral(" between 1 and ") + number(m_length - 1)
                + QStringLiteral(" and o.kr > 0"),
            QStringLiteral("order by 1")};
}

QStringList SetStatements::recordLoanOnly() const
{
    return {QStringLiteral("select v, kl, loans from norvel_outcome where readers = 0 and loans > 0 and kl > 0 order by v")};
}

QStringList SetStatements::recordEmptyPasswords(bool afterOutcome) const
{
    QStringList lines{QStringLiteral("select ") + m_sql.asText(QStringLiteral("p.pe_id")) + QStringLiteral(" from lib_people p"),
                      QStringLiteral("where ") + m_sql.emptyPassword(QStringLiteral("p.pe_passwd")) + QStringLiteral(" and ")
                          + m_sql.len(QStringLiteral("p.pe_id")) + QStringLiteral(">0")};
    if (afterOutcome) {
        // Not the readers whose number the run pads.
        lines << QStringLiteral("  and ")
                     + m_sql.among(key(QStringLiteral("rtrim(p.pe_id)")), QStringLiteral("norvel_outcome o"), keyColumn(QStringLiteral("o.key")),
                                   QStringLiteral("o.kr > 0"), m_sql.len(QStringLiteral("p.pe_id")) + QStringLiteral(" < ") + number(m_length),
                                   false);
    }
    return lines << QStringLiteral("order by 1");
}
