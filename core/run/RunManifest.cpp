#include "run/RunManifest.h"

#include "platform/RecordFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <optional>

namespace {

// A value on one line: backslashes and line ends escaped.
QString escaped(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString unescaped(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            out += next == u'n' ? QChar(u'\n') : next == u'r' ? QChar(u'\r') : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

const char *stateName(RunManifest::State state)
{
    switch (state) {
    case RunManifest::State::Applied:
        return "applied";
    case RunManifest::State::Unconfirmed:
        return "unconfirmed";
    case RunManifest::State::Preview:
        break;
    }
    return "preview";
}

} // namespace

QByteArray RunManifest::text() const
{
    QList<std::pair<const char *, QString>> lines{
        {"format", QString::number(Format)},
        {"kind", kind == Kind::Undo ? QStringLiteral("undo") : QStringLiteral("run")},
        {"state", QString::fromLatin1(stateName(state))},
        {"run", runId},
        {"undo_of", undoOf},
        {"started", started.toUTC().toString(Qt::ISODateWithMs)},
        {"committed", committed.isValid() ? committed.toUTC().toString(Qt::ISODateWithMs) : QString()},
        {"length", QString::number(length)},
        {"dsn", dataSource},
        {"server", product},
        {"server_version", version},
        {"database", database},
        {"server_name", serverName},
        {"login", login},
        {"also", alsoColumns.join(u',')},
        {"rows", QString::number(rows)},
        {"sha256", sha256},
        {"record", record}};
    QByteArray out;
    for (const auto &[key, value] : lines) {
        if (key == std::string_view("undo_of") && value.isEmpty())
            continue;
        out += key;
        out += '=';
        out += escaped(value).toUtf8();
        out += '\n';
    }
    return out;
}

std::optional<RunManifest> RunManifest::parse(const QByteArray &text, QString *why)
{
    const auto refuse = [why](const QString &reason) -> std::optional<RunManifest> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    QHash<QString, QString> values;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype at = line.indexOf('=');
        if (at <= 0)
            return refuse(QStringLiteral("不是本程序写的清单文件"));
        values.insert(QString::fromUtf8(line.left(at)), unescaped(QString::fromUtf8(line.mid(at + 1)).remove(u'\r')));
    }
    if (values.value(QStringLiteral("format")) != QString::number(Format))
        return refuse(QStringLiteral("不是本程序写的清单文件（或是新版本写的）"));
    RunManifest m;
    const QString state = values.value(QStringLiteral("state"));
    if (state == QStringLiteral("applied"))
        m.state = State::Applied;
    else if (state == QStringLiteral("unconfirmed"))
        m.state = State::Unconfirmed;
    else if (state == QStringLiteral("preview"))
        m.state = State::Preview;
    else
        return refuse(QStringLiteral("清单文件中的状态不可读"));
    m.kind = values.value(QStringLiteral("kind")) == QStringLiteral("undo") ? Kind::Undo : Kind::Run;
    m.runId = values.value(QStringLiteral("run"));
    m.undoOf = values.value(QStringLiteral("undo_of"));
    m.started = QDateTime::fromString(values.value(QStringLiteral("started")), Qt::ISODateWithMs);
    m.committed = QDateTime::fromString(values.value(QStringLiteral("committed")), Qt::ISODateWithMs);
    m.length = values.value(QStringLiteral("length")).toInt();
    m.dataSource = values.value(QStringLiteral("dsn"));
    m.product = values.value(QStringLiteral("server"));
    m.version = values.value(QStringLiteral("server_version"));
    m.database = values.value(QStringLiteral("database"));
    m.serverName = values.value(QStringLiteral("server_name"));
    m.login = values.value(QStringLiteral("login"));
    const QString also = values.value(QStringLiteral("also"));
    if (!also.isEmpty())
        m.alsoColumns = also.split(u',');
    m.rows = values.value(QStringLiteral("rows")).toLongLong();
    m.sha256 = values.value(QStringLiteral("sha256"));
    m.record = values.value(QStringLiteral("record"));
    if (m.runId.isEmpty() || m.sha256.isEmpty())
        return refuse(QStringLiteral("清单文件不完整"));
    return m;
}

QString RunManifest::pathFor(const QString &recordPath)
{
    return recordPath + QStringLiteral(".run");
}

QString RunManifest::sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString RunManifest::newRunId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

bool RunManifest::sameDatabase(const ServerIdentity &server) const
{
    return product == server.product && serverName == server.serverKey() && database == server.database;
}

RunManifest RunManifest::describing(Kind kind, const QString &dataSource, const ServerIdentity &server, int length)
{
    RunManifest manifest;
    manifest.kind = kind;
    manifest.runId = newRunId();
    manifest.started = QDateTime::currentDateTimeUtc();
    manifest.length = length;
    manifest.dataSource = dataSource;
    manifest.product = server.product;
    manifest.version = server.version;
    manifest.database = server.database;
    manifest.serverName = server.serverKey();
    manifest.login = server.login;
    return manifest;
}

QString RunManifest::writeBeside(const QString &recordPath, qint64 recordRows)
{
    rows = recordRows;
    sha256 = sha256Of(recordPath);
    if (sha256.isEmpty())
        return QStringLiteral("无法读取%1").arg(recordPath);
    record = QFileInfo(recordPath).fileName();
    return RecordFile::writeNew(pathFor(recordPath), text());
}
