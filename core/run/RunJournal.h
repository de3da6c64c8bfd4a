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

// The folder, made (with mode 0700) when it is not there; an empty text and the reason when it
// cannot be.
QString ensureFolder(QString *why = nullptr);
// Every manifest in the journal, oldest first.
QList<Entry> entries();
// Whether an applied undo takes back the run (or undo) `runId`, itself not taken back.
bool isUndone(const QString &runId, const QList<Entry> &entries);

} // namespace RunJournal
