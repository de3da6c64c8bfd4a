#include "run/CardSql.h"

CardSql::Dialect CardSql::dialectFor(const QString &dbmsName)
{
    if (dbmsName.startsWith(QStringLiteral("PostgreSQL"), Qt::CaseInsensitive))
        return Dialect::PostgreSQL;
    if (dbmsName.contains(QStringLiteral("SQLite"), Qt::CaseInsensitive))
        return Dialect::SQLite;
    return Dialect::SqlServer;
}

CardSql::Kind CardSql::kindOf(const QString &column)
{
    if (column.endsWith(QLatin1String("pe_passwd")))
        return Kind::Password;
    if (column.endsWith(QLatin1String("js_libcard")))
        return Kind::Loan;
    return Kind::Card;
}

bool CardSql::untrimmed(Kind kind) const
{
    // Loans are always trimmed: nothing was asked about them, and they are never looked up by index.
    switch (kind) {
    case Kind::Card:
        return m_columns.untrimmedCards;
    case Kind::Password:
        return m_columns.untrimmedPasswords;
    case Kind::Loan:
        break;
    }
    return true;
}

bool CardSql::isCitext(Kind kind) const
{
    switch (kind) {
    case Kind::Card:
        return m_columns.citextCards;
    case Kind::Password:
        return m_columns.citextPasswords;
    case Kind::Loan:
        break;
    }
    return m_columns.citextLoans;
}

QString CardSql::len(const QString &column) const
{
    const QString function = m_dialect == Dialect::SqlServer ? QStringLiteral("len") : QStringLiteral("length");
    return function + QStringLiteral("(rtrim(") + column + QStringLiteral("))");
}

QString CardSql::padded(const QString &zeros, const QString &column) const
{
    return u'\'' + zeros + u'\'' + concatOperator() + QStringLiteral("rtrim(") + column + u')';
}

QString CardSql::trimmed(const QString &column) const
{
    return QStringLiteral("rtrim(") + column + u')';
}

QString CardSql::withComparison(const QString &expression, bool keepsType) const
{
    switch (m_dialect) {
    case Dialect::SqlServer:
        return expression;
    case Dialect::PostgreSQL:
        // Compared as pe_id compares: as citext where pe_id is citext, as text otherwise (a citext
        // loan column next to a text pe_id compares as text, as the server compares the two).
        if (m_columns.citextCards)
            return keepsType ? expression : QStringLiteral("cast(%1 as citext)").arg(expression);
        return expression;
    case Dialect::SQLite:
        switch (m_columns.sqliteCollation) {
        case Columns::Collation::NoCase:
            return expression + QStringLiteral(" collate nocase");
        case Columns::Collation::RTrim:
            return expression + QStringLiteral(" collate rtrim");
        case Columns::Collation::Binary:
            break;
        }
        return expression + QStringLiteral(" collate binary");
    }
    return expression;
}

QString CardSql::compared(const QString &column) const
{
    if (m_dialect == Dialect::SqlServer)
        return column;
    const Kind kind = kindOf(column);
    if (untrimmed(kind))
        return withComparison(trimmed(column), false);
    if (m_dialect == Dialect::PostgreSQL && !m_columns.citextCards && isCitext(kind))
        return QStringLiteral("cast(%1 as text)").arg(column);
    return withComparison(column, isCitext(kind));
}

QString CardSql::comparedPadded(const QString &zeros, const QString &column) const
{
    const QString value = padded(zeros, column);
    if (m_dialect == Dialect::SqlServer)
        return value;
    return withComparison(u'(' + value + u')', false);
}

QString CardSql::readerTest(const QString &compared, bool has) const
{
    return among(compared, QStringLiteral("lib_people r"), this->compared(QStringLiteral("r.pe_id")), {}, {}, has);
}

QString CardSql::among(const QString &compared, const QString &from, const QString &value, const QString &where, const QString &outer,
                       bool has) const
{
    if (m_dialect == Dialect::PostgreSQL) {
        QString conditions;
        for (const QString &condition : {where, outer}) {
            if (!condition.isEmpty())
                conditions += condition + QStringLiteral(" and ");
        }
        return QStringLiteral("%1exists (select 1 from %2 where %3%4=%5)")
                .arg(has ? QString() : QStringLiteral("not "), from, conditions, value, compared);
    }
    const QString list = QStringLiteral("(select %1 from %2%3)").arg(value, from, where.isEmpty() ? QString() : QStringLiteral(" where ") + where);
    if (outer.isEmpty())
        return QStringLiteral("%1 %2in %3").arg(compared, has ? QString() : QStringLiteral("not "), list);
    return QStringLiteral("%1(%2 and %3 in %4)").arg(has ? QString() : QStringLiteral("not "), outer, compared, list);
}

QString CardSql::emptyPassword(const QString &column) const
{
    const bool trim = m_dialect != Dialect::SqlServer && untrimmed(kindOf(column));
    return (trim ? trimmed(column) : column) + QStringLiteral("=''");
}

QString CardSql::asText(const QString &column) const
{
    return m_dialect == Dialect::SQLite ? QStringLiteral("cast(%1 as text)").arg(column) : column;
}
