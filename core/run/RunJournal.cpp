#include "run/RunJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RunJournal {

namespace {

// Makes the folder and the ones above it; the journal's own folder gets mode 0700.
bool makeFolder(const QString &path, QString *why)
{
    if (!QDir().mkpath(path)) {
        if (why)
            *why = QStringLiteral("无法建立文件夹%1").arg(path);
        return false;
    }
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (why)
            *why = QStringLiteral("%1不是文件夹").arg(path);
        return false;
    }
    if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid())
        ::chmod(native.constData(), 0700);
    return true;
}

} // namespace

QString folder()
{
    if (const QString dir = qEnvironmentVariable("NORVEL_JOURNAL_DIR"); !dir.isEmpty())
        return dir;
    if (::geteuid() == 0)
        return QStringLiteral("/var/lib/norvel/runs");
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/norvel/runs");
}

QString ensureFolder(QString *why)
{
    const QString dir = folder();
    return makeFolder(dir, why) ? dir : QString();
}

QList<Entry> entries()
{
    QList<Entry> found;
    const QDir dir(folder());
    for (const QFileInfo &info : dir.entryInfoList({QStringLiteral("*.run")}, QDir::Files, QDir::Name)) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const std::optional<RunManifest> manifest = RunManifest::parse(file.readAll());
        if (!manifest)
            continue;
        found.append({*manifest, info.filePath(), dir.filePath(manifest->record)});
    }
    std::sort(found.begin(), found.end(), [](const Entry &a, const Entry &b) {
        const QDateTime ta = a.manifest.committed.isValid() ? a.manifest.committed : a.manifest.started;
        const QDateTime tb = b.manifest.committed.isValid() ? b.manifest.committed : b.manifest.started;
        return ta < tb;
    });
    return found;
}

bool isUndone(const QString &runId, const QList<Entry> &entries)
{
    for (const Entry &entry : entries) {
        if (entry.manifest.kind == RunManifest::Kind::Undo && entry.manifest.state == RunManifest::State::Applied
            && entry.manifest.undoOf == runId && !isUndone(entry.manifest.runId, entries))
            return true;
    }
    return false;
}

} // namespace RunJournal
