#pragma once

#include "run/AlsoColumn.h"
#include "run/JournalRecord.h"
#include "run/PaddingReport.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <memory>

// The journal's record of a run started from the window: kept like norvel-pad's, so that the run
// can be listed (norvel-pad --runs) and taken back (norvel-pad --undo). The window shows nothing of
// it: when the journal cannot be written, the run goes on and the reason goes to standard error.
class WindowJournal : private ChangeSink
{
public:
    WindowJournal(const QSqlDatabase &db, const QString &dataSource, const QString &lengthText,
                  const QList<AlsoColumn> &also);
    ~WindowJournal() override;

    // The record's sink; none when the journal cannot be written.
    ChangeSink *sink() { return m_record ? this : nullptr; }
    // Just before the commit and just after it (`confirmed` false: it did not come back).
    void beforeCommit();
    void afterCommit(bool confirmed);

private:
    // A row that cannot be written drops the journal's record, not the run.
    void add(const ChangedCard &card) override;
    void drop(const QString &why);

    std::unique_ptr<JournalRecord> m_record;
};
