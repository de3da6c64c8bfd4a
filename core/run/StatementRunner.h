#pragma once

#include "db/LibQuery.h"
#include "run/PaddingRunView.h"

#include <QStringList>

#include <functional>

// Sends the run's statements to the server through its one query: every statement text (its lines,
// each followed by CR LF) goes to the observer first, the view hears when the server starts and
// stops working on it (the statement is still open when it hears the end), and the query is closed
// after every statement.
class StatementRunner
{
public:
    StatementRunner(LibQuery &query, PaddingRunView &view) : m_query(query), m_view(view) {}

    // Called with every statement text just before it goes to the server.
    void setObserver(std::function<void(const QString &)> observer) { m_observer = std::move(observer); }

    // Executes an update; the number of rows it changed (-1 where the driver cannot tell).
    qint64 exec(const QStringList &lines, const QStringList &parameters = {});
    // Opens a select and hands every row to onRow, in the order the server returns them.
    void select(const QStringList &lines, const std::function<void(const LibQuery &)> &onRow,
                const QStringList &parameters = {});
    // The first column of a select's first row (a null text when it returns no row or NULL).
    QString scalar(const QStringList &lines, const QStringList &parameters = {});

private:
    QString send(const QStringList &lines);

    LibQuery &m_query;
    PaddingRunView &m_view;
    std::function<void(const QString &)> m_observer;
};
