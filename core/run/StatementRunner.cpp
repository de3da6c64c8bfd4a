#include "run/StatementRunner.h"

#include "run/PaddingStatements.h"

namespace {

// Tells the view while the server works on a statement, and closes the query afterwards.
class ServerCall
{
public:
    ServerCall(PaddingRunView &view, LibQuery &query) : m_view(view), m_query(query) { m_view.serverCallStarted(); }
    ~ServerCall()
    {
        m_view.serverCallEnded();
        m_query.close();
    }
    ServerCall(const ServerCall &) = delete;
    ServerCall &operator=(const ServerCall &) = delete;

private:
    PaddingRunView &m_view;
    LibQuery &m_query;
};

} // namespace

QString StatementRunner::send(const QStringList &lines)
{
    QString text = PaddingStatements::text(lines);
    if (m_observer)
        m_observer(text);
    return text;
}

qint64 StatementRunner::exec(const QStringList &lines, const QStringList &parameters)
{
    const QString text = send(lines);
    ServerCall call(m_view, m_query);
    m_query.exec(text, parameters);
    return m_query.rowsAffected();
}

void StatementRunner::select(const QStringList &lines, const std::function<void(const LibQuery &)> &onRow,
                             const QStringList &parameters)
{
    const QString text = send(lines);
    ServerCall call(m_view, m_query);
    m_query.exec(text, parameters);
    while (m_query.next())
        onRow(m_query);
}

QString StatementRunner::scalar(const QStringList &lines, const QStringList &parameters)
{
    QString value;
    bool first = true;
    select(lines, [&](const LibQuery &row) {
        if (first)
            value = row.value(0);
        first = false;
    }, parameters);
    return value;
}
