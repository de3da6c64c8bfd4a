#include "platform/TrustedPath.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>

namespace {

// The entry itself and every folder above it, the entry first; the path is made absolute but not
// cleaned, so that "link/.." means what the system makes of it.
QStringList entryAndFolders(const QString &path)
{
    QString absolute = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path;
    while (absolute.size() > 1 && absolute.endsWith(u'/'))
        absolute.chop(1);
    QStringList chain;
    for (;;) {
        chain << absolute;
        const qsizetype slash = absolute.lastIndexOf(u'/');
        if (slash <= 0) {
            if (absolute != QStringLiteral("/"))
                chain << QStringLiteral("/");
            return chain;
        }
        absolute.truncate(slash);
        while (absolute.size() > 1 && absolute.endsWith(u'/'))
            absolute.chop(1);
    }
}

std::optional<UntrustedEntry> firstUntrusted(const QStringList &chain, bool followLinks)
{
    for (const QString &entry : chain) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(entry);
        const int r = followLinks ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
        if (r != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                continue;   // not there (yet): nothing to trust or distrust
            // Cannot be looked at: as root that means something odd; do not trust it.
            return UntrustedEntry{entry, static_cast<uid_t>(-1), 0, true, false};
        }
        UntrustedEntry found{entry, st.st_uid, static_cast<mode_t>(st.st_mode & 07777), st.st_uid != 0, false};
        if (!S_ISLNK(st.st_mode)) {
            const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
            const bool stickyFolderOfRoot = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && st.st_uid == 0;
            found.writableByOthers = othersWrite && !stickyFolderOfRoot;
        }
        if (found.ownedByOther || found.writableByOthers)
            return found;
    }
    return std::nullopt;
}

// Where the path leads once every link is followed: the file's own real path, or, while it does
// not exist, that of the nearest folder above it that does.
QString realPath(const QString &path)
{
    QString probe = path;
    for (;;) {
        char resolved[PATH_MAX];
        if (::realpath(QFile::encodeName(probe).constData(), resolved))
            return QFile::decodeName(resolved);
        const qsizetype slash = probe.lastIndexOf(u'/');
        if (slash <= 0)
            return QStringLiteral("/");
        probe.truncate(slash);
    }
}

QString quotedForShell(const QString &path)
{
    return u'\'' + QString(path).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

} // namespace

std::optional<UntrustedEntry> entryOthersMayChange(const QString &file)
{
    // The path as written (a link there could be swapped by whoever may write its folder), then
    // what it leads to.
    if (auto found = firstUntrusted(entryAndFolders(file), false))
        return found;
    return firstUntrusted(entryAndFolders(realPath(file)), true);
}

QString describeUntrusted(const UntrustedEntry &entry)
{
    QStringList what;
    QStringList mend;
    if (entry.owner == static_cast<uid_t>(-1)) {
        what << QStringLiteral("无法查看");
    } else if (entry.ownedByOther) {
        const passwd *user = ::getpwuid(entry.owner);
        what << QStringLiteral("属于用户%1（uid %2）")
                    .arg(user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("?"))
                    .arg(entry.owner);
        mend << QStringLiteral("chown root %1").arg(quotedForShell(entry.path));
    }
    if (entry.writableByOthers) {
        what << QStringLiteral("可由组或其他用户写入（权限%1）").arg(entry.mode, 4, 8, QChar(u'0'));
        mend << QStringLiteral("chmod go-w %1").arg(quotedForShell(entry.path));
    }
    QString text = entry.path + what.join(u'，');
    if (!mend.isEmpty())
        text += QStringLiteral("；请执行") + mend.join(u'和');
    return text;
}
