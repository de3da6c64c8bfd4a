#include "connection/ServerIdentity.h"

#include "connection/OdbcConnection.h"
#include "db/LibQuery.h"

#include <QStringList>

namespace {

// The first row's columns of a select, as text.
QStringList firstRow(LibQuery &query, const QString &select)
{
    query.exec(select);
    QStringList row;
    if (query.next()) {
        for (int c = 0; c < query.columnCount(); ++c)
            row << query.value(c);
    }
    query.close();
    return row;
}

void fromPostgreSql(LibQuery &query, ServerIdentity &id)
{
    const QStringList row = firstRow(query, QStringLiteral(
        "select host(inet_server_addr()), inet_server_port(), current_setting('port'), current_database(), "
        "current_user, split_part(current_setting('server_version'), ' ', 1)"));
    id.host = row.value(0);
    id.unixSocket = id.host.isEmpty();
    id.port = id.unixSocket ? row.value(2) : row.value(1);
    id.database = row.value(3);
    id.login = row.value(4);
    id.version = row.value(5);
}

void fromSqlite(LibQuery &query, ServerIdentity &id)
{
    query.exec(QStringLiteral("pragma database_list"));
    while (query.next()) {
        if (query.value(1) == QStringLiteral("main"))
            id.database = query.value(2);
    }
    query.close();
    id.version = firstRow(query, QStringLiteral("select sqlite_version()")).value(0);
}

void fromSqlServer(LibQuery &query, ServerIdentity &id)
{
    const QStringList row = firstRow(query, QStringLiteral(
        "select cast(CONNECTIONPROPERTY('local_net_address') as nvarchar(64)), "
        "cast(CONNECTIONPROPERTY('local_tcp_port') as nvarchar(16)), @@SERVERNAME, DB_NAME(), SUSER_SNAME(), "
        "cast(SERVERPROPERTY('ProductVersion') as nvarchar(64))"));
    id.host = row.value(0);
    id.port = row.value(1);
    id.serverName = row.value(2);
    id.database = row.value(3);
    id.login = row.value(4);
    id.version = row.value(5);
}

} // namespace

ServerIdentity queryServerIdentity(const QSqlDatabase &db)
{
    ServerIdentity id;
    id.product = odbcDbmsName(db);
    LibQuery query(db);
    if (id.product == QStringLiteral("PostgreSQL")) {
        fromPostgreSql(query, id);
    } else if (id.product == QStringLiteral("SQLite")) {
        fromSqlite(query, id);
    } else if (id.product == QStringLiteral("Microsoft SQL Server")) {
        fromSqlServer(query, id);
    } else {
        id.version = odbcDbmsVersion(db);
        id.database = odbcDatabaseName(db);
    }
    return id;
}

QString ServerIdentity::where() const
{
    QStringList parts;
    if (!serverName.isEmpty())
        parts << serverName;
    if (unixSocket)
        parts << QStringLiteral("Unix套接字");
    else if (!host.isEmpty())
        parts << host;
    if (!port.isEmpty())
        parts << QStringLiteral("端口%1").arg(port);
    return parts.join(QStringLiteral("，"));
}

QString ServerIdentity::oneLine() const
{
    QString text = (product + u' ' + version).trimmed();
    if (const QString at = where(); !at.isEmpty())
        text += QStringLiteral("（%1）").arg(at);
    text += QStringLiteral("，数据库%1").arg(database);
    if (!login.isEmpty())
        text += QStringLiteral("，登录名%1").arg(login);
    return text;
}

QString ServerIdentity::databaseKey() const
{
    if (product == QStringLiteral("SQLite"))
        return QStringLiteral("sqlite:%1").arg(database);
    return QStringLiteral("%1://%2/%3").arg(product.toLower().remove(u' '), serverKey(), database);
}

QString ServerIdentity::serverKey() const
{
    if (product == QStringLiteral("SQLite"))
        return {};
    // SQL Server's own name names the instance; elsewhere the address and the port do.
    QString server = serverName;
    if (server.isEmpty()) {
        server = unixSocket ? QStringLiteral("local") : host;
        if (!port.isEmpty())
            server += u':' + port;
    }
    return server;
}
