#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>

// What the tests need around the program: the private PostgreSQL server and ODBC files that
// scripts/test starts (read from the environment), fresh databases on it, data sources, and a
// private settings directory.
namespace testenv {

// Whether scripts/test's environment is there; the message says what is missing.
bool haveDatabaseServer(QString *why = nullptr);

QString pgDriver();
QString pgConnectionString(const QString &database, const QString &user = {}, const QString &password = {});
QString sqliteDriver();
QString sqliteConnectionString(const QString &file);

// Runs SQL on a connection string, outside the program (autocommit). Throws std::runtime_error.
void execSql(const QString &connectionString, const QStringList &statements);
// The rows of a select, each as the columns' texts (NULL as a null QString).
QList<QStringList> selectRows(const QString &connectionString, const QString &select);

// A fresh database on the private server, made from a template when one is given; dropped at the end.
class PgDatabase
{
public:
    explicit PgDatabase(const QString &templateDatabase = {});
    ~PgDatabase();
    PgDatabase(const PgDatabase &) = delete;
    PgDatabase &operator=(const PgDatabase &) = delete;

    const QString &name() const { return m_name; }
    QString connectionString() const { return pgConnectionString(m_name); }
    void exec(const QStringList &statements) const { execSql(connectionString(), statements); }
    void exec(const QString &statement) const { exec(QStringList{statement}); }
    QList<QStringList> rows(const QString &select) const { return selectRows(connectionString(), select); }

private:
    QString m_name;
};

// A data source name never used before in this process (unixODBC remembers lookups, failed
// ones included, for a while).
QString freshDataSourceName(const QString &prefix);
// Adds a data source to the private user ODBC file (ODBCINI); returns its name (fresh unless given).
QString addPgDataSource(const QString &database, const QString &name = {});
QString addSqliteDataSource(const QString &file, const QString &name = {});
// Adds a data source with the given driver settings, e.g. {"Driver", "NorvelPostgreSQL"}, ...
QString addDataSource(const QList<QPair<QString, QString>> &settings, const QString &name = {});

// A private system configuration directory: XDG_CONFIG_DIRS points at it while the object lives.
class SettingsDir
{
public:
    SettingsDir();
    ~SettingsDir();
    SettingsDir(const SettingsDir &) = delete;
    SettingsDir &operator=(const SettingsDir &) = delete;

    QString path() const { return m_dir.path(); }
    QString libFile() const { return m_dir.path() + QStringLiteral("/Kestavo/Lib.conf"); }
    // Writes the settings file as given (raw INI text).
    void writeLibFile(const QByteArray &content) const;
    QByteArray readLibFile() const;
    // Writes ODBCNAME as given and USERNAME/PASSWORD in digit form.
    void writeSettings(const QString &odbcName, const QString &user, const QString &password) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};

// Runs `check` in a child process as the unprivileged user "nobody" (tests run as root in CI, where
// file permissions stop nothing) and returns its exit code; -1 when it could not run. When the tests
// already run unprivileged, runs it in a child all the same.
int runUnprivileged(const std::function<int()> &check);
// Gives a file or folder to "nobody".
void giveToNobody(const QString &path);

} // namespace testenv
