#pragma once

#include "run/RunManifest.h"

#include <QList>
#include <QString>

// Where every applied run and undo keeps its record and manifest, whichever front end made it:
// /var/lib/norvel/runs for root, the user's state folder (XDG_STATE_HOME, ~/.local/state) under
// norvel/runs otherwise; NORVEL_JOURNAL_DIR names another folder (the tests use it). The folder is
// made readable by its owner only; every file in it is written once, never replaced.
namespace RunJournal {

QString folder();

struct Entry
{
    RunManifest manifest;
    QString manifestPath;
    QString recordPath;
};

// Keeps a copy of a record and its manifest (whose `record` names the copy); returns the
// manifest's path there, or an empty text with the reason.
QString keep(const QString &recordPath, RunManifest manifest, QString *why = nullptr);
// Every manifest in the journal, oldest first.
QList<Entry> entries();
// Whether an applied undo takes back the run (or undo) `runId`, itself not taken back.
bool isUndone(const QString &runId, const QList<Entry> &entries);

// Writes a new file with mode 0600 whatever the umask; never over an existing name or through a
// link. Returns the reason when it cannot, else an empty text.
QString writeNewFile(const QString &path, const QByteArray &content);

} // namespace RunJournal
