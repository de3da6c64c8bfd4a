#include "connection/LibConnection.h"

#include "common/unGlobal.h"
#include "connection/OdbcConnection.h"
#include "platform/AnsiCodec.h"
#include "platform/Exceptions.h"
#include "platform/MachineStore.h"

#include <QSqlError>

std::optional<LibConnection::Login> LibConnection::storedLogin()
{
    MachineStore reg;
    // A key that exists but cannot be read counts as missing: the design values stay.
    if (!reg.KeyExists(SettingsKey) || !reg.OpenKeyReadOnly(SettingsKey))
        return std::nullopt;
    Login login;
    login.alias = TrimSetting(reg.ReadString(QStringLiteral("ODBCNAME")));
    const QString user = TrimSetting(reg.ReadString(QStringLiteral("USERNAME")));
    login.user = fromAnsi(DecodeParam(toAnsi(user)));
    const QString password = TrimSetting(reg.ReadString(QStringLiteral("PASSWORD")));
    login.password = fromAnsi(DecodeParam(toAnsi(password)));
    reg.CloseKey();
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
