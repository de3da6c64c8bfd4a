#include "data/WindowJournal.h"

#include "connection/ServerIdentity.h"
#include "platform/Exceptions.h"
#include "platform/IntConversion.h"

#include <cstdio>

WindowJournal::WindowJournal(const QSqlDatabase &db, const QString &dataSource, const QString &lengthText,
                             const QList<AlsoColumn> &also)
{
    // An invalid length stops the run before anything changes: nothing to keep.
    const std::optional<std::int32_t> length = tryStrToInt(lengthText);
    if (!length)
        return;
    try {
        RunManifest manifest = RunManifest::describing(RunManifest::Kind::Run, dataSource, queryServerIdentity(db), *length);
        for (const AlsoColumn &column : also)
            manifest.alsoColumns << column.name();
        m_record = std::make_unique<JournalRecord>(manifest);
    } catch (const NorvelError &error) {
        drop(error.message());
    }
}

WindowJournal::~WindowJournal() = default;

void WindowJournal::drop(const QString &why)
{
    m_record.reset();
    std::fprintf(stderr, "norvel: the run is not kept in the journal: %s\n", why.toLocal8Bit().constData());
    std::fflush(stderr);
}

void WindowJournal::add(const ChangedCard &card)
{
    if (!m_record)
        return;
    try {
        m_record->add(card);
    } catch (const NorvelError &error) {
        drop(error.message());
    }
}

void WindowJournal::beforeCommit()
{
    if (!m_record)
        return;
    try {
        m_record->finish();
        m_record->commitSent();
    } catch (const NorvelError &error) {
        drop(error.message());
    }
}

void WindowJournal::afterCommit(bool confirmed)
{
    if (!m_record)
        return;
    QString why;
    if (m_record->publish(confirmed, &why).isEmpty())
        drop(why);
}
