#pragma once

#include "run/PaddingStatements.h"
#include "run/StatementRunner.h"

#include <QSqlRecord>

// What must hold before the padding run changes anything. Each check raises EAbort with a message
// that names what is wrong and ends in "系统没有做任何改动":
// - the tables and columns the run uses exist;
// - no card-number column has a numeric type (it could not keep the leading zeros);
// - no reader is without a card number (NULL);
// - no card number is padded beyond its column, and no password the last step writes is longer than
//   the password column.
// On PostgreSQL and SQLite it also finds out whether the reader columns must be compared trimmed,
// and tells the statements.
class RunChecks
{
public:
    // A column of unbounded text counts as holding this many characters (no bar code is that long,
    // and such a column would otherwise take a typing slip such as 99999999 literally).
    static constexpr int UnboundedColumnLimit = 255;

    RunChecks(StatementRunner &sql, PaddingStatements &statements) : m_sql(sql), m_statements(statements) {}

    // What the catalogue tells: the tables and columns exist, no card-number column is numeric.
    // Before the run takes its locks (a missing table could not be locked).
    void checkSchema();
    // The rest, on the locked tables.
    void checkData(int length);

private:
    void checkColumns(const QSqlRecord &people, const QSqlRecord &loans);
    void checkColumnSizes(int length, const QSqlRecord &people, const QSqlRecord &loans);

    StatementRunner &m_sql;
    PaddingStatements &m_statements;
    QSqlRecord m_people;
    QSqlRecord m_loans;
};
