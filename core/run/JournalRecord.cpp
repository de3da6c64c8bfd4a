#include "run/JournalRecord.h"

#include "platform/Exceptions.h"
#include "run/RunJournal.h"

#include <QDir>

JournalRecord::JournalRecord(RunManifest manifest) : m_manifest(std::move(manifest))
{
    QString why;
    const QString dir = RunJournal::ensureFolder(&why);
    if (dir.isEmpty())
        throw EAbort(why);
    const QString base = m_manifest.started.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")) + u'-'
        + (m_manifest.kind == RunManifest::Kind::Undo ? QStringLiteral("undo-") : QString()) + m_manifest.runId.left(8);
    m_record = std::make_unique<ChangeRecord>(QDir(dir).filePath(base + QStringLiteral(".csv")));
}

JournalRecord::~JournalRecord() = default;

QString JournalRecord::publish(bool confirmed, QString *why)
{
    m_manifest.state = confirmed ? RunManifest::State::Applied : RunManifest::State::Unconfirmed;
    m_manifest.committed = QDateTime::currentDateTimeUtc();
    if (!m_record->publish(why))
        return {};
    if (const QString reason = m_manifest.writeBeside(m_record->path(), m_record->rows()); !reason.isEmpty()) {
        if (why)
            *why = QStringLiteral("%1：%2").arg(RunManifest::pathFor(m_record->path()), reason);
        return {};
    }
    return RunManifest::pathFor(m_record->path());
}
