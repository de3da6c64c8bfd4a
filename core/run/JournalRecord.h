#pragma once

#include "run/ChangeRecord.h"
#include "run/PaddingReport.h"
#include "run/RunManifest.h"

#include <QString>

#include <memory>

// The journal's copy of an applied run's or undo's record: its CSV goes into the journal folder
// (RunJournal::folder()) as the run writes it, appears there after the commit, and its manifest
// after it. Every apply keeps one, whichever front end made it and whether or not a record was
// asked for.
class JournalRecord : public ChangeSink
{
public:
    // Opens the record's file in the journal folder; raises EAbort with the reason when it cannot
    // (the front ends go on without one and say why).
    explicit JournalRecord(RunManifest manifest);
    ~JournalRecord() override;

    void add(const ChangedCard &card) override { m_record->add(card); }
    // Before the commit: every row on the disk, then the file marked as that of a commit being sent.
    void finish() { m_record->finish(); }
    void commitSent() { m_record->commitSent(); }
    // After the commit (`confirmed`), or a commit that did not come back: the record under its
    // name, then the manifest beside it. Returns the manifest's path, or an empty text and the reason.
    QString publish(bool confirmed, QString *why);

    const RunManifest &manifest() const { return m_manifest; }

private:
    RunManifest m_manifest;
    std::unique_ptr<ChangeRecord> m_record;
};
