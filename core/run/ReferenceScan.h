#pragma once

#include "run/CardSql.h"
#include "run/StatementRunner.h"

#include <QList>
#include <QString>
#include <QStringList>

// Other columns of the database that hold readers' card numbers: after the run they would still
// hold the short numbers. Found before the run for its preview: first the columns whose foreign
// keys follow lib_people.pe_id (they cascade), then every other character column of the other
// tables, each asked how many of its values are card numbers that the run pads (numbers of readers
// shorter than L, by the server's comparison), until a time is up.
//
// The tables' and columns' names come from the catalogue and go into the counting statements as
// quoted identifiers; everything else stays a value.
class ReferenceScan
{
public:
    struct Column
    {
        QString schema;   // empty where the server has none (SQLite)
        QString table;
        QString column;
        qint64 rows = 0;      // rows whose value is such a card number
        qint64 numbers = 0;   // different numbers among them
        QString name() const { return (schema.isEmpty() ? QString() : schema + u'.') + table + u'.' + column; }
    };
    struct Result
    {
        QList<Column> found;
        // Columns left unread when the time was up, and columns the server could not compare with
        // card numbers (another collation) or the login may not read.
        QStringList notScanned;
        QStringList unreadable;
    };

    ReferenceScan(StatementRunner &sql, const CardSql &cards) : m_sql(sql), m_cards(cards) {}

    // Scans for at most `seconds` (the count that runs when the time is up is cancelled).
    Result scan(int length, int seconds);

    // A name quoted as an identifier for the server (in double quotes, a double quote doubled).
    static QString quoted(const QString &name, CardSql::Dialect dialect);

private:
    QList<Column> candidates();
    QStringList count(const Column &column, int length) const;

    StatementRunner &m_sql;
    const CardSql &m_cards;
};
