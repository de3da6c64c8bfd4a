#include "run/ReportStatements.h"

using Dialect = CardSql::Dialect;

QStringList ReportStatements::passwordFigures() const
{
    const QString same = m_sql.compared(QStringLiteral("pe_id")) + u'=' + m_sql.compared(QStringLiteral("pe_passwd"));
    const QString empty = m_sql.emptyPassword(QStringLiteral("pe_passwd"));
    return {QStringLiteral("select sum(case when ") + same + QStringLiteral(" then 1 else 0 end),"),
            QStringLiteral("       sum(case when ") + empty + QStringLiteral(" or ") + same + QStringLiteral(" then 1 else 0 end),"),
            QStringLiteral("       sum(case when ") + empty + QStringLiteral(" and ") + m_sql.len(QStringLiteral("pe_id"))
                + QStringLiteral(">0 then 1 else 0 end)"),
            QStringLiteral("from lib_people")};
}

QStringList ReportStatements::readersWithEmptyPassword() const
{
    return {QStringLiteral("select ") + m_sql.asText(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people"),
            QStringLiteral("where ") + m_sql.emptyPassword(QStringLiteral("pe_passwd")) + QStringLiteral(" and ")
                + m_sql.len(QStringLiteral("pe_id")) + QStringLiteral(">0")};
}

QString ReportStatements::readerPadded(const QString &zeros, const QString &reader) const
{
    return m_sql.comparedPadded(zeros, reader);
}

QStringList ReportStatements::readersToPad(int n, const QString &zeros) const
{
    const QString card = m_sql.compared(QStringLiteral("p.pe_id"));
    const QString loanCard = m_sql.compared(QStringLiteral("js_libcard"));
    const QString first = QStringLiteral("row_number() over (partition by ") + card + QStringLiteral(" order by p.pe_id) = 1");
    const auto loansOfLength = [&](qint64 length) {
        return QStringLiteral("(select ") + loanCard + QStringLiteral(" as card, count(*) as loans from lib_jieshu where ")
            + m_sql.len(QStringLiteral("js_libcard")) + u'=' + QString::number(length) + QStringLiteral(" group by ") + loanCard
            + u')';
    };
    return {QStringLiteral("select ") + m_sql.asText(QStringLiteral("p.pe_id")) + QStringLiteral(", case when ")
                + m_sql.emptyPassword(QStringLiteral("p.pe_passwd")) + QStringLiteral(" then 1 else 0 end,"),
            QStringLiteral("       case when ") + first + QStringLiteral(" then coalesce(m.loans, 0) else 0 end,"),
            QStringLiteral("       case when ") + first + QStringLiteral(" then coalesce(j.loans, 0) else 0 end"),
            QStringLiteral("from lib_people p"),
            QStringLiteral("left join ") + loansOfLength(n) + QStringLiteral(" m on m.card = ") + card,
            QStringLiteral("left join ") + loansOfLength(qint64(n) + zeros.size()) + QStringLiteral(" j on j.card = ")
                + readerPadded(zeros, QStringLiteral("p.pe_id")),
            QStringLiteral("where ") + m_sql.len(QStringLiteral("p.pe_id")) + u'=' + QString::number(n),
            QStringLiteral("  and ") + m_sql.noReaderHas(readerPadded(zeros, QStringLiteral("p.pe_id")))};
}

QStringList ReportStatements::loanOnlyCards(int n, const QString &zeros) const
{
    const QString loanCard = m_sql.compared(QStringLiteral("lib_jieshu.js_libcard"));
    return {QStringLiteral("select min(") + m_sql.trimmed(QStringLiteral("lib_jieshu.js_libcard")) + QStringLiteral("), count(*)"),
            QStringLiteral("from lib_jieshu"),
            QStringLiteral("where ") + m_sql.len(QStringLiteral("lib_jieshu.js_libcard")) + u'=' + QString::number(n),
            QStringLiteral("  and ") + m_sql.noReaderHas(m_sql.comparedPadded(zeros, QStringLiteral("lib_jieshu.js_libcard"))),
            QStringLiteral("  and ") + m_sql.noReaderHas(loanCard),
            QStringLiteral("group by ") + loanCard};
}

QStringList ReportStatements::alsoValues(const AlsoColumn &also, int n, const QString &zeros) const
{
    const QString table = also.tableIdentifier(m_sql.dialect());
    const QString column = table + u'.' + also.columnIdentifier(m_sql.dialect());
    const QString value = m_sql.comparedExpression(m_sql.trimmed(column));
    return {QStringLiteral("select min(") + m_sql.trimmed(column) + QStringLiteral("), count(*)"),
            QStringLiteral("from ") + table,
            QStringLiteral("where ") + m_sql.len(column) + u'=' + QString::number(n),
            QStringLiteral("  and ") + m_sql.noReaderHas(m_sql.comparedPadded(zeros, column)),
            QStringLiteral("group by ") + value};
}

QStringList ReportStatements::caseTwins(int length, bool unicode) const
{
    const QString number = QStringLiteral("rtrim(p.pe_id)");
    QString padded;
    QString fold;
    QString other;
    QString unusual;
    if (m_sql.dialect() == Dialect::PostgreSQL) {
        padded = QStringLiteral("repeat('0', %1 - length(%2)) || %2").arg(length).arg(number);
        fold = unicode ? QStringLiteral("lower(normalize(%1, NFKC))") : QStringLiteral("lower(%1)");
        unusual = QStringLiteral("%1 ~ '[^0-9 ]'");
    } else {
        padded = QStringLiteral("substr('%1', 1, %2 - length(%3)) || %3").arg(QString(length, u'0')).arg(length).arg(number);
        fold = QStringLiteral("upper(%1)");
        unusual = QStringLiteral("%1 glob '*[^0-9 ]*'");
    }
    other = QStringLiteral("rtrim(q.pe_id)");
    const QString binary = m_sql.dialect() == Dialect::SQLite ? QStringLiteral(" collate binary") : QString();
    // Only a number with something else than digits can have such a twin, and only a number of the
    // padded length can be it.
    return {QStringLiteral("select p.pe_id, ") + padded + QStringLiteral(", q.pe_id"),
            QStringLiteral("from lib_people p join lib_people q"),
            QStringLiteral("  on ") + fold.arg(u'(' + padded + u')') + u'=' + fold.arg(other),
            QStringLiteral("where length(%1) between 1 and %2").arg(number).arg(length - 1),
            QStringLiteral("  and ") + unusual.arg(number) + QStringLiteral(" and length(%1) = %2").arg(other).arg(length),
            QStringLiteral("  and (") + padded + u')' + binary + QStringLiteral(" <> ") + other + binary};
}

QStringList ReportStatements::databaseEncoding() const
{
    return {QStringLiteral("select getdatabaseencoding()")};
}
