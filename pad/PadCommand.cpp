#include "PadCommand.h"

#include "ConsoleView.h"
#include "Interrupts.h"
#include "PadOptions.h"
#include "PadSession.h"
#include "Records.h"
#include "RunsList.h"
#include "SheetRecord.h"
#include "Summary.h"
#include "UndoCommand.h"

#include "common/unGlobal.h"
#include "connection/LibConnection.h"
#include "connection/ServerIdentity.h"
#include "connection/StoredSettings.h"
#include "db/LibQuery.h"
#include "platform/Exceptions.h"
#include "platform/MachineStore.h"
#include "platform/RecordFile.h"
#include "run/ChangeRecord.h"
#include "connection/OdbcConnection.h"
#include "run/CardSql.h"
#include "run/PaddingRun.h"
#include "run/ReferenceScan.h"
#include "run/StatementRunner.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using Interrupts::Phase;

// How long the preview looks for other columns holding card numbers.
constexpr int ReferenceScanSeconds = 20;

// --- The run -------------------------------------------------------------------------------------------

struct RunResult
{
    PaddingReport report;
    QStringList lines;
    bool leftAlone = false;
    // The commit did not come back: the message that says so.
    std::optional<QString> commitUnknown;
};

int statusOf(const RunResult &result)
{
    return result.leftAlone ? PadStatus::LeftAlone : PadStatus::Done;
}

// One whole run on the connection, committed or rolled back at its end.
RunResult runOnce(const PadOptions &options, const QList<AlsoColumn> &also, Console &console, PaddingRun::Ending ending,
                  Records *records)
{
    RunResult result;
    result.report = PaddingReport(records && records->any() ? records : nullptr);
    // A preview tells an administrator coming from SQL Server what a server that compares case or
    // width will make.
    result.report.findCaseTwins = ending == PaddingRun::Ending::RollBack;
    LibQuery query(QSqlDatabase::database(LibConnection::DatabaseName, false));
    ConsoleView view(console, options.lengthText(), options.showSql);
    PaddingRun run(query, view);
    view.attach(run);
    run.setReport(&result.report);
    run.setAlsoColumns(also);
    run.setLockTimeout(options.lockTimeout);
    const bool commit = ending == PaddingRun::Ending::Commit;
    run.setBeforeCommit(beforeCommit(records, commit));
    result.commitUnknown = runInterruptibly([&] { run.execute(ending); }, commit);
    result.leftAlone = !run.collisionList().isEmpty();
    result.lines = view.resultLines();
    if (result.commitUnknown) {
        result.lines = result.leftAlone ? QStringList{PaddingRun::CollisionHeading, run.collisionList()}
                                        : QStringList{PaddingRun::NoCollisionLine};
    }
    return result;
}

// Other columns that hold card numbers the run pads: named before the run, so that they can be
// carried along with --also.
void warnOfReferences(const PadOptions &options, const QList<AlsoColumn> &also, Console &console)
{
    if (options.noScan)
        return;
    QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    LibQuery query(db);
    ConsoleView view(console, options.lengthText(), options.showSql);
    StatementRunner sql(query, view);
    if (options.showSql)
        sql.setObserver(view.observer());
    const CardSql cards(CardSql::dialectFor(odbcDbmsName(db)));
    ReferenceScan::Result result;
    const auto scan = [&] { result = ReferenceScan(sql, cards).scan(options.length, ReferenceScanSeconds); };
    runInterruptibly(scan, false);
    QStringList carried;
    for (const AlsoColumn &column : also)
        carried << column.name().toLower();
    QStringList lines;
    for (const ReferenceScan::Column &column : std::as_const(result.found)) {
        if (carried.contains(column.name().toLower()) || carried.contains((column.table + u'.' + column.column).toLower()))
            continue;
        lines << QStringLiteral("  %1：%2行，%3个证号").arg(column.name()).arg(column.rows).arg(column.numbers);
    }
    if (!lines.isEmpty()) {
        console.out(QStringLiteral("警告：以下其他表的列中存有这次要补0的借书证号，处理后它们仍是原来的证号"
                                   "（用--also 表.列让它们随读者一起补0）：\n%1\n")
                        .arg(lines.join(u'\n')));
    }
    if (!result.notScanned.isEmpty()) {
        console.out(QStringLiteral("查找其他表中的借书证号用完了%1秒，没有查的列：%2（--no-scan不查找）\n")
                        .arg(ReferenceScanSeconds)
                        .arg(result.notScanned.join(QStringLiteral("，"))));
    }
    if (!result.unreadable.isEmpty())
        console.out(QStringLiteral("无法与借书证号比较或无权读取的列：%1\n").arg(result.unreadable.join(QStringLiteral("，"))));
    if (!lines.isEmpty() || !result.notScanned.isEmpty() || !result.unreadable.isEmpty())
        console.out(QStringLiteral("\n"));
}

