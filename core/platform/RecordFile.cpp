#include "platform/RecordFile.h"

#include "platform/Exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char CommittingSuffix[] = ".committing";
constexpr qsizetype RandomLength = 6;

// The hidden files of this process whose commit was not sent, by absolute path, for
// discardUnsent(): it runs on another thread.
std::mutex g_unsentLock;
std::vector<std::string> g_unsent;

void addUnsent(const QByteArray &path)
{
    const std::lock_guard lock(g_unsentLock);
    g_unsent.emplace_back(path.constData(), size_t(path.size()));
}

void removeUnsent(const QByteArray &path)
{
    const std::lock_guard lock(g_unsentLock);
    const std::string name(path.constData(), size_t(path.size()));
    g_unsent.erase(std::remove(g_unsent.begin(), g_unsent.end(), name), g_unsent.end());
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Renames within one folder without replacing anything at the new name. File systems that cannot
// rename that way get a hard link and the old name's removal, which fails the same way at an
// existing name.
int renameNoReplace(int dir, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(dir, from.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    if (::linkat(dir, from.constData(), dir, to.constData(), 0) != 0)
        return -1;
    ::unlinkat(dir, from.constData(), 0);
    return 0;
}

QByteArray randomSuffix()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(RandomLength, '\0');
    for (char &c : suffix)
        c = letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
    return suffix;
}

bool isSuffix(const QByteArray &text)
{
    return text.size() == RandomLength
        && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

// A record holds readers' card numbers: its owner reads it, and its group where the folder is
// set-group-ID (a folder shared by a group of administrators says so that way).
mode_t modeIn(int dir)
{
    struct stat folder {};
    return ::fstat(dir, &folder) == 0 && (folder.st_mode & S_ISGID) ? 0640 : 0600;
}

QString kindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("符号链接");
    if (S_ISDIR(mode))
        return QStringLiteral("文件夹");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("设备文件");
    if (S_ISFIFO(mode))
        return QStringLiteral("命名管道");
    if (S_ISSOCK(mode))
        return QStringLiteral("套接字");
    return QStringLiteral("文件");
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

QString RecordFile::refusal(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QStringLiteral("%1已经存在（%2），不会写入或替换它：请给一个还不存在的文件名").arg(path, kindOf(st.st_mode));
}

void RecordFile::fail(const QString &what) const
{
    throw EAbort(QStringLiteral("无法写入%1%2：%3，系统没有做任何改动").arg(m_what, m_path, what));
}

RecordFile::RecordFile(const QString &path, const QString &what) : m_path(path), m_what(what)
{
    const QFileInfo info(path);
    m_name = QFile::encodeName(info.fileName());
    const auto cleanUpAndFail = [this](const QString &why) {
        if (m_fd >= 0) {
            ::unlinkat(m_dir, m_temporary.constData(), 0);
            ::close(m_fd);
        }
        if (m_dir >= 0)
            ::close(m_dir);
        fail(why);
    };
    if (path.endsWith(u'/') || m_name.isEmpty() || m_name == "." || m_name == "..")
        fail(QStringLiteral("这不是一个文件名"));
    m_dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dir < 0)
        cleanUpAndFail(systemError(errno));
    struct stat st {};
    if (::fstatat(m_dir, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        cleanUpAndFail(QStringLiteral("已经有一个同名的%1，不会替换它").arg(kindOf(st.st_mode)));
    const mode_t mode = modeIn(m_dir);
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        const QByteArray candidate = '.' + m_name + '.' + randomSuffix();
        const int fd = ::openat(m_dir, candidate.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = candidate;
        } else if (errno != EEXIST) {
            cleanUpAndFail(systemError(errno));
        }
    }
    if (m_fd < 0)
        cleanUpAndFail(systemError(EEXIST));
    addUnsent(QFile::encodeName(info.absolutePath()) + '/' + m_temporary);
    // Exactly the mode: open() took the umask off it.
    if (::fchmod(m_fd, mode) != 0) {
        removeUnsent(QFile::encodeName(info.absolutePath()) + '/' + m_temporary);
        cleanUpAndFail(systemError(errno));
    }
    // Held until the file is closed: a later run sees that it is in use.
    ::flock(m_fd, LOCK_EX | LOCK_NB);
}

RecordFile::~RecordFile()
{
    if (!m_published && !m_committing) {
        ::unlinkat(m_dir, m_temporary.constData(), 0);
        removeUnsent(QFile::encodeName(keptPath()));
    }
    ::close(m_fd);
    ::close(m_dir);
}

QString RecordFile::keptPath() const
{
    if (m_published)
        return m_path;
    return QFileInfo(m_path).absolutePath() + u'/' + QFile::decodeName(m_temporary);
}

QString RecordFile::writablePath() const
{
    const QString own = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    return QFileInfo::exists(own) ? own : keptPath();
}

void RecordFile::write(const QByteArray &bytes)
{
    if (!writeAll(m_fd, bytes.constData(), size_t(bytes.size())))
        fail(systemError(errno));
}

void RecordFile::sync()
{
    if (::fsync(m_fd) != 0)
        fail(systemError(errno));
}

void RecordFile::commitSent()
{
    const QByteArray before = QFile::encodeName(keptPath());
    const QByteArray committing = m_temporary + CommittingSuffix;
    if (renameNoReplace(m_dir, m_temporary, committing) != 0)
        fail(systemError(errno));
    removeUnsent(before);
    m_temporary = committing;
    m_committing = true;
    ::fsync(m_dir);
}

bool RecordFile::publish(QString *why)
{
    const QByteArray before = QFile::encodeName(keptPath());
    if (renameNoReplace(m_dir, m_temporary, m_name) != 0) {
        if (why) {
            *why = errno == EEXIST ? QStringLiteral("这期间出现了一个同名的文件或文件夹，没有替换它")
                                   : systemError(errno);
        }
        return false;
    }
    removeUnsent(before);
    m_published = true;
    ::fsync(m_dir);
    return true;
}

QString RecordFile::writeNew(const QString &path, const QByteArray &content)
{
    const QFileInfo info(path);
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return systemError(errno);
    const mode_t mode = modeIn(dir);
    const QByteArray name = QFile::encodeName(info.fileName());
    const int fd = ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        const int error = errno;
        ::close(dir);
        return error == EEXIST ? QStringLiteral("已经存在") : systemError(error);
    }
    QString why;
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, content.constData(), size_t(content.size())) || ::fsync(fd) != 0)
        why = systemError(errno);
    ::close(fd);
    ::fsync(dir);
    ::close(dir);
    return why;
}

