#pragma once

#include <QString>
#include <QStringList>

// The statements of the card-number padding run, line by line, in the dialect of the server.
//
// Microsoft SQL Server gets the program's texts as they have always been. There `=` and `in` ignore
// trailing blanks on every text type and len() counts without them, so a card number "7 " is the
// card number "7". PostgreSQL and SQLite get the same statements in their own dialect: length() for
// len(), || for text concatenation, and every comparison of card numbers and passwords made between
// rtrim()med values on both sides. Without that, PostgreSQL's varchar and text columns and every
// SQLite column compare trailing blanks (libraries moved from char(n) columns keep them on every
// number), and SQLite compares an integer 1234567 unequal to the text '1234567' in a column without
// a declared type; rtrim() gives SQLite the text the value shows. A reader column whose values all
// equal their trimmed text (no trailing blanks, no SQLite numbers) is compared as it stands, so that
// PostgreSQL and SQLite can still look card numbers up in the index on pe_id: padding never adds a
// trailing blank, so what holds before the run holds throughout.
//
// On PostgreSQL the "padded number is not a reader's" test is written as NOT EXISTS: PostgreSQL plans
// NOT IN (subquery) as a subplan run once per row unless the whole reader table fits in work_mem,
// and with the stock 4 MB a single update over a large library runs for the better part of an hour;
// NOT EXISTS becomes an anti-join whatever the memory setting (a hash join on the trimmed numbers).
// The two forms differ only when a card number is NULL, and the run refuses to start on such a
// reader table.
class PaddingStatements
{
public:
    enum class Dialect { SqlServer, PostgreSQL, SQLite };

    // The dialect for the server an ODBC driver names (SQL_DBMS_NAME); unknown servers get SQL Server's.
    static Dialect dialectFor(const QString &dbmsName);

    explicit PaddingStatements(Dialect dialect) : m_dialect(dialect) {}

    Dialect dialect() const { return m_dialect; }

    // The text handed to the server: every line followed by CR LF, the last one too.
    static QString text(const QStringList &lines);

    // Settings for the run's own transaction, issued first. On PostgreSQL the padding updates join a
    // table of card numbers against the whole reader table; with the stock 4 MB of work_mem that
    // hash spills to disk in many batches on a large library (measured: a third slower at a million
    // readers), so the run's transaction, and only it, gets the memory a DBA would give it.
    QStringList transactionSettings() const;
    // The locks the run takes first, held until its commit or rollback, that keep every other writer
    // of both tables out (the lending desk, another run) and let readers read: PostgreSQL's
    // EXCLUSIVE mode; SQLite's write lock, which a write statement takes (one that changes no row);
    // on SQL Server exclusive table locks held to the end of the transaction (readers that read
    // row versions, as under READ_COMMITTED_SNAPSHOT, go on reading; others wait, as they would
    // for the run's own updates). Chosen by the server the connection really talks to.
    static QStringList lockTables(Dialect server);
    // Readers whose password is their card number get the empty password for the run.
    QStringList markPasswords() const;
    // Readers of trimmed length n whose number with `zeros` in front is already a reader's number.
    QStringList collisionScan(int n, const QString &zeros) const;
    // Borrowing records, then readers, of trimmed length n get `zeros` in front unless the result
    // is a reader's number.
    QStringList padLoans(int n, const QString &zeros) const;
    QStringList padReaders(int n, const QString &zeros) const;
    // Readers with the empty password get their (new) card number as password.
    QStringList restorePasswords() const;

    // What the run reports when asked to (read only; the texts reuse the tests of the statements above,
    // so that they select exactly the rows those change).
    // The readers whose password is empty before the run (step "restore" gives them their number).
    QStringList readersWithEmptyPassword() const;
    // The readers that padReaders(n, zeros) changes: the card number and 1 where the password is empty.
    QStringList readersToPad(int n, const QString &zeros) const;
    // The loans' card numbers (trailing blanks removed) of lengths 1 .. limit-1, and how many
    // loans each has.
    QStringList shortLoanCards(int limit) const;
    // The readers whose card number is one of `numbers`.
    QStringList readersAmong(const QStringList &numbers) const;

    // Checks the run makes before it changes anything.
    // The number of readers without a card number (NULL).
    QStringList countReadersWithoutNumber() const;
    // Which trimmed lengths below `limit` the card numbers in both tables have. Its rows are the
    // lengths themselves, or, where cardLengthsAsMasks(), one bit mask per table: bit n set for a
    // number of length n, bit 63 for any length from 63 up. PostgreSQL computes the masks in a
    // parallel scan, about three times faster than collecting the distinct lengths.
    QStringList cardLengths(int limit) const;
    bool cardLengthsAsMasks() const { return m_dialect == Dialect::PostgreSQL; }
    static constexpr int MaskOverflowBit = 63;
    // One row, 1 when a card number in `column` of `table` has a trimmed length from 1 to length - 1
    // (the run pads it to `length`), else 0.
    QStringList anyCardToPad(const QString &table, const QString &column, int length) const;
    // One row: the longest password the run's last step writes (NULL when it writes none). That
    // step copies the card number into every empty password, the marked ones included; a number
    // shorter than `length` is counted as padded to it.
    QStringList longestPasswordSet(int length) const;
    // One row: whether some reader's card number, and whether some password, differs from its
    // rtrim()med text (1 or 0 each). Not for SQL Server, whose comparisons need no trimming.
    QStringList untrimmedValues() const;
    // What that found; until it is set, both are taken to need trimming.
    void setUntrimmedValues(bool cardNumbers, bool passwords)
    {
        m_untrimmedCardNumbers = cardNumbers;
        m_untrimmedPasswords = passwords;
    }
    // SQLite: the table's columns with their declared types (rows: cid, name, type, ...).
    QStringList declaredColumnTypes(const QString &table) const;
    // Whether SQLite gives a column of this declared type integer, real or numeric affinity: it then
    // stores a text that looks like a number as that number, "0007" as 7.
    static bool sqliteNumericAffinity(const QString &declaredType);

private:
    QString passwordEmpty() const;
    // "select pe_id", on SQLite as text.
    QString selectCardNumber() const;
    QString len(const QString &column) const;
    QString concat(const QString &zeros, const QString &column) const;
    // A reader's card number or password as compared: SQL Server's own comparison ignores trailing
    // blanks, the other dialects compare the trimmed text where the column needs it.
    QString compared(const QString &column) const;
    QStringList pad(const QString &table, const QString &column, int n, const QString &zeros) const;

    Dialect m_dialect;
    bool m_untrimmedCardNumbers = true;
    bool m_untrimmedPasswords = true;
};
