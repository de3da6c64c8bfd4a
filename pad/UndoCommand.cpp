#include "UndoCommand.h"

#include "ConsoleView.h"
#include "Interrupts.h"
#include "PadSession.h"
#include "Records.h"
#include "SheetRecord.h"
#include "Summary.h"

#include "db/LibQuery.h"
#include "platform/Exceptions.h"
#include "run/ChangeRecord.h"
#include "undo/UndoRun.h"
#include "undo/UndoSource.h"

#include <QMap>
#include <QSqlDatabase>

#include <algorithm>

namespace {

QString conflictText(const UndoCard &card, UndoPlan::Conflict why)
{
    switch (why) {
    case UndoPlan::Conflict::OldNumberTaken:
        return QStringLiteral("原证号%1现在有读者在用").arg(card.oldNumber);
    case UndoPlan::Conflict::MoreReaders:
        return QStringLiteral("新证号%1现在有不止一位读者").arg(card.newNumber);
    case UndoPlan::Conflict::NumberOnlyInLoansTaken:
        return QStringLiteral("只见于借阅记录的证号，现在有读者使用原证号或新证号");
    case UndoPlan::Conflict::JoinedLoans:
        return QStringLiteral("处理前已有借阅记录在新证号%1下，分不清此后的借阅记录哪些该移回").arg(card.newNumber);
    }
    return {};
}

// What the undo will do (or did): per length of the old numbers, then the loans lent since, the
// passwords, the cards that need nothing, the conflicts.
QString describePlan(const QList<UndoCard> &cards, const UndoPlan &plan)
{
    QMap<int, std::pair<qint64, qint64>> perLength;
    for (const UndoPlan::Back &back : plan.back) {
        const UndoCard &card = cards.at(back.card);
        if (card.oldNumber == card.newNumber)
            continue;   // a password only: counted below
        auto &figures = perLength[int(card.oldNumber.size())];
        figures.first += back.readers;
        figures.second += back.loans;
    }
    QString text = QStringLiteral("  原长度    恢复原证号的读者    移回原证号的借阅记录\n");
    qint64 readers = 0;
    qint64 loans = 0;
    for (auto it = perLength.cbegin(); it != perLength.cend(); ++it) {
        text += QStringLiteral("%1    %2    %3\n")
                    .arg(QString::number(it.key()).rightJustified(8))
                    .arg(QString::number(it.value().first).rightJustified(16))
                    .arg(QString::number(it.value().second).rightJustified(20));
        readers += it.value().first;
        loans += it.value().second;
    }
    text += QStringLiteral("%1    %2    %3\n")
                .arg(QStringLiteral("合计").rightJustified(6))
                .arg(QString::number(readers).rightJustified(16))
                .arg(QString::number(loans).rightJustified(20));
    text += QStringLiteral("其中处理之后才借出的借阅记录：%1\n").arg(plan.loansSince);
    text += QStringLiteral("密码恢复原样的读者：%1；密码此后改过、保持不变的读者：%2\n").arg(plan.passwordsBack).arg(plan.passwordsChangedSince);
    if (plan.passwordsOnly > 0)
        text += QStringLiteral("只恢复密码的读者：%1\n").arg(plan.passwordsOnly);
    if (!plan.gone.isEmpty()) {
        QStringList numbers;
        for (const int card : plan.gone)
            numbers << cards.at(card).newNumber;
        text += QStringLiteral("没有读者使用新证号（已删除或已改号）、不需要处理的证号：%1\n").arg(numbers.join(u' '));
    }
    if (!plan.conflicts.isEmpty()) {
        text += QStringLiteral("冲突：以下证号现在的状态与处理后不同，不能撤销：\n");
        for (const auto &[card, why] : plan.conflicts) {
            const UndoCard &c = cards.at(card);
            text += QStringLiteral("  %1 → %2：%3\n").arg(c.newNumber, c.oldNumber, conflictText(c, why));
        }
    }
    return text;
}

struct UndoResult
{
    UndoPlan plan;
    std::optional<QString> commitUnknown;
};

UndoResult undoOnce(const PadOptions &options, const UndoSource &source, const QList<AlsoColumn> &also, Console &console,
                    UndoRun::Ending ending, Records *records)
{
    LibQuery query(QSqlDatabase::database(LibConnection::DatabaseName, false));
    ConsoleView view(console, QString::number(source.manifest.length), options.showSql);
    UndoRun undo(query, view, source.record.cards);
    undo.setPartial(options.partial);
    undo.setAlsoColumns(also);
    undo.setLockTimeout(options.lockTimeout);
    if (options.showSql)
        undo.setStatementObserver(view.observer());
    undo.setRecord(records);
    const bool commit = ending == UndoRun::Ending::Commit;
    undo.setBeforeCommit(beforeCommit(records, commit));
    UndoResult result;
    result.commitUnknown = runInterruptibly([&] { undo.execute(ending); }, commit);
    result.plan = undo.plan();
    return result;
}

// A refused plan: what it found, and the status.
int refusedPlan(Console &console, const UndoSource &source, const UndoPlan &plan)
{
    if (plan.nothingToUndo) {
        console.err(QStringLiteral("norvel-pad: 不能撤销：记录中没有一个证号还是处理后的样子，这次处理已经撤销过了"
                                   "（或者这些读者都已改号或删除）。没有做任何改动。\n"));
        return PadStatus::Error;
    }
    console.out(describePlan(source.record.cards, plan));
    console.err(QStringLiteral("norvel-pad: 撤销有%1个冲突（已列出），没有做任何改动。加上--partial可以撤销其余的证号，"
                               "有冲突的保持不变。\n")
                    .arg(plan.conflicts.size()));
    return PadStatus::UndoConflicts;
}

} // namespace

