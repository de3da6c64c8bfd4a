#pragma once

#include "connection/ServerIdentity.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What a record is: written beside its CSV as NAME.run, key=value lines in UTF-8, after the CSV, so
// that its presence means the record is complete. The undo trusts a record only through it: an
// applied run's, of this database, of this very CSV (its rows and SHA-256).
struct RunManifest
{
    static constexpr int Format = 1;

    enum class State { Preview, Applied, Unconfirmed };
    enum class Kind { Run, Undo };

    State state = State::Preview;
    Kind kind = Kind::Run;
    QString runId;
    QString undoOf;   // an undo's: the run (or undo) it takes back
    QDateTime started;
    QDateTime committed;
    int length = 0;
    QString dataSource;
    QString product;
    QString version;
    // The database as the server names it (its name, and the server's address or name; SQLite: the
    // file), compared by the undo.
    QString database;
    QString serverName;
    QString login;
    QList<QString> alsoColumns;
    qint64 rows = 0;
    QString sha256;
    QString record;   // the CSV's file name, beside this file

    QString databaseIdentity() const { return serverName + u'/' + database; }
    // Whether the server now names the database this manifest was written for.
    bool sameDatabase(const ServerIdentity &server) const;
    // A new manifest for a run or undo on this server: a new run identifier, started now.
    static RunManifest describing(Kind kind, const QString &dataSource, const ServerIdentity &server, int length);

    QByteArray text() const;
    // Reads a manifest; nothing, with the reason, when it is not one of this program's.
    static std::optional<RunManifest> parse(const QByteArray &text, QString *why = nullptr);
    // The manifest's name beside a record: NAME.run.
    static QString pathFor(const QString &recordPath);
    // The SHA-256 of a file, in hexadecimal; empty when it cannot be read.
    static QString sha256Of(const QString &path);
    static QString newRunId();

    // Writes this manifest beside the published record `recordPath` (NAME.run, a new file, modes as
    // RecordFile's), with the record's rows, SHA-256 and name filled in. Returns the reason when it
    // cannot, else an empty text.
    QString writeBeside(const QString &recordPath, qint64 recordRows);
};