int execute(const PadOptions &options, Console &console)
{
    const bool ask = options.apply && !options.yes;
    if (ask && !console.canAsk())
        return usageError(console, QStringLiteral("没有终端可以确认：执行(--apply)时请加上--yes"));
    if (const int refused = refuseRecordNames(options, console); refused != 0)
        return refused;
    reportLeftovers(console, options.changesFile, ChangeRecord::signature());
    reportLeftovers(console, options.sheetFile, SheetRecord::signature());
    Records records(options);

    Interrupts::check();
    const LibConnection::Login login = chooseLogin(options, console);
    const QList<AlsoColumn> also = chooseAlsoColumns(options);
    LibConnection connection;
    const ServerIdentity server = connectLibrary(connection, login);
    console.out(describeTarget(login.alias, server, options.length));
    if (!also.isEmpty()) {
        QStringList names;
        for (const AlsoColumn &column : also)
            names << column.name();
        console.out(QStringLiteral("随读者一起补0的其他列：%1\n\n").arg(names.join(QStringLiteral("，"))));
    }
    RunManifest manifest = RunManifest::describing(RunManifest::Kind::Run, login.alias, server, options.length);
    for (const AlsoColumn &column : also)
        manifest.alsoColumns << column.name();
    records.setManifest(manifest);

    // The whole run, rolled back, and what it did.
    const auto preview = [&](Records *sink) {
        warnOfReferences(options, also, console);
        RunResult result = runOnce(options, also, console, PaddingRun::Ending::RollBack, sink);
        console.out(QStringLiteral("预览：以下是执行时将做的改动。事务已回滚，数据库没有任何改动。\n"));
        console.out(summarize(result.report, result.lines));
        return result;
    };

    if (!options.apply) {
        const RunResult previewed = preview(&records);
        const Records::Outcome published = records.publish(Records::Kind::Preview, QStringLiteral("（执行时将写的记录）"));
        published.printLines(console);
        published.printProblems(console);
        console.out(QStringLiteral("要执行这些改动，请加上--apply。\n"));
        return published.problems.isEmpty() ? statusOf(previewed) : PadStatus::Error;
    }

    if (ask) {
        const RunResult previewed = preview(nullptr);
        if (nothingToChange(previewed.report)) {
            console.out(QStringLiteral("没有需要补0的借书证号，也没有要设置的密码：不需要执行，数据库没有任何改动%1。\n")
                            .arg(options.changesFile.isEmpty() && options.sheetFile.isEmpty() ? QString()
                                                                                              : QStringLiteral("，也没有写变更记录")));
            return statusOf(previewed);
        }
        if (!confirmed(console, QStringLiteral("\n确认已经备份好数据库，并在%1上执行以上改动？请输入 yes 执行：").arg(server.oneLine()))) {
            console.out(QStringLiteral("已取消，数据库没有任何改动。\n"));
            return PadStatus::Error;
        }
        console.out(QStringLiteral("\n"));
    }

    // Every apply keeps its record in the journal; when it cannot, the run goes on and says why.
    if (const QString why = records.keepInJournal(); !why.isEmpty())
        console.err(QStringLiteral("norvel-pad: 处理日志无法写入（%1）：这次处理不会出现在--runs中。\n").arg(why));
    const RunResult applied = runOnce(options, also, console, PaddingRun::Ending::Commit, &records);

    // Committed, or perhaps committed: the records go in place before anything is printed, and from
    // here on neither a signal nor a failing output changes what the command says or its status.
    if (applied.commitUnknown) {
        const QString howToCheck = records.howToCheck(options.length);
        const Records::Outcome published = records.publish(Records::Kind::Unconfirmed, QString(), unconfirmedNote(server, howToCheck));
        Interrupts::finish(PadStatus::CommitUnknown,
                           QStringLiteral("已中断。提交的结果不明：改动可能已经提交，也可能没有。%1 %2")
                               .arg(howToCheck, published.places.join(QStringLiteral("；"))));
        console.err(QStringLiteral("norvel-pad: %1\n").arg(*applied.commitUnknown));
        console.err(QStringLiteral("norvel-pad: 查看方法：%1\n").arg(howToCheck));
        published.printProblems(console);
        console.out(QStringLiteral("提交的结果不明。如果改动已经提交，改动如下：\n"));
        console.out(summarize(applied.report, applied.lines));
        published.printLines(console);
        return PadStatus::CommitUnknown;
    }

    const int status = statusOf(applied);
    const Records::Outcome published = records.publish(Records::Kind::Applied, QString());
    const QString places = published.places.isEmpty() ? QString()
                                                      : QStringLiteral("%1。").arg(published.places.join(QStringLiteral("；")));
    Interrupts::finish(status, QStringLiteral("已中断，但改动在此之前已经提交。%1").arg(places));
    console.out(QStringLiteral("已执行，改动已提交：\n"));
    console.out(summarize(applied.report, applied.lines));
    published.printLines(console);
    published.printProblems(console);
    if (Interrupts::requested() != 0)
        console.err(QStringLiteral("norvel-pad: 中断请求到达时改动已在提交中，改动已提交。\n"));
    console.out(PaddingRun::FinishedMessage + u'\n');
    if (console.outFailed())
        console.err(QStringLiteral("norvel-pad: 改动已提交（结果没能全部写到标准输出）。%1\n").arg(places));
    return status;
}

} // namespace

int runPadCommand(const QStringList &arguments, Console &console)
{
    QString error;
    const std::optional<PadOptions> options = parsePadOptions(arguments, error);
    if (!options)
        return usageError(console, error);
    if (options->help) {
        console.out(padHelpText());
        return PadStatus::Done;
    }
    if (options->version) {
        console.out(QStringLiteral("norvel-pad %1\n").arg(QCoreApplication::applicationVersion()));
        return PadStatus::Done;
    }
    try {
        if (options->runs)
            return listRuns(console);
        if (!options->undoRecord.isEmpty())
            return runUndo(*options, console);
        return execute(*options, console);
    } catch (const NorvelError &e) {
        // A stop before the commit: whatever it interrupted, nothing was changed.
        if (Interrupts::requested() != 0) {
            const bool inRun = dynamic_cast<const Interrupts::EStopRequested *>(&e) != nullptr;
            return failure(console, inRun ? e.message() : Interrupts::stopMessage(Phase::Idle));
        }
        QString message = e.message();
        if (dynamic_cast<const EDatabaseError *>(&e) && !message.contains(QStringLiteral("没有任何改动")))
            message += QStringLiteral("\n数据库没有任何改动。");
        return failure(console, message);
    }
}
