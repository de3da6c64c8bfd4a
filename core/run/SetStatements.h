#pragma once

#include "run/AlsoColumn.h"
#include "run/CardSql.h"

#include <QString>
#include <QStringList>

// The padding run computed as a whole, for PostgreSQL and SQLite: what every pass of the run would
// do is worked out on the card numbers shorter than L in a few statements, and then each table is
// changed by one update. The outcome is the passes' own, card for card:
//
// - A number x of length n is padded pass by pass: each pass adds the zeros of the program's
//   literal (at most 12), and a number made shorter than L is padded again in the pass of its new
//   length. Before a pass of such a number reaches L, the number it would become (twelve more zeros)
//   can only be taken by a reader that has it from before the run (nothing else is that long yet):
//   the first such step that is taken stops x there.
// - The last step gives x the number w (L - n zeros in front) in the pass of its length q then. It is
//   taken when a reader has w from before the run, or when a reader got w in an earlier pass: the
//   reader numbers that reach w with the smallest q get it, together; loans reach w unless a reader
//   got it in an earlier pass.
// - Numbers that are one card by the server's comparison share their fate: they work as one.
//
// The run's working tables are temporary and go with its transaction (PostgreSQL drops them at its
// end, SQLite when the run drops them before it). Every value from the database stays in them as a
// value; the statements' texts are the program's own.
class SetStatements
{
public:
    SetStatements(const CardSql &sql, int length, QList<AlsoColumn> also = {})
        : m_sql(sql), m_length(length), m_also(std::move(also))
    {
    }

    // The statements that make the working tables below, in order, with the planner setting around
    // the cards' grouping. Each working table is made once; where L is 13 or less the cards are
    // grouped into norvel_fates directly.
    QList<QStringList> workingTables() const;

    // norvel_cards: one row per card (by the server's comparison) with a number shorter than L in
    // either table (or a column padded with the loans): key, v (one of its numbers, trimmed), n (its
    // length), readers, follows (readers whose password is the number), empties (readers whose
    // password is empty), loans, also (values in the columns padded with the loans).
    QStringList cards() const;
    // Around the cards' grouping: PostgreSQL groups by sorting where it cannot tell how many rows a
    // condition on the trimmed length keeps, and hashing groups the cards in far less time; the
    // setting goes back to what it was once the table is made. Nothing on SQLite.
    QStringList sortsOff() const;
    QStringList sortsBack() const;
    // Whether numbers are padded in more than one pass (L above 13), and norvel_blocked: the cards
    // whose number an earlier step makes that a reader has from before the run (key, j: the first
    // such step).
    bool hasSteps() const { return maxSteps() > 0; }
    QStringList blocked() const;
    // norvel_fates: each card with q (the pass of its last step) and w (its number padded to L);
    // norvel_claims: for each such number, the first pass in which a reader gets it (mq), and, where
    // card numbers compare as texts, whether a reader has it from before the run (taken);
    // norvel_outcome: each card's fate: kr and kl (the zeros its readers and its loans get), cp (the
    // pass in which its readers are left alone, NULL when they are not).
    QStringList fates() const;
    QStringList claims() const;
    QStringList outcome() const;
    // After a statement that makes a working table: statistics on it where the plans of the
    // statements that join it need them (a temporary table gets none by itself); nothing otherwise.
    QStringList statisticsFor(const QStringList &creation) const;
    // The lengths the numbers have before the run.
    QStringList presentLengths() const;
    // The readers left alone, in the order of their passes (rows: the number as the run's pass sees
    // it, the pass).
    QStringList collisions() const;

    // Readers whose password is the card number or empty get their card number as password, as
    // stored: what marking the passwords and restoring them leaves (trailing blanks dropped, the
    // card number's case). Counted, then changed, where it changes anything.
    QStringList passwordsToSettle(bool count) const;
    // The two padding updates.
    QStringList padLoans() const;
    QStringList padReaders() const;
    // The update of a column padded with the loans, and its values for the record (rows: number,
    // zeros, how many).
    QStringList padAlso(const AlsoColumn &also) const;
    QStringList recordAlso(const AlsoColumn &also) const;
    // The working tables, dropped (SQLite; PostgreSQL drops them with the transaction).
    QStringList dropWorkingTables() const;

    // For the report. The figures by card length and step (rows: n, q, cp, kr, kl, readers, loans,
    // follows, also, joined); norvel_joined first: for each card whose readers are padded, the loans under
    // its new number before its pass (from before the run, or brought there by an earlier pass); only
    // the cards that have such loans.
    QStringList joinedLoans() const;
    QStringList figures(bool withJoined) const;
    // The readers whose empty password becomes their card number (one row: the count).
    QStringList emptyPasswordsFilled() const;
    // The record: the readers whose number changes (rows: the number as stored, the zeros, the
    // password before (E empty, F the card number, U other), loans moved, loans joined; a card's
    // loans on the first of its readers), the numbers found only in loans (rows: number, zeros,
    // loans), the readers left with their number whose empty password becomes it (rows: number).
    QStringList recordReaders() const;
    QStringList recordLoanOnly() const;
    QStringList recordEmptyPasswords(bool afterOutcome) const;

private:
    int maxSteps() const { return m_length >= 14 ? (m_length - 2) / 12 : 0; }
    // The cards' grouping (a select).
    QStringList grouping() const;
    // Whether norvel_claims says which padded numbers readers have from before the run.
    bool takenWithClaims() const;
    QString zeros(const QString &count) const;
    QString key(const QString &expression) const { return m_sql.comparedExpression(expression); }
    QString keyColumn(const QString &column) const;
    QString steps(const QString &n) const;
    QString onCommitDrop() const;
    QString number(int n) const { return QString::number(n); }

    const CardSql &m_sql;
    int m_length;
    QList<AlsoColumn> m_also;
};
