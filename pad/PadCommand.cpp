#include "PadCommand.h"

#include "ConsoleView.h"
#include "Interrupts.h"
#include "PadOptions.h"
#include "Summary.h"
#include "Terminal.h"

#include "connection/LibConnection.h"
#include "connection/OdbcConnection.h"
#include "platform/Exceptions.h"
#include "run/ChangeRecord.h"
#include "run/PaddingRun.h"

#include <QCoreApplication>
#include "db/LibQuery.h"

#include <memory>
#include <unistd.h>

namespace {

constexpr auto Program = "norvel-pad";

int usageError(const QString &message)
{
    Terminal::err(QStringLiteral("%1: %2\n请用 norvel-pad --help 查看用法。\n").arg(QLatin1String(Program), message));
    return PadStatus::Usage;
}

int failure(const QString &message)
{
    Terminal::err(QStringLiteral("%1: %2\n").arg(QLatin1String(Program), message));
    return PadStatus::Error;
}

// The login: the stored settings (as the window reads them), or the data source and user given
// on the command line with the password from the environment or the terminal.
LibConnection::Login chooseLogin(const PadOptions &options)
{
    if (!options.overridesLogin())
        return LibConnection::storedLogin().value_or(LibConnection::Login{});
    LibConnection::Login login{options.dsn, options.user, {}};
    if (qEnvironmentVariableIsSet("NORVEL_PASSWORD")) {
        login.password = qEnvironmentVariable("NORVEL_PASSWORD");
    } else if (Terminal::canAsk()) {
        const std::optional<QString> password =
            Terminal::readHidden(QStringLiteral("%1 在数据源%2上的密码：").arg(options.user, options.dsn));
        if (!password)
            throw EAbort(QStringLiteral("没有输入密码"));
        login.password = *password;
    } else {
        throw EAbort(QStringLiteral("需要密码：请设置环境变量NORVEL_PASSWORD（没有终端可以输入）"));
    }
    return login;
}

struct RunResult
{
    PaddingReport report;
    QStringList lines;
    bool leftAlone = false;
};

// One whole run on the connection, committed or rolled back at its end.
void runOnce(const PadOptions &options, PaddingRun::Ending ending, ChangeRecord *record, RunResult &result)
{
    LibQuery query(QSqlDatabase::database(LibConnection::DatabaseName, false));
    ConsoleView view(options.length, Terminal::isTerminal(STDERR_FILENO), options.showSql);
    result.report = PaddingReport(record);
    PaddingRun run(query, view);
    view.attach(run);
    run.setReport(&result.report);
    run.setBeforeCommit([&] {
        view.endProgress();
        if (record)
            record->finish();
        // Committing from here on: a signal the watching thread takes now waits for the commit.
        // One that came before is seen by the check that follows, and the run rolls back.
        Interrupts::setCommitting(true);
        ConsoleView::checkInterrupt();
    });
    try {
        run.execute(ending);
    } catch (...) {
        Interrupts::setCommitting(false);
        view.endProgress();
        throw;
    }
    Interrupts::setCommitting(false);
    view.endProgress();
    result.lines = view.resultLines();
    result.leftAlone = !run.collisionList().isEmpty();
}

int statusOf(const RunResult &result)
{
    return result.leftAlone ? PadStatus::LeftAlone : PadStatus::Done;
}

QString recordLine(const ChangeRecord &record, bool preview)
{
    return preview ? QStringLiteral("变更记录（执行时将写的记录）：%1，%2行\n").arg(record.path()).arg(record.rows())
                   : QStringLiteral("变更记录：%1，%2行\n").arg(record.path()).arg(record.rows());
}

int execute(const PadOptions &options)
{
    const bool ask = options.apply && !options.yes;
    if (ask && !Terminal::canAsk())
        return usageError(QStringLiteral("没有终端可以确认：执行(--apply)时请加上--yes"));

    // Refused before anything else: a record that cannot be written.
    std::unique_ptr<ChangeRecord> record;
    if (!options.changesFile.isEmpty())
        record = std::make_unique<ChangeRecord>(options.changesFile);

    const LibConnection::Login login = chooseLogin(options);
    LibConnection connection;
    try {
        connection.open(login);
    } catch (const NorvelError &e) {
        throw EAbort(QStringLiteral("无法连接数据源%1：%2").arg(login.alias, e.message().trimmed()));
    }
    const QSqlDatabase db = connection.database();
    Terminal::out(describeDatabase({login.alias, odbcDbmsName(db), odbcDbmsVersion(db), odbcDatabaseName(db)}));
    Terminal::out(QStringLiteral("借书证长度：%1\n\n").arg(options.length));

    // The whole run, rolled back, and what it did.
    const auto preview = [&options](ChangeRecord *changes) {
        RunResult result;
        runOnce(options, PaddingRun::Ending::RollBack, changes, result);
        Terminal::out(QStringLiteral("预览：以下是执行时将做的改动。事务已回滚，数据库没有任何改动。\n"));
        Terminal::out(summarize(result.report, result.lines));
        return result;
    };

    if (!options.apply) {
        const RunResult previewed = preview(record.get());
        if (record) {
            record->publish();
            Terminal::out(recordLine(*record, true));
        }
        Terminal::out(QStringLiteral("要执行这些改动，请加上--apply。\n"));
        return statusOf(previewed);
    }

    if (ask) {
        preview(nullptr);
        const std::optional<QString> answer =
            Terminal::readLine(QStringLiteral("\n确认已经备份好数据库，并执行以上改动？请输入 yes 执行："));
        ConsoleView::checkInterrupt();
        if (!answer || answer->trimmed().compare(QStringLiteral("yes"), Qt::CaseInsensitive) != 0) {
            Terminal::out(QStringLiteral("已取消，数据库没有任何改动。\n"));
            return PadStatus::Error;
        }
        Terminal::out(QStringLiteral("\n"));
    }

    RunResult applied;
    runOnce(options, PaddingRun::Ending::Commit, record.get(), applied);
    Terminal::out(QStringLiteral("已执行，改动已提交：\n"));
    Terminal::out(summarize(applied.report, applied.lines));
    if (record) {
        record->publish();
        Terminal::out(recordLine(*record, false));
    }
    if (Interrupts::requested())
        Terminal::err(QStringLiteral("%1: 中断请求到达时改动已在提交中，改动已提交。\n").arg(QLatin1String(Program)));
    Terminal::out(PaddingRun::FinishedMessage + u'\n');
    return statusOf(applied);
}

} // namespace

int runPadCommand(const QStringList &arguments)
{
    QString error;
    const std::optional<PadOptions> options = parsePadOptions(arguments, error);
    if (!options)
        return usageError(error);
    if (options->help) {
        Terminal::out(padHelpText());
        return PadStatus::Done;
    }
    if (options->version) {
        Terminal::out(QStringLiteral("norvel-pad %1\n").arg(QCoreApplication::applicationVersion()));
        return PadStatus::Done;
    }
    try {
        return execute(*options);
    } catch (const NorvelError &e) {
        QString message = e.message();
        if (dynamic_cast<const EDatabaseError *>(&e) && !message.contains(QStringLiteral("没有任何改动")))
            message += QStringLiteral("\n事务已回滚，数据库没有任何改动。");
        return failure(message);
    }
}
