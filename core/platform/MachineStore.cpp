#include "platform/MachineStore.h"

#include "platform/Exceptions.h"
#include "platform/IniDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList keyComponents(const QString &key)
{
    QStringList parts = key.split(u'\\', Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.first().compare(u"SOFTWARE", Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    return parts;
}

// Files the program writes may be read by everyone but written only by their owner and group.
class NoWorldWrite
{
public:
    NoWorldWrite() : m_old(::umask(0)) { ::umask(m_old | S_IWOTH); }
    ~NoWorldWrite() { ::umask(m_old); }
    NoWorldWrite(const NoWorldWrite &) = delete;
    NoWorldWrite &operator=(const NoWorldWrite &) = delete;

private:
    mode_t m_old;
};

// Every missing folder of the path, each with FolderMode whatever the umask.
bool makeFolders(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString made;
    for (const QString &part : absolute.split(u'/', Qt::SkipEmptyParts)) {
        made += u'/' + part;
        const QByteArray native = QFile::encodeName(made);
        if (::mkdir(native.constData(), MachineStore::FolderMode) == 0) {
            if (::chmod(native.constData(), MachineStore::FolderMode) != 0)
                return false;
        } else if (errno != EEXIST || !QFileInfo(made).isDir()) {
            return false;
        }
    }
    return true;
}

void dropWorldWrite(const QString &path)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) == 0 && (st.st_mode & S_IWOTH))
        ::chmod(native.constData(), st.st_mode & ~S_IWOTH & 07777);
}

} // namespace

MachineStore::MachineStore() = default;
MachineStore::~MachineStore() = default;

QString MachineStore::configDirectory()
{
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    for (const QString &dir : dirs.split(u':', Qt::SkipEmptyParts))
        return dir;
    return QStringLiteral("/etc/xdg");
}

QString MachineStore::keyFolder(const QString &key)
{
    QString path = configDirectory();
    for (const QString &part : keyComponents(key))
        path += u'/' + part;
    return path;
}

QString MachineStore::keyFile(const QString &key)
{
    return keyFolder(key) + QStringLiteral(".conf");
}

bool MachineStore::KeyExists(const QString &key) const
{
    if (keyComponents(key).isEmpty())
        return QFileInfo(configDirectory()).isDir();
    const QFileInfo file(keyFile(key));
    if (file.isFile() && file.isReadable())
        return true;
    return QFileInfo(keyFolder(key)).isDir();
}

bool MachineStore::openFile(const QString &file, bool writable)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;
    m_fileName = file;
    m_writable = writable;
    m_document = std::make_unique<IniDocument>(content);
    return true;
}

bool MachineStore::OpenKeyReadOnly(const QString &key)
{
    CloseKey();
    const QFileInfo file(keyFile(key));
    if (!file.isFile() || !file.isReadable())
        return false;
    return openFile(file.filePath(), false);
}

bool MachineStore::createKey(const QString &key)
{
    const QStringList parts = keyComponents(key);
    if (parts.isEmpty())
        return makeFolders(configDirectory());
    // The folders above the key, then the key's own file.
    const QString file = keyFile(key);
    if (!makeFolders(QFileInfo(file).absolutePath()))
        return false;
    if (parts.size() == 1)   // a vendor key on its own is a folder
        return makeFolders(keyFolder(key));
    if (QFileInfo::exists(file))
        return true;
    const QByteArray native = QFile::encodeName(file);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, FileMode);
    if (fd < 0)
        return errno == EEXIST;
    // The mode asked for at creation went through the umask; the file gets it whatever that is.
    const bool made = ::fchmod(fd, FileMode) == 0;
    ::fsync(fd);
    ::close(fd);
    return made;
}

void MachineStore::CreateKey(const QString &key)
{
    if (!createKey(key))
        throw ERegistryException(QStringLiteral("Failed to create key %1").arg(key));
}

bool MachineStore::OpenKey(const QString &key, bool canCreate)
{
    CloseKey();
    const QString file = keyFile(key);
    if (!QFileInfo::exists(file) && !(canCreate && createKey(key)))
        return false;
    // A write replaces the file through a new one in the same folder: both must be writable.
    const QFileInfo info(file);
    const QFileInfo folder(info.absolutePath());
    if (!info.isFile() || !info.isReadable() || !info.isWritable() || !folder.isWritable())
        return false;
    return openFile(file, true);
}

void MachineStore::CloseKey()
{
    m_document.reset();
    m_fileName.clear();
    m_writable = false;
}

QString MachineStore::ReadString(const QString &name) const
{
    if (!m_document)
        return {};
    const IniDocument::Value value = m_document->value(name);
    if (value.type == IniDocument::Type::Other)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value.text;
}

void MachineStore::WriteString(const QString &name, const QString &value)
{
    const auto fail = [&name] {
        return ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
    };
    if (!m_document || !m_writable)
        throw fail();
    IniDocument changed = *m_document;
    changed.setString(name, value);
    const QByteArray content = changed.content();
    {
        // A new file beside the old one, synced and renamed over it: the file is whole at every
        // moment, and a write that fails leaves it as it was.
        NoWorldWrite mask;
        QSaveFile file(m_fileName);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
            throw fail();
    }
    *m_document = std::move(changed);
    dropWorldWrite(m_fileName);
}
