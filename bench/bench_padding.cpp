// Runs the padding run through the program's own code and ODBC on one database and prints what it
// took; or writes statement scripts for psql to run the same work. Driven by run-padding-bench.
//
//   bench_padding run <odbc connection string> <length> [statements.sql]
//       runs the program's run; prints "elapsed_ms=… rss_before_kb=… rss_peak_kb=… passes=…";
//       with a file, also writes every statement it issued (for psql to repeat).
//       NORVEL_BENCH_METHOD=passes runs it pass by pass (as on SQL Server) on PostgreSQL and SQLite.
//   bench_padding all-passes <length> <statements.sql> [sqlite]
//       writes the statements of every pass 1 .. length-1, no pass skipped, pass by pass as the
//       program's statements go (PostgreSQL's dialect, or SQLite's), with the run's own settings.

#include "db/LibQuery.h"
#include "run/PaddingRun.h"
#include "run/PaddingStatements.h"
#include "platform/Exceptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QTextStream>

#include <cstdio>
#include <sys/resource.h>

namespace {

long currentRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct QuietView : PaddingRunView
{
    QString length;
    QStringList lines;
    QString lengthText() const override { return length; }
    void setProgressVisible(bool) override {}
    void setProgressPosition(int) override {}
    void addResultLine(const QString &line) override { lines << line; }
    void setDone() override {}
    void showFinished() override {}
};

void writeScript(const QString &file, const QStringList &statements)
{
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + file.toStdString());
    QTextStream stream(&out);
    for (const QString &s : statements)
        stream << s << ";\n";
}

int run(const QString &connection, const QString &length, const QString &scriptFile)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("LibDB"));
    db.setDatabaseName(connection);
    if (!db.open()) {
        std::fprintf(stderr, "cannot connect: %s\n", qPrintable(db.lastError().text()));
        return 2;
    }
    LibQuery qrTmp(db);
    QuietView view;
    view.length = length;
    PaddingRun padding(qrTmp, view);
    // NORVEL_BENCH_METHOD=passes: pass by pass, as on SQL Server, instead of as a whole.
    if (qEnvironmentVariable("NORVEL_BENCH_METHOD") == QStringLiteral("passes"))
        padding.setMethod(PaddingRun::Method::PassByPass);
    QStringList statements;
    padding.setStatementObserver([&](const QString &text) { statements << text; });
    const long before = currentRssKb();
    QElapsedTimer timer;
    timer.start();
    try {
        padding.execute();
    } catch (const NorvelError &error) {
        std::fprintf(stderr, "run failed: %s\n", qPrintable(error.message()));
        return 1;
    }
    const qint64 elapsed = timer.elapsed();
    QStringList passes;
    for (const int n : padding.passesRun())
        passes << QString::number(n);
    const qsizetype collisions = padding.collisionList().split(u' ', Qt::SkipEmptyParts).size();
    std::printf("elapsed_ms=%lld rss_before_kb=%ld rss_peak_kb=%ld passes=%s collisions=%lld\n",
                static_cast<long long>(elapsed), before, peakRssKb(), qPrintable(passes.join(u',')),
                static_cast<long long>(collisions));
    if (!scriptFile.isEmpty())
        writeScript(scriptFile, statements);
    return 0;
}

int allPasses(int length, const QString &scriptFile, PaddingStatements::Dialect dialect)
{
    PaddingStatements sql(dialect);
    // The generated library's card numbers and passwords have no trailing blanks: the run finds
    // that and compares them as they stand.
    CardSql::Columns columns;
    columns.untrimmedCards = false;
    columns.untrimmedPasswords = false;
    sql.setColumns(columns);
    QStringList statements = sql.transactionSettings();
    statements << PaddingStatements::text(sql.markPasswords());
    for (int n = 1; n < length; ++n) {
        const QString zeros = PaddingRun::padZeros(length, n);
        statements << PaddingStatements::text(sql.collisionScan(n, zeros))
                   << PaddingStatements::text(sql.padLoans(n, zeros))
                   << PaddingStatements::text(sql.padReaders(n, zeros));
    }
    statements << PaddingStatements::text(sql.restorePasswords());
    writeScript(scriptFile, statements);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QStringLiteral("run"))
        return run(args[2], args[3], args.value(4));
    if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("all-passes")) {
        const auto dialect = args.value(4) == QStringLiteral("sqlite") ? PaddingStatements::Dialect::SQLite
                                                                         : PaddingStatements::Dialect::PostgreSQL;
        return allPasses(args[2].toInt(), args[3], dialect);
    }
    std::fprintf(stderr,
                 "usage: %s run <connection> <length> [statements.sql] | all-passes <length> <statements.sql> [sqlite]\n",
                 argv[0]);
    return 2;
}
