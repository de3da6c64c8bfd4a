#pragma once

#include <QSqlDatabase>
#include <QString>

// What the ODBC layer needs beyond Qt's driver.

// The ODBC connection handle (HDBC) behind an open Qt ODBC connection; null when there is none.
void *odbcConnectionHandle(const QSqlDatabase &db);

// The server the connection talks to, as the ODBC driver reports it (SQL_DBMS_NAME):
// "Microsoft SQL Server", "PostgreSQL", "SQLite", ... Empty when the connection is not an open
// ODBC connection.
QString odbcDbmsName(const QSqlDatabase &db);

// The server's version and the database the connection works on, as the driver reports them
// (SQL_DBMS_VER, SQL_DATABASE_NAME); empty when it does not say.
QString odbcDbmsVersion(const QSqlDatabase &db);
QString odbcDatabaseName(const QSqlDatabase &db);

// Whether an ODBC SQL data type (QSqlField::typeID() of Qt's ODBC driver) is a number: integers of
// any width, exact and approximate numerics, bit.
bool odbcTypeIsNumeric(int sqlType);
