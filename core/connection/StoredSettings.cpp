#include "connection/StoredSettings.h"

#include "common/unGlobal.h"
#include "connection/LibConnection.h"
#include "platform/AnsiCodec.h"
#include "platform/Exceptions.h"
#include "platform/TrustedPath.h"

#include <unistd.h>

namespace {

// The login name and password are stored in digit form, made from the system's 8-bit text.
QString decoded(const QString &stored)
{
    return fromAnsi(DecodeParam(toAnsi(TrimSetting(stored))));
}

} // namespace

bool StoredSettings::open()
{
    if (!m_reg.KeyExists(LibConnection::SettingsKey))
        return false;
    // Root takes the settings only from a file nobody else can change: the data source name
    // decides which driver library root loads. Checked before the file is read: once the file
    // and its folders are root's alone, nobody can swap it in between.
    if (::geteuid() == 0) {
        const QString file = MachineStore::keyFile(LibConnection::SettingsKey);
        if (const std::optional<UntrustedEntry> entry = entryOthersMayChange(file)) {
            throw EUnsafeSettings(QStringLiteral("以root身份运行时不用设置文件%1，因为root以外的用户可以改动它：%2")
                                      .arg(file, describeUntrusted(*entry)));
        }
    }
    return m_reg.OpenKeyReadOnly(LibConnection::SettingsKey);
}

QString StoredSettings::odbcName() const
{
    return TrimSetting(m_reg.ReadString(OdbcNameValue));
}

QString StoredSettings::alsoColumns() const
{
    return TrimSetting(m_reg.ReadString(AlsoValue));
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
