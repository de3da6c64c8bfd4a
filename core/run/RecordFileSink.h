#pragma once

#include "platform/RecordFile.h"
#include "run/PaddingReport.h"

#include <QString>

// A record of a run's changes kept in a RecordFile: what the CSV record (ChangeRecord) and the
// spreadsheet (norvel-pad's SheetRecord) share. The rows go to the hidden file as the run makes
// them; publish() puts every row on the disk and only then the file under its name.
class RecordFileSink : public ChangeSink
{
public:
    ~RecordFileSink() override = default;
    RecordFileSink(const RecordFileSink &) = delete;
    RecordFileSink &operator=(const RecordFileSink &) = delete;

    // Every row is on the disk (raises when not).
    virtual void finish() = 0;
    // The run's commit is about to be sent (see RecordFile::commitSent()).
    void commitSent() { m_file.commitSent(); }
    // Puts the file in place under its name, finishing it first (a preview's record comes here
    // without finish()); false with the reason when that fails (the rows then stay in keptPath()).
    bool publish(QString *why = nullptr);

    const QString &path() const { return m_file.path(); }
    QString keptPath() const { return m_file.keptPath(); }
    qint64 rows() const { return m_rows; }

protected:
    // Raises EAbort (nothing changed) when the file cannot be made there; `what` names the record
    // in messages.
    RecordFileSink(const QString &path, const QString &what) : m_file(path, what) {}

    RecordFile m_file;
    qint64 m_rows = 0;
};
