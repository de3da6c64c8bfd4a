#pragma once

#include "run/CardSql.h"

#include <QString>
#include <QStringList>

// The selects RunChecks makes before the run changes anything: the catalogue (types, sizes,
// collations, keys) and the data that would make the run fail or do harm. Every name in them is the
// program's own; values from the database only ever come back as rows.
class CheckStatements
{
public:
    explicit CheckStatements(const CardSql &sql) : m_sql(sql) {}

    // One row: whether some reader's card number, and whether some password, differs from its
    // rtrim()med text (1 or 0 each); on SQLite a number differs from its text too. Not for SQL Server.
    QStringList untrimmedValues() const;
    // The number of readers without a card number (NULL).
    QStringList countReadersWithoutNumber() const;
    // One row, 1 when a card number in `column` of `table` has a trimmed length from 1 to length - 1
    // (the run pads it), else 0.
    QStringList anyCardToPad(const QString &table, const QString &column, int length) const;
    // One row: the longest password the run's last step writes (NULL when it writes none). That
    // step copies the card number into every empty password, the marked ones included; a number
    // shorter than `length` is counted as padded to it.
    QStringList longestPasswordSet(int length) const;

    // SQLite: the table's columns with their declared types (rows: cid, name, type, ...).
    QStringList sqliteDeclaredTypes(const QString &table) const;
    // SQLite: the declared type of a column, with the table's and the column's names as parameters.
    QStringList sqliteColumnType() const;
    // One row, 1 when a value of a column of another table (quoted identifiers) has a trimmed length
    // from 1 to length - 1, else 0.
    QStringList anyValueToPad(const QString &table, const QString &column, int length) const;
    // Whether SQLite gives a column of this declared type integer, real or numeric affinity: it then
    // stores a text that looks like a number as that number, "0007" as 7.
    static bool sqliteNumericAffinity(const QString &declaredType);
    // SQLite: the CREATE TABLE text of lib_people (one row).
    QStringList sqliteReaderTable() const;
    // SQLite: whether foreign keys are enforced on this connection (one row, 1 or 0).
    QStringList sqliteForeignKeysEnforced() const;

    // PostgreSQL: the three columns the run compares, one row each: table, column, whether its type
    // is citext (1/0), its collation's number, the collation's name, whether it is deterministic (1/0).
    QStringList postgresqlColumns() const;

    // The unique keys (constraints or indexes) on pe_id or js_libcard alone; rows: table, key name,
    // column. Not for SQL Server, where two values that the run pads alike could not both be there.
    QStringList uniqueKeys() const;
    // The card numbers in `column` of `table` shorter than `length` that are one card by the run's
    // comparison but stored more than once (rows: the number as stored), at most `limit` of them.
    QStringList sameCardStoredTwice(const QString &table, const QString &column, int length) const;

    // The foreign keys on the tables' columns and on lib_people; rows: constraint name, referencing
    // table, its columns (comma-separated), referenced table, its columns, deferrable (1/0), the
    // update rule (CASCADE, NO ACTION, RESTRICT, SET NULL, SET DEFAULT).
    QStringList foreignKeys() const;

private:
    const CardSql &m_sql;
};
