// The card-number padding run on real servers through ODBC: PostgreSQL in its own dialect,
// PostgreSQL speaking the SQL Server texts verbatim (with char(n) card numbers, so trailing blanks
// compare as SQL Server compares them), and SQLite. The same cases run on all three.

#include "common/unGlobal.h"
#include "run/PaddingRun.h"
#include "platform/Exceptions.h"
#include "support/PaddingModel.h"
#include "support/TestEnvironment.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QTemporaryDir>
#include <QTest>

using namespace testenv;
using Dialect = PaddingStatements::Dialect;

Q_DECLARE_METATYPE(model::Library)

namespace {

// The window as the run sees it.
struct RecordingView : PaddingRunView
{
    QString length;
    bool progressVisible = false;
    QList<int> positions;
    QStringList lines;
    bool done = false;
    int finished = 0;

    QString lengthText() const override { return length; }
    void setProgressVisible(bool visible) override { progressVisible = visible; }
    void setProgressPosition(int position) override { positions << position; }
    void addResultLine(const QString &line) override { lines << line; }
    void setDone() override
    {
        progressVisible = false;
        done = true;
    }
    void showFinished() override { ++finished; }
};

struct Backend
{
    QString connectionString;
    std::optional<Dialect> forced;
    QString cardType;   // the card-number columns' type (readers' 20 characters, loans' 18)
};

model::Library library(const QList<model::Reader> &readers, const QStringList &loans = {})
{
    return {readers, loans};
}

} // namespace

class TestPaddingRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgDatabase> m_pg;
    std::unique_ptr<PgDatabase> m_pgSqlServer;
    QTemporaryDir m_sqliteDir;
    QMap<QString, Backend> m_backends;

    // Opens "LibDB" on the backend with the two tables holding `lib`.
    QSqlDatabase prepare(const Backend &backend, const model::Library &lib, const QStringList &extraSql = {})
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("LibDB"));
        db.setDatabaseName(backend.connectionString);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        const QStringList sql =
            model::tableStatements(lib, backend.cardType + QStringLiteral("(20)"), backend.cardType + QStringLiteral("(18)"))
            + extraSql;
        QSqlQuery q(db);
        for (const QString &s : std::as_const(sql)) {
            if (!q.exec(s))
                throw std::runtime_error((q.lastError().text() + u'\n' + s).toStdString());
        }
        return db;
    }

    static model::Library readBack(const QSqlDatabase &db)
    {
        model::Library lib;
        QSqlQuery q(db);
        q.exec(QStringLiteral("select pe_id, pe_passwd from lib_people"));
        while (q.next())
            lib.readers << model::Reader{q.isNull(0) ? QString() : q.value(0).toString(),
                                         q.isNull(1) ? QString() : q.value(1).toString()};
        q.exec(QStringLiteral("select js_libcard from lib_jieshu"));
        while (q.next())
            lib.loans << (q.isNull(0) ? QString() : q.value(0).toString());
        return lib;
    }

    static void closeLibDB()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("LibDB"), false);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("LibDB"));
    }

    struct RunResult
    {
        RecordingView view;
        QStringList statements;
        QList<int> passes;
        model::Library after;
        QString error;
        QString workMemAfter;   // PostgreSQL: the session's work_mem once the run is over
    };

    RunResult runOn(const QString &backendName, const model::Library &lib, const QString &length,
                    const QStringList &extraSql = {})
    {
        RunResult result;
        const Backend &backend = m_backends[backendName];
        {
            QSqlDatabase db = prepare(backend, lib, extraSql);
            QSqlQuery qrTmp(db);
            result.view.length = length;
            PaddingRun run(qrTmp, result.view);
            if (backend.forced)
                run.forceDialect(*backend.forced);
            run.setStatementObserver([&](const QString &text) { result.statements << text; });
            try {
                run.execute();
            } catch (const NorvelError &error) {
                result.error = error.message();
            }
            result.passes = run.passesRun();
            result.after = readBack(db);
            if (backendName.startsWith(QStringLiteral("pg"))) {
                QSqlQuery show(db);
                if (show.exec(QStringLiteral("show work_mem")) && show.next())
                    result.workMemAfter = show.value(0).toString();
            }
        }
        closeLibDB();
        return result;
    }

    // A run that stopped: both tables, passwords included, as before it, and the window as it was
    // when the error arose (progress bar showing, not done, nothing in the memo, no final message).
    static void checkNothingChanged(const RunResult &result, const model::Library &before)
    {
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(before.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(before.loans));
        QVERIFY(result.view.progressVisible);
        QVERIFY(!result.view.done);
        QVERIFY(result.view.lines.isEmpty());
        QCOMPARE(result.view.finished, 0);
    }

    // The memo's collision line split into card numbers.
    static QStringList collisionsShown(const RecordingView &view)
    {
        if (view.lines.size() != 2)
            return {};
        return view.lines[1].split(u' ', Qt::SkipEmptyParts);
    }

    void addBackendRows(const char *caseName, const std::function<void(QTestData &)> &fill)
    {
        for (const QString &name : m_backends.keys()) {
            QTestData &row = QTest::newRow(qPrintable(name + QStringLiteral(": ") + QLatin1String(caseName)));
            row << name;
            fill(row);
        }
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QFAIL(qPrintable(why));
        m_pg = std::make_unique<PgDatabase>();
        m_pgSqlServer = std::make_unique<PgDatabase>();
        // Enough of SQL Server's dialect for its texts to run unchanged.
        m_pgSqlServer->exec({QStringLiteral("CREATE FUNCTION len(text) RETURNS integer LANGUAGE sql IMMUTABLE STRICT "
                                            "AS $$ SELECT length(rtrim($1, ' ')) $$"),
                             QStringLiteral("CREATE OPERATOR + (LEFTARG = text, RIGHTARG = text, FUNCTION = textcat)")});
        m_backends[QStringLiteral("pg")] = {m_pg->connectionString(), std::nullopt, QStringLiteral("varchar")};
        m_backends[QStringLiteral("pg-sqlserver-texts")] = {m_pgSqlServer->connectionString(), Dialect::SqlServer,
                                                            QStringLiteral("char")};
        m_backends[QStringLiteral("sqlite")] = {sqliteConnectionString(m_sqliteDir.filePath(QStringLiteral("lib.db"))),
                                                std::nullopt, QStringLiteral("varchar")};
    }

    void cleanupTestCase()
    {
        m_pg.reset();
        m_pgSqlServer.reset();
    }

    void dialectFromServerName_data()
    {
        QTest::addColumn<QString>("dbms");
        QTest::addColumn<int>("dialect");
        QTest::newRow("sql server") << "Microsoft SQL Server" << int(Dialect::SqlServer);
        QTest::newRow("postgresql") << "PostgreSQL" << int(Dialect::PostgreSQL);
        QTest::newRow("sqlite") << "SQLite" << int(Dialect::SQLite);
        QTest::newRow("unknown") << "Adaptive Server Enterprise" << int(Dialect::SqlServer);
        QTest::newRow("empty") << "" << int(Dialect::SqlServer);
    }
    void dialectFromServerName()
    {
        QFETCH(QString, dbms);
        QFETCH(int, dialect);
        QCOMPARE(int(PaddingStatements::dialectFor(dbms)), dialect);
    }

    // Cases with their outcome written out by hand; each also checks the rules' second writing.
    void rules_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<model::Library>("before");
        QTest::addColumn<QString>("length");
        QTest::addColumn<model::Library>("after");
        QTest::addColumn<QStringList>("collisions");   // in the order of the passes
        QTest::addColumn<QList<int>>("passes");

        addBackendRows("worked example", [](QTestData &row) {
            row << library({{"7", "x"}, {"07", "y"}}, {"7", "07"}) << "4"
                << library({{"0007", "x"}, {"07", "y"}}, {"0007", "07"}) << QStringList{"07"} << QList<int>{1, 2};
        });
        addBackendRows("loan without reader", [](QTestData &row) {
            row << library({{"123", "p"}}, {"55", "123", "123456"}) << "5"
                << library({{"00123", "p"}}, {"00055", "00123", "123456"}) << QStringList{} << QList<int>{2, 3};
        });
        addBackendRows("collision within a pass", [](QTestData &row) {
            row << library({{"12", "a"}, {"0012", "b"}, {"34", "c"}}, {"12", "34", "0012"}) << "4"
                << library({{"12", "a"}, {"0012", "b"}, {"0034", "c"}}, {"12", "0034", "0012"}) << QStringList{"12"}
                << QList<int>{2};
        });
        addBackendRows("collisions across passes", [](QTestData &row) {
            row << library({{"1", "a"}, {"01", "b"}, {"001", "c"}}, {"1", "01", "001"}) << "4"
                << library({{"0001", "a"}, {"01", "b"}, {"001", "c"}}, {"0001", "01", "001"})
                << QStringList{"01", "001"} << QList<int>{1, 2, 3};
        });
        addBackendRows("loan padded onto a reader is left", [](QTestData &row) {
            row << library({{"5", "a"}, {"005", "b"}}, {"5"}) << "3" << library({{"5", "a"}, {"005", "b"}}, {"5"})
                << QStringList{"5"} << QList<int>{1};
        });
        addBackendRows("passwords", [](QTestData &row) {
            row << library({{"7", "7"}, {"8", ""}, {"9", QString()}, {"10", "secret"}, {"11", "011"}}) << "3"
                << library({{"007", "007"}, {"008", "008"}, {"009", QString()}, {"010", "secret"}, {"011", "011"}})
                << QStringList{} << QList<int>{1, 2};
        });
        addBackendRows("password of a reader left alone", [](QTestData &row) {
            row << library({{"7", "7"}, {"0007", "0007"}}) << "4" << library({{"7", "7"}, {"0007", "0007"}})
                << QStringList{"7"} << QList<int>{1};
        });
        addBackendRows("long and empty numbers untouched", [](QTestData &row) {
            row << library({{"", "z"}, {"123456789", "p"}, {"1234567890", "1234567890"}}, {"", "123456789"}) << "9"
                << library({{"", "z"}, {"123456789", "p"}, {"1234567890", "1234567890"}}, {"", "123456789"})
                << QStringList{} << QList<int>{};
        });
        addBackendRows("length 1 only marks and restores", [](QTestData &row) {
            row << library({{"7", "7"}, {"5", ""}, {"6", "x"}}, {"7"}) << "1"
                << library({{"7", "7"}, {"5", "5"}, {"6", "x"}}, {"7"}) << QStringList{} << QList<int>{};
        });
        addBackendRows("length 0", [](QTestData &row) {
            row << library({{"7", "x"}}, {"7"}) << "0" << library({{"7", "x"}}, {"7"}) << QStringList{} << QList<int>{};
        });
        addBackendRows("negative length", [](QTestData &row) {
            row << library({{"7", "x"}}, {"7"}) << "-5" << library({{"7", "x"}}, {"7"}) << QStringList{}
                << QList<int>{};
        });
        addBackendRows("length 9 runs eight passes", [](QTestData &row) {
            row << library({{"1", ""}, {"12", ""}, {"123", ""}, {"1234", ""}, {"12345", ""}, {"123456", ""},
                            {"1234567", ""}, {"12345678", ""}})
                << "9"
                << library({{"000000001", "000000001"}, {"000000012", "000000012"}, {"000000123", "000000123"},
                            {"000001234", "000001234"}, {"000012345", "000012345"}, {"000123456", "000123456"},
                            {"001234567", "001234567"}, {"012345678", "012345678"}})
                << QStringList{} << QList<int>{1, 2, 3, 4, 5, 6, 7, 8};
        });
        addBackendRows("only lengths that occur are run", [](QTestData &row) {
            row << library({{"123", "a"}, {"123456", "b"}}, {"12", "123"}) << " 9"
                << library({{"000000123", "a"}, {"000123456", "b"}}, {"000000012", "000000123"}) << QStringList{}
                << QList<int>{2, 3, 6};
        });
        addBackendRows("length above 13 pads exactly", [](QTestData &row) {
            row << library({{"1", "1"}, {"12", "b"}}, {"1"}) << "$F"
                << library({{"000000000000001", "000000000000001"}, {"000000000000012", "b"}}, {"000000000000001"})
                << QStringList{} << QList<int>{1, 2};
        });
    }
    void rules()
    {
        QFETCH(QString, backend);
        QFETCH(model::Library, before);
        QFETCH(QString, length);
        QFETCH(model::Library, after);
        QFETCH(QStringList, collisions);
        QFETCH(QList<int>, passes);

        // The rules' second writing agrees with the hand-written outcome.
        const model::Outcome predicted = model::run(before, StrToIntOr(length));
        QCOMPARE(model::canonicalReaders(predicted.after.readers), model::canonicalReaders(after.readers));
        QCOMPARE(model::canonicalLoans(predicted.after.loans), model::canonicalLoans(after.loans));
        QCOMPARE(predicted.collisions(), collisions);

        const RunResult result = runOn(backend, before, length);
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(after.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(after.loans));
        QCOMPARE(result.passes, passes);
        if (collisions.isEmpty()) {
            QCOMPARE(result.view.lines, QStringList{"处理成功完成!"});
        } else {
            QCOMPARE(result.view.lines.size(), 2);
            QCOMPARE(result.view.lines[0], QStringLiteral("以下条码修改后会与现有的条码重复,因此系统没有改动,请手工修改:"));
            QVERIFY(result.view.lines[1].startsWith(u' '));
            QCOMPARE(collisionsShown(result.view), collisions);
        }
        QVERIFY(result.view.done);
        QVERIFY(!result.view.progressVisible);
        QCOMPARE(result.view.finished, 1);
        // Each pass starts its progress at n * 8.
        for (const int n : passes)
            QVERIFY(result.view.positions.contains(n * 8));
    }

    // Random libraries with short numbers, padded twins and unknown cards: the run leaves exactly
    // what the rules predict, on every server.
    void matchesTheRules_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("seed");
        for (int seed = 1; seed <= 6; ++seed) {
            addBackendRows(qPrintable(QStringLiteral("seed %1").arg(seed)), [seed](QTestData &row) { row << seed; });
        }
    }
    void matchesTheRules()
    {
        QFETCH(QString, backend);
        QFETCH(int, seed);
        QRandomGenerator random(static_cast<quint32>(seed));
        const auto number = [&random] {
            const int digits = random.bounded(0, 8);
            QString s = QStringLiteral("");   // empty, not NULL
            for (int i = 0; i < digits; ++i)
                s += QChar(u'0' + random.bounded(0, 10));
            // Some numbers start with zeros: padded twins of shorter ones.
            if (random.bounded(0, 4) == 0)
                s.prepend(QString(random.bounded(1, 4), u'0'));
            return s.left(8);
        };
        model::Library before;
        for (int i = 0; i < 40; ++i) {
            const QString id = number();
            const int kind = random.bounded(0, 4);
            before.readers << model::Reader{id, kind == 0 ? id : kind == 1 ? QString("") : kind == 2 ? QString() : QString("pw")};
        }
        for (int i = 0; i < 60; ++i)
            before.loans << (random.bounded(0, 3) == 0 ? number() : before.readers[random.bounded(0, 40)].id);
        const int length = random.bounded(1, 10);

        const model::Outcome predicted = model::run(before, length);
        const RunResult result = runOn(backend, before, QString::number(length));
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(predicted.after.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(predicted.after.loans));
        // Collisions: the same numbers, pass by pass (a collision of pass n has n characters).
        QStringList shown = collisionsShown(result.view);
        QStringList expected = predicted.collisions();
        for (qsizetype i = 1; i < shown.size(); ++i)
            QVERIFY(shown[i - 1].size() <= shown[i].size());
        std::sort(shown.begin(), shown.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(shown, expected);
    }

    void invalidLengthChangesNothing_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("length");
        for (const char *length : {"", "abc", "9 ", "2147483648", "$"}) {
            addBackendRows(qPrintable(QStringLiteral("'%1'").arg(QLatin1String(length))),
                           [length](QTestData &row) { row << QString::fromLatin1(length); });
        }
    }
    void invalidLengthChangesNothing()
    {
        QFETCH(QString, backend);
        QFETCH(QString, length);
        const model::Library before = library({{"7", "7"}, {"07", ""}}, {"7"});
        const RunResult result = runOn(backend, before, length);
        QCOMPARE(result.error, QStringLiteral("'%1' is not a valid integer value").arg(length));
        QVERIFY(result.statements.isEmpty());
        checkNothingChanged(result, before);
    }

    // Refused before anything changes: a length no card-number column can hold, and a reader
    // without a card number (which would make every "not in" test unknown and pad nothing).
    void refusedBeforeChanging_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<model::Library>("before");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QStringList>("extraSql");
        QTest::addColumn<QString>("error");
        addBackendRows("typing slip", [](QTestData &row) {
            row << library({{"7", "7"}}, {"7"}) << "99999999" << QStringList{}
                << QStringLiteral("借书证长度99999999超过了字段lib_jieshu.js_libcard能存放的长度18，系统没有做任何改动");
        });
        addBackendRows("one more than the loans' column holds", [](QTestData &row) {
            row << library({{"7", "7"}}, {"7"}) << "19" << QStringList{}
                << QStringLiteral("借书证长度19超过了字段lib_jieshu.js_libcard能存放的长度18，系统没有做任何改动");
        });
        addBackendRows("reader without a number", [](QTestData &row) {
            row << library({{"7", "7"}, {QString(), "x"}, {QString(), ""}}, {"7"}) << "9" << QStringList{}
                << QStringLiteral("读者表中有2条记录的借书证号为空(NULL)，系统没有做任何改动。请先处理这些记录");
        });
        // Passwords become card numbers at the end of the run: their column must hold L characters.
        QTest::newRow("pg: passwords too narrow")
            << "pg" << library({{"7", "7"}}, {"7"}) << "11"
            << QStringList{"alter table lib_people alter column pe_passwd type varchar(10)"}
            << QStringLiteral("借书证长度11超过了字段lib_people.pe_passwd能存放的长度10，系统没有做任何改动");
    }
    void refusedBeforeChanging()
    {
        QFETCH(QString, backend);
        QFETCH(model::Library, before);
        QFETCH(QString, length);
        QFETCH(QStringList, extraSql);
        QFETCH(QString, error);
        const RunResult result = runOn(backend, before, length, extraSql);
        QCOMPARE(result.error, error);
        checkNothingChanged(result, before);
        for (const QString &statement : result.statements) {
            QVERIFY2(statement.startsWith(QStringLiteral("select")) || statement.startsWith(QStringLiteral("set local")),
                     qPrintable(statement));
        }
    }

    // A statement failing in the third pass: both tables, passwords included, exactly as before.
    void failureInTheThirdPassChangesNothing_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("trigger");
        const QStringList pg{
            QStringLiteral("create function boom() returns trigger language plpgsql as $$ begin "
                           "if length(rtrim(old.pe_id)) = 3 then raise exception 'boom in pass 3'; end if; "
                           "return new; end $$"),
            QStringLiteral("create trigger boom before update of pe_id on lib_people for each row execute function boom()")};
        const QStringList sqlite{QStringLiteral(
            "create trigger boom before update of pe_id on lib_people when length(rtrim(old.pe_id)) = 3 "
            "begin select raise(abort, 'boom in pass 3'); end")};
        QTest::newRow("pg") << "pg" << pg;
        QTest::newRow("pg-sqlserver-texts") << "pg-sqlserver-texts" << pg;
        QTest::newRow("sqlite") << "sqlite" << sqlite;
    }
    void failureInTheThirdPassChangesNothing()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, trigger);
        const model::Library before =
            library({{"1", "1"}, {"12", ""}, {"123", "123"}, {"0012", "x"}, {"55", QString()}}, {"1", "12", "123", "9"});
        QStringList sql = trigger;
        if (backend != QStringLiteral("sqlite"))
            sql.prepend(QStringLiteral("drop function if exists boom() cascade"));
        const RunResult result = runOn(backend, before, "6", sql);
        QVERIFY2(result.error.contains(QStringLiteral("boom in pass 3")), qPrintable(result.error));
        checkNothingChanged(result, before);
    }

    // The SQL Server texts, byte for byte, CR LF after every line.
    void sqlServerTextsExactly()
    {
        const RunResult result = runOn(QStringLiteral("pg-sqlserver-texts"),
                                       library({{"1", "a"}, {"12", "b"}, {"123", "c"}}, {"1"}), "4");
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        const QStringList expected{
            "select count(*) from lib_people\r\nwhere pe_id is null\r\n",
            "update lib_people set pe_passwd=''\r\nwhere pe_id=pe_passwd\r\n",
            "select distinct len(rtrim(pe_id)) from lib_people\r\nwhere len(rtrim(pe_id))<4\r\nunion\r\n"
            "select distinct len(rtrim(js_libcard)) from lib_jieshu\r\nwhere len(rtrim(js_libcard))<4\r\n",
            "select pe_id from lib_people\r\nwhere len(rtrim(pe_id))=1\r\n  and '000'+rtrim(pe_id) in (\r\n"
            "      select pe_id from lib_people)\r\n",
            "update lib_jieshu set\r\n  js_libcard='000'+rtrim(js_libcard)\r\nwhere len(rtrim(js_libcard))=1\r\n"
            "  and '000'+rtrim(js_libcard) not in (\r\n      select pe_id from lib_people)\r\n",
            "update lib_people set\r\n  pe_id='000'+rtrim(pe_id)\r\nwhere len(rtrim(pe_id))=1\r\n"
            "  and '000'+rtrim(pe_id) not in (\r\n      select pe_id from lib_people)\r\n",
            "select pe_id from lib_people\r\nwhere len(rtrim(pe_id))=2\r\n  and '00'+rtrim(pe_id) in (\r\n"
            "      select pe_id from lib_people)\r\n",
            "update lib_jieshu set\r\n  js_libcard='00'+rtrim(js_libcard)\r\nwhere len(rtrim(js_libcard))=2\r\n"
            "  and '00'+rtrim(js_libcard) not in (\r\n      select pe_id from lib_people)\r\n",
            "update lib_people set\r\n  pe_id='00'+rtrim(pe_id)\r\nwhere len(rtrim(pe_id))=2\r\n"
            "  and '00'+rtrim(pe_id) not in (\r\n      select pe_id from lib_people)\r\n",
            "select pe_id from lib_people\r\nwhere len(rtrim(pe_id))=3\r\n  and '0'+rtrim(pe_id) in (\r\n"
            "      select pe_id from lib_people)\r\n",
            "update lib_jieshu set\r\n  js_libcard='0'+rtrim(js_libcard)\r\nwhere len(rtrim(js_libcard))=3\r\n"
            "  and '0'+rtrim(js_libcard) not in (\r\n      select pe_id from lib_people)\r\n",
            "update lib_people set\r\n  pe_id='0'+rtrim(pe_id)\r\nwhere len(rtrim(pe_id))=3\r\n"
            "  and '0'+rtrim(pe_id) not in (\r\n      select pe_id from lib_people)\r\n",
            "update lib_people set pe_passwd=pe_id\r\nwhere pe_passwd=''\r\n"};
        QCOMPARE(result.statements, expected);
    }

    // PostgreSQL's own dialect never asks for NOT IN (subquery), which its stock settings run row by
    // row, and gives the run's transaction, and only it, room for its hash joins.
    void postgresqlDialect()
    {
        const RunResult result = runOn(QStringLiteral("pg"), library({{"1", "a"}, {"12", "b"}}, {"1"}), "4");
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QVERIFY(!result.statements.isEmpty());
        QCOMPARE(result.statements.first(), QStringLiteral("set local work_mem = '64MB'\r\n"));
        QCOMPARE(result.workMemAfter, QStringLiteral("4MB"));
        for (const QString &statement : result.statements) {
            QVERIFY2(!statement.contains(QStringLiteral("not in")), qPrintable(statement));
            QVERIFY2(!statement.contains(QStringLiteral("len(")), qPrintable(statement));
            QVERIFY2(!statement.contains(u'+'), qPrintable(statement));
        }
    }

private:
    static int StrToIntOr(const QString &text)
    {
        bool ok = false;
        const int v = text.trimmed().startsWith(u'$') ? text.trimmed().mid(1).toInt(&ok, 16) : text.trimmed().toInt(&ok);
        return ok ? v : 0;
    }
};

QTEST_GUILESS_MAIN(TestPaddingRun)
#include "tst_paddingrun.moc"
