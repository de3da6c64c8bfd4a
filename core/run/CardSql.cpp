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
    const QString reader = this->compared(QStringLiteral("r.pe_id"));
    if (m_dialect == Dialect::PostgreSQL)
        return QStringLiteral("%1exists (select 1 from lib_people r where %2=%3)").arg(has ? QString() : QStringLiteral("not "), reader, compared);
    return QStringLiteral("%1 %2in (select %3 from lib_people r)").arg(compared, has ? QString() : QStringLiteral("not "), reader);
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