int runUndo(const PadOptions &options, Console &console)
{
    const bool ask = options.apply && !options.yes;
    if (ask && !console.canAsk())
        return usageError(console, QStringLiteral("没有终端可以确认：执行(--apply)时请加上--yes"));
    QString why;
    const std::optional<UndoSource> source = UndoGate::read(options.undoRecord, &why);
    if (!source)
        return failure(console, QStringLiteral("不能撤销：%1。没有做任何改动。").arg(why));
    QList<AlsoColumn> also;
    for (const QString &name : source->manifest.alsoColumns) {
        const std::optional<AlsoColumn> column = AlsoColumn::parse(name, &why);
        if (!column)
            return failure(console, QStringLiteral("不能撤销：清单文件中的列%1不可读（%2）。没有做任何改动。").arg(name, why));
        also << *column;
    }
    if (const int refused = refuseRecordNames(options, console); refused != 0)
        return refused;
    reportLeftovers(console, options.changesFile, ChangeRecord::signature());
    reportLeftovers(console, options.sheetFile, SheetRecord::signature());
    Records records(options);

    Interrupts::check();
    const LibConnection::Login login = chooseLogin(options, console);
    LibConnection connection;
    const ServerIdentity server = connectLibrary(connection, login);
    console.out(describeTarget(login.alias, server, source->manifest.length));
    const RunManifest &run = source->manifest;
    console.out(QStringLiteral("撤销%1：%2（%3提交，%4行）\n\n")
                    .arg(run.kind == RunManifest::Kind::Undo ? QStringLiteral("一次撤销（即重做）") : QStringLiteral("一次处理"),
                         source->recordPath, run.committed.toLocalTime().toString(Qt::ISODate))
                    .arg(run.rows));
    if (const QString refused = UndoGate::refusal(*source, server, options.databaseMoved, RunJournal::entries()); !refused.isEmpty())
        return failure(console, QStringLiteral("不能撤销：%1。没有做任何改动。").arg(refused));
    if (options.databaseMoved && !run.sameDatabase(server)) {
        console.out(QStringLiteral("数据库已移动（--database-moved）：记录的是%1 %2 %3，现在是%4 %5 %6；每个证号仍逐一核对。\n\n")
                        .arg(run.product, run.serverName, run.database, server.product, server.serverKey(), server.database));
    }
    RunManifest manifest = RunManifest::describing(RunManifest::Kind::Undo, login.alias, server, run.length);
    manifest.undoOf = run.runId;
    manifest.alsoColumns = run.alsoColumns;
    records.setManifest(manifest);

    const auto preview = [&](Records *sink) {
        UndoResult result = undoOnce(options, *source, also, console, UndoRun::Ending::RollBack, sink);
        return result;
    };

    if (!options.apply || ask) {
        const UndoResult previewed = preview(options.apply ? nullptr : &records);
        if (previewed.plan.refused)
            return refusedPlan(console, *source, previewed.plan);
        console.out(QStringLiteral("撤销预览：以下是执行时将做的改动。事务已回滚，数据库没有任何改动。\n"));
        console.out(describePlan(source->record.cards, previewed.plan));
        console.out(QStringLiteral("\n"));
        if (!options.apply) {
            const Records::Outcome published = records.publish(Records::Kind::Preview, QStringLiteral("（执行时将写的记录）"));
            published.printLines(console);
            published.printProblems(console);
            console.out(QStringLiteral("要执行撤销，请加上--apply。\n"));
            return published.problems.isEmpty() ? PadStatus::Done : PadStatus::Error;
        }
        if (!confirmed(console, QStringLiteral("确认在%1上执行以上撤销？请输入 yes 执行：").arg(server.oneLine()))) {
            console.out(QStringLiteral("已取消，数据库没有任何改动。\n"));
            return PadStatus::Error;
        }
        console.out(QStringLiteral("\n"));
    }

    if (const QString reason = records.keepInJournal(); !reason.isEmpty())
        console.err(QStringLiteral("norvel-pad: 处理日志无法写入（%1）：这次撤销不会出现在--runs中。\n").arg(reason));
    const UndoResult applied = undoOnce(options, *source, also, console, UndoRun::Ending::Commit, &records);
    if (applied.plan.refused && !applied.commitUnknown)
        return refusedPlan(console, *source, applied.plan);

    if (applied.commitUnknown) {
        const QString howToCheck = QStringLiteral("看记录中第一位读者现在的证号是原证号还是新证号。");
        const Records::Outcome published = records.publish(Records::Kind::Unconfirmed, QString(), unconfirmedNote(server, howToCheck));
        Interrupts::finish(PadStatus::CommitUnknown, QStringLiteral("已中断。提交的结果不明：撤销可能已经提交，也可能没有。%1")
                                                         .arg(published.places.join(QStringLiteral("；"))));
        console.err(QStringLiteral("norvel-pad: %1\n").arg(*applied.commitUnknown));
        published.printProblems(console);
        console.out(QStringLiteral("提交的结果不明。如果撤销已经提交，改动如下：\n"));
        console.out(describePlan(source->record.cards, applied.plan));
        published.printLines(console);
        return PadStatus::CommitUnknown;
    }

    const Records::Outcome published = records.publish(Records::Kind::Applied, QString());
    const QString places = published.places.isEmpty() ? QString()
                                                      : QStringLiteral("%1。").arg(published.places.join(QStringLiteral("；")));
    Interrupts::finish(PadStatus::Done, QStringLiteral("已中断，但撤销在此之前已经提交。%1").arg(places));
    console.out(QStringLiteral("已撤销，改动已提交：\n"));
    console.out(describePlan(source->record.cards, applied.plan));
    published.printLines(console);
    published.printProblems(console);
    if (console.outFailed())
        console.err(QStringLiteral("norvel-pad: 撤销已提交（结果没能全部写到标准输出）。%1\n").arg(places));
    return PadStatus::Done;
}
