#pragma once

#include "run/AlsoColumn.h"
#include "run/CardSql.h"

#include <QList>
#include <QString>
#include <QStringList>

// The statements that take a committed run back from its record. The record's rows go into a
// working table of the transaction's own (bound as parameters, never written into a statement);
// the cards' states are read from both tables with the server's own comparisons, in one grouping
// of each table; every change is one update over that table.
//
// The working table (norvel_undo, on SQL Server #norvel_undo) holds, per row of the record: seq,
// old_number, new_number, kind (R a reader, L a number found only in loans), pw (F the password
// was the card number, E it was empty, X it was the card number and the undo emptied it, U
// other), loans; kind A is a number found only in a column padded with the loans. The plan (norvel_undo_plan) adds what is found now: under_new and under_old (the
// readers whose number is the new or the old one), follows (of those under the new number, the
// ones whose password is still what the run made it), loans_now (loans under the new number),
// expected (the record's readers with that new number) and the action: R take it back, P the
// password only, N nothing (the card is not as the run left it and needs nothing), C a conflict,
// with reason: O a reader has the old number again, M more readers under the new number than the
// run left there, L a number found only in loans that a reader has now, J loans that were under the
// new number before the run.
class UndoStatements
{
public:
    explicit UndoStatements(const CardSql &sql) : m_sql(sql) {}

    // The rows a statement of insertRows() carries (SQL Server takes at most 2,100 parameters in one
    // statement; the others many more, and every statement is a round trip), and its parameters per row.
    // PostgreSQL takes the rows as seven arrays, one per column (parameters by column): binding a
    // parameter per value cost more than the server's work with them.
    int rowsPerInsert() const;
    static constexpr int ParametersPerRow = 7;
    bool parametersByColumn() const { return m_sql.dialect() == CardSql::Dialect::PostgreSQL; }
    // The text of an array parameter holding `values` (PostgreSQL's array literal: every element
    // quoted, so that a number is only ever a value).
    static QString arrayOf(const QStringList &values);

    QStringList createTable() const;
    // An insert of `rows` rows (seq, old_number, new_number, kind, pw, loans, joined).
    QStringList insertRows(int rows) const;
    // What plan() needs first. PostgreSQL: statistics on the record's rows (a temporary table gets
    // none by itself, and the server would take the record for a few hundred rows), and no JIT
    // compilation for the rest of the transaction (its estimates for joins on trimmed numbers are so
    // high that it spent a second compiling the plan's statement, which then ran no faster). SQLite: the
    // readers and loans under the record's numbers, counted into working tables of their own with an
    // index each, which plan() joins (SQLite would scan them once per card).
    QList<QStringList> preparePlan() const;
    QStringList plan() const;
    // After plan(), for the updates that join it: statistics on the plan (PostgreSQL).
    QStringList planStatistics() const;
    // Rows: action, reason, the rows, the readers under the new number, those whose password is
    // still the run's, the loans under the new number.
    QStringList planFigures() const;
    // The conflicts (rows: seq, reason), and the cards the undo leaves because they are not as the
    // run left them (rows: seq).
    QStringList conflicts() const;
    QStringList leftAsTheyAre() const;
    // The rows taken back (rows: seq, readers, follows, loans_now), for the undo's own record.
    QStringList takenBack() const;

    QStringList moveLoansBack() const;
    // The values of a column of another table the run padded with the loans.
    QStringList alsoBack(const AlsoColumn &also) const;
    QStringList readersBack() const;
    QStringList passwordsBack() const;
    QStringList dropTable() const;

private:
    QString table() const;
    QString planTable() const;
    QString key(const QString &expression) const { return m_sql.comparedExpression(expression); }

    const CardSql &m_sql;
};
