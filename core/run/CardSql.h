#pragma once

#include <QString>
#include <QStringList>

// How the statements of one server measure, pad and compare card numbers.
//
// Card numbers (lib_people.pe_id, lib_jieshu.js_libcard) and passwords (lib_people.pe_passwd) are
// compared as the server compares the readers' card-number column, with trailing blanks never
// counting:
// - Microsoft SQL Server gets the program's texts as they have always been. There `=` and `in`
//   ignore trailing blanks on every text type, len() counts without them, and every comparison
//   follows the columns' collation (case- and width-insensitive in the usual Chinese_PRC_CI_AS).
// - PostgreSQL gets the same statements in its own dialect (length() for len(), || for +). A column
//   collation carries through rtrim() and ||, so the server applies it as it would to the column;
//   a citext column's case-insensitivity does not (rtrim() of citext is text), so where pe_id is
//   citext every compared value is cast back to citext. Values are compared rtrim()med on both sides
//   where some value needs it: varchar and text compare trailing blanks, and libraries moved from
//   char(n) columns keep them on every number.
// - SQLite likewise, with the declared collation of pe_id (binary, nocase or rtrim) written out on
//   every compared value: SQLite drops a column's collation once the value goes through a function.
//   rtrim() also gives SQLite the text an integer shows (an integer 7 is not the text '7').
// A reader column whose values all equal their trimmed text is compared as it stands, so that the
// server can look card numbers up in its index on pe_id; padding never adds a trailing blank, so
// what holds before the run holds throughout.
class CardSql
{
public:
    enum class Dialect { SqlServer, PostgreSQL, SQLite };

    // The dialect for the server an ODBC driver names (SQL_DBMS_NAME); unknown servers get SQL Server's.
    static Dialect dialectFor(const QString &dbmsName);

    explicit CardSql(Dialect dialect) : m_dialect(dialect) {}
    Dialect dialect() const { return m_dialect; }

    // What the checks found before the run (until they say otherwise, everything is trimmed).
    struct Columns
    {
        // Some card number (pe_id) or password differs from its rtrim()med text.
        bool untrimmedCards = true;
        bool untrimmedPasswords = true;
        // PostgreSQL: the columns of type citext.
        bool citextCards = false;
        bool citextLoans = false;
        bool citextPasswords = false;
        // SQLite: pe_id's declared collation.
        enum class Collation { Binary, NoCase, RTrim } sqliteCollation = Collation::Binary;
        // The server tells card numbers apart that differ only in case (or width): PostgreSQL with
        // a deterministic collation and no citext, SQLite without nocase. Not asked of SQL Server.
        bool caseSensitiveCards = false;
        // PostgreSQL: two loans' card numbers (lib_jieshu.js_libcard) are equal only where they are
        // the same text, up to the blanks that char(n) ignores: a deterministic collation, no citext.
        bool exactLoans = false;
    };
    void setColumns(const Columns &columns) { m_columns = columns; }
    const Columns &columns() const { return m_columns; }

    // A column's trimmed length: len(rtrim(c)) or length(rtrim(c)).
    QString len(const QString &column) const;
    // `zeros` in front of the trimmed column: the value an update writes.
    QString padded(const QString &zeros, const QString &column) const;
    // `column` (a reader's card number, a loan's card number or a password, told apart by the
    // column's name) as compared with card numbers.
    QString compared(const QString &column) const;
    // The padded value as compared with card numbers.
    QString comparedPadded(const QString &zeros, const QString &column) const;
    // Whether a reader has (has not) the number `compared`, an expression compared as card numbers
    // are: a semi-join (anti-join) on PostgreSQL; IN (NOT IN) elsewhere, which SQLite answers from a
    // temporary index even where lib_people has none (an EXISTS with a collation on the column would
    // read the whole table for every number). The run refuses readers without a number, so NOT IN
    // never meets a NULL.
    QString readerHas(const QString &compared) const { return readerTest(compared, true); }
    QString noReaderHas(const QString &compared) const { return readerTest(compared, false); }
    // The same test against any table: whether `compared` is (is not) one of the `value`s of the rows
    // of `from` that meet `where` (none: all). With `outer`, a condition on the outer row alone, only
    // the rows that meet it can be found; it stays outside the list on SQLite, which then makes its
    // index of the list once instead of reading the list again for every row.
    QString among(const QString &compared, const QString &from, const QString &value, const QString &where, const QString &outer,
                  bool has) const;
    // Any text expression (a trimmed card number, a value of the run's own working tables) as
    // compared with card numbers.
    QString comparedExpression(const QString &expression) const { return withComparison(u'(' + expression + u')', false); }
    // The text that is compared: rtrim()med, but with no collation or type of its own (for grouping
    // and showing a value as it is).
    QString trimmed(const QString &column) const;
    // `column` holds the empty password (blanks only count as empty).
    QString emptyPassword(const QString &column) const;
    // Where columns().exactLoans holds: the loans counted per number as stored (columns js_libcard,
    // loans), by hashing the column as it is, for a statement to trim and group again: far fewer
    // values to trim. It counts all loans: the server knows how many numbers the column has, but not
    // how many rows a condition on their trimmed length keeps, and would sort them instead.
    static QString loanCounts()
    {
        return QStringLiteral("(select js_libcard, cast(count(*) as integer) as loans from lib_jieshu group by js_libcard offset 0)");
    }
    // The text concatenation operator.
    QString concatOperator() const { return m_dialect == Dialect::SqlServer ? QStringLiteral("+") : QStringLiteral("||"); }
    // A select of a card-number column as text (SQLite's driver types an untyped result column by its
    // first row and would read the text "07" after an integer as the number 7).
    QString asText(const QString &column) const;

private:
    enum class Kind { Card, Loan, Password };
    static Kind kindOf(const QString &column);
    bool untrimmed(Kind kind) const;
    bool isCitext(Kind kind) const;
    QString withComparison(const QString &expression, bool keepsType) const;
    QString readerTest(const QString &compared, bool has) const;

    Dialect m_dialect;
    Columns m_columns;
};
