// norvel-pad's dialogue, run in the test's own process on SQLite data sources (and on the test
// server's PostgreSQL where the server's own answers matter), its streams and its terminal replaced
// by buffers: every option's effect and every exit status, the preview, the question and the
// apply, the records and their files, the truth after a commit that may or may not have happened,
// what the settings could not give, and a stop asked for at a question or during the run.
// (Signals, a real terminal, SIGPIPE and a GBK locale are tried from outside: tests/blackbox/pad.sh.)

#include "Console.h"
#include "Interrupts.h"
#include "PadCommand.h"
#include "PadOptions.h"

#include "common/unGlobal.h"
#include "connection/LibConnection.h"
#include "connection/ServerIdentity.h"
#include "run/ChangeRecord.h"
#include "run/PaddingRun.h"
#include "run/RunManifest.h"
#include "support/PaddingModel.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testenv;

namespace {

// A console of buffers: what the command writes, write by write, and the answers it reads.
class BufferConsole : public Console
{
public:
    bool inputTerminal = false;
    bool errorTerminal = false;
    bool outBroken = false;
    QStringList answers;                    // one per question; none left: the end of the input
    std::function<void()> onAsk;            // called as a question is asked
    std::function<void(int)> onProgress;    // called with the number of progress lines so far
    std::function<void(const QString &)> onErr;   // called with every text for standard error

    QString out;
    QString err;
    QStringList prompts;
    QList<bool> hiddenQuestions;
    QList<QPair<int, QString>> writes;      // (1 or 2, text) in order
    std::atomic<int> progressLines{0};

    bool canAsk() const override { return inputTerminal && errorTerminal; }
    bool showsProgress() const override { return errorTerminal; }

protected:
    bool writeOut(const QString &text, QString &why) override
    {
        if (outBroken) {
            why = QStringLiteral("Broken pipe");
            return false;
        }
        out += text;
        writes << qMakePair(1, text);
        return true;
    }
    bool writeErr(const QString &text, QString &why) override
    {
        (void)why;
        err += text;
        writes << qMakePair(2, text);
        if (onErr)
            onErr(text);
        if (text.startsWith(QStringLiteral("\r\033[K")) && text.size() > 4) {
            const int lines = ++progressLines;
            if (onProgress)
                onProgress(lines);
        }
        return true;
    }
    std::optional<QString> readAnswer(const QString &prompt, bool hidden) override
    {
        Console::err(prompt);
        prompts << err.section(u'\n', -1);
        hiddenQuestions << hidden;
        if (onAsk)
            onAsk();
        if (Interrupts::requested() != 0 || answers.isEmpty())
            return std::nullopt;
        return answers.takeFirst();
    }
};

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

model::Library library(const QList<QPair<QString, QString>> &readers, const QStringList &loans)
{
    model::Library lib;
    for (const auto &[id, password] : readers)
        lib.readers << model::Reader{id, password};
    lib.loans = loans;
    return lib;
}

// 45 collides with 000000045; 07 with 7 once 7 is padded. At 9: status 2.
const model::Library Colliding = library(
    {{"7", "7"}, {"07", "abc"}, {"123", ""}, {"45", "45"}, {"000000045", "twin"}, {"98765", QString()}, {"=1+1", ""}},
    {"7", "7", "123", "4444", "45", "=1+1"});
// Nothing left alone at 9: status 0.
const model::Library Clean = library({{"7", "7"}, {"123", ""}}, {"7", "123"});
// Nothing to change at 9.
const model::Library Finished = library({{"123456789", "x"}}, {"123456789"});

} // namespace

class TestPadCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;
    std::unique_ptr<SettingsDir> m_settings;
    QString m_file;   // the library's SQLite file
    QString m_dsn;

    // A fresh SQLite library reached through a new data source that the stored settings name.
    void makeLibrary(const model::Library &lib, const QList<QPair<QString, QString>> &extra = {})
    {
        m_file = m_dir.filePath(QStringLiteral("lib%1.db").arg(++m_files));
        execSql(sqliteConnectionString(m_file), model::tableStatements(lib));
        QList<QPair<QString, QString>> settings{{QStringLiteral("Driver"), sqliteDriver()},
                                                {QStringLiteral("Database"), m_file}};
        m_dsn = addDataSource(settings + extra);
        m_settings->writeSettings(m_dsn, QString(), QString());
    }

    QStringList readers(const QString &connection = {}) const
    {
        QList<model::Reader> found;
        for (const QStringList &row : selectRows(connection.isEmpty() ? sqliteConnectionString(m_file) : connection,
                                                 QStringLiteral("select pe_id, pe_passwd from lib_people")))
            found << model::Reader{row.value(0), row.value(1)};
        return model::canonicalReaders(found);
    }
    QStringList loans(const QString &connection = {}) const
    {
        QStringList found;
        for (const QStringList &row : selectRows(connection.isEmpty() ? sqliteConnectionString(m_file) : connection,
                                                 QStringLiteral("select js_libcard from lib_jieshu")))
            found << row.value(0);
        return model::canonicalLoans(found);
    }
    // The tables as they are, against the library before the run or after a run at `length`.
    bool tablesAre(const model::Library &before, int length, const QString &connection = {}) const
    {
        const model::Library expected = length == 0 ? before : model::run(before, length).after;
        return readers(connection) == model::canonicalReaders(expected.readers)
            && loans(connection) == model::canonicalLoans(expected.loans);
    }

    static Outcome pad(const QStringList &arguments, BufferConsole &console)
    {
        Outcome outcome;
        outcome.status = runPadCommand(arguments, console);
        outcome.out = console.out;
        outcome.err = console.err;
        return outcome;
    }
    static Outcome pad(const QStringList &arguments)
    {
        BufferConsole console;
        return pad(arguments, console);
    }

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList filesIn(const QString &dir) const
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString freshFolder()
    {
        const QString folder = m_dir.filePath(QStringLiteral("out%1").arg(++m_files));
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QSKIP(qPrintable(why));
        QVERIFY(m_dir.isValid());
        // Every apply keeps its record in the journal: here, not in the machine's.
        qputenv("NORVEL_JOURNAL_DIR", QFile::encodeName(m_dir.path() + QStringLiteral("/journal")));
    }
    void init()
    {
        Interrupts::reset();
        qunsetenv("NORVEL_PASSWORD");
        m_settings = std::make_unique<SettingsDir>();
    }
    void cleanup()
    {
        m_settings.reset();
        Interrupts::reset();
    }

    // A stop that comes while the commit is under way waits for it. Once the command has finished
    // (the records in place), the stop ends it with its status, even when it can no longer write.
    void stopDuringTheCommitEndsTheCommandAfterIt()
    {
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            Interrupts::install();
            Interrupts::beginCommit();
            ::kill(::getpid(), SIGTERM);
            // The watching thread takes the stop while the commit is under way.
            sigset_t pending;
            do {
                ::usleep(10'000);
                sigemptyset(&pending);
                ::sigpending(&pending);
            } while (sigismember(&pending, SIGTERM) == 1);
            ::usleep(200'000);
            Interrupts::finish(2, QStringLiteral("已中断，但改动在此之前已经提交。"));
            // Output that never drains.
            ::sleep(10);
            ::_exit(99);
        }
        QElapsedTimer waited;
        waited.start();
        int status = 0;
        pid_t ended = 0;
        while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && waited.elapsed() < 8000)
            QTest::qSleep(50);
        if (ended == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        QVERIFY2(WIFEXITED(status), "the command did not end");
        QCOMPARE(WEXITSTATUS(status), 2);
        QVERIFY(waited.elapsed() < 5000);
    }

    // The preview, the apply and the question: the status, whether the tables changed, and what
    // the command says.
    void dialogue_data()
    {
        QTest::addColumn<QString>("libraryName");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("appliedAt");   // the length the tables were padded to; 0: unchanged
        QTest::addColumn<QStringList>("outSays");
        QTest::addColumn<QStringList>("errSays");
        QTest::addColumn<QStringList>("nowhere");   // said neither on standard output nor on standard error

        const QStringList preview{QStringLiteral("预览：以下是执行时将做的改动。事务已回滚，数据库没有任何改动。"),
                                  QStringLiteral("要执行这些改动，请加上--apply。")};
        const QStringList applied{QStringLiteral("已执行，改动已提交："), PaddingRun::FinishedMessage};
        const QString question = QStringLiteral("请输入 yes 执行");
        QTest::newRow("preview, numbers left alone")
            << "colliding" << QStringList{} << false << QStringList{} << 2 << 0
            << (preview + QStringList{PaddingRun::CollisionHeading, QStringLiteral(" 07 45"), QStringLiteral("借书证长度：9")})
            << QStringList{} << QStringList{QStringLiteral("已执行"), QStringLiteral("update ")};
        QTest::newRow("preview, nothing left alone")
            << "clean" << QStringList{} << false << QStringList{} << 0 << 0
            << (preview + QStringList{PaddingRun::NoCollisionLine}) << QStringList{} << QStringList{question};
        QTest::newRow("--length 4")
            << "colliding" << QStringList{"--length", "4", "--apply", "--yes"} << false << QStringList{} << 2 << 4
            << (applied + QStringList{QStringLiteral("借书证长度：4"), QStringLiteral(" 07")}) << QStringList{}
            << QStringList{QStringLiteral("预览"), question};
        QTest::newRow("--apply --yes, numbers left alone")
            << "colliding" << QStringList{"--apply", "--yes"} << false << QStringList{} << 2 << 9 << applied
            << QStringList{} << QStringList{QStringLiteral("预览"), question};
        QTest::newRow("--apply --yes, nothing left alone")
            << "clean" << QStringList{"--apply", "--yes"} << false << QStringList{} << 0 << 9 << applied
            << QStringList{} << QStringList{};
        QTest::newRow("--apply --yes on a terminal does not ask")
            << "clean" << QStringList{"--apply", "--yes"} << true << QStringList{"no"} << 0 << 9 << applied
            << QStringList{} << QStringList{question};
        QTest::newRow("--sql shows every statement")
            << "clean" << QStringList{"--sql"} << false << QStringList{} << 0 << 0 << preview
            << QStringList{QStringLiteral("update lib_people set pe_id=pe_id where 0")} << QStringList{};
        QTest::newRow("--apply asks and 'yes' applies")
            << "colliding" << QStringList{"--apply"} << true << QStringList{"yes"} << 2 << 9
            << (QStringList{preview.first()} + applied) << QStringList{question} << QStringList{};
        for (const char *answer : {"YES", " yes", "yes ", "y", "no", ""}) {
            QTest::addRow("--apply asks and '%s' cancels", answer)
                << "colliding" << QStringList{"--apply"} << true << QStringList{answer} << 1 << 0
                << QStringList{QStringLiteral("已取消，数据库没有任何改动。")} << QStringList{question}
                << QStringList{QStringLiteral("已执行")};
        }
        QTest::newRow("--apply asks and the input ends")
            << "colliding" << QStringList{"--apply"} << true << QStringList{} << 1 << 0
            << QStringList{QStringLiteral("已取消，数据库没有任何改动。")} << QStringList{question} << QStringList{};
        QTest::newRow("--apply does not ask when nothing changes")
            << "finished" << QStringList{"--apply", "--changes", "@/r.csv"} << true << QStringList{"yes"} << 0 << 0
            << QStringList{QStringLiteral("不需要执行，数据库没有任何改动，也没有写变更记录。")} << QStringList{}
            << QStringList{question, QStringLiteral("已执行")};
        QTest::newRow("--apply without a terminal and without --yes")
            << "clean" << QStringList{"--apply"} << false << QStringList{} << 64 << 0 << QStringList{}
            << QStringList{QStringLiteral("没有终端可以确认：执行(--apply)时请加上--yes")} << QStringList{QStringLiteral("数据源")};
        QTest::newRow("an error before any change")
            << "no loans" << QStringList{"--apply", "--yes"} << false << QStringList{} << 1 << 0 << QStringList{}
            << QStringList{QStringLiteral("数据库中没有表lib_jieshu"), QStringLiteral("没有做任何改动")}
            << QStringList{QStringLiteral("已执行")};
        QTest::newRow("--help") << "clean" << QStringList{"--help"} << false << QStringList{} << 0 << 0
                                << QStringList{padHelpText()} << QStringList{} << QStringList{QStringLiteral("服务器：")};
        QTest::newRow("--version") << "clean" << QStringList{"--version"} << false << QStringList{} << 0 << 0
                                   << QStringList{QStringLiteral("norvel-pad ")} << QStringList{}
                                   << QStringList{QStringLiteral("服务器：")};
    }
    void dialogue()
    {
        QFETCH(QString, libraryName);
        QFETCH(QStringList, arguments);
        QFETCH(bool, terminal);
        QFETCH(QStringList, answers);
        QFETCH(int, appliedAt);
        QFETCH(QStringList, outSays);
        QFETCH(QStringList, errSays);
        QFETCH(QStringList, nowhere);
        const model::Library lib = libraryName == QStringLiteral("colliding") ? Colliding
            : libraryName == QStringLiteral("finished")                       ? Finished
                                                                              : Clean;
        makeLibrary(lib);
        if (libraryName == QStringLiteral("no loans"))
            execSql(sqliteConnectionString(m_file), {QStringLiteral("drop table lib_jieshu")});
        const QString folder = freshFolder();
        arguments.replaceInStrings(QStringLiteral("@"), folder);

        BufferConsole console;
        console.inputTerminal = console.errorTerminal = terminal;
        console.answers = answers;
        const Outcome run = pad(arguments, console);
        QTEST(run.status, "status");
        for (const QString &text : outSays)
            QVERIFY2(run.out.contains(text), qPrintable(QStringLiteral("'%1' not in:\n%2").arg(text, run.out)));
        for (const QString &text : errSays)
            QVERIFY2(run.err.contains(text), qPrintable(QStringLiteral("'%1' not in:\n%2").arg(text, run.err)));
        for (const QString &text : nowhere)
            QVERIFY2(!run.out.contains(text) && !run.err.contains(text), qPrintable(text));
        if (libraryName != QStringLiteral("no loans"))
            QVERIFY(tablesAre(lib, appliedAt));
        // A question names the target; a preview asks nothing.
        for (const QString &prompt : console.prompts)
            QVERIFY2(prompt.contains(QStringLiteral("数据库%1").arg(m_file)), qPrintable(prompt));
        QCOMPARE(console.prompts.isEmpty(), !run.err.contains(QStringLiteral("请输入 yes 执行")));
        QCOMPARE(filesIn(folder), QStringList());
    }

    // What the command says it works on, as the server says it: the SQLite file as an absolute path
    // (the data source names it relative to the working folder), no login; the same file is the
    // database's lasting identity.
    void target()
    {
        makeLibrary(Clean);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QString dsn = addDataSource({{QStringLiteral("Driver"), sqliteDriver()},
                                           {QStringLiteral("Database"), QFileInfo(m_file).fileName()}});
        m_settings->writeSettings(dsn, QString(), QString());
        const Outcome run = pad({});
        ServerIdentity identity;
        {
            LibConnection connection;
            connection.open({dsn, QString(), QString()});
            identity = queryServerIdentity(connection.database());
        }
        QDir::setCurrent(previous);
        QCOMPARE(run.status, 0);
        const QRegularExpression version(QStringLiteral("^服务器：SQLite 3\\.\\d+\\.\\d+$"), QRegularExpression::MultilineOption);
        QVERIFY2(run.out.startsWith(QStringLiteral("数据源：%1\n").arg(dsn)), qPrintable(run.out));
        QVERIFY2(version.match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("\n数据库文件：%1\n登录名：（SQLite没有登录名）\n借书证长度：9\n").arg(m_file)),
                 qPrintable(run.out));
        QCOMPARE(identity.databaseKey(), QStringLiteral("sqlite:") + m_file);
    }

    // Lengths and other slips are refused before any connection, with status 64.
    void refusedBeforeConnecting_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("length 9O") << QStringList{"--length", "9O"} << "借书证长度“9O”不是整数";
        QTest::newRow("length 1") << QStringList{"--length", "1", "--apply", "--yes"} << "借书证长度至少为2，不能是1";
        QTest::newRow("length 0") << QStringList{"--length", "0"} << "借书证长度至少为2，不能是0";
        QTest::newRow("length -3") << QStringList{"--length=-3"} << "借书证长度至少为2，不能是-3";
        QTest::newRow("repeated option") << QStringList{"--length", "9", "--length", "3"} << "选项--length给了不止一次";
        QTest::newRow("empty --dsn") << QStringList{"--dsn", "", "--user", "sa"} << "选项--dsn的值是空的";
        QTest::newRow("record exists") << QStringList{"--changes", "@/exists.csv"}
                                       << "变更记录@/exists.csv已经存在（文件），不会写入或替换它：请给一个还不存在的文件名";
        QTest::newRow("sheet exists") << QStringList{"--sheet", "@/exists.xlsx"}
                                      << "表格@/exists.xlsx已经存在（文件），不会写入或替换它：请给一个还不存在的文件名";
        QTest::newRow("record is a device") << QStringList{"--apply", "--yes", "--changes", "/dev/null"}
                                            << "变更记录/dev/null已经存在（设备文件），不会写入或替换它";
        QTest::newRow("record is a link") << QStringList{"--changes", "@/link.csv"}
                                          << "变更记录@/link.csv已经存在（符号链接）";
    }
    void refusedBeforeConnecting()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QString folder = freshFolder();
        for (const char *name : {"exists.csv", "exists.xlsx"}) {
            QFile file(folder + u'/' + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("an older record\n");
        }
        QVERIFY(QFile::link(folder + QStringLiteral("/nowhere.csv"), folder + QStringLiteral("/link.csv")));
        arguments.replaceInStrings(QStringLiteral("@"), folder);
        message.replace(QStringLiteral("@"), folder);
        // A data source that does not exist: a connection would say so.
        m_settings->writeSettings(freshDataSourceName(QStringLiteral("Nowhere")), QString(), QString());
        const Outcome run = pad(arguments);
        QCOMPARE(run.status, 64);
        QVERIFY2(run.err.startsWith(QStringLiteral("norvel-pad: ") + message), qPrintable(run.err));
        QVERIFY2(run.err.endsWith(QStringLiteral("请用 norvel-pad --help 查看用法。\n")), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        QCOMPARE(read(folder + QStringLiteral("/exists.csv")), QByteArray("an older record\n"));
        QCOMPARE(filesIn(folder), (QStringList{"exists.csv", "exists.xlsx", "link.csv"}));
    }

    // The record and the sheet: a preview writes the record an apply then writes; the sheet holds
    // the same rows as text cells, read back by a spreadsheet reader; both readable by their owner
    // only.
    void records()
    {
        makeLibrary(Colliding);
        const QString folder = freshFolder();
        const mode_t previous = ::umask(0);
        const Outcome preview = pad({"--changes", folder + "/preview.csv", "--sheet", folder + "/preview.xlsx"});
        const Outcome apply = pad({"--apply", "--yes", "--changes", folder + "/apply.csv", "--sheet", folder + "/apply.xlsx"});
        ::umask(previous);
        QCOMPARE(preview.status, 2);
        QCOMPARE(apply.status, 2);
        QVERIFY(tablesAre(Colliding, 9));
        // Five changed cards and the two readers left alone.
        QVERIFY2(preview.out.contains(QStringLiteral("变更记录（执行时将写的记录）：%1/preview.csv，7行\n清单：%1/preview.csv.run\n").arg(folder)),
                 qPrintable(preview.out));
        QVERIFY2(preview.out.contains(QStringLiteral("表格（执行时将写的记录）：%1/preview.xlsx，7行\n").arg(folder)),
                 qPrintable(preview.out));
        const QRegularExpression applied(QStringLiteral("变更记录：%1/apply.csv，7行\n清单：%1/apply.csv.run\n表格：%1/apply.xlsx，7行\n"
                                                        "处理日志：(\\S+\\.csv\\.run)\n处理完成！\n")
                                             .arg(QRegularExpression::escape(folder)));
        const QRegularExpressionMatch journal = applied.match(apply.out);
        QVERIFY2(journal.hasMatch(), qPrintable(apply.out));
        QVERIFY(journal.captured(1).startsWith(m_dir.path() + QStringLiteral("/journal/")));
        const QByteArray record = read(folder + QStringLiteral("/apply.csv"));
        QCOMPARE(read(folder + QStringLiteral("/preview.csv")), record);
        QVERIFY2(record.contains("'=1+1,00000=1+1,原为空，现为证号,1,读者\r\n"), record.constData());
        QCOMPARE(filesIn(folder), (QStringList{"apply.csv", "apply.csv.run", "apply.xlsx", "preview.csv", "preview.csv.run", "preview.xlsx"}));
        // The manifests: what each record is, of which database, of which very file.
        const std::optional<RunManifest> previewed = RunManifest::parse(read(folder + QStringLiteral("/preview.csv.run")));
        const std::optional<RunManifest> made = RunManifest::parse(read(folder + QStringLiteral("/apply.csv.run")));
        QVERIFY(previewed && made);
        QCOMPARE(previewed->state, RunManifest::State::Preview);
        QCOMPARE(made->state, RunManifest::State::Applied);
        QCOMPARE(made->rows, 7);
        QCOMPARE(made->sha256, RunManifest::sha256Of(folder + QStringLiteral("/apply.csv")));
        QCOMPARE(made->database, m_file);
        QCOMPARE(made->length, 9);
        QVERIFY(made->committed.isValid() && made->runId != previewed->runId);
        QCOMPARE(read(journal.captured(1).chopped(4)), record);
        for (const QString &name : filesIn(folder)) {
            struct stat st {};
            QVERIFY(::stat(QFile::encodeName(folder + u'/' + name).constData(), &st) == 0);
            QCOMPARE(int(st.st_mode & 07777), 0600);
        }

        // The sheet, read by openpyxl: the CSV's rows, every cell text in a text column.
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(NORVEL_TEST_SOURCE_DIR "/support/sheet_matches_csv.py"),
                                                           folder + QStringLiteral("/apply.csv"), folder + QStringLiteral("/apply.xlsx")});
        QVERIFY(python.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed() + QString::fromUtf8(python.readAllStandardError()),
                 QStringLiteral("ok"));
    }

    // A name that appears while the run works is not replaced after the commit: the record stays,
    // complete, where it was written, the command says where, and the run counts as committed.
    void recordCannotBePlaced()
    {
        makeLibrary(Colliding);
        const QString folder = freshFolder();
        const QString path = folder + QStringLiteral("/r.csv");
        BufferConsole console;
        console.errorTerminal = true;
        console.onProgress = [&](int line) {
            if (line == 1)
                QDir().mkdir(path);
        };
        const Outcome run = pad({"--apply", "--yes", "--changes", path}, console);
        QCOMPARE(run.status, 2);
        QVERIFY(tablesAre(Colliding, 9));
        QVERIFY2(run.out.contains(QStringLiteral("已执行，改动已提交：")), qPrintable(run.out));
        const QRegularExpression said(QStringLiteral("变更记录没能放到%1（这期间出现了一个同名的文件或文件夹，没有替换它）：完整的变更记录在(\\S+/\\.r\\.csv\\.\\w{6}\\.committing)。")
                                          .arg(QRegularExpression::escape(path)));
        const QRegularExpressionMatch kept = said.match(run.err);
        QVERIFY2(kept.hasMatch(), qPrintable(run.err));
        QVERIFY(read(kept.captured(1)).startsWith(ChangeRecord::signature()));
        QCOMPARE(read(kept.captured(1)).count("\r\n"), 8);
        QVERIFY(!run.err.contains(QStringLiteral("没有任何改动")));

        // A later run with the name names that file and keeps it.
        QDir().rmdir(path);
        const Outcome later = pad({"--changes", path});
        QCOMPARE(later.status, 2);
        QVERIFY2(later.err.contains(QStringLiteral("%1是以前一次在提交时中断的处理留下的记录").arg(kept.captured(1))),
                 qPrintable(later.err));
        QVERIFY(QFile::exists(kept.captured(1)));
    }

    // A killed run's hidden file is removed by the next run with the same name, and said so.
    void leftoversCleaned()
    {
        makeLibrary(Clean);
        const QString folder = freshFolder();
        const QString leftover = folder + QStringLiteral("/.r.csv.Ab12Cd");
        QFile file(leftover);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ChangeRecord::signature());
        file.close();
        const Outcome run = pad({"--changes", folder + QStringLiteral("/r.csv")});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral("删除了以前一次没有提交就中断的处理留下的临时文件%1。").arg(leftover)),
                 qPrintable(run.err));
        QCOMPARE(filesIn(folder), (QStringList{QStringLiteral("r.csv"), QStringLiteral("r.csv.run")}));
    }

    // A commit that does not come back (here SQLite cannot take its exclusive lock while a reader
    // holds the database): its own status and words, the record in place marked unconfirmed, and
    // how to find out which it was; never "rolled back".
    void commitUnknown()
    {
        makeLibrary(Colliding, {{QStringLiteral("Timeout"), QStringLiteral("300")}});
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("reader"));
        reader.setDatabaseName(sqliteConnectionString(m_file));
        QVERIFY2(reader.open(), qPrintable(reader.lastError().text()));
        QVERIFY(reader.transaction());
        {
            QSqlQuery query(reader);
            QVERIFY(query.exec(QStringLiteral("select count(*) from lib_people")));
            QVERIFY(query.next());
        }
        const QString folder = freshFolder();
        const QString path = folder + QStringLiteral("/r.csv");
        const Outcome run = pad({"--apply", "--yes", "--changes", path});
        reader.rollback();
        reader.close();
        reader = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));

        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.startsWith(QStringLiteral("norvel-pad: 提交改动时与数据库的连接出错")), qPrintable(run.err));
        // A reader of the record as the example to look up.
        const QRegularExpression check(QStringLiteral("查看方法：在表lib_people中找原借书证号为“(\\d+)”的读者（不计末尾的空格）：如果他的借书证号已经是“0+\\1”"));
        const QRegularExpressionMatch example = check.match(run.err);
        QVERIFY2(example.hasMatch(), qPrintable(run.err));
        QVERIFY(!run.err.contains(QStringLiteral("回滚")) && !run.out.contains(QStringLiteral("回滚")));
        QVERIFY(!run.out.contains(PaddingRun::FinishedMessage));
        QVERIFY2(run.out.contains(QStringLiteral("提交的结果不明。如果改动已经提交，改动如下：")), qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("变更记录：%1，7行（未确认：见%1.unconfirmed）").arg(path)), qPrintable(run.out));
        QCOMPARE(filesIn(folder), (QStringList{"r.csv", "r.csv.run", "r.csv.unconfirmed"}));
        QCOMPARE(RunManifest::parse(read(path + QStringLiteral(".run")))->state, RunManifest::State::Unconfirmed);
        const QString note = QString::fromUtf8(read(path + QStringLiteral(".unconfirmed")));
        QVERIFY2(note.contains(QStringLiteral("改动可能已经提交，也可能没有")) && note.contains(QStringLiteral("数据库：SQLite"))
                     && note.contains(QStringLiteral("原借书证号为“%1”").arg(example.captured(1))),
                 qPrintable(note));
        // (The tables cannot be read here: the connection whose commit failed cannot be closed while
        // SQLite still counts its transaction as open, and it keeps its lock until the process ends,
        // as norvel-pad's does right after.)
    }

    // What the stored settings could not give is said, with what was used instead.
    void settingsAsRead_data()
    {
        QTest::addColumn<QByteArray>("settings");   // empty: no settings file
        QTest::addColumn<QStringList>("errSays");
        QTest::newRow("no settings file")
            << QByteArray() << QStringList{QStringLiteral("没有连接设置文件"), QStringLiteral("使用设计值（数据源LibODBC，登录名sa，空密码）")};
        QTest::newRow("USERNAME in plain text")
            << QByteArray("USERNAME=sa\nPASSWORD=\n")
            << QStringList{QStringLiteral("中的USERNAME不是程序保存的数字形式，无法读取：使用了空登录名（ODBC驱动可能会改用操作系统的用户名）。")};
        QTest::newRow("PASSWORD with a letter")
            << QByteArray("USERNAME=\nPASSWORD=03x7\n")
            << QStringList{QStringLiteral("中的PASSWORD不是程序保存的数字形式，无法读取：使用了空密码。")};
        QTest::newRow("USERNAME with other digits")
            << QByteArray("USERNAME=2413\nPASSWORD=\n")
            << QStringList{QStringLiteral("中的USERNAME不是程序保存的数字形式，无法读取：使用了按宽松读法得到的登录名“a”。")};
        QTest::newRow("the digit form") << ("USERNAME=" + EncodeParam("sa") + "\nPASSWORD=" + EncodeParam("pw") + '\n')
                                        << QStringList{};
    }
    void settingsAsRead()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, errSays);
        makeLibrary(Clean);
        if (settings.isEmpty())
            QFile::remove(m_settings->libFile());
        else
            m_settings->writeLibFile("[General]\nODBCNAME=" + m_dsn.toUtf8() + '\n' + settings);
        const Outcome run = pad({});
        for (const QString &text : errSays)
            QVERIFY2(run.err.contains(text), qPrintable(run.err));
        if (errSays.isEmpty()) {
            QCOMPARE(run.err, QString());
            QCOMPARE(run.status, 0);
        } else if (!settings.isEmpty()) {
            QCOMPARE(run.status, 0);   // SQLite takes any login
        } else {
            QCOMPARE(run.status, 1);   // LibODBC is no data source here
        }
    }

    // The progress line is cleared before anything else is written, to either stream.
    void progressCleared()
    {
        makeLibrary(Colliding);
        BufferConsole console;
        console.errorTerminal = true;
        const Outcome run = pad({"--sql"}, console);
        QCOMPARE(run.status, 2);
        QVERIFY(console.progressLines > 0);
        bool shown = false;
        for (const auto &[stream, text] : console.writes) {
            if (stream == 2 && text.startsWith(QStringLiteral("\r\033[K"))) {
                shown = text.size() > 4;
                continue;
            }
            QVERIFY2(!shown, qPrintable(QStringLiteral("written behind the progress line: ") + text));
        }
        QVERIFY(!shown);
    }

    // Standard output that fails (a closed pipe) changes neither the outcome nor the status, and
    // standard error says that the run was committed.
    void outputFails()
    {
        makeLibrary(Colliding);
        const QString path = freshFolder() + QStringLiteral("/r.csv");
        BufferConsole console;
        console.outBroken = true;
        const Outcome run = pad({"--apply", "--yes", "--changes", path}, console);
        QCOMPARE(run.status, 2);
        QVERIFY(tablesAre(Colliding, 9));
        QVERIFY(QFile::exists(path));
        QVERIFY2(run.err.contains(QStringLiteral("无法写入标准输出（Broken pipe）")), qPrintable(run.err));
        QVERIFY2(run.err.endsWith(QStringLiteral("norvel-pad: 改动已提交（结果没能全部写到标准输出）。变更记录：%1。\n").arg(path)),
                 qPrintable(run.err));
    }

    // A stop asked for at a question: nothing was done, and nothing else is claimed.
    void stopAtQuestion_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("the password") << QStringList{"--dsn", "@", "--user", "sa"} << true;
        QTest::newRow("the confirmation") << QStringList{"--apply"} << false;
    }
    void stopAtQuestion()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, hidden);
        makeLibrary(Colliding);
        arguments.replaceInStrings(QStringLiteral("@"), m_dsn);
        BufferConsole console;
        console.inputTerminal = console.errorTerminal = true;
        console.answers = QStringList{QStringLiteral("yes")};
        console.onAsk = [] { Interrupts::request(SIGINT); };
        const Outcome run = pad(arguments, console);
        QCOMPARE(run.status, 1);
        QCOMPARE(console.hiddenQuestions, QList<bool>{hidden});
        QVERIFY2(run.err.endsWith(QStringLiteral("\nnorvel-pad: 已中断，没有做任何改动。\n")), qPrintable(run.err));
        QVERIFY(!run.err.contains(QStringLiteral("事务")));
        QVERIFY(tablesAre(Colliding, 0));
    }

    // A stop asked for while the run works is seen at the next statement: rolled back, no record.
    void stopDuringRun()
    {
        makeLibrary(Colliding);
        const QString folder = freshFolder();
        BufferConsole console;
        console.errorTerminal = true;
        console.onProgress = [](int line) {
            if (line == 5)
                Interrupts::request(SIGTERM);
        };
        const Outcome run = pad({"--apply", "--yes", "--changes", folder + QStringLiteral("/r.csv")}, console);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.endsWith(QStringLiteral("norvel-pad: 已中断。改动没有提交，事务已回滚，数据库没有任何改动。\n")),
                 qPrintable(run.err));
        QVERIFY(tablesAre(Colliding, 0));
        QCOMPARE(filesIn(folder), QStringList());
    }

    // On PostgreSQL: the target as the server names it (address, port, database, login, its own
    // version, or its Unix socket) and the database's lasting identity; the password asked for
    // without echo; a lock held by another session, the progress line's word on it, and
    // --lock-timeout.
    void postgres_data()
    {
        QTest::addColumn<bool>("socket");
        QTest::newRow("over TCP") << false;
        QTest::newRow("over the Unix socket") << true;
    }
    void postgres()
    {
        QFETCH(bool, socket);
        PgDatabase db;
        db.exec(model::tableStatements(Colliding));
        const QString host = socket ? qEnvironmentVariable("NORVEL_PG_SOCKET") : qEnvironmentVariable("NORVEL_PG_HOST");
        const QString dsn = addDataSource({{QStringLiteral("Driver"), pgDriver()},
                                           {QStringLiteral("Servername"), host},
                                           {QStringLiteral("Port"), qEnvironmentVariable("NORVEL_PG_PORT")},
                                           {QStringLiteral("Database"), db.name()},
                                           {QStringLiteral("ReadOnly"), QStringLiteral("No")}});
        const QString user = qEnvironmentVariable("NORVEL_PG_USER");
        const QString version = db.rows(QStringLiteral("show server_version")).value(0).value(0).section(u' ', 0, 0);
        BufferConsole console;
        console.inputTerminal = console.errorTerminal = true;
        console.answers = QStringList{qEnvironmentVariable("NORVEL_PG_PASSWORD")};
        const Outcome run = pad({"--dsn", dsn, "--user", user}, console);
        QCOMPARE(run.status, 2);
        QCOMPARE(console.hiddenQuestions, QList<bool>{true});
        QCOMPARE(console.prompts.value(0), QStringLiteral("%1 在数据源%2上的密码：").arg(user, dsn));
        const QString where = socket ? QStringLiteral("Unix套接字，端口%1").arg(qEnvironmentVariable("NORVEL_PG_PORT"))
                                     : QStringLiteral("%1，端口%2").arg(host, qEnvironmentVariable("NORVEL_PG_PORT"));
        QCOMPARE(run.out.section(u'\n', 0, 4),
                 QStringLiteral("数据源：%1\n服务器：PostgreSQL %2（%3）\n数据库：%4\n登录名：%5\n借书证长度：9")
                     .arg(dsn, version, where, db.name(), user));
        {
            LibConnection connection;
            connection.open({dsn, user, qEnvironmentVariable("NORVEL_PG_PASSWORD")});
            QCOMPARE(queryServerIdentity(connection.database()).databaseKey(),
                     QStringLiteral("postgresql://%1:%2/%3")
                         .arg(socket ? QStringLiteral("local") : host, qEnvironmentVariable("NORVEL_PG_PORT"), db.name()));
        }

        // A desk session holds a loan; the run waits for it, then gives up after its lock timeout.
        qputenv("NORVEL_PASSWORD", qgetenv("NORVEL_PG_PASSWORD"));
        QSqlDatabase desk = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("desk"));
        desk.setDatabaseName(db.connectionString());
        QVERIFY2(desk.open(), qPrintable(desk.lastError().text()));
        QVERIFY(desk.transaction());
        QVERIFY(QSqlQuery(desk).exec(QStringLiteral("select * from lib_jieshu where js_libcard = '4444' for update")));
        BufferConsole waiting;
        waiting.errorTerminal = true;
        QElapsedTimer clock;
        clock.start();
        const Outcome refused = pad({"--dsn", dsn, "--user", user, "--apply", "--yes", "--lock-timeout", "5"}, waiting);
        const qint64 took = clock.elapsed();
        desk.rollback();
        desk.close();
        desk = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("desk"));
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains(QStringLiteral("等了5秒也没能锁定表lib_people和lib_jieshu")), qPrintable(refused.err));
        QVERIFY2(took < 15000, qPrintable(QString::number(took)));
        // While it waited, the progress line said why it might.
        QVERIFY2(refused.err.contains(QStringLiteral("服务器仍在执行这条语句")), qPrintable(refused.err));
        QVERIFY(tablesAre(Colliding, 0, db.connectionString()));
    }

    // A committed run taken back from its record after some lending: every loan since kept (the one
    // lent under a new number goes back with its card, the one returned stays returned), a password
    // changed since kept, everything else as before the run; the journal lists both, and the
    // record cannot be taken back twice.
    void undoRoundTrip()
    {
        makeLibrary(Colliding);
        const QString folder = freshFolder();
        const QString record = folder + QStringLiteral("/run.csv");
        QCOMPARE(pad({"--apply", "--yes", "--changes", record}).status, 2);
        QVERIFY(tablesAre(Colliding, 9));
        execSql(sqliteConnectionString(m_file),
                {QStringLiteral("insert into lib_jieshu (js_libcard) values ('000000007')"),
                 QStringLiteral("delete from lib_jieshu where js_libcard = '000000123'"),
                 QStringLiteral("update lib_people set pe_passwd = 'new' where pe_id = '000000123'")});
        const QStringList lentReaders = readers();
        const QStringList lentLoans = loans();

        const Outcome preview = pad({"--undo", record});
        QCOMPARE(preview.status, 0);
        QCOMPARE(readers(), lentReaders);
        QCOMPARE(loans(), lentLoans);
        QVERIFY2(preview.out.contains(QStringLiteral("撤销预览：")) && preview.out.contains(QStringLiteral("其中处理之后才借出的借阅记录：1\n"))
                     && preview.out.contains(QStringLiteral("密码此后改过、保持不变的读者：1\n")),
                 qPrintable(preview.out));

        const QString back = folder + QStringLiteral("/undo.csv");
        const Outcome undo = pad({"--undo", record, "--apply", "--yes", "--changes", back});
        QCOMPARE(undo.status, 0);
        QVERIFY2(undo.out.contains(QStringLiteral("已撤销，改动已提交：")), qPrintable(undo.out));
        const model::Library expected = library({{"7", "7"}, {"07", "abc"}, {"123", "new"}, {"45", "45"}, {"000000045", "twin"},
                                                 {"98765", QString()}, {"=1+1", ""}},
                                                {"7", "7", "7", "4444", "45", "=1+1"});
        QCOMPARE(readers(), model::canonicalReaders(expected.readers));
        QCOMPARE(loans(), model::canonicalLoans(expected.loans));
        const std::optional<RunManifest> undone = RunManifest::parse(read(back + QStringLiteral(".run")));
        QVERIFY(undone && undone->kind == RunManifest::Kind::Undo && undone->state == RunManifest::State::Applied);
        QCOMPARE(undone->undoOf, RunManifest::parse(read(record + QStringLiteral(".run")))->runId);

        const Outcome runs = pad({"--runs"});
        QCOMPARE(runs.status, 0);
        QVERIFY2(runs.out.contains(QStringLiteral("  处理  SQLite %1  长度9  7行  已撤销\n").arg(m_file)), qPrintable(runs.out));
        QVERIFY2(runs.out.contains(QStringLiteral("  撤销（")), qPrintable(runs.out));

        const Outcome again = pad({"--undo", record, "--apply", "--yes"});
        QCOMPARE(again.status, 1);
        QVERIFY2(again.err.contains(QStringLiteral("这次处理已经撤销过了")), qPrintable(again.err));
        QCOMPARE(readers(), model::canonicalReaders(expected.readers));

        // The undo's own record takes the undo back: the run again, with the lending kept.
        const Outcome redo = pad({"--undo", back, "--apply", "--yes"});
        QCOMPARE(redo.status, 0);
        QCOMPARE(loans(), lentLoans);
    }

    // Records the undo refuses before any change, each with its reason; and conflicts, which
    // refuse it with status 4 unless --partial leaves those cards as they are.
    void undoRefused_data()
    {
        QTest::addColumn<int>("situation");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("a preview's record") << 0 << QStringList() << 1 << QStringLiteral("是预览的记录");
        QTest::newRow("no manifest") << 1 << QStringList() << 1 << QStringLiteral("没有找到变更记录的清单文件");
        QTest::newRow("an edited record") << 2 << QStringList() << 1 << QStringLiteral("SHA-256不符");
        QTest::newRow("zeros stripped by a spreadsheet") << 3 << QStringList() << 1 << QStringLiteral("SHA-256不符");
        QTest::newRow("another database") << 4 << QStringList() << 1 << QStringLiteral("这个记录属于另一个数据库");
        QTest::newRow("a later run on the same cards") << 5 << QStringList() << 1 << QStringLiteral("请先撤销那一次");
        QTest::newRow("the old number taken again") << 6 << QStringList() << 4 << QStringLiteral("原证号7现在有读者在用");
        QTest::newRow("the old number taken again, --partial") << 6 << QStringList{"--partial"} << 0 << QString();
    }
    void undoRefused()
    {
        QFETCH(int, situation);
        QFETCH(QStringList, extra);
        QFETCH(int, status);
        QFETCH(QString, message);
        makeLibrary(Colliding);
        const QString folder = freshFolder();
        const QString record = folder + QStringLiteral("/run.csv");
        const auto rewrite = [&](const QByteArray &from, const QByteArray &to) {
            QByteArray text = read(record);
            text.replace(from, to);
            QFile file(record);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
        };
        if (situation == 0) {
            QCOMPARE(pad({"--changes", record}).status, 2);
        } else if (situation == 5) {
            QCOMPARE(pad({"--apply", "--yes", "--length", "4", "--changes", record}).status, 2);
            QCOMPARE(pad({"--apply", "--yes", "--changes", folder + QStringLiteral("/later.csv")}).status, 2);
        } else {
            QCOMPARE(pad({"--apply", "--yes", "--changes", record}).status, 2);
        }
        if (situation == 1)
            QVERIFY(QFile::remove(record + QStringLiteral(".run")));
        if (situation == 2)
            rewrite("4444", "4445");
        if (situation == 3)
            rewrite("000000123", "123");
        if (situation == 4)
            makeLibrary(model::run(Colliding, 9).after);
        if (situation == 6)
            execSql(sqliteConnectionString(m_file), {QStringLiteral("insert into lib_people (pe_id, pe_passwd) values ('7', 'new')")});
        const QStringList beforeReaders = readers();
        const QStringList beforeLoans = loans();

        const Outcome undo = pad(QStringList{"--undo", record, "--apply", "--yes"} + extra);
        QCOMPARE(undo.status, status);
        if (status != 0) {
            QVERIFY2((undo.err + undo.out).contains(message), qPrintable(undo.err + undo.out));
            QVERIFY2(undo.err.contains(QStringLiteral("没有做任何改动")), qPrintable(undo.err));
            QCOMPARE(readers(), beforeReaders);
            QCOMPARE(loans(), beforeLoans);
            return;
        }
        // --partial: reader 7 (new) and 000000007 both stay, with the two loans the run moved;
        // the rest is as before the run.
        QVERIFY2(undo.out.contains(QStringLiteral("原证号7现在有读者在用")), qPrintable(undo.out));
        const model::Library expected = library({{"7", "new"}, {"000000007", "000000007"}, {"07", "abc"}, {"123", ""}, {"45", "45"},
                                                 {"000000045", "twin"}, {"98765", QString()}, {"=1+1", ""}},
                                                {"000000007", "000000007", "123", "4444", "45", "=1+1"});
        QCOMPARE(readers(), model::canonicalReaders(expected.readers));
        QCOMPARE(loans(), model::canonicalLoans(expected.loans));
    }

    // Another table's column holding card numbers: the preview names it with its counts; --also
    // pads it with the loans (and names it no more); --no-scan does not look.
    void otherColumns()
    {
        makeLibrary(Clean);
        execSql(sqliteConnectionString(m_file), {QStringLiteral("create table lib_fine (fi_card varchar(20), fi_sum integer)"),
                                                 QStringLiteral("insert into lib_fine values ('7', 1), ('7', 2), ('123', 3), ('5', 4)")});
        const QString warning = QStringLiteral("警告：以下其他表的列中存有这次要补0的借书证号");
        const Outcome preview = pad({});
        QCOMPARE(preview.status, 0);
        QVERIFY2(preview.out.contains(warning) && preview.out.contains(QStringLiteral("\n  lib_fine.fi_card：3行，2个证号\n")),
                 qPrintable(preview.out));
        const Outcome unscanned = pad({"--no-scan"});
        QVERIFY2(!unscanned.out.contains(warning), qPrintable(unscanned.out));

        const Outcome carried = pad({"--also", "lib_fine.fi_card"});
        QVERIFY2(!carried.out.contains(warning), qPrintable(carried.out));
        QVERIFY2(carried.out.contains(QStringLiteral("随读者一起补0的其他列：lib_fine.fi_card\n"))
                     && carried.out.contains(QStringLiteral("其他表中随读者补0的值（--also）：4\n")),
                 qPrintable(carried.out.mid(carried.out.indexOf(QStringLiteral("合计")))));
        const QString folder = freshFolder();
        QCOMPARE(pad({"--also", "lib_fine.fi_card", "--apply", "--yes", "--changes", folder + QStringLiteral("/r.csv")}).status, 0);
        QCOMPARE(selectRows(sqliteConnectionString(m_file), QStringLiteral("select fi_card from lib_fine order by fi_sum")),
                 (QList<QStringList>{{"000000007"}, {"000000007"}, {"000000123"}, {"000000005"}}));
        QCOMPARE(RunManifest::parse(read(folder + QStringLiteral("/r.csv.run")))->alsoColumns, QStringList{"lib_fine.fi_card"});

        // Taken back with the run: the column's values too.
        QCOMPARE(pad({"--undo", folder + QStringLiteral("/r.csv"), "--apply", "--yes"}).status, 0);
        QCOMPARE(selectRows(sqliteConnectionString(m_file), QStringLiteral("select fi_card from lib_fine order by fi_sum")),
                 (QList<QStringList>{{"7"}, {"7"}, {"123"}, {"5"}}));
        QVERIFY(tablesAre(Clean, 0));
    }

    // On a server that tells case apart, the preview warns of a padded number that differs from
    // another reader's only in case; the apply does not look for them.
    void caseTwinsWarned()
    {
        makeLibrary(library({{"ab12", "p"}, {"000AB12", "q"}}, {"ab12"}));
        const Outcome preview = pad({"--length", "7"});
        QCOMPARE(preview.status, 0);
        QVERIFY2(preview.out.contains(QStringLiteral("只差大小写或全角半角")) && preview.out.contains(QStringLiteral("\n  ab12 → 000ab12（已有000AB12）\n")),
                 qPrintable(preview.out));
        const Outcome apply = pad({"--length", "7", "--apply", "--yes"});
        QCOMPARE(apply.status, 0);
        QVERIFY(!apply.out.contains(QStringLiteral("只差大小写")));
    }

    // A stop during an undo, as during a run: the statement under way cancelled, nothing changed,
    // no record of the undo, nothing in the journal.
    void stopDuringUndo()
    {
        makeLibrary(Colliding);
        const QString folder = freshFolder();
        const QString record = folder + QStringLiteral("/run.csv");
        QCOMPARE(pad({"--apply", "--yes", "--changes", record}).status, 2);
        const int journalled = QDir(m_dir.filePath(QStringLiteral("journal"))).entryList({QStringLiteral("*.run")}).size();
        BufferConsole console;
        console.onErr = [](const QString &text) {
            if (text.contains(QStringLiteral("update lib_people set pe_id = u.old_number")))
                Interrupts::request(SIGTERM);
        };
        const Outcome undo = pad({"--undo", record, "--apply", "--yes", "--sql", "--changes", folder + QStringLiteral("/undo.csv")}, console);
        QCOMPARE(undo.status, 1);
        QVERIFY2(undo.err.endsWith(QStringLiteral("norvel-pad: 已中断。改动没有提交，事务已回滚，数据库没有任何改动。\n")),
                 qPrintable(undo.err.right(300)));
        QVERIFY(tablesAre(Colliding, 9));
        QCOMPARE(filesIn(folder), (QStringList{"run.csv", "run.csv.run"}));
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("journal"))).entryList({QStringLiteral("*.run")}).size(), journalled);
    }
};

QTEST_GUILESS_MAIN(TestPadCommand)
#include "tst_padcommand.moc"
