#include "connection/LibConnection.h"

#include "connection/OdbcConnection.h"
#include "connection/OdbcLogin.h"
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
    // Settings are data: the name may only name a data source, and the login goes to the driver
    // exactly as it is, in the form the data source's driver reads (see OdbcLogin.h).
    // unixODBC takes an empty name for the first data source it describes, whichever that is.
    if (login.alias.trimmed().isEmpty())
        throw EDatabaseError(NoDataSourceMessage);
    checkDataSourceName(login.alias);
    const OdbcDriverKind kind = odbcDriverKind(odbcDriverLibrary(login.alias));
    const QString pqopt =
        kind == OdbcDriverKind::PostgreSQL ? odbcDataSourceSetting(login.alias, QStringLiteral("pqopt")) : QString();
    const OdbcLoginText text = odbcLoginText(kind, login.user, login.password, login.alias, pqopt);

    QSqlDatabase db = database();
    // psqlODBC wraps every statement of a transaction in a savepoint of its own unless told to roll
    // back whole transactions on errors (the "7.4-1" form of Protocol): a run or undo is all or
    // nothing and never goes on after a failed statement, so the savepoints would only cost
    // time. What the data source sets for it does not count here. (Qt puts "DSN=" in front; the
    // name has been checked to hold no ";", "=" or braces.)
    const bool postgres = kind == OdbcDriverKind::PostgreSQL && !login.alias.isEmpty();
    db.setDatabaseName(postgres ? login.alias + QStringLiteral(";Protocol=7.4-1") : login.alias);
    db.setUserName(text.user);
    db.setPassword(text.password);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(LoginTimeoutSeconds));
    if (!db.open())
        throw EDatabaseError(db.lastError().text());
}

QString LibConnection::dbmsName() const
{
    return odbcDbmsName(database());
}
