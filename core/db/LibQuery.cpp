#include "db/LibQuery.h"

#include "connection/OdbcConnection.h"
#include "platform/Exceptions.h"

#include <QList>

#include <algorithm>
#include <mutex>
#include <vector>

#include <sql.h>
#include <sqlext.h>

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

// The statement that is executing, for cancelRunning(). The executing thread registers its handle
// before the call and takes it back after; the cancelling thread calls SQLCancel only while it is
// registered, under the lock, so the handle cannot be freed meanwhile.
std::mutex g_runningLock;
SQLHSTMT g_running = SQL_NULL_HSTMT;
bool g_cancelled = false;

const SQLWCHAR *wide(const QString &text)
{
    return reinterpret_cast<const SQLWCHAR *>(text.utf16());
}

// The diagnostics of a handle as one text, and the first SQLSTATE.
QString diagnostics(SQLSMALLINT type, SQLHANDLE handle, QString *firstState)
{
    QStringList messages;
    for (SQLSMALLINT record = 1; record < 20; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> text(1024);
        const SQLRETURN r = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                           SQLSMALLINT(text.size()), &length);
        if (!SQL_SUCCEEDED(r))
            break;
        if (length >= SQLSMALLINT(text.size())) {
            text.resize(size_t(length) + 1);
            SQLGetDiagRecW(type, handle, record, state, &native, text.data(), SQLSMALLINT(text.size()), &length);
        }
        const QString message =
            QString::fromUtf16(reinterpret_cast<const char16_t *>(text.data()), std::min<qsizetype>(length, qsizetype(text.size()) - 1));
        if (firstState && firstState->isEmpty())
            *firstState = QString::fromUtf16(reinterpret_cast<const char16_t *>(state), 5);
        if (!message.trimmed().isEmpty())
            messages << message.trimmed();
    }
    return messages.join(u' ');
}

} // namespace

struct LibQuery::Private
{
    QSqlDatabase db;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    // The current row's values, read column by column on first use.
    mutable QList<QString> row;
    mutable QList<bool> rowRead;
    // What SQLGetData writes into, kept from value to value (it only grows).
    mutable std::vector<SQLWCHAR> buffer = std::vector<SQLWCHAR>(256);

    [[noreturn]] void fail(const QString &what, SQLRETURN r)
    {
        QString state;
        QString text = stmt ? diagnostics(SQL_HANDLE_STMT, stmt, &state) : QString();
        if (text.isEmpty())
            text = QStringLiteral("%1 failed (ODBC return code %2)").arg(what).arg(r);
        throw EDatabaseError(text, state);
    }
};

LibQuery::LibQuery(const QSqlDatabase &db) : d(std::make_unique<Private>())
{
    d->db = db;
}

LibQuery::~LibQuery()
{
    close();
}

void LibQuery::close()
{
    if (!d->stmt)
        return;
    SQLHSTMT stmt = d->stmt;
    d->stmt = SQL_NULL_HSTMT;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    m_columns = 0;
    d->row.clear();
    d->rowRead.clear();
}

void LibQuery::exec(const QString &text, const QStringList &parameters)
{
    close();
    m_rowsAffected = -1;
    // Asked for every time: a connection that was closed (after a failed rollback) has no handle.
    SQLHDBC dbc = odbcConnectionHandle(d->db);
    if (!dbc)
        throw EDatabaseError(QStringLiteral("The database connection is not open"));
    SQLRETURN r = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &d->stmt);
    if (!SQL_SUCCEEDED(r)) {
        d->stmt = SQL_NULL_HSTMT;
        QString state;
        QString message = diagnostics(SQL_HANDLE_DBC, dbc, &state);
        throw EDatabaseError(message.isEmpty() ? QStringLiteral("Unable to allocate a statement") : message, state);
    }
    // ODBC's defaults, asked for all the same: a scrollable cursor or another concurrency would make
    // some drivers (FreeTDS) open a server cursor for every statement.
    SQLSetStmtAttr(d->stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), SQL_IS_UINTEGER);
    SQLSetStmtAttr(d->stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), SQL_IS_UINTEGER);

    // Parameters as UTF-16 text; the buffers live until the statement has run.
    std::vector<QString> values(parameters.begin(), parameters.end());
    std::vector<SQLLEN> indicators(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const bool null = values[i].isNull();
        indicators[i] = null ? SQL_NULL_DATA : SQLLEN(values[i].size() * qsizetype(sizeof(SQLWCHAR)));
        const SQLULEN columnSize = SQLULEN(std::max<qsizetype>(values[i].size(), 1));
        r = SQLBindParameter(d->stmt, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, columnSize, 0,
                             null ? nullptr : const_cast<SQLWCHAR *>(wide(values[i])), indicators[i] < 0 ? 0 : indicators[i],
                             &indicators[i]);
        if (!SQL_SUCCEEDED(r))
            d->fail(QStringLiteral("SQLBindParameter"), r);
    }

    {
        std::lock_guard lock(g_runningLock);
        g_running = d->stmt;
        g_cancelled = false;
    }
    r = SQLExecDirectW(d->stmt, const_cast<SQLWCHAR *>(wide(text)), SQLINTEGER(text.size()));
    bool cancelled;
    {
        std::lock_guard lock(g_runningLock);
        g_running = SQL_NULL_HSTMT;
        cancelled = g_cancelled;
        g_cancelled = false;
    }
    if (r == SQL_NO_DATA) {
        // A searched update or delete that changed no row.
        m_rowsAffected = 0;
        return;
    }
    if (!SQL_SUCCEEDED(r)) {
        if (cancelled) {
            QString state;
            const QString message = diagnostics(SQL_HANDLE_STMT, d->stmt, &state);
            close();
            throw EInterrupted(message.isEmpty() ? QStringLiteral("Statement cancelled") : message, state);
        }
        d->fail(QStringLiteral("SQLExecDirect"), r);
    }
    if (cancelled) {
        // The statement completed just as it was cancelled; some drivers close its cursor on a
        // cancel, so nothing more is read from it.
        close();
        throw EInterrupted(QStringLiteral("Statement cancelled"));
    }
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(d->stmt, &columns)))
        columns = 0;
    m_columns = columns;
    // No row yet: nothing to read until the first next().
    d->row = QList<QString>(m_columns);
    d->rowRead = QList<bool>(m_columns, true);
    if (columns == 0) {
        SQLLEN rows = -1;
        if (SQL_SUCCEEDED(SQLRowCount(d->stmt, &rows)))
            m_rowsAffected = rows;
    }
}

