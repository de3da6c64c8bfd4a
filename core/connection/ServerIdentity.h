#pragma once

#include <QSqlDatabase>
#include <QString>

// Which server, database and login the open library connection works on, as the server itself
// says (not as the data source describes it, nor the driver's form of the version):
//
//   PostgreSQL   inet_server_addr() and inet_server_port() (both NULL over a Unix socket: then
//                the socket and the server's port), current_database(), current_user,
//                server_version
//   SQLite       the main database's file as "pragma database_list" gives it (absolute), the
//                library's version; SQLite has no login
//   SQL Server   CONNECTIONPROPERTY('local_net_address') and ('local_tcp_port'), @@SERVERNAME,
//                DB_NAME(), SUSER_SNAME(), SERVERPROPERTY('ProductVersion')
//
// Any other server: what the ODBC driver reports.
struct ServerIdentity
{
    QString product;      // the server as the driver names it: "PostgreSQL", "SQLite", ...
    QString version;      // the server's own version text
    QString host;         // the address the connection reached; empty over a local socket
    QString port;
    bool unixSocket = false;
    QString serverName;   // SQL Server's @@SERVERNAME
    QString database;     // the database's name; SQLite: the file
    QString login;        // the login the server sees; empty where there is none

    // Where the server is, for a person: "127.0.0.1，端口5432", "Unix套接字，端口5432", ...
    QString where() const;
    // The whole target on one line: product, version, where, database and login.
    QString oneLine() const;
    // A text that names the same database each time it is asked for: the database and the server's
    // name or address for PostgreSQL and SQL Server, the file for SQLite.
    QString databaseKey() const;
    // The server's part of it: SQL Server's name, else the address (or "local") and the port; empty
    // for SQLite.
    QString serverKey() const;
};

// Asks the server through a LibQuery on `db` (an open connection). Raises EDatabaseError.
ServerIdentity queryServerIdentity(const QSqlDatabase &db);
