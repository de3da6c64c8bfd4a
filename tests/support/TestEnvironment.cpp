#include "support/TestEnvironment.h"

#include "common/unGlobal.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <atomic>
#include <stdexcept>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testenv {

namespace {

QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

std::atomic<int> g_counter{0};

// A short-lived Qt connection for the tests' own SQL.
class TempConnection
{
public:
    explicit TempConnection(const QString &connectionString)
        : m_name(QStringLiteral("testenv_%1").arg(++g_counter))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        db.setDatabaseName(connectionString);
        if (!db.open())
            throw std::runtime_error(("cannot connect: " + db.lastError().text() + " (" + connectionString + ")").toStdString());
    }
    ~TempConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    TempConnection(const TempConnection &) = delete;
    TempConnection &operator=(const TempConnection &) = delete;
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
};

QString userOdbcIni()
{
    const QString file = env("ODBCINI");
    if (file.isEmpty())
        throw std::runtime_error("ODBCINI is not set: run the tests through scripts/test");
    return file;
}

} // namespace

bool haveDatabaseServer(QString *why)
{
    for (const char *name : {"NORVEL_PG_PORT", "NORVEL_PG_DRIVER", "NORVEL_SQLITE_DRIVER", "ODBCINI", "ODBCSYSINI"}) {
        if (env(name).isEmpty()) {
            if (why)
                *why = QStringLiteral("%1 is not set: run the tests through scripts/test").arg(QLatin1String(name));
            return false;
        }
    }
    return true;
}

QString pgDriver()
{
    return env("NORVEL_PG_DRIVER");
}

QString pgConnectionString(const QString &database, const QString &user, const QString &password)
{
    return QStringLiteral("DRIVER={%1};SERVER=%2;PORT=%3;DATABASE=%4;UID=%5;PWD=%6;ReadOnly=No")
        .arg(pgDriver(), env("NORVEL_PG_HOST"), env("NORVEL_PG_PORT"), database,
             user.isEmpty() ? env("NORVEL_PG_USER") : user, user.isEmpty() ? env("NORVEL_PG_PASSWORD") : password);
}

QString sqliteDriver()
{
    return env("NORVEL_SQLITE_DRIVER");
}

QString sqliteConnectionString(const QString &file)
{
    return QStringLiteral("DRIVER={%1};Database=%2").arg(env("NORVEL_SQLITE_DRIVER"), file);
}

void execSql(const QString &connectionString, const QStringList &statements)
{
    TempConnection connection(connectionString);
    QSqlQuery query(connection.db());
    for (const QString &sql : statements) {
        if (!query.exec(sql))
            throw std::runtime_error(("SQL failed: " + query.lastError().text() + "\n" + sql).toStdString());
    }
}

QList<QStringList> selectRows(const QString &connectionString, const QString &select)
{
    TempConnection connection(connectionString);
    QSqlQuery query(connection.db());
    query.setForwardOnly(true);
    if (!query.exec(select))
        throw std::runtime_error(("select failed: " + query.lastError().text() + "\n" + select).toStdString());
    QList<QStringList> rows;
    while (query.next()) {
        QStringList row;
        for (int c = 0; c < query.record().count(); ++c)
            row << (query.isNull(c) ? QString() : query.value(c).toString());
        rows << row;
    }
    return rows;
}

PgDatabase::PgDatabase(const QString &templateDatabase)
    : m_name(QStringLiteral("t_%1_%2").arg(::getpid()).arg(++g_counter))
{
    QString sql = QStringLiteral("CREATE DATABASE %1").arg(m_name);
    if (!templateDatabase.isEmpty())
        sql += QStringLiteral(" TEMPLATE %1").arg(templateDatabase);
    execSql(pgConnectionString(QStringLiteral("postgres")), {sql});
}

PgDatabase::~PgDatabase()
{
    try {
        execSql(pgConnectionString(QStringLiteral("postgres")),
                {QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name)});
    } catch (const std::exception &error) {
        qWarning("%s", error.what());
    }
}

QString freshDataSourceName(const QString &prefix)
{
    return QStringLiteral("%1_%2_%3").arg(prefix).arg(::getpid()).arg(++g_counter);
}

QString addDataSource(const QList<QPair<QString, QString>> &settings, const QString &name)
{
    const QString dsn = name.isEmpty() ? freshDataSourceName(QStringLiteral("Norvel")) : name;
    QFile file(userOdbcIni());
    // A name given by the caller replaces an earlier data source of that name.
    QByteArray text;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        bool skipping = false;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith('['))
                skipping = line.trimmed() == "[" + dsn.toUtf8() + "]";
            if (!skipping && !line.isEmpty())
                text += line + '\n';
        }
        file.close();
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        throw std::runtime_error("cannot write " + userOdbcIni().toStdString());
    text += "\n[" + dsn.toUtf8() + "]\n";
    for (const auto &[key, value] : settings)
        text += key.toUtf8() + '=' + value.toUtf8() + '\n';
    file.write(text);
    return dsn;
}

QString addPgDataSource(const QString &database, const QString &name)
{
    return addDataSource({{QStringLiteral("Driver"), pgDriver()},
                          {QStringLiteral("Servername"), env("NORVEL_PG_HOST")},
                          {QStringLiteral("Port"), env("NORVEL_PG_PORT")},
                          {QStringLiteral("Database"), database},
                          {QStringLiteral("ReadOnly"), QStringLiteral("No")}},
                         name);
}

QString addSqliteDataSource(const QString &file, const QString &name)
{
    return addDataSource({{QStringLiteral("Driver"), env("NORVEL_SQLITE_DRIVER")}, {QStringLiteral("Database"), file}},
                         name);
}

SettingsDir::SettingsDir()
    : m_previous(qgetenv("XDG_CONFIG_DIRS")), m_hadPrevious(qEnvironmentVariableIsSet("XDG_CONFIG_DIRS"))
{
    // Readable by an unprivileged child process too.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    qputenv("XDG_CONFIG_DIRS", m_dir.path().toLocal8Bit());
}

SettingsDir::~SettingsDir()
{
    if (m_hadPrevious)
        qputenv("XDG_CONFIG_DIRS", m_previous);
    else
        qunsetenv("XDG_CONFIG_DIRS");
}

void SettingsDir::writeLibFile(const QByteArray &content) const
{
    QDir().mkpath(m_dir.path() + QStringLiteral("/Kestavo"));
    QFile file(libFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + libFile().toStdString());
    file.write(content);
}

QByteArray SettingsDir::readLibFile() const
{
    QFile file(libFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void SettingsDir::writeSettings(const QString &odbcName, const QString &user, const QString &password) const
{
    writeLibFile("[General]\nODBCNAME=" + odbcName.toUtf8() + "\nUSERNAME=" + EncodeParam(user.toUtf8())
                 + "\nPASSWORD=" + EncodeParam(password.toUtf8()) + '\n');
}

int runUnprivileged(const std::function<int()> &check)
{
    const passwd *nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && !nobody)
        return -1;
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(125);
        }
        int code = 126;
        try {
            code = check();
        } catch (...) {
            code = 127;
        }
        ::_exit(code);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

void giveToNobody(const QString &path)
{
    if (::geteuid() != 0)
        return;
    if (const passwd *nobody = ::getpwnam("nobody")) {
        if (::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            throw std::runtime_error("cannot give " + path.toStdString() + " to nobody");
    }
}

} // namespace testenv
