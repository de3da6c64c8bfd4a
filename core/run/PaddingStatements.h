#pragma once

#include "run/AlsoColumn.h"
#include "run/CardSql.h"

#include <QString>
#include <QStringList>

// The statements of the card-number padding run, line by line, in the dialect of the server (see
// CardSql for how each server measures and compares card numbers).
//
// Microsoft SQL Server gets the program's texts as they have always been, byte for byte.
//
// On PostgreSQL the "padded number is not a reader's" test is written as NOT EXISTS: PostgreSQL plans
// NOT IN (subquery) as a subplan run once per row unless the whole reader table fits in work_mem,
// and with the stock 4 MB a single update over a large library runs for the better part of an hour;
// NOT EXISTS becomes an anti-join whatever the memory setting (a hash join on the compared numbers).
// The two forms differ only when a card number is NULL, and the run refuses to start on such a
// reader table.
class PaddingStatements
{
public:
    using Dialect = CardSql::Dialect;

    // The dialect for the server an ODBC driver names (SQL_DBMS_NAME); unknown servers get SQL Server's.
    static Dialect dialectFor(const QString &dbmsName) { return CardSql::dialectFor(dbmsName); }

    explicit PaddingStatements(Dialect dialect) : m_sql(dialect) {}

    Dialect dialect() const { return m_sql.dialect(); }
    const CardSql &cards() const { return m_sql; }
    void setColumns(const CardSql::Columns &columns) { m_sql.setColumns(columns); }

    // The text handed to the server: every line followed by CR LF, the last one too.
    static QString text(const QStringList &lines);

    // The zeros pass n puts in front of a number for the length L: the first L - n characters of
    // the program's 12-character literal of zeros. Above 13 the first passes give 12 zeros, and the
    // numbers they make are padded again in the pass of their new length.
    static inline const QString ZeroLiteral = QStringLiteral("000000000000");
    static QString padZeros(int length, int n);
    // The passes the run makes: the lengths the card numbers have before the run (`present`, each
    // below `length`) and those that earlier passes make, ascending.
    static QList<int> passesFor(int length, const QList<int> &present);

    // Settings for the run's own transaction, issued first. On PostgreSQL the padding updates join a
    // table of card numbers against the whole reader table; with the stock 4 MB of work_mem that
    // hash spills to disk in many batches on a large library (measured: a third slower at a million
    // readers), so the run's transaction, and only it, gets the memory a DBA would give it. SQLite
    // (which runs in the program's own process) gets 64 MB of page cache for the connection instead
    // of 2: updating a million loans and their index through 2 MB reads the same pages again and
    // again (measured: the loans' update at 200,000 readers in 5.6 s instead of 12.7).
    QStringList transactionSettings() const;
    // The locks the run takes first, held until its commit or rollback, that keep every other writer
    // of both tables out (the lending desk, another run) and let readers read: PostgreSQL's
    // EXCLUSIVE mode; SQLite's write lock, which a write statement takes (one that changes no row);
    // on SQL Server exclusive table locks held to the end of the transaction (readers that read
    // row versions, as under READ_COMMITTED_SNAPSHOT, go on reading; others wait, as they would
    // for the run's own updates). Chosen by the server the connection really talks to.
    static QStringList lockTables(Dialect server);
    // SQLite: whether an error says that a statement waited in vain for a lock another connection
    // holds.
    static bool isSqliteBusy(const QString &error);
    // What the foreign keys on the card numbers ask of the run (RunChecks finds out).
    struct Constraints
    {
        // Some of them must be checked at the end of the transaction (see deferConstraints()).
        bool defer = false;
        // The loans follow their readers by themselves (a foreign key from lib_jieshu.js_libcard to
        // lib_people.pe_id with ON UPDATE CASCADE that cannot be deferred): the run does not pad
        // them, the server moves them with each reader.
        bool loansFollowReaders = false;
    };
    void setConstraints(const Constraints &constraints) { m_constraints = constraints; }
    const Constraints &constraints() const { return m_constraints; }

    // Columns of other tables that the run pads with the loans (RunChecks has found them).
    void setAlsoColumns(const QList<AlsoColumn> &columns) { m_also = columns; }
    const QList<AlsoColumn> &alsoColumns() const { return m_also; }
    // The values of such a column of trimmed length n get `zeros` in front unless the result is a
    // reader's number: the loans' update, on that column.
    QStringList padAlso(const AlsoColumn &also, int n, const QString &zeros) const;

    // Foreign keys on the card numbers that the run's order of updates would break for a moment
    // (the loans are padded before their readers) are checked at the end of the transaction:
    // PostgreSQL defers the deferrable ones, SQLite all of them.
    QStringList deferConstraints() const;
    // The deferred checks, made as a statement of their own just before the commit, so that a
    // violation fails a statement (the transaction is rolled back) rather than the commit.
    QStringList checkDeferredConstraints() const;

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

    // Which trimmed lengths below `limit` the card numbers in both tables have. Its rows are the
    // lengths themselves, or, where cardLengthsAsMasks(), one bit mask per table: bit n set for a
    // number of length n, bit 63 for any length from 63 up. PostgreSQL computes the masks in a
    // parallel scan, about three times faster than collecting the distinct lengths.
    QStringList cardLengths(int limit) const;
    bool cardLengthsAsMasks() const { return dialect() == Dialect::PostgreSQL; }
    static constexpr int MaskOverflowBit = 63;

private:
    QStringList pad(const QString &table, const QString &column, int n, const QString &zeros) const;

    CardSql m_sql;
    Constraints m_constraints;
    QList<AlsoColumn> m_also;
};
