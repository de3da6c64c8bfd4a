#pragma once

#include "run/AlsoColumn.h"
#include "run/CardSql.h"

#include <QString>
#include <QStringList>

// The selects RunRecorder makes for the report and the record. Each one asks the server with the
// comparisons of the run's own statements, so that what they read is what the changes do: the
// matching of loans to readers, the grouping of a card's loans and every figure are the server's.
class ReportStatements
{
public:
    explicit ReportStatements(const CardSql &sql) : m_sql(sql) {}

    // One row, before the passwords are marked: the readers the marking changes (password equal to
    // the card number), the readers the restoring changes (those, and the ones whose password is
    // empty), and the readers whose empty password becomes a card number (their number not empty).
    QStringList passwordFigures() const;
    // The readers whose password is empty before the run and whose card number is not (rows: the
    // number as stored).
    QStringList readersWithEmptyPassword() const;
    // The readers that the update of pass n pads (rows: the number as stored; 1 where the password
    // is empty; the loans of that card, which the loans' update pads with it; the loans already
    // under the padded number). Readers that are one card by the comparison share the card's loans:
    // the first of them gets them, the others 0, so that every loan is counted once.
    QStringList readersToPad(int n, const QString &zeros) const;
    // The numbers found only in loans that the loans' update of pass n pads (rows: the number, its
    // loans), one row per card by the comparison.
    QStringList loanOnlyCards(int n, const QString &zeros) const;
    // The values of a column padded with the loans that pass n pads (rows: the number, how many),
    // one row per card by the comparison.
    QStringList alsoValues(const AlsoColumn &also, int n, const QString &zeros) const;
    // Short readers' numbers whose padded form (to `length`) differs only in case or width from
    // another reader's number (rows: the number, the padded form, the other number). PostgreSQL
    // folds width with normalize() where the database is UTF-8 (`unicode`); SQLite folds ASCII case.
    QStringList caseTwins(int length, bool unicode) const;
    // PostgreSQL: the database's encoding (one row).
    QStringList databaseEncoding() const;

private:
    QString readerPadded(const QString &zeros, const QString &reader) const;

    const CardSql &m_sql;
};
