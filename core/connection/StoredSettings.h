#pragma once

#include "platform/MachineStore.h"

#include <QString>

// The connection settings stored under LibConnection::SettingsKey, read the one way both start-up and the
// settings dialog read them: the key counts as there when its file exists and can be read, whatever
// else the file holds; each value is trimmed, and the login name and password are decoded from
// their digit form. Values are read one at a time, so that a value that cannot be read or decoded
// raises its error after the ones before it were taken.
class StoredSettings
{
public:
    static inline const QString OdbcNameValue = QStringLiteral("ODBCNAME");
    static inline const QString UserNameValue = QStringLiteral("USERNAME");
    static inline const QString PasswordValue = QStringLiteral("PASSWORD");
    // Columns of other tables that the run pads with the loans: TABLE.COLUMN, separated by commas.
    static inline const QString AlsoValue = QStringLiteral("ALSO");

    // Opens the settings key for reading; false when there are no settings to read. Run by root,
    // raises EUnsafeSettings when others than root may change the file or a folder above it
    // (TrustedPath.h), saying which and how to mend it.
    bool open();

    QString odbcName() const;
    QString userName() const;
    QString password() const;
    // The ALSO value as it stands (empty when there is none).
    QString alsoColumns() const;

    // The digit form of a login name or password as typed (trimmed first).
    static QString encoded(const QString &typed);

private:
    MachineStore m_reg;
};
