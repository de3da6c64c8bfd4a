#pragma once

#include "PadOptions.h"
#include "SheetRecord.h"

#include "run/ChangeRecord.h"
#include "run/JournalRecord.h"
#include "run/PaddingReport.h"
#include "run/RunManifest.h"

#include <QStringList>

#include <memory>
#include <optional>

class Console;

// The records of one run or undo, as the one sink it writes to: the CSV (--changes) with its
// manifest beside it, the spreadsheet (--sheet), and, for an apply, the journal's copy.
class Records : public ChangeSink
{
public:
    explicit Records(const PadOptions &options);
    ~Records() override;

    // What the manifests say about the run (its kind, identifier, server, length, columns).
    void setManifest(const RunManifest &manifest) { m_manifest = manifest; }
    // Keeps the record in the journal too (an apply). When the journal cannot be written the run
    // goes on: the reason is returned for standard error.
    QString keepInJournal();

    bool any() const { return m_csv || m_sheet || m_journal; }

    void add(const ChangedCard &card) override;
    void finish();
    void commitSent();

    // What publishing said: lines for standard output, problems for standard error.
    struct Outcome
    {
        QStringList lines;
        QStringList problems;
        QStringList places;   // where each file is now

        // The lines on standard output; the problems on standard error, each as norvel-pad's.
        void printLines(Console &console) const;
        void printProblems(Console &console) const;
    };

    enum class Kind { Preview, Applied, Unconfirmed };
    // Puts the files in place, each record's manifest after it. `suffix` follows the record's name
    // in the line that names it (a preview's record says what it is); an unconfirmed commit leaves
    // `note` beside each file as NAME.unconfirmed.
    Outcome publish(Kind kind, const QString &suffix, const QByteArray &note = {});

    // How to find out whether an unknown commit happened, with a reader of the record as example.
    QString howToCheck(int length) const;

private:
    std::unique_ptr<ChangeRecord> m_csv;
    std::unique_ptr<SheetRecord> m_sheet;
    std::unique_ptr<JournalRecord> m_journal;
    RunManifest m_manifest;
    std::optional<ChangedCard> m_example;
};
