#include "data/dmLibData.h"

#include "data/DbWaitCursor.h"
#include "data/StatusText.h"
#include "forms/frmFlash.h"
#include "platform/Exceptions.h"

TLibDM::TLibDM(QObject *parent) : TLibDM(Open::Now, parent) {}

TLibDM::TLibDM(Open when, QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("LibDM"));
    if (when == Open::Now)
        open();
}

TLibDM::~TLibDM() = default;

QSqlDatabase TLibDM::LibDB() const
{
    return m_connection.database();
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
    return m_connection.dbmsName();
}

void TLibDM::readStoredSettings()
{
    const std::optional<LibConnection::Login> stored = LibConnection::storedLogin();
    if (!stored)
        return;
    m_aliasName = stored->alias;
    m_params = {QStringLiteral("USER NAME=") + stored->user, QStringLiteral("PASSWORD=") + stored->password};
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

    try {
        DbWaitCursor wait;
        m_connection.open({m_aliasName, param(QStringLiteral("USER NAME")), param(QStringLiteral("PASSWORD"))});
    } catch (...) {
        m_flash.reset();
        throw;
    }
    LibDBAfterConnect();
}
