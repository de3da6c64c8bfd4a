#include "connection/StoredSettings.h"

#include "common/unGlobal.h"
#include "connection/LibConnection.h"
#include "platform/AnsiCodec.h"

namespace {

// The login name and password are stored in digit form, made from the system's 8-bit text.
QString decoded(const QString &stored)
{
    return fromAnsi(DecodeParam(toAnsi(TrimSetting(stored))));
}

} // namespace

bool StoredSettings::open()
{
    return m_reg.KeyExists(LibConnection::SettingsKey) && m_reg.OpenKeyReadOnly(LibConnection::SettingsKey);
}

QString StoredSettings::odbcName() const
{
    return TrimSetting(m_reg.ReadString(OdbcNameValue));
}

QString StoredSettings::userName() const
{
    return decoded(m_reg.ReadString(UserNameValue));
}

QString StoredSettings::password() const
{
    return decoded(m_reg.ReadString(PasswordValue));
}

QString StoredSettings::encoded(const QString &typed)
{
    return fromAnsi(EncodeParam(toAnsi(TrimSetting(typed))));
}
