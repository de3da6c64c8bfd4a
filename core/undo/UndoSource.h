#pragma once

#include "connection/ServerIdentity.h"
#include "run/RecordReader.h"
#include "run/RunJournal.h"
#include "run/RunManifest.h"

#include <QString>

#include <optional>

// The record an undo starts from, trusted only as far as its manifest vouches for it.
struct UndoSource
{
    QString recordPath;
    QString manifestPath;
    RunManifest manifest;
    RecordReader::Result record;
};

namespace UndoGate {

// Reads a record and its manifest (the record's path, or the manifest's). Refuses, with the
// reason, before any connection: no manifest; a preview's record, or one whose commit was never
// confirmed; a CSV whose rows or SHA-256 are not those the manifest names (edited, or saved by a
// spreadsheet); a record this program cannot read.
std::optional<UndoSource> read(const QString &path, QString *why);

// Against the database now and the journal (`entries`, oldest first): refuses another database
// (unless `databaseMoved`), a run that an applied undo took back already, and a run whose cards a
// later applied run or undo on the same database changed again (that one is to be undone first).
// Empty when the undo may go on to its card-by-card checks.
QString refusal(const UndoSource &source, const ServerIdentity &server, bool databaseMoved,
                const QList<RunJournal::Entry> &entries);

} // namespace UndoGate
