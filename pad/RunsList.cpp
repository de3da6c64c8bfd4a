#include "RunsList.h"

#include "PadOptions.h"

#include "run/RunJournal.h"

namespace {

QString stateText(const RunJournal::Entry &entry, const QList<RunJournal::Entry> &entries)
{
    const RunManifest &m = entry.manifest;
    if (m.state == RunManifest::State::Unconfirmed)
        return QStringLiteral("提交结果不明");
    if (m.state == RunManifest::State::Preview)
        return QStringLiteral("预览");
    if (RunJournal::isUndone(m.runId, entries))
        return QStringLiteral("已撤销");
    return QStringLiteral("有效");
}

} // namespace

int listRuns(Console &console)
{
    const QList<RunJournal::Entry> entries = RunJournal::entries();
    console.out(QStringLiteral("处理日志：%1\n").arg(RunJournal::folder()));
    if (entries.isEmpty()) {
        console.out(QStringLiteral("没有记下任何处理。\n"));
        return PadStatus::Done;
    }
    for (const RunJournal::Entry &entry : entries) {
        const RunManifest &m = entry.manifest;
        const QDateTime when = (m.committed.isValid() ? m.committed : m.started).toLocalTime();
        QString what = m.kind == RunManifest::Kind::Undo ? QStringLiteral("撤销") : QStringLiteral("处理");
        if (m.kind == RunManifest::Kind::Undo) {
            for (const RunJournal::Entry &other : entries) {
                if (other.manifest.runId == m.undoOf) {
                    const QDateTime then = other.manifest.committed.toLocalTime();
                    what += QStringLiteral("（%1的%2）")
                                .arg(then.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                     other.manifest.kind == RunManifest::Kind::Undo ? QStringLiteral("撤销") : QStringLiteral("处理"));
                }
            }
        }
        QString database = m.product + u' ' + (m.serverName.isEmpty() ? QString() : m.serverName + u' ') + m.database;
        console.out(QStringLiteral("%1  %2  %3  长度%4  %5行  %6\n    记录：%7\n")
                        .arg(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), what, database.trimmed())
                        .arg(m.length)
                        .arg(m.rows)
                        .arg(stateText(entry, entries), entry.recordPath));
    }
    return PadStatus::Done;
}
