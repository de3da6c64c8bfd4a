// Start-up against the private PostgreSQL server through psqlODBC: the stored settings, the
// connection, and the choice of the one window the program runs with.

#include "app/Startup.h"
#include "common/unGlobal.h"
#include "data/StatusText.h"
#include "data/dmLibData.h"
#include "forms/frmDbPara.h"
#include "forms/frmFlash.h"
#include "forms/frmNorvelMain.h"
#include "platform/Exceptions.h"
#include "shell/NorvelApplication.h"
#include "support/MessageBoxWatcher.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testenv;

namespace {

bool splashOnScreen()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<TFlash *>(w))
            return true;
    }
    return false;
}

// What the process writes to standard error while the object lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        if (!m_file.open())
            qFatal("no temporary file for standard error");
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QString text()
    {
        restore();
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgDatabase> m_db;
    QString m_user;
    const QString m_password = QStringLiteral("s3cret");

private slots:
    void initTestCase()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QFAIL(qPrintable(why));
        m_db = std::make_unique<PgDatabase>();
        m_user = QStringLiteral("lib_login_%1").arg(::getpid());
        execSql(pgConnectionString("postgres"),
                {QStringLiteral("DROP ROLE IF EXISTS %1").arg(m_user),
                 QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(m_user, m_password)});
    }
    void cleanupTestCase()
    {
        m_db.reset();
        execSql(pgConnectionString("postgres"), {QStringLiteral("DROP ROLE IF EXISTS %1").arg(m_user)});
    }
    void init() { StatusText.clear(); }

    void rightLoginOpensTheMainWindow()
    {
        SettingsDir settings;
        settings.writeSettings(addPgDataSource(m_db->name()), m_user, m_password);
        MessageBoxWatcher boxes;
        StderrCapture terminal;
        StartedProgram program = startProgram();
        QCOMPARE(terminal.text(), QString());
        QVERIFY(program.dataModule);
        QVERIFY(qobject_cast<TNorvelMain *>(program.mainWindow.get()));
        QCOMPARE(program.mainWindow->windowTitle(), QStringLiteral("扩展借书证到统一长度"));
        QCOMPARE(StatusText, QStringLiteral("OK"));
        QVERIFY(program.dataModule->LibDB().isOpen());
        QCOMPARE(program.dataModule->dbmsName(), QStringLiteral("PostgreSQL"));
        QVERIFY(!splashOnScreen());
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 0);
    }

    // No settings key: the design values, data source "LibODBC" and user "sa" with no password.
    void designValuesWithoutSettings()
    {
        SettingsDir settings;
        addPgDataSource(m_db->name(), QStringLiteral("LibODBC"));
        StartedProgram program = startProgram();
        QVERIFY(qobject_cast<TNorvelMain *>(program.mainWindow.get()));
        QCOMPARE(program.dataModule->aliasName(), QStringLiteral("LibODBC"));
        QCOMPARE(program.dataModule->params(), (QStringList{"USER NAME=sa", "PASSWORD="}));
        const auto who = selectRows(pgConnectionString(m_db->name()), "select 1");   // server still fine
        QCOMPARE(who.size(), 1);
    }

    void storedSettingsAreTrimmedAndDecoded()
    {
        SettingsDir settings;
        const QString dsn = addPgDataSource(m_db->name());
        settings.writeLibFile("[General]\nODBCNAME=\"  " + dsn.toUtf8() + "\\t \"\nUSERNAME=\" " + EncodeParam(m_user.toUtf8())
                              + " \"\nPASSWORD=" + EncodeParam(m_password.toUtf8()) + "\n");
        TLibDM dm(TLibDM::Open::Later);
        dm.readStoredSettings();
        QCOMPARE(dm.aliasName(), dsn);
        QCOMPARE(dm.params(), (QStringList{"USER NAME=" + m_user, "PASSWORD=" + m_password}));
        dm.open();
        QCOMPARE(StatusText, QStringLiteral("OK"));
        QVERIFY(!dm.splashShown());
    }

    // A settings file the user may not read counts as no settings at all.
    void unreadableSettingsMeanDesignValues()
    {
        SettingsDir settings;
        settings.writeSettings("SomewhereElse", "someone", "pw");
        QFile::setPermissions(settings.libFile(), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(runUnprivileged([] {
                     TLibDM dm(TLibDM::Open::Later);
                     dm.readStoredSettings();
                     return dm.aliasName() == "LibODBC" && dm.params() == QStringList{"USER NAME=sa", "PASSWORD="} ? 0 : 1;
                 }),
                 0);
    }

    // The splash is up between the two connection events and gone afterwards.
    void splashBetweenBeforeAndAfterConnect()
    {
        SettingsDir settings;
        TLibDM dm(TLibDM::Open::Later);
        dm.LibDBBeforeConnect();
        QCOMPARE(StatusText, QStringLiteral("系统正在连接数据库，请稍候..."));
        QVERIFY(dm.splashShown());
        QVERIFY(splashOnScreen());
        dm.LibDBAfterConnect();
        QCOMPARE(StatusText, QStringLiteral("OK"));
        QVERIFY(!splashOnScreen());
    }

    void failedStartOpensTheDialog_data()
    {
        QTest::addColumn<QByteArray>("settingsFile");   // %DSN% stands for a working data source
        QTest::addColumn<QString>("status");
        // Start-up itself shows nothing; a stored login the dialog cannot read either makes the
        // dialog's own creation show the standard error box.
        QTest::addColumn<QString>("dialogError");
        // The one line on standard error that says why (a pattern for the whole line; %DSN% as above).
        QTest::addColumn<QString>("terminal");
        const QByteArray user = EncodeParam(QByteArray("lib_login_") + QByteArray::number(::getpid()));
        QTest::newRow("wrong password")
            << QByteArray("[General]\nODBCNAME=%DSN%\nUSERNAME=" + user + "\nPASSWORD=" + EncodeParam("wrong") + "\n")
            << "系统正在连接数据库，请稍候..." << ""
            << R"(norvel: cannot connect to data source "%DSN%": .*password authentication failed for user "lib_login_\d+".*)";
        QTest::newRow("unknown data source")
            << QByteArray("[General]\nODBCNAME=NoSuchSource\nUSERNAME=" + user + "\nPASSWORD=\n")
            << "系统正在连接数据库，请稍候..." << ""
            << R"(norvel: cannot connect to data source "NoSuchSource": \[unixODBC\]\[Driver Manager\]Data source name not found.*)";
        // Not the first data source that unixODBC describes, which it would take for an empty name.
        QTest::newRow("empty data source name") << QByteArray("[General]\nODBCNAME=\n") << "系统正在连接数据库，请稍候..." << ""
                                                << R"(norvel: cannot connect to data source "": 没有指定ODBC数据源：设置中的数据源名称为空)";
        QTest::newRow("non-digit login") << QByteArray("[General]\nODBCNAME=%DSN%\nUSERNAME=ab4c\nPASSWORD=\n") << ""
                                            << "'a' is not a valid integer value."
                                            << "norvel: cannot read the connection settings: 'a' is not a valid integer value";
        QTest::newRow("login of another type")
            << QByteArray("[General]\nODBCNAME=%DSN%\nUSERNAME=@ByteArray(3437)\nPASSWORD=\n") << ""
            << "Invalid data type for 'USERNAME'"
            << "norvel: cannot read the connection settings: Invalid data type for 'USERNAME'";
    }
    void failedStartOpensTheDialog()
    {
        QFETCH(QByteArray, settingsFile);
        QFETCH(QString, status);
        QFETCH(QString, dialogError);
        QFETCH(QString, terminal);
        SettingsDir settings;
        const QString dsn = addPgDataSource(m_db->name());
        settings.writeLibFile(settingsFile.replace("%DSN%", dsn.toUtf8()));
        MessageBoxWatcher boxes;
        StderrCapture stderrCapture;
        StartedProgram program = startProgram();
        const QString written = stderrCapture.text();
        QVERIFY(!program.dataModule);
        QVERIFY(qobject_cast<TDbPara *>(program.mainWindow.get()));
        QCOMPARE(program.mainWindow->windowTitle(), QStringLiteral("设置数据库【Lib】连接参数"));
        QCOMPARE(StatusText, status);
        QVERIFY(!splashOnScreen());
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("LibDB")));
        // Exactly one line, and the reason is in it.
        const QRegularExpression line(QRegularExpression::anchoredPattern(QString(terminal).replace("%DSN%", dsn) + "\n"));
        QVERIFY2(line.match(written).hasMatch(), qPrintable(written));
        QCOMPARE(written.count(u'\n'), 1);
        QTest::qWait(100);
        if (dialogError.isEmpty()) {
            QCOMPARE(boxes.count(), 0);
        } else {
            QCOMPARE(boxes.count(), 1);
            QCOMPARE(boxes.boxes().first().title, QStringLiteral("Norvel"));
            QCOMPARE(boxes.boxes().first().text, dialogError);
        }
    }

    // ";" and "}" in a password and "=", "{", "}" in a login name reach the server as they are.
    void loginWithConnectionStringCharacters()
    {
        const QString user = QStringLiteral("odd=us{er}_%1").arg(::getpid());
        const QString password = QStringLiteral("p;w}d{=x");
        execSql(pgConnectionString("postgres"),
                {QStringLiteral("DROP ROLE IF EXISTS \"%1\"").arg(user),
                 QStringLiteral("CREATE ROLE \"%1\" LOGIN PASSWORD '%2'").arg(user, password)});
        SettingsDir settings;
        settings.writeSettings(addPgDataSource(m_db->name()), user, password);
        StartedProgram program = startProgram();
        QVERIFY(qobject_cast<TNorvelMain *>(program.mainWindow.get()));
        program = {};
        execSql(pgConnectionString("postgres"), {QStringLiteral("DROP ROLE \"%1\"").arg(user)});
    }

    // Run by root, the program takes its settings only from a file nobody else may change: one that
    // another user owns or may write, or that sits in such a folder or behind such a link, is
    // refused with the entry and the commands that mend it, and the connection is not tried (the
    // data source in the file works). A sticky folder of root's, such as /tmp, is root's.
    void rootTrustsOnlyRootsSettings_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("untrusted");   // the entry named, relative to the settings folder
        QTest::addColumn<QString>("mend");        // "chown", "chmod" or both, "" when taken
        QTest::newRow("root's alone") << "" << "" << "";
        QTest::newRow("file of another user") << "file-nobody" << "Kestavo/Lib.conf" << "chown";
        QTest::newRow("group-writable file") << "file-664" << "Kestavo/Lib.conf" << "chmod";
        QTest::newRow("folder of another user") << "folder-nobody" << "Kestavo" << "chown";
        QTest::newRow("world-writable folder") << "folder-777" << "Kestavo" << "chmod";
        QTest::newRow("settings root of another user, writable") << "root-nobody-777" << "." << "chown chmod";
        QTest::newRow("sticky folder of root's") << "folder-1777" << "" << "";
        QTest::newRow("sticky folder of another user") << "folder-nobody-1777" << "Kestavo" << "chown chmod";
        QTest::newRow("link to a file in another user's folder") << "link-to-nobody" << "elsewhere" << "chown";
        QTest::newRow("link of another user") << "link-nobody" << "Kestavo/Lib.conf" << "chown";
    }
    void rootTrustsOnlyRootsSettings()
    {
        QFETCH(QString, layout);
        QFETCH(QString, untrusted);
        QFETCH(QString, mend);
        if (::geteuid() != 0)
            QSKIP("only root's start-up checks who may change its settings");
        const passwd *nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        const auto owner = [nobody](const QString &path) {
            QCOMPARE(::lchown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        };
        const auto mode = [](const QString &path, mode_t bits) {
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), bits), 0);
        };

        SettingsDir settings;
        const QString folder = settings.path() + QStringLiteral("/Kestavo");
        const QString dsn = addPgDataSource(m_db->name());
        settings.writeSettings(dsn, m_user, m_password);
        QFile::setPermissions(settings.libFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        if (layout == "file-nobody")
            owner(settings.libFile());
        else if (layout == "file-664")
            mode(settings.libFile(), 0664);
        else if (layout == "folder-nobody")
            owner(folder);
        else if (layout == "folder-777")
            mode(folder, 0777);
        else if (layout == "root-nobody-777") {
            owner(settings.path());
            mode(settings.path(), 0777);
        } else if (layout == "folder-1777")
            mode(folder, 01777);
        else if (layout == "folder-nobody-1777") {
            owner(folder);
            mode(folder, 01777);
        } else if (layout.startsWith("link")) {
            // The settings file is a link to a file elsewhere.
            const QString elsewhere = settings.path() + QStringLiteral("/elsewhere");
            QVERIFY(QDir().mkpath(elsewhere));
            QVERIFY(QFile::rename(settings.libFile(), elsewhere + QStringLiteral("/Lib.conf")));
            QVERIFY(QFile::link(elsewhere + QStringLiteral("/Lib.conf"), settings.libFile()));
            owner(layout == "link-nobody" ? settings.libFile() : elsewhere);
        }

        MessageBoxWatcher boxes;
        StderrCapture stderrCapture;
        StartedProgram program = startProgram();
        const QString written = stderrCapture.text();
        if (untrusted.isEmpty()) {
            QVERIFY2(qobject_cast<TNorvelMain *>(program.mainWindow.get()), qPrintable(written));
            QCOMPARE(written, QString());
            return;
        }
        QVERIFY(qobject_cast<TDbPara *>(program.mainWindow.get()));
        QCOMPARE(StatusText, QString());   // refused before the connection was begun
        const QString entry = untrusted == "." ? settings.path() : settings.path() + u'/' + untrusted;
        const QString reason = QStringLiteral("以root身份运行时不用设置文件%1，因为root以外的用户可以改动它：%2")
                                   .arg(settings.libFile(), entry);
        QVERIFY2(written.startsWith(QStringLiteral("norvel: refusing the connection settings: ") + reason), qPrintable(written));
        QCOMPARE(written.count(u'\n'), 1);
        QCOMPARE(written.contains(QStringLiteral("属于用户nobody")), mend.contains("chown"));
        QCOMPARE(written.contains(QStringLiteral("chown root '%1'").arg(entry)), mend.contains("chown"));
        QCOMPARE(written.contains(QStringLiteral("chmod go-w '%1'").arg(entry)), mend.contains("chmod"));
        // The dialog reads the settings too, and says why it shows none.
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.boxes().first().text.startsWith(reason), qPrintable(boxes.boxes().first().text));
        QCOMPARE(program.mainWindow->findChild<QLineEdit *>(QStringLiteral("edOdbc"))->text(), QString());
    }

    void mainWindowFailureOpensTheDialog()
    {
        SettingsDir settings;
        settings.writeSettings(addPgDataSource(m_db->name()), m_user, m_password);
        MessageBoxWatcher boxes;
        StderrCapture terminal;
        StartedProgram program = startProgram([]() -> std::unique_ptr<QWidget> {
            throw EDatabaseError(QStringLiteral("main window could not be built"));
        });
        QCOMPARE(terminal.text(), QStringLiteral("norvel: cannot open the main window: main window could not be built\n"));
        QVERIFY(qobject_cast<TDbPara *>(program.mainWindow.get()));
        QVERIFY(program.dataModule);
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 0);
    }
};

NORVEL_WIDGET_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
