#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>

// A query on the library connection ("LibDB"), run straight through ODBC on the connection that Qt
// opened: one statement at a time, on a forward-only, read-only cursor (no server cursors), every
// value read as text, and values only ever as bound parameters, never written into the statement.
//
// The statement that is executing can be cancelled from another thread (cancelRunning()): the
// driver asks the server to stop it (PostgreSQL and SQL Server get a cancel request, SQLite an
// interrupt), and the call that waited returns with an error. Only the execution is cancelled,
// never a cursor being read, which some drivers would free under the reading thread.
class LibQuery
{
public:
    explicit LibQuery(const QSqlDatabase &db);
    ~LibQuery();
    LibQuery(const LibQuery &) = delete;
    LibQuery &operator=(const LibQuery &) = delete;

    // Executes one statement with its parameters (text, a null QString for NULL), closing whatever
    // the query held before. Raises EDatabaseError with the driver's text; EInterrupted when
    // cancelRunning() stopped it.
    void exec(const QString &text, const QStringList &parameters = {});
    // The next row of a select; false after the last. Raises on a fetch error.
    bool next();
    // The current row's column (0-based) as text; a null QString for NULL.
    QString value(int column) const;
    bool isNull(int column) const { return value(column).isNull(); }
    qint64 int64Value(int column) const { return value(column).trimmed().toLongLong(); }
    int intValue(int column) const { return value(column).trimmed().toInt(); }
    int columnCount() const { return m_columns; }
    // Rows an update or delete changed (-1 where the driver cannot say).
    qint64 rowsAffected() const { return m_rowsAffected; }
    // Releases the statement.
    void close();

    // What the driver says of the open statement's cursor (tests ask while a statement is open):
    // forward-only, and read-only concurrency (the SQLite driver always answers "lock").
    bool forwardOnly() const;
    bool readOnlyConcurrency() const;

    // Cancels the statement that is executing in any LibQuery of the process, if one is; safe to
    // call from any thread (not from a signal handler). Returns whether one was executing.
    static bool cancelRunning();
    // Whether a statement of a LibQuery is executing now.
    static bool isRunning();

private:
    struct Private;
    std::unique_ptr<Private> d;
    int m_columns = 0;
    qint64 m_rowsAffected = -1;
};
