#pragma once

#include <QString>
#include <memory>
#include <sys/types.h>

class IniDocument;

// The per-machine settings store, in the place of the Windows registry's HKEY_LOCAL_MACHINE.
//
// A key path such as "SOFTWARE\Kestavo\Lib" lives under the system configuration directory
// (the first entry of XDG_CONFIG_DIRS, /etc/xdg when that is unset): the leading "SOFTWARE" is
// dropped, the inner components are folders and the last one is an INI file in the form Qt's
// native settings format uses on Linux:  <dir>/Kestavo/Lib.conf.  "SOFTWARE\Kestavo" is the
// folder <dir>/Kestavo. Values sit in the file's [General] section; IniDocument reads the file and
// changes it line by line, so that what an administrator wrote around the values stays.
//
// Reads and writes follow the registry's rules: a missing value reads as the empty text, a value
// of another type than a plain string raises "Invalid data type for '%s'", a key that cannot be
// created raises "Failed to create key %s", a value that cannot be written raises
// "Failed to set data for '%s'". Every write replaces the file atomically (a new file in the same
// folder, synced to disk, renamed over the old one) and leaves it not world-writable. Folders and
// files the store creates get FolderMode and FileMode whatever the umask: the login is readable by
// the users who run the program (it is in digit form, no secret from them), writable by the owner.
class MachineStore
{
public:
    MachineStore();
    ~MachineStore();
    MachineStore(const MachineStore &) = delete;
    MachineStore &operator=(const MachineStore &) = delete;

    static constexpr mode_t FolderMode = 0755;
    static constexpr mode_t FileMode = 0644;

    static QString configDirectory();
    // The file or folder a key path names (for messages and tests).
    static QString keyFile(const QString &key);
    static QString keyFolder(const QString &key);

    // A key exists when its file exists and can be read, or when it is a folder.
    bool KeyExists(const QString &key) const;
    // Opens an existing key for reading; false when it does not exist or cannot be read.
    bool OpenKeyReadOnly(const QString &key);
    // Opens a key for writing, creating it first when canCreate; false when that is not allowed.
    bool OpenKey(const QString &key, bool canCreate);
    // Creates the key (and the folders above it); raises "Failed to create key %s" on failure.
    void CreateKey(const QString &key);
    void CloseKey();

    QString ReadString(const QString &name) const;
    void WriteString(const QString &name, const QString &value);

private:
    bool createKey(const QString &key);

    bool openFile(const QString &file, bool writable);

    QString m_fileName;
    bool m_writable = false;
    std::unique_ptr<IniDocument> m_document;   // the file as it was read or last written
};