RecordFile::Leftovers RecordFile::cleanLeftovers(const QString &path, const QByteArray &signature)
{
    Leftovers found;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QByteArray prefix = '.' + QFile::encodeName(info.fileName()) + '.';
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return found;
    const int listing = ::dup(dir);
    DIR *entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0)
            ::close(listing);
        ::close(dir);
        return found;
    }
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith(prefix))
            names << name;
    }
    ::closedir(entries);
    std::sort(names.begin(), names.end());

    for (const QByteArray &name : names) {
        QByteArray rest = name.mid(prefix.size());
        const bool committing = rest.endsWith(CommittingSuffix);
        if (committing)
            rest.chop(qsizetype(sizeof CommittingSuffix - 1));
        if (!isSuffix(rest))
            continue;
        const QString shown = folder + u'/' + QFile::decodeName(name);
        if (committing) {
            found.committing << shown;
            continue;
        }
        const int fd = ::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            found.unknown << shown;
            continue;
        }
        struct stat st {};
        bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            found.inUse << shown;
            ::close(fd);
            continue;
        }
        if (ours && st.st_size > 0) {
            QByteArray head(signature.size(), '\0');
            ssize_t got = 0;
            while (got < head.size()) {
                const ssize_t n = ::read(fd, head.data() + got, size_t(head.size() - got));
                if (n <= 0)
                    break;
                got += n;
            }
            ours = got == head.size() && head == signature;
        }
        // Still that file under that name, then gone.
        struct stat now {};
        ours = ours && ::fstatat(dir, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == st.st_dev
            && now.st_ino == st.st_ino && ::unlinkat(dir, name.constData(), 0) == 0;
        (ours ? found.removed : found.unknown) << shown;
        ::close(fd);
    }
    ::close(dir);
    return found;
}

void RecordFile::discardUnsent()
{
    const std::lock_guard lock(g_unsentLock);
    for (const std::string &path : g_unsent)
        ::unlink(path.c_str());
    g_unsent.clear();
}
