#pragma once

#include "run/CheckStatements.h"
#include "run/PaddingReport.h"
#include "run/PaddingStatements.h"
#include "run/StatementRunner.h"

#include <QSqlRecord>

// What must hold before the padding run changes anything. Each check raises EAbort with a message
// that names what is wrong and ends in "系统没有做任何改动":
// - the tables and columns the run uses exist, no card-number column has a numeric type (it could
//   not keep the leading zeros), and the columns compare card numbers alike;
// - every foreign key on the card numbers lets the run complete (deferred, or cascading), or the run
//   is refused naming it;
// - no reader is without a card number (NULL);
// - no unique key would see two numbers that are one card by the run's comparison padded alike;
// - no card number is padded beyond its column, and no password the last step writes is longer than
//   the password column.
// On the way it tells the statements how the server compares card numbers (CardSql::Columns) and
// what the foreign keys ask of the run.
class RunChecks
{
public:
    // A column of unbounded text counts as holding this many characters (no bar code is that long,
    // and such a column would otherwise take a typing slip such as 99999999 literally).
    static constexpr int UnboundedColumnLimit = 255;

    // `server` is the server the connection talks to, which answers the catalogue questions in its
    // own way even where the statements speak another dialect.
    RunChecks(StatementRunner &sql, PaddingStatements &statements, PaddingReport *report = nullptr)
        : m_sql(sql), m_statements(statements), m_report(report)
    {
    }

    // What the catalogue tells. Before the run takes its locks (a missing table could not be locked).
    void checkSchema();
    // The rest, on the locked tables.
    void checkData(int length);
    // Only whether card numbers and passwords must be compared trimmed (part of checkData()).
    void readTrimming();

private:
    void checkColumns();
    void checkAlsoColumns();
    void readComparisons();
    void checkForeignKeys();
    void checkUniqueKeys(int length);
    void checkColumnSizes(int length);

    StatementRunner &m_sql;
    PaddingStatements &m_statements;
    PaddingReport *m_report;
    CardSql::Columns m_columns;
    QSqlRecord m_people;
    QSqlRecord m_loans;
    QList<QSqlRecord> m_also;
};
