#include "data/dmLibData.h"

#include "common/unGlobal.h"
#include "data/DbWaitCursor.h"
#include "data/OdbcConnection.h"
#include "data/StoredSettings.h"
#include "forms/frmFlash.h"
#include "platform/Exceptions.h"

#include <QSqlError>

TLibDM::TLibDM(QObject *parent) : TLibDM(Open::Now, parent) {}

TLibDM::Registration::Registration()
{
    QSqlDatabase::addDatabase(QStringLiteral("QODBC"), DatabaseName);
}

TLibDM::Registration::~Registration()
{
    {
        QSqlDatabase db = QSqlDatabase::database(DatabaseName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(DatabaseName);
}

TLibDM::TLibDM(Open when, QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("LibDM"));
    if (when == Open::Now)
        open();
}

TLibDM::~TLibDM() = default;

QSqlDatabase TLibDM::LibDB() const
{
    return QSqlDatabase::database(DatabaseName, false);
}

QString TLibDM::param(const QString &name) const
{
    const QString prefix = name + u'=';
    for (const QString &line : m_params) {
        if (line.startsWith(prefix, Qt::CaseInsensitive))
            return line.mid(prefix.size());
    }
    return {};
}

QString TLibDM::dbmsName() const
{
    return odbcDbmsName(LibDB());
}

void TLibDM::readStoredSettings()
{
    // The dialog reads the settings through the same class: a file the one takes, the other takes
    // alike. A key that exists but cannot be read counts as missing: the design values stay.
    StoredSettings stored;
    if (!stored.open())
        return;
    m_aliasName = stored.odbcName();
    m_params.clear();
    m_params << QStringLiteral("USER NAME=") + stored.userName();
    m_params << QStringLiteral("PASSWORD=") + stored.password();
}

void TLibDM::LibDBBeforeConnect()
{
    readStoredSettings();
    StatusText = StatusConnecting;
    m_flash = std::make_unique<TFlash>();
    m_flash->showFullyDrawn();
}

void TLibDM::LibDBAfterConnect()
{
    m_flash.reset();
    StatusText = StatusOk;
}

void TLibDM::open()
{
    QSqlDatabase db = LibDB();
    if (db.isOpen())
        return;
    LibDBBeforeConnect();

    // Qt's ODBC driver prefixes "DSN=" to the name itself and appends ";UID=...;PWD=..." as given.
    db.setDatabaseName(odbcAttributeValue(m_aliasName));
    db.setUserName(odbcAttributeValue(param(QStringLiteral("USER NAME"))));
    db.setPassword(odbcAttributeValue(param(QStringLiteral("PASSWORD"))));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(LoginTimeoutSeconds));
    bool opened;
    {
        DbWaitCursor wait;
        opened = db.open();
    }
    if (!opened) {
        m_flash.reset();
        throw EDatabaseError(db.lastError().text());
    }
    LibDBAfterConnect();
}
