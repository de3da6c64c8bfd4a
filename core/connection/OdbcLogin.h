#pragma once

#include <QString>

// How a data source name and a login reach the ODBC driver exactly as they are.
//
// Qt's ODBC driver builds the connection string by plain concatenation: "DSN=<name>", then
// ";UID=<user>" and ";PWD=<password>" where those are not empty. A name holding ".dsn" becomes
// "FILEDSN=<name>" instead, and one holding "DRIVER=" or "SERVER=" is taken as the whole
// connection string: such a name could load any library. The driver manager (unixODBC) reads the
// string first, the driver then reads it again, and each driver reads values its own way:
//
//   psqlODBC    UID as written (braces and all), PWD either in braces ("}" doubled) or with "+" and
//               "%XX" decoded; a login name that needs braces (";" in it, or "{" first) goes through
//               its "pqopt" attribute instead, in libpq's quoting.
//   FreeTDS     1.3 ends a braced value at the first "};" and keeps a doubled "}" doubled, while the
//               driver manager undoubles it: a "}" cannot be passed so that both read the same.
//               The last value must be followed by ";" (Qt passes the string's closing zero in
//               its length, and FreeTDS would take it as part of the password).
//   SQLite      ignores the login, and splits the string at every ";", braces or not: a login there
//               could name another database file or an extension library to load. It gets none.
//   others      ODBC's own quoting: every value in braces, "}" doubled.
enum class OdbcDriverKind { Other, PostgreSQL, FreeTds, SQLite };

// The driver library a data source uses, as unixODBC finds it: the data source's "Driver" in
// odbc.ini, and where that names a driver rather than a file, that driver's "Driver64" or "Driver"
// in odbcinst.ini. Empty when the data source is not described.
QString odbcDriverLibrary(const QString &dataSource);

// The kind of a driver library, by its file name (psqlodbcw.so, libtdsodbc.so, libsqlite3odbc.so...).
OdbcDriverKind odbcDriverKind(const QString &driverLibrary);

// Raises EUnsafeSettings for a data source name that could be read as anything but the name of a
// data source: one holding a character ODBC forbids in such names ([]{}(),;?*=!@\), a control
// character, or ".dsn" in any case. The empty name is left to the driver manager (which then
// looks for its default data source).
void checkDataSourceName(const QString &name);

// What to give Qt's ODBC driver as user name and password so that the string it builds delivers
// `user` and `password` to a driver of that kind exactly as they are (an empty one is not sent).
// `dataSourcePqopt` is the data source's own "pqopt" setting, kept when the login name has to go
// through that attribute. Raises EUnsafeSettings, naming the data source, for a value that cannot
// be delivered exactly.
struct OdbcLoginText
{
    QString user;
    QString password;
};
OdbcLoginText odbcLoginText(OdbcDriverKind kind, const QString &user, const QString &password,
                            const QString &dataSource, const QString &dataSourcePqopt = {});

// A data source's own setting from odbc.ini (as the driver reads it); empty when it has none.
QString odbcDataSourceSetting(const QString &dataSource, const QString &key);
