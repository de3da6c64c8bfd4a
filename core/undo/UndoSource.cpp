#include "undo/UndoSource.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace UndoGate {

namespace {

QSet<QString> numbersOf(const QList<UndoCard> &cards)
{
    QSet<QString> numbers;
    for (const UndoCard &card : cards)
        numbers << card.oldNumber << card.newNumber;
    return numbers;
}

bool sameDatabase(const RunManifest &a, const RunManifest &b)
{
    return a.product == b.product && a.serverName == b.serverName && a.database == b.database;
}

} // namespace

std::optional<UndoSource> read(const QString &path, QString *why)
{
    const auto refuse = [why](const QString &reason) -> std::optional<UndoSource> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    UndoSource source;
    if (path.endsWith(QStringLiteral(".run"))) {
        source.manifestPath = path;
    } else {
        source.recordPath = path;
        source.manifestPath = RunManifest::pathFor(path);
    }
    QFile manifestFile(source.manifestPath);
    if (!manifestFile.open(QIODevice::ReadOnly)) {
        return refuse(QStringLiteral("没有找到变更记录的清单文件%1：不能确认这是一次已经提交的处理的完整记录").arg(source.manifestPath));
    }
    QString reason;
    const std::optional<RunManifest> manifest = RunManifest::parse(manifestFile.readAll(), &reason);
    if (!manifest)
        return refuse(QStringLiteral("%1：%2").arg(source.manifestPath, reason));
    source.manifest = *manifest;
    if (source.recordPath.isEmpty())
        source.recordPath = QFileInfo(source.manifestPath).dir().filePath(source.manifest.record);

    switch (source.manifest.state) {
    case RunManifest::State::Preview:
        return refuse(QStringLiteral("%1是预览的记录：预览没有改动数据库，没有可以撤销的").arg(source.recordPath));
    case RunManifest::State::Unconfirmed:
        return refuse(QStringLiteral("%1属于一次提交结果不明的处理：先确认改动是否已经提交（见旁边的.unconfirmed文件）；"
                                     "已经提交时，在清单文件中把state=unconfirmed改为state=applied再撤销")
                          .arg(source.recordPath));
    case RunManifest::State::Applied:
        break;
    }
    const QString sha = RunManifest::sha256Of(source.recordPath);
    if (sha.isEmpty())
        return refuse(QStringLiteral("无法读取变更记录%1").arg(source.recordPath));
    if (sha != source.manifest.sha256) {
        return refuse(QStringLiteral("变更记录%1与清单文件记下的不同（SHA-256不符）：记录在写成之后被改过"
                                     "（用电子表格打开再保存也会改掉它，例如去掉证号前面的0）")
                          .arg(source.recordPath));
    }
    const std::optional<RecordReader::Result> record = RecordReader::read(source.recordPath, &reason);
    if (!record)
        return refuse(QStringLiteral("%1：%2").arg(source.recordPath, reason));
    if (record->rows != source.manifest.rows) {
        return refuse(QStringLiteral("变更记录%1有%2行，清单文件记下的是%3行").arg(source.recordPath).arg(record->rows).arg(source.manifest.rows));
    }
    source.record = *record;
    return source;
}

QString refusal(const UndoSource &source, const ServerIdentity &server, bool databaseMoved,
                const QList<RunJournal::Entry> &entries)
{
    const RunManifest &run = source.manifest;
    if (!databaseMoved && !run.sameDatabase(server)) {
        return QStringLiteral("这个记录属于另一个数据库：记录的是%1（%2上的%3），现在连接的是%4（%5上的%6）。"
                              "如果数据库改了名或从备份恢复到了别处，确认无误后加上--database-moved")
            .arg(run.product, run.serverName.isEmpty() ? QStringLiteral("本机") : run.serverName, run.database, server.product,
                 server.serverKey().isEmpty() ? QStringLiteral("本机") : server.serverKey(), server.database);
    }
    for (const RunJournal::Entry &entry : entries) {
        const RunManifest &other = entry.manifest;
        if (other.kind == RunManifest::Kind::Undo && other.state == RunManifest::State::Applied && other.undoOf == run.runId
            && !RunJournal::isUndone(other.runId, entries)) {
            return QStringLiteral("这次处理已经撤销过了（%1的撤销，记录在%2）").arg(other.committed.toLocalTime().toString(Qt::ISODate),
                                                                            entry.recordPath);
        }
    }
    const QSet<QString> numbers = numbersOf(source.record.cards);
    for (const RunJournal::Entry &entry : entries) {
        const RunManifest &other = entry.manifest;
        if (other.runId == run.runId || other.state != RunManifest::State::Applied || !sameDatabase(other, run)
            || other.committed <= run.committed || RunJournal::isUndone(other.runId, entries))
            continue;
        // The undo of this very run is dealt with above; an undo this run redoes came before it.
        const std::optional<RecordReader::Result> later = RecordReader::read(entry.recordPath);
        if (!later)
            continue;
        for (const UndoCard &card : later->cards) {
            if (numbers.contains(card.oldNumber) || numbers.contains(card.newNumber)) {
                return QStringLiteral("%1后来的一次%2（%3，记录在%4）又改动了这次改过的证号（例如%5）：请先撤销那一次")
                    .arg(run.committed.toLocalTime().toString(Qt::ISODate),
                         other.kind == RunManifest::Kind::Undo ? QStringLiteral("撤销") : QStringLiteral("处理"),
                         other.committed.toLocalTime().toString(Qt::ISODate), entry.recordPath, card.oldNumber);
            }
        }
    }
    return {};
}

} // namespace UndoGate
