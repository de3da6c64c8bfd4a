// The card-number padding run on real servers through ODBC: PostgreSQL in its own dialect (on
// varchar columns, and on text and char(n) ones), PostgreSQL speaking the SQL Server texts verbatim
// (with char(n) columns, so trailing blanks compare as SQL Server compares them), and SQLite (on
// varchar columns, and on columns without a declared type, which keep integers as integers). The
// same cases run on all of them, and every one must leave what SQL Server would.

#include "common/unGlobal.h"
#include "run/CheckStatements.h"
#include "run/AlsoColumn.h"
#include "run/PaddingRun.h"
#include "run/ReferenceScan.h"
#include "run/StatementRunner.h"
#include "run/SetStatements.h"
#include "platform/Exceptions.h"
#include "support/PaddingModel.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

using namespace testenv;
using Dialect = PaddingStatements::Dialect;

Q_DECLARE_METATYPE(model::Library)
Q_DECLARE_METATYPE(model::Columns)

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
    // The query that carries the run's statements, and for each statement whether its cursor was
    // forward-only, and its concurrency read-only, once the server had it.
    LibQuery *query = nullptr;
    QList<bool> forwardOnly;
    QList<bool> readOnly;

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
    void serverCallEnded() override
    {
        if (query) {
            forwardOnly << query->forwardOnly();
            readOnly << query->readOnlyConcurrency();
        }
    }
};

struct Backend
{
    QString connectionString;
    std::optional<Dialect> forced;
    model::Columns columns;   // readers' card numbers 20 characters, loans' 18, passwords 20 where bounded
    QString boundedType;      // the type of its columns of a given width: "varchar(%1)", "char(%1) collate ci", ...
    model::Fold fold = model::Fold::Binary;   // how its comparison folds card numbers
    // PostgreSQL and SQLite compute the run as a whole; these backends make them go pass by pass, as
    // on SQL Server, so that every case shows both ways give the same.
    bool passByPass = false;
};

model::Library library(const QList<model::Reader> &readers, const QStringList &loans = {})
{
    return {readers, loans};
}

struct CollectingSink : ChangeSink
{
    QList<ChangedCard> cards;
    void add(const ChangedCard &card) override { cards << card; }
};

QString trimmedText(const QString &value)
{
    QString text = model::shown(value);
    while (text.endsWith(u' '))
        text.chop(1);
    return text;
}

// A row of the record: old|new|password (the PasswordChange, -1 for a number found only in
// loans)|loans moved.
QString reportRow(const QString &oldNumber, const QString &newNumber, int password, qint64 loans)
{
    return QStringLiteral("%1|%2|%3|%4").arg(oldNumber, newNumber).arg(password).arg(loans);
}

// Rows in a form that does not depend on their order: readers that are one card by the server's
// comparison share its loans, and which of them the record puts them on is the database's order; a
// number found only in loans is recorded in one of its forms (the one the server picks).
QStringList canonicalRows(const QStringList &rows, model::Fold fold)
{
    QStringList out;
    QMap<QString, qint64> loans;
    for (const QString &row : rows) {
        const QStringList f = row.split(u'|');
        const bool loanOnly = f[2] == QStringLiteral("-1");
        const QString oldKey = model::key(f[0], fold);
        const QString newKey = model::key(f[1], fold);
        out << (loanOnly ? QStringList{oldKey, newKey, f[2]} : QStringList{f[0], f[1], f[2]}).join(u'|');
        loans[QStringList{oldKey, newKey, loanOnly ? f[2] : QString()}.join(u'|')] += f[3].toLongLong();
    }
    for (auto it = loans.cbegin(); it != loans.cend(); ++it)
        out << it.key() + QStringLiteral(" loans ") + QString::number(it.value());
    std::sort(out.begin(), out.end());
    return out;
}

struct ExpectedReport
{
    QStringList rows;
    PassFigures totals;
    qint64 emptyPasswordsFilled = 0;
};

// What the report must say: the difference of the tables before and after, with a loan belonging
// to the reader whose card number it equals by the server's comparison. A password that the run
// rewrites in another case (it equalled the card number) has not changed, to that server.
ExpectedReport expectedReport(const model::Library &before, const model::Outcome &outcome, model::Fold fold)
{
    ExpectedReport e;
    QMap<std::pair<QString, QString>, qint64> moved;
    for (qsizetype i = 0; i < before.loans.size(); ++i) {
        const QString &was = before.loans[i];
        if (!was.isNull() && trimmedText(was) != trimmedText(outcome.after.loans[i])) {
            ++moved[{model::key(was, fold), model::key(outcome.after.loans[i], fold)}];
            ++e.totals.loansPadded;
        }
    }
    for (qsizetype i = 0; i < before.readers.size(); ++i) {
        const model::Reader &was = before.readers[i];
        const model::Reader &is = outcome.after.readers[i];
        const bool emptyBefore = !was.password.isNull() && trimmedText(was.password).isEmpty();
        if (emptyBefore && !was.id.isNull() && !trimmedText(was.id).isEmpty())
            ++e.emptyPasswordsFilled;
        if (trimmedText(was.id) == trimmedText(is.id) && model::key(was.password, fold) == model::key(is.password, fold))
            continue;
        PasswordChange password = PasswordChange::Unchanged;
        if (emptyBefore)
            password = PasswordChange::WasEmpty;
        else if (!was.password.isNull() && model::key(was.password, fold) == model::key(was.id, fold))
            password = PasswordChange::FollowsCard;
        if (trimmedText(was.id) != trimmedText(is.id)) {
            ++e.totals.readersPadded;
            if (password == PasswordChange::FollowsCard)
                ++e.totals.passwordsFollowing;
        }
        e.rows << reportRow(trimmedText(was.id), trimmedText(is.id), int(password),
                            moved.take({model::key(was.id, fold), model::key(is.id, fold)}));
    }
    // Loans that end under a padded reader's number without having been that card's before: once per
    // card, however many readers share it.
    QSet<QString> padded;
    for (qsizetype i = 0; i < before.readers.size(); ++i) {
        const model::Reader &was = before.readers[i];
        const model::Reader &is = outcome.after.readers[i];
        if (!was.id.isNull() && trimmedText(was.id) != trimmedText(is.id))
            padded.insert(model::key(is.id, fold) + u'|' + model::key(was.id, fold));
    }
    for (const QString &card : std::as_const(padded)) {
        const QString newKey = card.section(u'|', 0, 0);
        const QString oldKey = card.section(u'|', 1);
        for (qsizetype i = 0; i < before.loans.size(); ++i) {
            if (!before.loans[i].isNull() && model::key(outcome.after.loans[i], fold) == newKey
                && model::key(before.loans[i], fold) != oldKey)
                ++e.totals.loansJoined;
        }
    }
    for (auto it = moved.cbegin(); it != moved.cend(); ++it)
        e.rows << reportRow(it.key().first, it.key().second, -1, it.value());
    return e;
}

} // namespace

class TestPaddingRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgDatabase> m_pg;
    std::unique_ptr<PgDatabase> m_pgSqlServer;
    QTemporaryDir m_sqliteDir;
    QMap<QString, Backend> m_backends;
    // The report the next runs fill, if any, and how they end.
    PaddingReport *m_report = nullptr;
    PaddingRun::Ending m_ending = PaddingRun::Ending::Commit;

    // Opens "LibDB" on the backend with the two tables holding `lib` (in the backend's columns
    // unless others are given).
    static QSqlDatabase openLibDB(const Backend &backend)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("LibDB"));
        db.setDatabaseName(backend.connectionString);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        return db;
    }

    QSqlDatabase prepare(const Backend &backend, const model::Library &lib, const QStringList &extraSql = {},
                         const std::optional<model::Columns> &columns = std::nullopt)
    {
        QSqlDatabase db = openLibDB(backend);
        // Tables an earlier case left with keys on the two (a fines table, say) go first.
        QStringList sql{QStringLiteral("drop table if exists lib_fine")};
        if (backend.connectionString.contains(pgDriver()))
            sql = {QStringLiteral("drop table if exists lib_fine, lib_card, lib_jieshu, lib_people cascade")};
        else if (backend.connectionString.contains(sqliteDriver()))
            sql.prepend(QStringLiteral("pragma foreign_keys = off"));
        sql += model::tableStatements(lib, columns.value_or(backend.columns)) + extraSql;
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
        // As text: the SQLite driver types a column without a declared type by its first value, and
        // would read the text "007" after an integer as a number.
        q.exec(QStringLiteral("select cast(pe_id as text), cast(pe_passwd as text) from lib_people"));
        while (q.next())
            lib.readers << model::Reader{q.isNull(0) ? QString() : q.value(0).toString(),
                                         q.isNull(1) ? QString() : q.value(1).toString()};
        q.exec(QStringLiteral("select cast(js_libcard as text) from lib_jieshu"));
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
        QStringList probed;     // the first column of m_probe's rows, once the run is over
    };
    // A select to read back after the next runs (a table of the test's own).
    QString m_probe;
    // Given to the next runs; with m_keepTables they run on the tables as they are.
    QList<AlsoColumn> m_also;
    int m_lockTimeout = 0;
    bool m_keepTables = false;
    std::function<void()> m_beforeCommit;

    RunResult runOn(const QString &backendName, const model::Library &lib, const QString &length,
                    const QStringList &extraSql = {}, const std::optional<model::Columns> &columns = std::nullopt)
    {
        RunResult result;
        const Backend &backend = m_backends[backendName];
        {
            QSqlDatabase db = m_keepTables ? openLibDB(backend) : prepare(backend, lib, extraSql, columns);
            LibQuery qrTmp(db);
            result.view.length = length;
            result.view.query = &qrTmp;
            PaddingRun run(qrTmp, result.view);
            if (backend.forced)
                run.forceDialect(*backend.forced);
            if (backend.passByPass)
                run.setMethod(PaddingRun::Method::PassByPass);
            run.setAlsoColumns(m_also);
            run.setStatementObserver([&](const QString &text) { result.statements << text; });
            run.setReport(m_report);
            run.setLockTimeout(m_lockTimeout);
            if (m_beforeCommit)
                run.setBeforeCommit(m_beforeCommit);
            try {
                run.execute(m_ending);
            } catch (const NorvelError &error) {
                result.error = error.message();
            }
            result.passes = run.passesRun();
            result.view.query = nullptr;
            result.after = readBack(db);
            if (!m_probe.isEmpty()) {
                QSqlQuery probe(db);
                if (!probe.exec(m_probe))
                    result.probed << QStringLiteral("probe failed: ") + probe.lastError().text();
                while (probe.next())
                    result.probed << probe.value(0).toString().trimmed();
            }
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
        checkWindowAsAtTheError(result);
    }
    static void checkWindowAsAtTheError(const RunResult &result)
    {
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

    // The collisions shown, checked to come pass by pass (a collision of pass n has n characters)
    // and sorted within a pass: the order of the rows within a pass is the server's.
    static QStringList passByPass(const RecordingView &view)
    {
        QStringList numbers = collisionsShown(view);
        for (qsizetype i = 1; i < numbers.size(); ++i) {
            if (numbers[i - 1].size() > numbers[i].size())
                return {QStringLiteral("out of pass order: ") + view.lines.value(1)};
        }
        return passByPass(numbers);
    }
    static QStringList passByPass(QStringList numbers)
    {
        std::sort(numbers.begin(), numbers.end(), [](const QString &a, const QString &b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        return numbers;
    }

    void addBackendRows(const char *caseName, const std::function<void(QTestData &)> &fill)
    {
        addBackendRows(caseName, [&fill](QTestData &row, const Backend &) { fill(row); });
    }
    void addBackendRows(const char *caseName, const std::function<void(QTestData &, const Backend &)> &fill)
    {
        for (auto it = m_backends.cbegin(); it != m_backends.cend(); ++it) {
            QTestData &row = QTest::newRow(qPrintable(it.key() + QStringLiteral(": ") + QLatin1String(caseName)));
            row << it.key();
            fill(row, it.value());
        }
    }

    // A preview and an apply with a record on the library: the tables as the rules say, and the
    // figures and every record row the difference of the tables before and after.
    void checkReport(const QString &backend, const model::Library &before, int length, const QStringList &extraSql = {},
                     const std::optional<model::Columns> &columns = std::nullopt)
    {
        const model::Fold fold = m_backends[backend].fold;
        const model::Outcome predicted = model::run(before, length, fold);
        const ExpectedReport expected = expectedReport(before, predicted, fold);
        for (const PaddingRun::Ending ending : {PaddingRun::Ending::RollBack, PaddingRun::Ending::Commit}) {
            CollectingSink sink;
            PaddingReport report(&sink);
            m_report = &report;
            m_ending = ending;
            const RunResult result = runOn(backend, before, QString::number(length), extraSql, columns);
            m_report = nullptr;
            m_ending = PaddingRun::Ending::Commit;
            QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
            const model::Library &after = ending == PaddingRun::Ending::Commit ? predicted.after : before;
            QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(after.readers));
            QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(after.loans));

            const PassFigures totals = report.totals();
            QCOMPARE(totals.readersPadded, expected.totals.readersPadded);
            QCOMPARE(totals.passwordsFollowing, expected.totals.passwordsFollowing);
            QCOMPARE(totals.loansPadded, expected.totals.loansPadded);
            QCOMPARE(totals.readersLeftAlone, qint64(predicted.collisions().size()));
            QCOMPARE(report.emptyPasswordsFilled, expected.emptyPasswordsFilled);
            QStringList rows;
            QStringList leftAlone;
            qint64 joined = 0;
            for (const ChangedCard &card : std::as_const(sink.cards)) {
                if (card.leftAlone) {
                    leftAlone << card.oldNumber;
                    continue;
                }
                joined += card.joinedLoans;
                rows << reportRow(card.oldNumber, card.newNumber, card.reader ? int(card.password) : -1, card.loans);
            }
            QCOMPARE(canonicalRows(rows, fold), canonicalRows(expected.rows, fold));
            // The readers left alone are in the record too, as the collision list names them.
            QCOMPARE(passByPass(leftAlone), passByPass(predicted.collisions()));
            // Loans under a padded reader's new number before the run that are under it now.
            if (length <= 13) {
                QCOMPARE(joined, expected.totals.loansJoined);
                QCOMPARE(totals.loansJoined, expected.totals.loansJoined);
            }
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
        // A case- and width-insensitive collation, as SQL Server's Chinese_PRC_CI_AS, and citext.
        m_pg->exec({QStringLiteral("create collation ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false)"),
                    QStringLiteral("create extension citext")});
        // Enough of SQL Server's dialect for its texts to run unchanged.
        m_pgSqlServer->exec({QStringLiteral("CREATE FUNCTION len(text) RETURNS integer LANGUAGE sql IMMUTABLE STRICT "
                                            "AS $$ SELECT length(rtrim($1, ' ')) $$"),
                             QStringLiteral("CREATE OPERATOR + (LEFTARG = text, RIGHTARG = text, FUNCTION = textcat)"),
                             QStringLiteral("create collation ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false)")});
        const auto sized = [](const QString &type) {
            return model::Columns{type.arg(20), type.arg(18), type.arg(20)};
        };
        const QString varchar = QStringLiteral("varchar(%1)");
        const QString sqlite = sqliteConnectionString(m_sqliteDir.filePath(QStringLiteral("lib.db")));
        using model::Fold;
        m_backends[QStringLiteral("pg")] = {m_pg->connectionString(), std::nullopt, sized(varchar), varchar};
        m_backends[QStringLiteral("pg-text-char")] = {
            m_pg->connectionString(), std::nullopt,
            {QStringLiteral("text"), QStringLiteral("char(18)"), QStringLiteral("text")}, varchar};
        m_backends[QStringLiteral("pg-sqlserver-texts")] = {m_pgSqlServer->connectionString(), Dialect::SqlServer,
                                                            sized(QStringLiteral("char(%1)")), QStringLiteral("char(%1)")};
        // SQL Server's usual collation: the SQL Server texts on columns of a case- and width-insensitive
        // collation; PostgreSQL's own dialect on such columns and on citext.
        const QString ci = QStringLiteral("varchar(%1) collate ci");
        const QString ciChar = QStringLiteral("char(%1) collate ci");
        m_backends[QStringLiteral("pg-ci-sqlserver-texts")] = {m_pgSqlServer->connectionString(), Dialect::SqlServer,
                                                               sized(ciChar), ciChar, Fold::CaseAndWidth};
        m_backends[QStringLiteral("pg-ci")] = {m_pg->connectionString(), std::nullopt, sized(ci), ci, Fold::CaseAndWidth};
        m_backends[QStringLiteral("pg-citext")] = {
            m_pg->connectionString(), std::nullopt,
            {QStringLiteral("citext"), QStringLiteral("citext"), QStringLiteral("citext")}, varchar, Fold::UnicodeCase};
        m_backends[QStringLiteral("sqlite")] = {sqlite, std::nullopt, sized(varchar), varchar};
        m_backends[QStringLiteral("sqlite-untyped")] = {sqlite, std::nullopt, {QString(), QString(), QString()}, varchar};
        const QString nocase = QStringLiteral("varchar(%1) collate nocase");
        m_backends[QStringLiteral("sqlite-nocase")] = {sqlite, std::nullopt, sized(nocase), nocase, Fold::AsciiCase};
        for (const char *name : {"pg", "pg-ci", "sqlite-untyped", "sqlite-nocase"}) {
            Backend passes = m_backends[QLatin1String(name)];
            passes.passByPass = true;
            m_backends[QLatin1String(name) + QStringLiteral("-passes")] = passes;
        }
        // A real SQL Server, where one is at hand: NORVEL_TEST_MSSQL_DSN names its data source
        // (NORVEL_TEST_MSSQL_USER and NORVEL_TEST_MSSQL_PASSWORD its login), on a database whose
        // collation ignores case and width unless NORVEL_TEST_MSSQL_FOLD=binary says otherwise.
        if (const QString dsn = qEnvironmentVariable("NORVEL_TEST_MSSQL_DSN"); !dsn.isEmpty()) {
            const QString connection = QStringLiteral("DSN=%1;UID={%2};PWD={%3}")
                                           .arg(dsn, qEnvironmentVariable("NORVEL_TEST_MSSQL_USER"),
                                                qEnvironmentVariable("NORVEL_TEST_MSSQL_PASSWORD"));
            const Fold fold = qEnvironmentVariable("NORVEL_TEST_MSSQL_FOLD") == QStringLiteral("binary") ? Fold::Binary
                                                                                                       : Fold::CaseAndWidth;
            m_backends[QStringLiteral("mssql")] = {connection, std::nullopt, sized(varchar), varchar, fold};
        }
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
        // Above 13 a pass adds at most the literal's 12 zeros; the pass of the new length adds the rest.
        addBackendRows("length above 13: twelve zeros at a time", [](QTestData &row) {
            row << library({{"1", "1"}, {"12", "b"}}, {"1"}) << "$F"
                << library({{"000000000000001", "000000000000001"}, {"000000000000012", "b"}}, {"000000000000001"})
                << QStringList{} << QList<int>{1, 2, 13, 14};
        });
        // The 1-character number meets the 13-character reader after its first twelve zeros: it is
        // listed and keeps its loan, and the 13-character reader gets its one zero.
        addBackendRows("length above 13: collision after twelve zeros", [](QTestData &row) {
            row << library({{"7", "7"}, {"0000000000007", "x"}}, {"7"}) << "14"
                << library({{"7", "7"}, {"00000000000007", "x"}}, {"7"}) << QStringList{"7"} << QList<int>{1, 13};
        });
        addBackendRows("length above 13: collision in the second pass of a number", [](QTestData &row) {
            row << library({{"5", "5"}, {"000000000000005", "y"}}, {"5", "5"}) << "15"
                << library({{"0000000000005", "0000000000005"}, {"000000000000005", "y"}},
                           {"0000000000005", "0000000000005"})
                << QStringList{"0000000000005"} << QList<int>{1, 13};
        });

        // Trailing blanks never count, whatever the column type: "7" collides with "000000007 ", so
        // reader and loan stay and 7 is listed (padding them would give two readers one number).
        addBackendRows("reader's number with a trailing blank is taken", [](QTestData &row) {
            row << library({{"7", "x"}, {"000000007 ", "y"}}, {"7"}) << "9"
                << library({{"7", "x"}, {"000000007 ", "y"}}, {"7"}) << QStringList{"7"} << QList<int>{1};
        });
        addBackendRows("password with a trailing blank follows its card", [](QTestData &row) {
            row << library({{"1234567", "1234567 "}, {"7654321 ", "7654321"}}) << "9"
                << library({{"001234567", "001234567"}, {"007654321", "007654321"}}) << QStringList{}
                << QList<int>{7};
        });
        addBackendRows("blank-only password is empty", [](QTestData &row) {
            row << library({{"12", " "}, {"34", "  "}, {"56", "x "}}) << "4"
                << library({{"0012", "0012"}, {"0034", "0034"}, {"0056", "x"}}) << QStringList{} << QList<int>{2};
        });
        addBackendRows("blanks after short numbers", [](QTestData &row) {
            row << library({{"5 ", "5"}, {"0005", "a"}, {"6 ", "b"}}, {"5 ", "6 ", "6"}) << "4"
                << library({{"5 ", "5"}, {"0005", "a"}, {"0006", "b"}}, {"5 ", "0006", "0006"}) << QStringList{"5"}
                << QList<int>{1};
        });
        // An integer is the card number (or password) it shows: integer 8 collides with "0008",
        // integer 7 and the text "7" are one number.
        addBackendRows("integers are the numbers they show", [](QTestData &row) {
            using model::integer;
            row << library({{integer(7), "7"}, {"0008", "p"}, {integer(8), integer(8)}, {"55", integer(55)}},
                           {integer(7), integer(8), "55"})
                << "4"
                << library({{"0007", "0007"}, {"0008", "p"}, {integer(8), integer(8)}, {"0055", "0055"}},
                           {"0007", integer(8), "0055"})
                << QStringList{"8"} << QList<int>{1, 2};
        });
        addBackendRows("collisions listed as the numbers show", [](QTestData &row) {
            row << library({{model::integer(12), "a"}, {"0012", "b"}, {"07", "c"}, {"0007", "d"}}) << "4"
                << library({{model::integer(12), "a"}, {"0012", "b"}, {"07", "c"}, {"0007", "d"}})
                << QStringList{"12", "07"} << QList<int>{2};
        });

        // Where the server folds case (and width), its comparison decides which number is taken.
        using model::Fold;
        const auto foldsCase = [](Fold fold) { return fold != Fold::Binary; };
        addBackendRows("loan that is a reader's padded number but for case", [&](QTestData &row, const Backend &backend) {
            const bool folds = foldsCase(backend.fold);
            row << library({{"000AB12", "x"}}, {"ab12"}) << "7"
                << library({{"000AB12", "x"}}, {folds ? "ab12" : "000ab12"}) << QStringList{} << QList<int>{4};
        });
        addBackendRows("case twin of a reader", [&](QTestData &row, const Backend &backend) {
            const bool folds = foldsCase(backend.fold);
            row << library({{"ab12", "ab12"}, {"000AB12", "q"}}, {"ab12", "AB12"}) << "7"
                << library({{folds ? "ab12" : "000ab12", folds ? "ab12" : "000ab12"}, {"000AB12", "q"}},
                           {folds ? "ab12" : "000ab12", "AB12"})
                << (folds ? QStringList{"ab12"} : QStringList{}) << QList<int>{4};
        });
        // An unrelated number with a trailing blank makes the statements compare trimmed values,
        // which must not lose the column's comparison.
        addBackendRows("case twin of a reader, values trimmed", [&](QTestData &row, const Backend &backend) {
            const bool folds = foldsCase(backend.fold);
            row << library({{"ab12", "p"}, {"000AB12", "q"}, {"99 ", "r"}}) << "7"
                << library({{folds ? "ab12" : "000ab12", "p"}, {"000AB12", "q"}, {"0000099", "r"}})
                << (folds ? QStringList{"ab12"} : QStringList{}) << QList<int>{2, 4};
        });
        addBackendRows("width twin of a reader", [&](QTestData &row, const Backend &backend) {
            const bool folds = backend.fold == Fold::CaseAndWidth;
            row << library({{"\uFF11\uFF12", "\uFF11\uFF12"}, {"0012", "q"}}, {"\uFF11\uFF12"}) << "4"
                << library({{folds ? "\uFF11\uFF12" : "00\uFF11\uFF12", folds ? "\uFF11\uFF12" : "00\uFF11\uFF12"}, {"0012", "q"}},
                           {folds ? "\uFF11\uFF12" : "00\uFF11\uFF12"})
                << (folds ? QStringList{"\uFF11\uFF12"} : QStringList{}) << QList<int>{2};
        });
        addBackendRows("password equal to the card number but for case", [&](QTestData &row, const Backend &backend) {
            const bool folds = foldsCase(backend.fold);
            row << library({{"AB1", "ab1"}, {"CD2", "x"}}) << "4"
                << library({{"0AB1", folds ? "0AB1" : "ab1"}, {"0CD2", "x"}}) << QStringList{} << QList<int>{3};
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
        const model::Outcome predicted = model::run(before, StrToIntOr(length), m_backends[backend].fold);
        QCOMPARE(model::canonicalReaders(predicted.after.readers), model::canonicalReaders(after.readers));
        QCOMPARE(model::canonicalLoans(predicted.after.loans), model::canonicalLoans(after.loans));
        QCOMPARE(predicted.collisions(), collisions);

        const RunResult result = runOn(backend, before, length);
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(after.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(after.loans));
        // Pass by pass, exactly the passes the lengths call for. Computed as a whole, the run shows the
        // passes of the readers' lengths (those of numbers found only in loans need no pass of their
        // own), each with its progress.
        const Backend &b = m_backends[backend];
        const bool byPasses = b.passByPass || b.forced == Dialect::SqlServer;
        if (byPasses) {
            QCOMPARE(result.passes, passes);
        } else {
            for (const int n : result.passes)
                QVERIFY2(passes.contains(n), qPrintable(QString::number(n)));
        }
        if (collisions.isEmpty()) {
            QCOMPARE(result.view.lines, QStringList{"处理成功完成!"});
        } else {
            QCOMPARE(result.view.lines.size(), 2);
            QCOMPARE(result.view.lines[0], QStringLiteral("以下条码修改后会与现有的条码重复,因此系统没有改动,请手工修改:"));
            QVERIFY(result.view.lines[1].startsWith(u' '));
            QCOMPARE(passByPass(result.view), passByPass(collisions));
        }
        QVERIFY(result.view.done);
        QVERIFY(!result.view.progressVisible);
        QCOMPARE(result.view.finished, 1);
        // Each pass starts its progress at n * 8.
        for (const int n : result.passes)
            QVERIFY(result.view.positions.contains(n * 8));
        // Every statement, the updates too, went out on a forward-only, read-only cursor, and the
        // driver kept it so (FreeTDS would otherwise open a server cursor for each).
        // (The SQLite driver knows one concurrency only, "lock".)
        QCOMPARE(result.view.forwardOnly.size(), result.statements.size());
        for (qsizetype i = 0; i < result.statements.size(); ++i) {
            QVERIFY2(result.view.forwardOnly[i], qPrintable(result.statements[i]));
            QVERIFY2(result.view.readOnly[i] || backend.startsWith(QStringLiteral("sqlite")), qPrintable(result.statements[i]));
        }
    }

    // A random library of 40 readers and 60 loans with short numbers, padded twins, unknown cards,
    // trailing blanks, blank passwords and integers, numbers with letters and full-width digits and
    // the same numbers in another case or width, and a length from 1 to 9 (or 14 to 18).
    static std::pair<model::Library, int> randomLibrary(int seed)
    {
        QRandomGenerator random(static_cast<quint32>(seed));
        const QString others = QStringLiteral("aAbB\uFF11\uFF12");
        const auto number = [&random, &others] {
            const int digits = random.bounded(0, 8);
            QString s = QStringLiteral("");   // empty, not NULL
            for (int i = 0; i < digits; ++i)
                s += QChar(u'0' + random.bounded(0, 10));
            if (!s.isEmpty() && random.bounded(0, 4) == 0)
                s[random.bounded(0, int(s.size()))] = others[random.bounded(0, int(others.size()))];
            // Some numbers start with zeros: padded twins of shorter ones.
            if (random.bounded(0, 4) == 0)
                s.prepend(QString(random.bounded(1, 4), u'0'));
            s.truncate(8);
            // Some are integers, some have trailing blanks.
            const int form = random.bounded(0, 6);
            bool digitsOnly = !s.isEmpty() && !s.startsWith(u'0');
            for (const QChar c : std::as_const(s))
                digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
            if (form == 0 && digitsOnly)
                return model::integer(s.toLongLong());
            if (form == 1)
                s += QString(random.bounded(1, 3), u' ');
            return s;
        };
        // The same number in another form: with or without trailing blanks, as an integer or text, in
        // the other case or width (the same card where the server folds them).
        const auto sameNumber = [&random](const QString &id) {
            QString digits = model::shown(id);
            while (digits.endsWith(u' '))
                digits.chop(1);
            bool plain = !digits.isEmpty() && !digits.startsWith(u'0');
            for (const QChar c : std::as_const(digits))
                plain = plain && c >= u'0' && c <= u'9';
            switch (random.bounded(0, 4)) {
            case 0:
                return id;
            case 1:
                return digits + u' ';
            case 2: {
                QString other = digits;
                for (QChar &c : other) {
                    if (c.isLower())
                        c = c.toUpper();
                    else if (c.isUpper())
                        c = c.toLower();
                    else if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
                        c = QChar(c.unicode() - 0xFF10 + u'0');
                    else if (c == u'1' || c == u'2')
                        c = QChar(c.unicode() - u'0' + 0xFF10);
                }
                return other;
            }
            default:
                return plain ? model::integer(digits.toLongLong()) : digits;
            }
        };
        model::Library before;
        for (int i = 0; i < 40; ++i) {
            const QString id = number();
            const int kind = random.bounded(0, 5);
            before.readers << model::Reader{id, kind == 0 ? sameNumber(id)
                                                : kind == 1 ? QString("")
                                                : kind == 2 ? QString()
                                                : kind == 3 ? QString(random.bounded(1, 3), u' ')
                                                            : QString("pw")};
        }
        for (int i = 0; i < 60; ++i)
            before.loans << (random.bounded(0, 3) == 0 ? number() : sameNumber(before.readers[random.bounded(0, 40)].id));
        // Seeds above 6 take a length from 14 to 18, where numbers are padded in two passes.
        return {before, seed > 6 ? random.bounded(14, 19) : random.bounded(1, 10)};
    }

    // Random libraries with short numbers, padded twins, unknown cards, trailing blanks, blank
    // passwords and integers: the run leaves exactly what the rules predict, on every server.
    void matchesTheRules_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("seed");
        for (int seed = 1; seed <= 8; ++seed) {
            addBackendRows(qPrintable(QStringLiteral("seed %1").arg(seed)), [seed](QTestData &row) { row << seed; });
        }
    }
    void matchesTheRules()
    {
        QFETCH(QString, backend);
        QFETCH(int, seed);
        const auto [before, length] = randomLibrary(seed);
        const model::Outcome predicted = model::run(before, length, m_backends[backend].fold);
        const RunResult result = runOn(backend, before, QString::number(length));
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(predicted.after.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(predicted.after.loans));
        QCOMPARE(passByPass(result.view), passByPass(predicted.collisions()));
    }

    // The report of a run (its figures and the record of changed cards) reads with the run's own
    // comparisons: on random libraries with trailing blanks and integers it is exactly the
    // difference of the tables before and after, row for row (old and new number, what happened to
    // the password, loans moved, numbers found only in loans), and a preview (rolled back) reports
    // the same and changes nothing.
    void reportMatchesTheRules_data() { matchesTheRules_data(); }
    void reportMatchesTheRules()
    {
        QFETCH(QString, backend);
        QFETCH(int, seed);
        const auto [before, length] = randomLibrary(seed);
        checkReport(backend, before, length);
    }

    // The record gives the server's own answers where it folds case and width: a loan belongs to the
    // reader whose number it equals by the server's comparison, and a loan taken for a reader's
    // padded number is left as the run leaves it. With and without a record the run does the same.
    void recordFollowsTheServersComparison_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<model::Library>("before");
        QTest::addColumn<int>("length");
        addBackendRows("loan that is a reader's padded number but for case",
                       [](QTestData &row) { row << library({{"000AB12", "x"}}, {"ab12"}) << 7; });
        addBackendRows("loans of a reader in another case",
                       [](QTestData &row) { row << library({{"A12", "A12"}}, {"a12", "a12"}) << 5; });
        addBackendRows("case twins", [](QTestData &row) {
            row << library({{"ab12", "ab12"}, {"000AB12", "q"}, {"AB7", ""}}, {"ab12", "AB12", "ab7", "Ab7"}) << 7;
        });
        addBackendRows("width twins", [](QTestData &row) {
            row << library({{"\uFF11\uFF12", "12"}, {"0012", "q"}, {"\uFF13", "3"}}, {"\uFF11\uFF12", "3", "\uFF13"}) << 4;
        });
    }
    void recordFollowsTheServersComparison()
    {
        QFETCH(QString, backend);
        QFETCH(model::Library, before);
        QFETCH(int, length);
        checkReport(backend, before, length);
        const model::Outcome predicted = model::run(before, length, m_backends[backend].fold);
        const RunResult result = runOn(backend, before, QString::number(length));
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(predicted.after.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(predicted.after.loans));
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

    // The checks before anything changes. Refused: a reader without a card number (which would make
    // every "not in" test unknown and pad nothing), a database without the tables and columns the
    // run uses, a card-number column of a numeric type, a card number that would be padded beyond
    // its column, a password that the last step would set to a number longer than its column.
    // Let through: a narrow column that nothing would overflow (an empty error below).
    void checksBeforeChanging_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<model::Library>("before");
        QTest::addColumn<QString>("length");
        QTest::addColumn<model::Columns>("columns");
        QTest::addColumn<QStringList>("extraSql");
        QTest::addColumn<QString>("error");
        const QString done = QStringLiteral("，系统没有做任何改动");

        addBackendRows("reader without a number", [&](QTestData &row, const Backend &backend) {
            row << library({{"7", "7"}, {QString(), "x"}, {QString(), ""}}, {"7"}) << "9" << backend.columns << QStringList{}
                << QStringLiteral("读者表中有2条记录的借书证号为空(NULL)，系统没有做任何改动。请先处理这些记录");
        });

        // Widths of the readers' card number, the loans' card number and the password, in the
        // backend's bounded type.
        const auto widths = [](const Backend &backend, int reader, int loan, int password) {
            const auto type = [&](int width) { return backend.boundedType.arg(width); };
            return model::Columns{type(reader), type(loan), type(password)};
        };
        const auto cardTooLong = [&](int length, const char *column, int width) {
            return QStringLiteral("借书证长度%1超过了字段%2能存放的长度%3").arg(length).arg(QLatin1String(column)).arg(width) + done;
        };
        const auto passwordTooLong = [&](int length, int width) {
            return QStringLiteral("有读者的密码处理后会是%1位的借书证号，超过了字段lib_people.pe_passwd能存放的长度%2")
                       .arg(length)
                       .arg(width)
                + done;
        };
        addBackendRows("typing slip", [&](QTestData &row, const Backend &backend) {
            row << library({{"7", "7"}}, {"7"}) << "99999999" << widths(backend, 20, 18, 20) << QStringList{}
                << cardTooLong(99999999, "lib_jieshu.js_libcard", 18);
        });
        addBackendRows("one more than the loans' column holds", [&](QTestData &row, const Backend &backend) {
            row << library({{"7", "7"}}, {"7"}) << "19" << widths(backend, 20, 18, 20) << QStringList{}
                << cardTooLong(19, "lib_jieshu.js_libcard", 18);
        });
        addBackendRows("readers' column too narrow", [&](QTestData &row, const Backend &backend) {
            row << library({{"123456", "x"}, {"7", "y"}}) << "9" << widths(backend, 6, 18, 20) << QStringList{}
                << cardTooLong(9, "lib_people.pe_id", 6);
        });
        addBackendRows("loans' column too narrow, but no loan to pad", [&](QTestData &row, const Backend &backend) {
            row << library({{"7", "x"}}, {"", QString()}) << "9" << widths(backend, 20, 6, 20) << QStringList{} << QString();
        });
        addBackendRows("marked password longer than its column", [&](QTestData &row, const Backend &backend) {
            row << library({{"123", "123"}, {"45", "x"}}) << "9" << widths(backend, 20, 18, 8) << QStringList{}
                << passwordTooLong(9, 8);
        });
        addBackendRows("password column narrower than the length, no password to set", [&](QTestData &row, const Backend &backend) {
            row << library({{"123", "secret"}, {"123456789", "x"}, {"45", QString()}}, {"123"}) << "9"
                << widths(backend, 20, 18, 8) << QStringList{} << QString();
        });
        addBackendRows("long card copied into an empty password", [&](QTestData &row, const Backend &backend) {
            row << library({{"12", "12"}, {"123456789", ""}}) << "4" << widths(backend, 20, 18, 8) << QStringList{}
                << passwordTooLong(9, 8);
        });
        addBackendRows("long card copied into a blank password", [&](QTestData &row, const Backend &backend) {
            row << library({{"123456789", " "}}) << "4" << widths(backend, 20, 18, 8) << QStringList{}
                << passwordTooLong(9, 8);
        });
        addBackendRows("long card copied, length 1", [&](QTestData &row, const Backend &backend) {
            row << library({{"1234567890", ""}}) << "1" << widths(backend, 20, 18, 8) << QStringList{}
                << passwordTooLong(10, 8);
        });
        addBackendRows("long card with its own password", [&](QTestData &row, const Backend &backend) {
            row << library({{"123456789", "x"}, {"1", "1"}}) << "4" << widths(backend, 20, 18, 8) << QStringList{}
                << QString();
        });

        // Unbounded text holds the limit of 255.
        const model::Columns pgText{QStringLiteral("text"), QStringLiteral("text"), QStringLiteral("text")};
        const model::Columns untyped{QString(), QString(), QString()};
        for (const auto &[name, columns] : {std::pair{"pg", pgText}, std::pair{"sqlite", untyped}}) {
            QTest::addRow("%s: unbounded columns, typing slip", name)
                << name << library({{"7", "7"}}, {"7"}) << "300" << columns << QStringList{}
                << QStringLiteral("借书证长度300超过了255") + done;
            QTest::addRow("%s: unbounded columns, long length", name)
                << name << library({{"7", "7"}}, {"7"}) << "40" << columns << QStringList{} << QString();
        }

        // Card-number columns that cannot keep leading zeros.
        const auto numeric = [&](const char *columns) {
            return QStringLiteral("字段%1是数值类型，存不下借书证号前面补的0，系统没有做任何改动。请先把它改成字符类型")
                .arg(QString::fromUtf8(columns));
        };
        addBackendRows("readers' numbers are integers", [&](QTestData &row, const Backend &backend) {
            model::Columns columns = backend.columns;
            columns.readerCard = QStringLiteral("integer");
            row << library({{"7", "7"}}, {"7"}) << "9" << columns << QStringList{} << numeric("lib_people.pe_id");
        });
        const auto numericRow = [&](const char *backend, const char *name, const char *length,
                                    const model::Columns &columns, const char *refused) {
            QTest::addRow("%s: %s", backend, name) << backend << library({{"7", "7"}}, {"7"}) << length << columns
                                                   << QStringList{} << numeric(refused);
        };
        const auto pg = m_backends[QStringLiteral("pg")].columns;
        const auto sqlite = m_backends[QStringLiteral("sqlite")].columns;
        numericRow("pg", "loans' numbers are numeric", "9", {pg.readerCard, QStringLiteral("numeric(12,0)"), pg.password},
                   "lib_jieshu.js_libcard");
        numericRow("pg", "both bigint, length 1", "1", {QStringLiteral("bigint"), QStringLiteral("bigint"), pg.password},
                   "lib_people.pe_id、lib_jieshu.js_libcard");
        numericRow("pg-sqlserver-texts", "smallint", "9",
                   {QStringLiteral("smallint"), QStringLiteral("char(18)"), QStringLiteral("char(20)")}, "lib_people.pe_id");
        // SQLite goes by the declared type: "string" and "decimal" have numeric affinity.
        numericRow("sqlite", "loans' numbers declared string", "9", {sqlite.readerCard, QStringLiteral("string"), sqlite.password},
                   "lib_jieshu.js_libcard");
        numericRow("sqlite", "readers' numbers declared decimal(12)", "9",
                   {QStringLiteral("decimal(12)"), sqlite.loanCard, sqlite.password}, "lib_people.pe_id");

        // Tables and columns missing: the data source points at another database.
        const auto missing = [&](const char *what) {
            return QStringLiteral("数据库中没有%1，系统没有做任何改动。请确认数据源指向的是图书馆的数据库").arg(QString::fromUtf8(what));
        };
        for (const char *name : {"pg", "sqlite"}) {
            const model::Columns columns = m_backends[QLatin1String(name)].columns;
            QTest::addRow("%s: empty database", name)
                << name << library({{"7", "7"}}, {"7"}) << "9" << columns
                << QStringList{"drop table lib_people", "drop table lib_jieshu"} << missing("表lib_people、表lib_jieshu");
            QTest::addRow("%s: no loans table", name) << name << library({{"7", "7"}}, {"7"}) << "1" << columns
                                                      << QStringList{"drop table lib_jieshu"} << missing("表lib_jieshu");
            QTest::addRow("%s: no password column", name)
                << name << library({{"7", "7"}}, {"7"}) << "9" << columns
                << QStringList{"alter table lib_people drop column pe_passwd"} << missing("字段lib_people.pe_passwd");
            QTest::addRow("%s: card-number columns renamed", name)
                << name << library({{"7", "7"}}, {"7"}) << "9" << columns
                << QStringList{"alter table lib_people rename column pe_id to pe_card",
                               "alter table lib_jieshu rename column js_libcard to js_card"}
                << missing("字段lib_people.pe_id、字段lib_jieshu.js_libcard");
        }
    }
    void checksBeforeChanging()
    {
        QFETCH(QString, backend);
        QFETCH(model::Library, before);
        QFETCH(QString, length);
        QFETCH(model::Columns, columns);
        QFETCH(QStringList, extraSql);
        QFETCH(QString, error);
        const RunResult result = runOn(backend, before, length, extraSql, columns);
        if (error.isEmpty()) {
            QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
            const model::Outcome predicted = model::run(before, length.toInt(), m_backends[backend].fold);
            QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(predicted.after.readers));
            QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(predicted.after.loans));
            QVERIFY(result.view.done);
            return;
        }
        QCOMPARE(result.error, error);
        checkWindowAsAtTheError(result);
        // Where the tables are as made, they are unchanged (the others cannot be read back the same
        // way); and no statement but the locks and the checks' reached the server.
        if (extraSql.isEmpty())
            checkNothingChanged(result, before);
        for (const QString &statement : result.statements) {
            const bool lock = statement.startsWith(QStringLiteral("lock table"))
                || statement == QStringLiteral("update lib_people set pe_id=pe_id where 0\r\n");
            QVERIFY2(lock || statement.startsWith(QStringLiteral("select")) || statement.startsWith(QStringLiteral("set local"))
                         || statement.startsWith(QStringLiteral("pragma")),
                     qPrintable(statement));
        }
    }

    // On a server that tells case and width apart, the report names the short numbers whose padded
    // form differs from another reader's number only in case or width (the run makes both); where
    // the server folds them, the run leaves such numbers alone and there is nothing to name.
    void caseTwins_data()
    {
        QTest::addColumn<QString>("backend");
        addBackendRows("twins", [](QTestData &) {});
    }
    void caseTwins()
    {
        QFETCH(QString, backend);
        const Backend &b = m_backends[backend];
        const model::Library before =
            library({{"ab12", "p"}, {"000AB12", "q"}, {"\uFF11\uFF12", "r"}, {"0000012", "s"}, {"12345", "t"}}, {"ab12"});
        PaddingReport report;
        report.findCaseTwins = true;
        m_report = &report;
        m_ending = PaddingRun::Ending::RollBack;
        const RunResult result = runOn(backend, before, "7");
        m_report = nullptr;
        m_ending = PaddingRun::Ending::Commit;
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QStringList found;
        for (const CaseTwin &twin : std::as_const(report.caseTwins))
            found << twin.number + u'|' + twin.padded + u'|' + twin.other;
        found.sort();
        QStringList expected;
        const bool pg = b.connectionString.contains(pgDriver()) && !b.forced;
        const bool sqlite = b.connectionString.contains(sqliteDriver());
        if (b.fold == model::Fold::Binary && (pg || sqlite))
            expected << QStringLiteral("ab12|000ab12|000AB12");
        // Width is folded where the server can (PostgreSQL's normalize() on a UTF-8 database).
        if (b.fold == model::Fold::Binary && pg)
            expected << QStringLiteral("\uFF11\uFF12|00000\uFF11\uFF12|0000012");
        expected.sort();
        QCOMPARE(found, expected);
    }

    // The run keeps every other writer of both tables out from its start to its commit, so that
    // everything in them at the commit has been through it; readers go on reading. Another session
    // that holds a lock first makes the run wait, for as long as its lock timeout says.
    void locks_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("desk");          // a second connection's own settings
        QTest::addColumn<QStringList>("holdLock");  // statements a desk session runs and keeps open
        QTest::newRow("pg") << "pg" << QStringLiteral("set lock_timeout = '300ms'")
                            << QStringList{QStringLiteral("update lib_jieshu set js_book = 'desk' where js_id = 1")};
        QTest::newRow("pg-sqlserver-texts") << "pg-sqlserver-texts" << QStringLiteral("set lock_timeout = '300ms'")
                                            << QStringList{QStringLiteral("update lib_jieshu set js_book = 'desk' where js_id = 1")};
        QTest::newRow("sqlite") << "sqlite" << QString()
                                << QStringList{QStringLiteral("update lib_jieshu set js_book = 'desk' where js_id = 1")};
    }
    void locks()
    {
        QFETCH(QString, backend);
        QFETCH(QString, desk);
        QFETCH(QStringList, holdLock);
        const bool sqlite = backend.startsWith(QStringLiteral("sqlite"));
        // The desk gives up on a lock after 300 ms.
        QString deskConnection = m_backends[backend].connectionString;
        if (sqlite)
            deskConnection += QStringLiteral(";Timeout=300");
        const model::Library before = library({{"7", "7"}, {"12", "x"}}, {"7", "12", "7"});

        // During the run (just before its commit) the desk can read both tables but cannot lend.
        QString readDuringRun;
        QString lendDuringRun;
        m_beforeCommit = [&] {
            try {
                const QList<QStringList> rows =
                    selectRows(deskConnection, QStringLiteral("select count(*) from lib_people where pe_id = '7'"));
                readDuringRun = rows.value(0).value(0);
            } catch (const std::exception &error) {
                readDuringRun = QString::fromStdString(error.what());
            }
            try {
                QStringList statements{QStringLiteral("insert into lib_jieshu values (99, '12', 'desk')")};
                if (!desk.isEmpty())
                    statements.prepend(desk);
                execSql(deskConnection, statements);
                lendDuringRun = QStringLiteral("lent");
            } catch (const std::exception &error) {
                lendDuringRun = QString::fromStdString(error.what());
            }
        };
        const RunResult result = runOn(backend, before, "4");
        m_beforeCommit = nullptr;
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(readDuringRun, QStringLiteral("1"));   // the tables as before the run: the run is not committed
        QVERIFY2(lendDuringRun != QStringLiteral("lent"), "a loan was written during the run");
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(model::run(before, 4).after.loans));

        // A desk session that holds a lock: the run waits for it, and gives up after its lock timeout
        // with nothing changed.
        const QString runConnection = m_backends[backend].connectionString;
        if (sqlite)
            m_backends[backend].connectionString = deskConnection;
        QSqlDatabase held = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("desk"));
        held.setDatabaseName(m_backends[backend].connectionString);
        QVERIFY2(held.open(), qPrintable(held.lastError().text()));
        {
            QSqlDatabase db = prepare(m_backends[backend], before);
            db.close();
        }
        closeLibDB();
        QVERIFY(held.transaction());
        {
            QSqlQuery deskQuery(held);
            for (const QString &statement : holdLock)
                QVERIFY2(deskQuery.exec(statement), qPrintable(deskQuery.lastError().text()));
        }
        m_lockTimeout = 1;
        QElapsedTimer waited;
        waited.start();
        m_keepTables = true;
        const RunResult refused = runOn(backend, before, "4");
        m_keepTables = false;
        m_backends[backend].connectionString = runConnection;
        m_lockTimeout = 0;
        QVERIFY(held.rollback());
        held.close();
        held = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("desk"));
        // (SQLite's driver waits for the data source's Timeout, here 300 ms, whatever the run asks.)
        QVERIFY2(refused.error.contains(sqlite ? QStringLiteral("等到了数据源设置的等待时间(Timeout)也没能锁定")
                                               : QStringLiteral("等了1秒也没能锁定")),
                 qPrintable(refused.error));
        QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
        checkNothingChanged(refused, before);
    }

    // Values come back whole whatever their length, column by column and row by row, NULL as NULL:
    // a long value is read in pieces, into a buffer that the values after it use again.
    void queryReadsValuesWhole_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("pg") << "pg";
        QTest::newRow("sqlite") << "sqlite";
    }
    void queryReadsValuesWhole()
    {
        QFETCH(QString, backend);
        const QString longest = QString(1000, u'x') + QStringLiteral("é");
        const QString longer = QString(300, u'证') + QStringLiteral("7");
        QSqlDatabase db = prepare(m_backends[backend], library({{"7", "7"}}, {}));
        QList<QStringList> rows;
        QList<bool> nulls;
        {
            LibQuery query(db);
            query.exec(QStringLiteral("select 1, cast(? as text), cast(? as text), cast(? as text)"
                                      " union all select 2, cast(? as text), cast(? as text), cast(null as text) order by 1"),
                       {longest, QStringLiteral("y"), longer, QStringLiteral("z"), longer + u'!'});
            while (query.next()) {
                // The last column first: the ones before it are read on the way.
                const QString last = query.value(3);
                rows << QStringList{query.value(1), query.value(2), last};
                nulls << query.isNull(3);
            }
        }
        db = QSqlDatabase();
        closeLibDB();
        QCOMPARE(rows, (QList<QStringList>{{longest, QStringLiteral("y"), longer}, {QStringLiteral("z"), longer + u'!', QString()}}));
        QCOMPARE(nulls, (QList<bool>{false, true}));
    }

    // Before a run, the columns of other tables that hold card numbers the run pads are named, with
    // how many rows and numbers; the scan stops when its time is up and says what it left.
    void referenceScan_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("pg") << "pg";
        QTest::newRow("pg-ci") << "pg-ci";
        QTest::newRow("sqlite") << "sqlite";
    }
    void referenceScan()
    {
        QFETCH(QString, backend);
        const Backend &b = m_backends[backend];
        const bool pg = b.connectionString.contains(pgDriver());
        const QString text = pg ? b.boundedType.arg(20) : QStringLiteral("varchar(20)");
        QSqlDatabase db = prepare(b, library({{"7", "7"}, {"AB1", "x"}, {"123456789", "y"}}, {"7"}),
                                  {QStringLiteral("drop table if exists lib_fine"), QStringLiteral("drop table if exists \"odd \"\"name\"\"\""),
                                   QStringLiteral("create table lib_fine (fi_id integer, fi_card %1, fi_note %1)").arg(text),
                                   QStringLiteral("insert into lib_fine values (1, '7', 'x'), (2, '7 ', 'y'), (3, 'ab1', 'z'), (4, '123456789', '7')"),
                                   QStringLiteral("create table \"odd \"\"name\"\"\" (\"the card\" %1, n integer)").arg(text),
                                   QStringLiteral("insert into \"odd \"\"name\"\"\" values ('AB1', 7)")});
        QStringList found;
        ReferenceScan::Result result;
        {
            LibQuery query(db);
            RecordingView view;
            StatementRunner sql(query, view);
            CardSql cards(pg ? Dialect::PostgreSQL : Dialect::SQLite);
            result = ReferenceScan(sql, cards).scan(9, 60);
            for (const ReferenceScan::Column &column : std::as_const(result.found))
                found << QStringLiteral("%1.%2 %3/%4").arg(column.table, column.column).arg(column.rows).arg(column.numbers);
            // No time at all: the three character columns of the other tables are left, and said to be.
            QCOMPARE(ReferenceScan(sql, cards).scan(9, 0).notScanned.size(), 3);
        }
        db = QSqlDatabase();
        closeLibDB();
        // 7 (twice, one with a blank) and, where the server ignores case, ab1 are short readers'
        // numbers; 123456789 is not short; the odd table's AB1 is one.
        const bool folds = b.fold != model::Fold::Binary;
        QStringList expected{QStringLiteral("lib_fine.fi_card %1/%2").arg(folds ? 3 : 2).arg(folds ? 2 : 1),
                             QStringLiteral("lib_fine.fi_note 1/1"), QStringLiteral("odd \"name\".the card 1/1")};
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
        QVERIFY(result.notScanned.isEmpty());
        QVERIFY(result.unreadable.isEmpty());
        if (pg)
            m_pg->exec({QStringLiteral("drop table lib_fine"), QStringLiteral("drop table \"odd \"\"name\"\"\"")});
    }

    // A column of another table that holds card numbers (fines) is padded with the loans, by their
    // rule, in the same run, and recorded; a name that is not such a column is refused before any
    // change.
    void alsoColumns_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("also");
        QTest::addColumn<QString>("error");
        addBackendRows("fines", [](QTestData &row) { row << "lib_fine.fi_card" << QString(); });
        for (const char *backend : {"pg", "sqlite"}) {
            QTest::addRow("%s: the readers' own column", backend) << backend << "lib_people.pe_id" << "处理本来就改动的字段";
            QTest::addRow("%s: no such column", backend) << backend << "lib_fine.fi_cards" << "数据库中没有字段lib_fine.fi_cards";
            QTest::addRow("%s: a number column", backend) << backend << "lib_fine.fi_id" << "是数值类型";
        }
    }
    void alsoColumns()
    {
        QFETCH(QString, backend);
        QFETCH(QString, also);
        QFETCH(QString, error);
        const Backend &b = m_backends[backend];
        const bool pg = b.connectionString.contains(pgDriver());
        const QString text = b.columns.loanCard.isEmpty() ? QString() : b.columns.loanCard;
        const model::Library before = library({{"7", "7"}, {"12", "x"}, {"0012", "y"}, {"ab", "z"}}, {"7", "12", "55"});
        const QStringList fines{"7", "7 ", "12", "55", "AB", "123456789", "3"};
        QStringList sql{QStringLiteral("drop table if exists lib_fine"),
                        QStringLiteral("create table lib_fine (fi_id integer, fi_card %1)").arg(text)};
        for (qsizetype i = 0; i < fines.size(); ++i)
            sql << QStringLiteral("insert into lib_fine values (%1, '%2')").arg(i + 1).arg(fines[i]);
        Q_UNUSED(pg)
        m_also = {*AlsoColumn::parse(also)};
        m_probe = QStringLiteral("select fi_card from lib_fine order by fi_id");
        CollectingSink sink;
        PaddingReport report(&sink);
        m_report = &report;
        const RunResult result = runOn(backend, before, "4", sql);
        m_report = nullptr;
        m_also.clear();
        m_probe.clear();
        if (!error.isEmpty()) {
            QVERIFY2(result.error.contains(error), qPrintable(result.error));
            QVERIFY(result.error.contains(QStringLiteral("系统没有做任何改动")));
            checkNothingChanged(result, before);
            return;
        }
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        // The fines are loans to the rules.
        model::Library withFines = before;
        withFines.loans += fines;
        const model::Outcome predicted = model::run(withFines, 4, b.fold);
        QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(predicted.after.readers));
        QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(predicted.after.loans.mid(0, before.loans.size())));
        QStringList finesAfter;
        for (const QString &fine : predicted.after.loans.mid(before.loans.size()))
            finesAfter << trimmedText(fine);
        QCOMPARE(result.probed, finesAfter);
        // The record has the fines that changed, as values of their column.
        qint64 recorded = 0;
        for (const ChangedCard &card : std::as_const(sink.cards)) {
            if (card.also == QStringLiteral("lib_fine.fi_card")) {
                QCOMPARE(card.newNumber.size(), 4);
                recorded += card.loans;
            }
        }
        qint64 changed = 0;
        for (qsizetype i = 0; i < fines.size(); ++i)
            changed += trimmedText(fines[i]) != finesAfter[i] ? 1 : 0;
        QCOMPARE(recorded, changed);
        QCOMPARE(report.totals().alsoPadded, changed);
    }

    // Card numbers are data: numbers that would be statements if pasted into one (with PostgreSQL's
    // standard_conforming_strings off, a backslash escapes the quote that doubling was to protect)
    // are padded, recorded and left alone like any other, in a preview and in an apply.
    void hostileNumbers_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("extraSql");
        QTest::newRow("pg, standard_conforming_strings off")
            << "pg" << QStringList{QStringLiteral("set standard_conforming_strings = off")};
        QTest::newRow("sqlite") << "sqlite" << QStringList{};
    }
    void hostileNumbers()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, extraSql);
        const QString update = QStringLiteral("\\'); update lib_people set pe_passwd=$$x$$; --");
        const QString commit = QStringLiteral("\\');commit;--");
        const QString quote = QStringLiteral("o'brien\\");
        const model::Library before = library({{commit, commit}, {quote, "p"}, {QStringLiteral("00000") + commit, "q"}, {"7", "7"}},
                                              {update, update, commit, quote, QStringLiteral("00") + quote, "7"});
        const QString text = m_backends[backend].connectionString.contains(pgDriver()) ? QStringLiteral("text") : QString();
        checkReport(backend, before, 60, extraSql, model::Columns{text, text, text});
    }

    // Keys and constraints a migrated library carries. A unique key that would see one card twice
    // after padding, and a foreign key the run cannot satisfy, are refused by name before any change;
    // foreign keys that can be checked at the end of the transaction, or that cascade, let the run
    // complete, and a table that cascades follows the readers.
    void constraints_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<model::Library>("before");
        QTest::addColumn<QStringList>("extraSql");
        QTest::addColumn<QString>("error");         // a part of the refusal; empty: the run completes
        QTest::addColumn<QString>("probe");         // read back afterwards
        QTest::addColumn<QStringList>("probed");

        const model::Library plain = library({{"7", "7"}, {"12", "x"}, {"0000012", "y"}}, {"7", "7", "12"});
        const QStringList pgKey{QStringLiteral("alter table lib_people add constraint readers_key primary key (pe_id)")};
        const QString fine = QStringLiteral("select fi_card from lib_fine order by fi_id");
        const auto pgFine = [&](const char *rule) {
            return pgKey + QStringList{QStringLiteral("drop table if exists lib_fine"),
                                       QStringLiteral("create table lib_fine (fi_id integer, fi_card varchar(20) "
                                                      "constraint fines_card references lib_people(pe_id) %1)")
                                           .arg(QLatin1String(rule)),
                                       QStringLiteral("insert into lib_fine values (1, '7'), (2, '0000012')")};
        };
        const auto pgLoans = [&](const char *clause) {
            return pgKey + QStringList{QStringLiteral("alter table lib_jieshu add constraint loans_card foreign key (js_libcard) "
                                                      "references lib_people(pe_id) %1").arg(QLatin1String(clause))};
        };
        const QString refused = QStringLiteral("系统没有做任何改动");

        QTest::newRow("pg: primary key sees 7 and '7 '")
            << "pg" << library({{"7", "a"}, {"7 ", "b"}}, {"7"}) << pgKey << QStringLiteral("唯一约束readers_key") << QString()
            << QStringList{};
        QTest::newRow("pg: unique loans' numbers")
            << "pg" << library({{"9", "a"}}, {"7", "7 "})
            << QStringList{QStringLiteral("create unique index loans_once on lib_jieshu (js_libcard)")}
            << QStringLiteral("唯一约束loans_once") << QString() << QStringList{};
        QTest::newRow("pg-ci: unique key under a case-insensitive collation")
            << "pg-ci" << library({{"ab ", "a"}, {"AB", "b"}}, {"ab"}) << pgKey << QStringLiteral("唯一约束readers_key") << QString()
            << QStringList{};
        QTest::newRow("pg: primary key, no twins") << "pg" << plain << pgKey << QString() << QString() << QStringList{};
        QTest::newRow("pg: loans' key not deferrable")
            << "pg" << plain << pgLoans("") << QStringLiteral("外键loans_card") << QString() << QStringList{};
        QTest::newRow("pg: loans' key deferrable")
            << "pg" << plain << pgLoans("deferrable") << QString() << QString() << QStringList{};
        QTest::newRow("pg: loans' key deferred, cascading")
            << "pg" << plain << pgLoans("on update cascade deferrable initially deferred") << QString() << QString() << QStringList{};
        QTest::newRow("pg: loans' key cascading")
            << "pg" << plain << pgLoans("on update cascade") << QString() << QString() << QStringList{};
        QTest::newRow("pg: fines cascade") << "pg" << plain << pgFine("on update cascade") << QString() << fine
                                           << QStringList{"0000007", "0000012"};
        QTest::newRow("pg: fines do not follow")
            << "pg" << plain << pgFine("") << QStringLiteral("外键fines_card") << fine << QStringList{"7", "0000012"};
        QTest::newRow("pg: fines set null")
            << "pg" << plain << pgFine("on update set null") << QStringLiteral("ON UPDATE SET NULL") << fine
            << QStringList{"7", "0000012"};
        QTest::newRow("pg: loans' numbers must be in another table")
            << "pg" << plain
            << QStringList{QStringLiteral("drop table if exists lib_card cascade"),
                           QStringLiteral("create table lib_card (card varchar(20) primary key)"),
                           QStringLiteral("insert into lib_card values ('7'), ('12')"),
                           QStringLiteral("alter table lib_jieshu add constraint loans_cards foreign key (js_libcard) references lib_card(card)")}
            << QStringLiteral("外键loans_cards") << QString() << QStringList{};
        // SQL Server has no deferred constraints: a cascading key moves the loans with the readers.
        QTest::newRow("pg-sqlserver-texts: loans' key cascading")
            << "pg-sqlserver-texts" << plain << pgLoans("on update cascade") << QString() << QString() << QStringList{};
        QTest::newRow("pg-sqlserver-texts: loans' key not cascading")
            << "pg-sqlserver-texts" << plain << pgLoans("deferrable") << QStringLiteral("外键loans_card") << QString() << QStringList{};

        // SQLite enforces foreign keys where the connection asks for them; the run defers them all.
        const QStringList sqliteKeys{
            QStringLiteral("create unique index readers_once on lib_people (pe_id)"),
            QStringLiteral("create table lib_jieshu_k (js_id integer, js_libcard varchar(18) references lib_people(pe_id), js_book varchar(20))"),
            QStringLiteral("insert into lib_jieshu_k select * from lib_jieshu"), QStringLiteral("drop table lib_jieshu"),
            QStringLiteral("alter table lib_jieshu_k rename to lib_jieshu"), QStringLiteral("drop table if exists lib_fine")};
        const auto sqliteFine = [&](const char *rule) {
            return sqliteKeys + QStringList{QStringLiteral("create table lib_fine (fi_id integer, fi_card varchar(20) "
                                                           "references lib_people(pe_id) %1)").arg(QLatin1String(rule)),
                                            QStringLiteral("insert into lib_fine values (1, '7'), (2, '0000012')"),
                                            QStringLiteral("pragma foreign_keys = on")};
        };
        QTest::newRow("sqlite: loans' key enforced") << "sqlite" << plain << sqliteFine("on update cascade") << QString() << fine
                                                     << QStringList{"0000007", "0000012"};
        QTest::newRow("sqlite: fines do not follow")
            << "sqlite" << plain << sqliteFine("") << QStringLiteral("ON UPDATE NO ACTION") << fine << QStringList{"7", "0000012"};
        QTest::newRow("sqlite: keys not enforced") << "sqlite" << plain << (sqliteKeys + QStringList{QStringLiteral("pragma foreign_keys = off")})
                                                   << QString() << QString() << QStringList{};
        QTest::newRow("sqlite: unique index sees 7 and '7 '")
            << "sqlite" << library({{"7", "a"}, {"7 ", "b"}}, {"7"})
            << QStringList{QStringLiteral("create unique index readers_once on lib_people (pe_id)")}
            << QStringLiteral("唯一约束readers_once") << QString() << QStringList{};
        QTest::newRow("sqlite-nocase: unique index sees ab and 'AB '")
            << "sqlite-nocase" << library({{"ab", "a"}, {"AB ", "b"}}, {"7"})
            << QStringList{QStringLiteral("create unique index readers_once on lib_people (pe_id)")}
            << QStringLiteral("唯一约束readers_once") << QString() << QStringList{};
        Q_UNUSED(refused)
    }
    void constraints()
    {
        QFETCH(QString, backend);
        QFETCH(model::Library, before);
        QFETCH(QStringList, extraSql);
        QFETCH(QString, error);
        QFETCH(QString, probe);
        QFETCH(QStringList, probed);
        m_probe = probe;
        const RunResult result = runOn(backend, before, QStringLiteral("7"), extraSql);
        m_probe.clear();
        if (error.isEmpty()) {
            QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
            const model::Outcome predicted = model::run(before, 7, m_backends[backend].fold);
            QCOMPARE(model::canonicalReaders(result.after.readers), model::canonicalReaders(predicted.after.readers));
            QCOMPARE(model::canonicalLoans(result.after.loans), model::canonicalLoans(predicted.after.loans));
        } else {
            QVERIFY2(result.error.contains(error), qPrintable(result.error));
            QVERIFY2(result.error.contains(QStringLiteral("系统没有做任何改动")), qPrintable(result.error));
            checkNothingChanged(result, before);
            for (const QString &statement : result.statements)
                QVERIFY2(!statement.startsWith(QStringLiteral("update lib_people set pe_passwd")), qPrintable(statement));
        }
        if (!probe.isEmpty())
            QCOMPARE(result.probed, probed);
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
        // The locks are the server's own (here PostgreSQL's), the catalogue query is
        // INFORMATION_SCHEMA's; everything else is SQL Server's.
        QStringList expected{
            "lock table lib_people, lib_jieshu in exclusive mode\r\n",
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
        expected.prepend(PaddingStatements::text(CheckStatements(CardSql(Dialect::SqlServer)).foreignKeys()));
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
            QVERIFY2(!statement.contains(QStringLiteral("'+")) && !statement.contains(QStringLiteral("+rtrim")), qPrintable(statement));
        }
    }

    // PostgreSQL runs every test against the reader table as a join, never as a subplan run once
    // per row, whatever work_mem is: the trimmed numbers on both sides still hash, and so do the
    // numbers as they stand where no reader's number has a trailing blank.
    void postgresqlPlansJoins()
    {
        {
            QSqlDatabase db = prepare(
                m_backends[QStringLiteral("pg")], library({}),
                {QStringLiteral("insert into lib_people select i::text || case when i % 3 = 0 then ' ' else '' end, "
                                "i::text, 'x' from generate_series(1, 30000) i"),
                 QStringLiteral("insert into lib_jieshu select i, (i % 40000)::text, 'b' from generate_series(1, 60000) i"),
                 QStringLiteral("analyze lib_people"), QStringLiteral("analyze lib_jieshu")});
            QStringList statements;
            for (const bool trimmed : {true, false}) {
                PaddingStatements sql(Dialect::PostgreSQL);
                CardSql::Columns columns;
                columns.untrimmedCards = trimmed;
                columns.untrimmedPasswords = trimmed;
                sql.setColumns(columns);
                for (const int n : {1, 4}) {
                    const QString zeros = PaddingRun::padZeros(9, n);
                    statements << PaddingStatements::text(sql.collisionScan(n, zeros))
                               << PaddingStatements::text(sql.padLoans(n, zeros))
                               << PaddingStatements::text(sql.padReaders(n, zeros));
                }
            }
            QSqlQuery query(db);
            for (const char *workMem : {"64kB", "4MB", "64MB"}) {
                QVERIFY(query.exec(QStringLiteral("set work_mem = '%1'").arg(QLatin1String(workMem))));
                for (const QString &statement : std::as_const(statements)) {
                    QVERIFY2(query.exec(QStringLiteral("explain ") + statement), qPrintable(query.lastError().text()));
                    QString plan;
                    while (query.next())
                        plan += query.value(0).toString() + u'\n';
                    const QString where = QStringLiteral("work_mem %1:\n%2\n%3").arg(QLatin1String(workMem), statement, plan);
                    QVERIFY2(plan.contains(QStringLiteral(" Join")), qPrintable(where));
                    QVERIFY2(!plan.contains(QStringLiteral("SubPlan")), qPrintable(where));
                    QVERIFY2(!plan.contains(QStringLiteral("Nested Loop")), qPrintable(where));
                }
            }
        }
        closeLibDB();
    }

    // The cards are grouped with sorting off, and afterwards sorting is as the session had it, not
    // as the server's configuration has it.
    void postgresqlTurnsSortingBackAfterTheCards_data()
    {
        QTest::addColumn<QString>("session");
        QTest::newRow("on") << QStringLiteral("on");
        QTest::newRow("off") << QStringLiteral("off");
    }

    void postgresqlTurnsSortingBackAfterTheCards()
    {
        QFETCH(QString, session);
        {
            QSqlDatabase db = prepare(m_backends[QStringLiteral("pg")], library({}), {});
            QSqlQuery query(db);
            const CardSql sql(Dialect::PostgreSQL);
            const SetStatements set(sql, 9);
            const auto sorting = [&] {
                return query.exec(QStringLiteral("show enable_sort")) && query.next() ? query.value(0).toString() : QString();
            };
            QVERIFY(query.exec(QStringLiteral("set enable_sort = ") + session));
            QVERIFY(db.transaction());
            QVERIFY2(query.exec(PaddingStatements::text(set.sortsOff())), qPrintable(query.lastError().text()));
            QCOMPARE(sorting(), QStringLiteral("off"));
            QVERIFY(query.exec(PaddingStatements::text(set.cards())));
            QVERIFY2(query.exec(PaddingStatements::text(set.sortsBack())), qPrintable(query.lastError().text()));
            QCOMPARE(sorting(), session);
            QVERIFY(db.rollback());
            QVERIFY(query.exec(QStringLiteral("reset enable_sort")));
        }
        closeLibDB();
    }

    // Computed as a whole, no statement runs a nested loop over the loans, nor a subplan per row,
    // whatever work_mem is: the working tables and the loans are joined by hashing (or sorting).
    void postgresqlPlansTheWholeRunWithoutLoopsOverTheLoans()
    {
        {
            QSqlDatabase db = prepare(
                m_backends[QStringLiteral("pg")], library({}),
                {QStringLiteral("insert into lib_people select i::text || case when i % 3 = 0 then ' ' else '' end, "
                                "i::text, 'x' from generate_series(1, 30000) i"),
                 QStringLiteral("insert into lib_jieshu select i, (i % 40000)::text, 'b' from generate_series(1, 60000) i"),
                 QStringLiteral("analyze lib_people"), QStringLiteral("analyze lib_jieshu")});
            QSqlQuery query(db);
            for (const int length : {9, 20}) {
                for (const char *workMem : {"64kB", "4MB", "64MB"}) {
                    CardSql sql(Dialect::PostgreSQL);
                    // Where card numbers compare as texts (at 4MB), the loans are counted per number
                    // first and the readers' padded numbers found with the claims; otherwise the loans
                    // are counted one by one and the padded numbers looked up among the readers.
                    CardSql::Columns columns;
                    columns.exactLoans = QLatin1String(workMem) == QLatin1String("4MB");
                    columns.caseSensitiveCards = columns.exactLoans;
                    sql.setColumns(columns);
                    const SetStatements set(sql, length);
                    QList<QStringList> steps = set.workingTables();
                    steps << set.collisions() << set.joinedLoans()
                          << set.figures(true) << set.recordReaders() << set.recordLoanOnly() << set.recordEmptyPasswords(true)
                          << set.passwordsToSettle(false) << set.padLoans() << set.padReaders();
                    QVERIFY(db.transaction());
                    QVERIFY(query.exec(QStringLiteral("set local work_mem = '%1'").arg(QLatin1String(workMem))));
                    for (const QStringList &step : std::as_const(steps)) {
                        const QString statement = PaddingStatements::text(step);
                        if (step == set.sortsOff() || step == set.sortsBack()) {
                            QVERIFY(query.exec(statement));
                            continue;
                        }
                        QVERIFY2(query.exec(QStringLiteral("explain ") + statement), qPrintable(query.lastError().text()));
                        QStringList plan;
                        while (query.next())
                            plan << query.value(0).toString();
                        const QString where = QStringLiteral("length %1, work_mem %2:\n%3\n%4")
                                                  .arg(length)
                                                  .arg(QLatin1String(workMem), statement, plan.join(u'\n'));
                        QVERIFY2(!plan.join(u'\n').contains(QStringLiteral("SubPlan")), qPrintable(where));
                        // A nested loop may look readers up in their index, never go over the loans.
                        for (qsizetype i = 0; i < plan.size(); ++i) {
                            if (!plan[i].contains(QStringLiteral("Nested Loop")))
                                continue;
                            const qsizetype indent = plan[i].indexOf(QStringLiteral("Nested Loop"));
                            for (qsizetype k = i + 1; k < plan.size(); ++k) {
                                const qsizetype at = plan[k].indexOf(QStringLiteral("->"));
                                if (at >= 0 && at <= indent)
                                    break;
                                QVERIFY2(!plan[k].contains(QStringLiteral("lib_jieshu")), qPrintable(where));
                            }
                        }
                        // The working tables exist for the statements after.
                        if (statement.startsWith(QStringLiteral("create")))
                            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
                        if (const QStringList statistics = set.statisticsFor(step); !statistics.isEmpty())
                            QVERIFY(query.exec(PaddingStatements::text(statistics)));
                    }
                    QVERIFY(db.rollback());
                }
            }
        }
        closeLibDB();
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
