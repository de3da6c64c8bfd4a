// The data source name and the login on their way to the ODBC driver: names that could be more
// than a data source are refused before anything is loaded; logins of every shape reach a real
// PostgreSQL server (roles of the private test server), an SQLite data source and FreeTDS (a
// loopback server that reads the login packet) exactly as typed, or are refused before connecting.

#include "connection/LibConnection.h"
#include "connection/OdbcLogin.h"
#include "platform/Exceptions.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace testenv;

namespace {

// Opens the connection the program's way; the text of the refusal or of the driver's error, or
// the empty text when it opened.
QString openWith(LibConnection &connection, const LibConnection::Login &login)
{
    try {
        connection.open(login);
        return {};
    } catch (const EUnsafeSettings &e) {
        return QStringLiteral("refused: ") + e.message();
    } catch (const NorvelError &e) {
        return QStringLiteral("failed: ") + e.message();
    }
}

QString scalar(const QSqlDatabase &db, const QString &select)
{
    QSqlQuery query(db);
    if (!query.exec(select) || !query.next())
        return QStringLiteral("<%1>").arg(query.lastError().text());
    return query.value(0).toString();
}

// A PostgreSQL identifier and a string literal (the server runs with standard_conforming_strings).
QString identifier(const QString &name)
{
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}
QString literal(const QString &text)
{
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

// The library that leaves a mark when loaded (tests/support/marker_library.c).
class MarkerLibrary
{
public:
    MarkerLibrary()
    {
        m_mark = m_dir.filePath(QStringLiteral("loaded"));
        qputenv("NORVEL_MARKER_FILE", QFile::encodeName(m_mark));
    }
    ~MarkerLibrary() { qunsetenv("NORVEL_MARKER_FILE"); }
    MarkerLibrary(const MarkerLibrary &) = delete;
    MarkerLibrary &operator=(const MarkerLibrary &) = delete;

    static QString path() { return QStringLiteral(NORVEL_MARKER_LIBRARY); }
    bool loaded() const { return QFile::exists(m_mark); }

private:
    QTemporaryDir m_dir;
    QString m_mark;
};

// tests/support/tds_login_capture.py: a loopback server that answers FreeTDS's pre-login and
// writes down the user name and password of the login packet that follows.
class TdsLoginCapture
{
public:
    TdsLoginCapture()
    {
        m_server.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(NORVEL_TESTS_SOURCE_DIR "/support/tds_login_capture.py"),
                        m_dir.filePath(QStringLiteral("port")), m_dir.filePath(QStringLiteral("login.json"))});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath(QStringLiteral("port"))), 20000);
        QFile file(m_dir.filePath(QStringLiteral("port")));
        if (file.open(QIODevice::ReadOnly))
            m_port = file.readAll().trimmed();
    }
    ~TdsLoginCapture()
    {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
    TdsLoginCapture(const TdsLoginCapture &) = delete;
    TdsLoginCapture &operator=(const TdsLoginCapture &) = delete;

    QString port() const { return QString::fromLatin1(m_port); }
    // What the login packet held; empty when none came.
    QJsonObject login()
    {
        m_server.waitForFinished(20000);
        QFile file(m_dir.filePath(QStringLiteral("login.json")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_port;
};

const QString Pid = QString::number(::getpid());

} // namespace

class TestOdbcLogin : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgDatabase> m_db;
    QStringList m_roles;

    void createRole(const QString &name, const QString &password)
    {
        execSql(pgConnectionString(QStringLiteral("postgres")),
                {QStringLiteral("DROP ROLE IF EXISTS %1").arg(identifier(name)),
                 QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD %2").arg(identifier(name), literal(password))});
        m_roles << name;
    }

    // A table of logins: names and passwords with everything that has a meaning somewhere on the
    // way (connection strings, psqlODBC's decoding, libpq's quoting). "#" stands for this process.
    static void loginRows()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("plus") << "plus+me#" << "a+b";
        QTest::newRow("percent") << "pct%41#" << "a%41b";
        QTest::newRow("semicolon") << "semi;colon#" << "x;y";
        QTest::newRow("leading brace") << "{lead#" << "{pw";
        QTest::newRow("braces around") << "{lead#}" << "{p}w}";
        QTest::newRow("closing braces") << "close}brace#" << "p}}w}";
        QTest::newRow("equals") << "eq=ual#" << "e=q==";
        QTest::newRow("blanks inside") << "blank inside#" << "b l a";
        QTest::newRow("non-ASCII") << "用户#" << "密码口令";
        QTest::newRow("quote and backslash") << "quo'te\\bs#" << "q'\\\"";
        QTest::newRow("brace, quote, semicolon") << "{q';#" << "p;w";
        QTest::newRow("settings inside") << "u;DSN=Other#" << "p};DRIVER=/x.so;PWD=x";
    }
    static QString withPid(QString text) { return text.replace(u'#', Pid); }

private slots:
    void initTestCase()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QFAIL(qPrintable(why));
        m_db = std::make_unique<PgDatabase>();
    }
    void cleanupTestCase()
    {
        m_db.reset();
        for (const QString &role : m_roles)
            execSql(pgConnectionString(QStringLiteral("postgres")), {QStringLiteral("DROP ROLE IF EXISTS %1").arg(identifier(role))});
    }

    void dataSourceNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain") << "LibODBC" << false;
        QTest::newRow("blank, dot, dash") << "Lib ODBC.main-2" << false;
        QTest::newRow("Chinese") << "图书馆" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("driver") << "DRIVER=/tmp/evil.so" << true;
        QTest::newRow("driver after a name") << "LibODBC;Driver=/tmp/evil.so" << true;
        QTest::newRow("server") << "SERVER=10.0.0.1" << true;
        QTest::newRow("file data source") << "library.dsn" << true;
        QTest::newRow("file data source, upper case") << "/tmp/LIB.DSN" << true;
        QTest::newRow("braces") << "{LibODBC}" << true;
        QTest::newRow("attribute without equals") << "Lib;SAVEFILE" << true;
        QTest::newRow("tab") << "Lib\tODBC" << true;
        for (const QChar ch : QStringLiteral("[](),?*!@\\"))
            QTest::addRow("character %c", ch.toLatin1()) << QStringLiteral("Lib") + ch << true;
    }
    void dataSourceNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, refused);
        try {
            checkDataSourceName(name);
            QVERIFY2(!refused, "taken");
        } catch (const EUnsafeSettings &e) {
            QVERIFY2(refused, qPrintable(e.message()));
            QVERIFY2(e.message().contains(u'“' + QString(name).replace(u'\t', QStringLiteral("\\x09")) + u'”'),
                     qPrintable(e.message()));
        }
    }

    // A name that Qt's driver would take as a whole connection string loads nothing.
    void driverNameLoadsNothing()
    {
        QVERIFY(QFile::exists(MarkerLibrary::path()));
        {
            // The marker works: handed to Qt as it stands, such a name loads the library.
            MarkerLibrary marker;
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("unchecked"));
            db.setDatabaseName(QStringLiteral("DRIVER=") + MarkerLibrary::path());
            db.open();
            db = {};
            QSqlDatabase::removeDatabase(QStringLiteral("unchecked"));
            QVERIFY(marker.loaded());
        }
        for (const QString &name : {QStringLiteral("DRIVER=") + MarkerLibrary::path(),
                                    QStringLiteral("LibODBC;DRIVER=") + MarkerLibrary::path()}) {
            MarkerLibrary marker;
            LibConnection connection;
            const QString outcome = openWith(connection, {name, QStringLiteral("sa"), {}});
            QVERIFY2(outcome.startsWith(QStringLiteral("refused: 数据源名称“") + name + u'”'), qPrintable(outcome));
            QVERIFY(!marker.loaded());
        }
    }

    void driverKinds_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("kind");
        QTest::newRow("psqlODBC Unicode") << "psqlodbcw.so" << int(OdbcDriverKind::PostgreSQL);
        QTest::newRow("psqlODBC ANSI, full path") << "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so" << int(OdbcDriverKind::PostgreSQL);
        QTest::newRow("FreeTDS") << "libtdsodbc.so" << int(OdbcDriverKind::FreeTds);
        QTest::newRow("SQLite 3") << "libsqlite3odbc.so" << int(OdbcDriverKind::SQLite);
        QTest::newRow("SQLite 3, versioned") << "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc-0.9998.so" << int(OdbcDriverKind::SQLite);
        QTest::newRow("SQLite 2") << "libsqliteodbc.so" << int(OdbcDriverKind::SQLite);
        QTest::newRow("another driver") << "libmaodbc.so" << int(OdbcDriverKind::Other);
        QTest::newRow("none") << "" << int(OdbcDriverKind::Other);
    }
    void driverKinds()
    {
        QFETCH(QString, library);
        QFETCH(int, kind);
        QCOMPARE(int(odbcDriverKind(library)), kind);
    }

    // The data sources of the test environment name their drivers through odbcinst.ini.
    void driverOfDataSource()
    {
        QCOMPARE(int(odbcDriverKind(odbcDriverLibrary(addPgDataSource(m_db->name())))), int(OdbcDriverKind::PostgreSQL));
        QCOMPARE(int(odbcDriverKind(odbcDriverLibrary(addSqliteDataSource(QStringLiteral("/nonexistent.db"))))),
                 int(OdbcDriverKind::SQLite));
        QCOMPARE(int(odbcDriverKind(odbcDriverLibrary(addDataSource({{"Driver", "NorvelFreeTDS"}})))), int(OdbcDriverKind::FreeTds));
        QCOMPARE(odbcDriverLibrary(freshDataSourceName(QStringLiteral("Missing"))), QString());
    }

    void postgresLogins_data() { loginRows(); }
    void postgresLogins()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        user = withPid(user);
        createRole(user, password);
        // A plain data source, one with a login name of its own, one with libpq options of its own.
        const QString plain = addPgDataSource(m_db->name());
        const QString named = addDataSource({{"Driver", pgDriver()},
                                             {"Servername", qEnvironmentVariable("NORVEL_PG_HOST")},
                                             {"Port", qEnvironmentVariable("NORVEL_PG_PORT")},
                                             {"Database", m_db->name()},
                                             {"ReadOnly", "No"},
                                             {"Username", qEnvironmentVariable("NORVEL_PG_USER")},
                                             {"pqopt", "application_name=fromdsn"}});
        for (const QString &dsn : {plain, named}) {
            LibConnection connection;
            const QString outcome = openWith(connection, {dsn, user, password});
            QVERIFY2(outcome.isEmpty(), qPrintable(dsn + u' ' + outcome));
            QCOMPARE(scalar(connection.database(), QStringLiteral("select current_user")), user);
            if (dsn == named && (user.contains(u';') || user.startsWith(u'{'))) {
                // The data source's own libpq options stay where the name travels beside them.
                QCOMPARE(scalar(connection.database(), QStringLiteral("select current_setting('application_name')")),
                         QStringLiteral("fromdsn"));
            }
        }
        // A wrong password is not let in under any of these spellings.
        LibConnection connection;
        const QString outcome = openWith(connection, {plain, user, password + u'x'});
        QVERIFY2(outcome.startsWith(QStringLiteral("failed: ")) && outcome.contains(QStringLiteral("password authentication failed")),
                 qPrintable(outcome));
    }

    // SQLite ignores logins, and would read one with ";" as more settings: none is passed, and the
    // data source's own database is the one opened whatever the login says.
    void sqliteLogins_data()
    {
        loginRows();
        QTest::newRow("another database") << "u" << "x;Database=%OTHER%";
        QTest::newRow("another database, braced") << "{u;Database=%OTHER%}" << "x";
        QTest::newRow("extension library") << "u;LoadExt=%MARKER%" << "{x;LoadExt=%MARKER%}";
    }
    void sqliteLogins()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("library.db"));
        const QString other = dir.filePath(QStringLiteral("other.db"));
        execSql(sqliteConnectionString(file), {QStringLiteral("create table which (name text)"),
                                               QStringLiteral("insert into which values ('library')")});
        for (QString *value : {&user, &password})
            *value = withPid(*value).replace(QStringLiteral("%OTHER%"), other).replace(QStringLiteral("%MARKER%"), MarkerLibrary::path());
        MarkerLibrary marker;
        LibConnection connection;
        const QString outcome = openWith(connection, {addSqliteDataSource(file), user, password});
        QVERIFY2(outcome.isEmpty(), qPrintable(outcome));
        QCOMPARE(scalar(connection.database(), QStringLiteral("select name from which")), QStringLiteral("library"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("library.db")});
        QVERIFY(!marker.loaded());
    }

    // FreeTDS, the driver of the SQL Server libraries: the login packet holds the login as typed.
    void freeTdsLogins_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "norvel" << "pw";
        QTest::newRow("plus and percent") << "plus+me%41" << "a+b%41";
        QTest::newRow("semicolon") << "semi;colon" << "x;y";
        QTest::newRow("leading brace") << "{lead" << "{pw";
        QTest::newRow("equals, blanks") << "e=q ual" << " p w ";
        QTest::newRow("non-ASCII") << "用户" << "密码";
        QTest::newRow("settings inside") << "u;DumpFile=/tmp/norvel-dump" << "{p;DSN=Other";
        QTest::newRow("no password") << "sa" << "";
    }
    void freeTdsLogins()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        TdsLoginCapture server;
        const QString dsn = addDataSource({{"Driver", "NorvelFreeTDS"},
                                           {"Server", "127.0.0.1"},
                                           {"Port", server.port()},
                                           {"TDS_Version", "7.4"},
                                           {"ClientCharset", "UTF-8"}});
        LibConnection connection;
        const QString outcome = openWith(connection, {dsn, user, password});
        QVERIFY2(outcome.startsWith(QStringLiteral("failed: ")), qPrintable(outcome));   // the server hangs up
        const QJsonObject login = server.login();
        QCOMPARE(login.value(QStringLiteral("user")).toString(), user);
        QCOMPARE(login.value(QStringLiteral("password")).toString(), password);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/norvel-dump")));
    }

    // What a driver cannot be given exactly is refused before connecting, with the reason.
    void undeliverableLogins_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FreeTDS, closing brace in the name") << "NorvelFreeTDS" << "a}b" << "pw" << "登录名含有“}”";
        QTest::newRow("FreeTDS, closing brace in the password") << "NorvelFreeTDS" << "sa" << "p};DumpFile=/tmp/x" << "密码含有“}”";
        QTest::newRow("PostgreSQL, zero character") << "NorvelPostgreSQL" << QStringLiteral("a") + QChar(0) << "pw" << "登录名含有空字符";
    }
    void undeliverableLogins()
    {
        QFETCH(QString, driver);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, reason);
        // A port where nothing listens: a connection attempt would fail in the driver's words.
        const QString dsn = addDataSource({{"Driver", driver}, {"Server", "127.0.0.1"}, {"Servername", "127.0.0.1"},
                                           {"Port", "1"}, {"TDS_Version", "7.4"}});
        LibConnection connection;
        const QString outcome = openWith(connection, {dsn, user, password});
        QVERIFY2(outcome.startsWith(QStringLiteral("refused: 数据源%1的%2").arg(dsn, reason)), qPrintable(outcome));
        QVERIFY(!connection.database().isOpen());
    }
};

QTEST_GUILESS_MAIN(TestOdbcLogin)
#include "tst_odbclogin.moc"