bool LibQuery::next()
{
    if (!d->stmt || m_columns == 0)
        return false;
    const SQLRETURN r = SQLFetch(d->stmt);
    if (r == SQL_NO_DATA)
        return false;
    if (!SQL_SUCCEEDED(r))
        d->fail(QStringLiteral("SQLFetch"), r);
    d->rowRead.fill(false);
    return true;
}

QString LibQuery::value(int column) const
{
    if (!d->stmt || column < 0 || column >= m_columns || column >= d->row.size())
        return {};
    if (d->rowRead[column])
        return d->row[column];
    // SQLGetData reads each column once, in order: read the ones before it first.
    for (int c = 0; c <= column; ++c) {
        if (d->rowRead[c])
            continue;
        QString text;
        bool null = false;
        std::vector<SQLWCHAR> &buffer = d->buffer;
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN r = SQLGetData(d->stmt, SQLUSMALLINT(c + 1), SQL_C_WCHAR, buffer.data(),
                                           SQLLEN(buffer.size() * sizeof(SQLWCHAR)), &indicator);
            if (r == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(r))
                d->fail(QStringLiteral("SQLGetData"), r);
            if (indicator == SQL_NULL_DATA) {
                null = true;
                break;
            }
            const qsizetype room = qsizetype(buffer.size()) - 1;
            const qsizetype got = indicator == SQL_NO_TOTAL || indicator / qsizetype(sizeof(SQLWCHAR)) > room
                ? room
                : indicator / qsizetype(sizeof(SQLWCHAR));
            text += QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer.data()), got);
            if (r == SQL_SUCCESS)
                break;
            // Truncated (01004): the rest comes with the next call, in a larger buffer.
            if (indicator != SQL_NO_TOTAL)
                buffer.resize(std::max(buffer.size(), size_t(indicator / qsizetype(sizeof(SQLWCHAR))) - size_t(got) + 1));
        }
        d->row[c] = null ? QString() : (text.isNull() ? QStringLiteral("") : text);
        d->rowRead[c] = true;
    }
    return d->row[column];
}

bool LibQuery::forwardOnly() const
{
    SQLULEN type = SQL_CURSOR_STATIC;
    return d->stmt && SQL_SUCCEEDED(SQLGetStmtAttr(d->stmt, SQL_ATTR_CURSOR_TYPE, &type, SQL_IS_UINTEGER, nullptr))
        && type == SQL_CURSOR_FORWARD_ONLY;
}

bool LibQuery::readOnlyConcurrency() const
{
    SQLULEN concurrency = SQL_CONCUR_LOCK;
    return d->stmt && SQL_SUCCEEDED(SQLGetStmtAttr(d->stmt, SQL_ATTR_CONCURRENCY, &concurrency, SQL_IS_UINTEGER, nullptr))
        && concurrency == SQL_CONCUR_READ_ONLY;
}

bool LibQuery::cancelRunning()
{
    std::lock_guard lock(g_runningLock);
    if (!g_running)
        return false;
    g_cancelled = true;
    SQLCancel(g_running);
    return true;
}

bool LibQuery::isRunning()
{
    std::lock_guard lock(g_runningLock);
    return g_running != SQL_NULL_HSTMT;
}
