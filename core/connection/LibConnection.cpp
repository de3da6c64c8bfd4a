#include "connection/LibConnection.h"

#include "connection/OdbcConnection.h"
#include "connection/StoredSettings.h"
#include "platform/Exceptions.h"

#include <QSqlError>

std::optional<LibConnection::Login> LibConnection::storedLogin()
{
    // The dialog reads the settings through the same class: a file the one takes, the other takes
    // alike. A key that exists but cannot be read counts as missing: the design values stay.
    StoredSettings stored;
    if (!stored.open())
        return std::nullopt;
    Login login;
    login.alias = stored.odbcName();
    login.user = stored.userName();
    login.password = stored.password();
    return login;
}

LibConnection::LibConnection()
{
    QSqlDatabase::addDatabase(QStringLiteral("QODBC"), DatabaseName);
}

LibConnection::~LibConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(DatabaseName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(DatabaseName);
}

QSqlDatabase LibConnection::database() const
{
    return QSqlDatabase::database(DatabaseName, false);
}

void LibConnection::open(const Login &login)
{
    QSqlDatabase db = database();
    // Qt's ODBC driver prefixes "DSN=" to the name itself and appends ";UID=...;PWD=..." as given.
    db.setDatabaseName(odbcAttributeValue(login.alias));
    db.setUserName(odbcAttributeValue(login.user));
    db.setPassword(odbcAttributeValue(login.password));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(LoginTimeoutSeconds));
    if (!db.open())
        throw EDatabaseError(db.lastError().text());
}

QString LibConnection::dbmsName() const
{
    return odbcDbmsName(database());
}
