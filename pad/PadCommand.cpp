#include "PadCommand.h"

#include "ConsoleView.h"
#include "Interrupts.h"
#include "PadOptions.h"
#include "SheetRecord.h"
#include "Summary.h"

#include "common/unGlobal.h"
#include "connection/LibConnection.h"
#include "connection/ServerIdentity.h"
#include "connection/StoredSettings.h"
#include "db/LibQuery.h"
#include "platform/Exceptions.h"
#include "platform/MachineStore.h"
#include "platform/RecordFile.h"
#include "run/ChangeRecord.h"
#include "run/PaddingRun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using Interrupts::Phase;

int usageError(Console &console, const QString &message)
{
    console.err(QStringLiteral("norvel-pad: %1\n请用 norvel-pad --help 查看用法。\n").arg(message));
    return PadStatus::Usage;
}

int failure(Console &console, const QString &message)
{
    console.err(QStringLiteral("norvel-pad: %1\n").arg(message));
    return PadStatus::Error;
}

// --- The login ---------------------------------------------------------------------------------------

// The form the program stores a login name or password in: four of "0", "3", "4", "7" per byte.
bool inDigitForm(const QString &stored)
{
    return stored.size() % 4 == 0
        && std::all_of(stored.begin(), stored.end(), [](QChar c) {
               return c == u'0' || c == u'3' || c == u'4' || c == u'7';
           });
}

// The stored settings as the window reads them, saying on standard error what could not be read
// and what is used instead: the window would fall back silently, and the driver may then try the
// operating system's user.
LibConnection::Login storedLogin(Console &console)
{
    const QString file = MachineStore::keyFile(LibConnection::SettingsKey);
    const LibConnection::Login design;
    StoredSettings stored;
    if (!stored.open()) {
        console.err(QStringLiteral("norvel-pad: %1连接设置文件%2：使用设计值（数据源%3，登录名%4，空密码），与窗口程序相同。\n")
                        .arg(QFileInfo::exists(file) ? QStringLiteral("无法读取") : QStringLiteral("没有"), file,
                             design.alias, design.user));
        return design;
    }
    MachineStore raw;
    raw.OpenKeyReadOnly(LibConnection::SettingsKey);
    LibConnection::Login login;
    login.alias = stored.odbcName();
    const auto read = [&](const QString &name, const std::function<QString()> &decode, bool secret) {
        const QString value = TrimSetting(raw.ReadString(name));
        if (inDigitForm(value))
            return decode();
        // What the window would use: the lenient decoding, or nothing where that fails.
        QString used;
        try {
            used = decode();
        } catch (const NorvelError &) {
            used.clear();
        }
        QString what;
        if (used.isEmpty())
            what = secret ? QStringLiteral("使用了空密码") : QStringLiteral("使用了空登录名（ODBC驱动可能会改用操作系统的用户名）");
        else
            what = secret ? QStringLiteral("使用了按宽松读法得到的密码") : QStringLiteral("使用了按宽松读法得到的登录名“%1”").arg(used);
        console.err(QStringLiteral("norvel-pad: 连接设置文件%1中的%2不是程序保存的数字形式，无法读取：%3。\n").arg(file, name, what));
        return used;
    };
    login.user = read(StoredSettings::UserNameValue, [&] { return stored.userName(); }, false);
    login.password = read(StoredSettings::PasswordValue, [&] { return stored.password(); }, true);
    return login;
}

// The login: the stored settings, or the data source and user given on the command line with the
// password from the environment or the terminal.
LibConnection::Login chooseLogin(const PadOptions &options, Console &console)
{
    if (!options.overridesLogin())
        return storedLogin(console);
    LibConnection::Login login{options.dsn, options.user, {}};
    if (qEnvironmentVariableIsSet("NORVEL_PASSWORD")) {
        login.password = qEnvironmentVariable("NORVEL_PASSWORD");
    } else if (console.canAsk()) {
        const std::optional<QString> password =
            console.ask(QStringLiteral("%1 在数据源%2上的密码：").arg(options.user, options.dsn), true);
        if (!password) {
            if (Interrupts::requested() != 0) {
                console.err(QStringLiteral("\n"));
                throw Interrupts::EStopRequested(Interrupts::stopMessage(Phase::Idle));
            }
            throw EAbort(QStringLiteral("没有输入密码，没有做任何改动"));
        }
        login.password = *password;
    } else {
        throw EAbort(QStringLiteral("需要密码：请设置环境变量NORVEL_PASSWORD（没有终端可以输入），没有做任何改动"));
    }
    return login;
}

// --- The records ---------------------------------------------------------------------------------------

// The record files asked for, as the one sink the run writes to.
class Records : public ChangeSink
{
public:
    explicit Records(const PadOptions &options)
    {
        if (!options.changesFile.isEmpty())
            m_csv = std::make_unique<ChangeRecord>(options.changesFile);
        if (!options.sheetFile.isEmpty())
            m_sheet = std::make_unique<SheetRecord>(options.sheetFile);
    }

    bool any() const { return m_csv || m_sheet; }

    void add(const ChangedCard &card) override
    {
        if (m_csv)
            m_csv->add(card);
        if (m_sheet)
            m_sheet->add(card);
        if (!m_example && card.reader && card.oldNumber != card.newNumber)
            m_example = card;
    }

    void finish()
    {
        if (m_csv)
            m_csv->finish();
        if (m_sheet)
            m_sheet->finish();
    }

    void commitSent()
    {
        if (m_csv)
            m_csv->commitSent();
        if (m_sheet)
            m_sheet->commitSent();
    }

    // What publishing said: lines for standard output, problems for standard error.
    struct Outcome
    {
        QStringList lines;
        QStringList problems;
        QStringList places;   // where each file is now
    };

    // Puts the files in place. `suffix` follows the record's name in the line that names it (a
    // preview's record says what it is); `note`, when given, is written beside each file as
    // NAME.unconfirmed.
    Outcome publish(const QString &suffix, const QByteArray &note = {})
    {
        Outcome outcome;
        const auto one = [&](auto &file, const QString &what) {
            if (!file)
                return;
            QString why;
            if (!file->publish(&why)) {
                outcome.problems << QStringLiteral("%1没能放到%2（%3）：完整的%1在%4。")
                                        .arg(what, file->path(), why, file->keptPath());
                outcome.places << QStringLiteral("%1：%2").arg(what, file->keptPath());
                return;
            }
            QString line = QStringLiteral("%1%2：%3，%4行").arg(what, suffix, file->path()).arg(file->rows());
            if (!note.isEmpty()) {
                const QString marker = file->path() + QStringLiteral(".unconfirmed");
                const QString failed = RecordFile::writeNew(marker, note);
                if (failed.isEmpty())
                    line += QStringLiteral("（未确认：见%1）").arg(marker);
                else
                    outcome.problems << QStringLiteral("无法写入%1（%2）：%3%4属于一次提交结果不明的处理。")
                                            .arg(marker, failed, what, file->path());
            }
            outcome.lines << line;
            outcome.places << QStringLiteral("%1：%2").arg(what, file->path());
        };
        one(m_csv, QStringLiteral("变更记录"));
        one(m_sheet, QStringLiteral("表格"));
        return outcome;
    }

    // How to find out whether an unknown commit happened, with a reader of the record as example.
    QString howToCheck(int length) const
    {
        if (m_example) {
            return QStringLiteral("在表lib_people中找原借书证号为“%1”的读者（不计末尾的空格）：如果他的借书证号已经是“%2”，"
                                  "改动已经提交，变更记录就是这次的改动；如果仍是“%1”，改动没有提交，数据库与处理前相同。")
                .arg(m_example->oldNumber, m_example->newNumber);
        }
        return QStringLiteral("找一位借书证号短于%1位的读者，看他的证号是否已经补了0：补了，改动已经提交；没有，改动没有提交。")
            .arg(length);
    }

private:
    std::unique_ptr<ChangeRecord> m_csv;
    std::unique_ptr<SheetRecord> m_sheet;
    std::optional<ChangedCard> m_example;
};

void reportLeftovers(Console &console, const QString &path, const QByteArray &signature)
{
    if (path.isEmpty())
        return;
    const RecordFile::Leftovers left = RecordFile::cleanLeftovers(path, signature);
    for (const QString &file : left.removed)
        console.err(QStringLiteral("norvel-pad: 删除了以前一次没有提交就中断的处理留下的临时文件%1。\n").arg(file));
    for (const QString &file : left.committing) {
        console.err(QStringLiteral("norvel-pad: %1是以前一次在提交时中断的处理留下的记录：那次的改动可能已经提交。"
                                   "请核对数据库，再决定保留还是删除它（没有动它）。\n")
                        .arg(file));
    }
    for (const QString &file : left.inUse)
        console.err(QStringLiteral("norvel-pad: %1正被另一个norvel-pad使用（没有动它）。\n").arg(file));
    for (const QString &file : left.unknown)
        console.err(QStringLiteral("norvel-pad: %1像是变更记录的临时文件，但不能确定是norvel-pad留下的（没有动它）。\n").arg(file));
}

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
RunResult runOnce(const PadOptions &options, Console &console, PaddingRun::Ending ending, Records *records)
{
    RunResult result;
    result.report = PaddingReport(records && records->any() ? records : nullptr);
    LibQuery query(QSqlDatabase::database(LibConnection::DatabaseName, false));
    ConsoleView view(console, options.lengthText(), options.showSql);
    PaddingRun run(query, view);
    view.attach(run);
    run.setReport(&result.report);
    run.setLockTimeout(options.lockTimeout);
    run.setBeforeCommit([&] {
        if (records)
            records->finish();
        if (ending != PaddingRun::Ending::Commit)
            return;
        // From here on a signal waits for the commit; one that came before rolls the run back.
        Interrupts::beginCommit();
        try {
            if (records)
                records->commitSent();
        } catch (...) {
            Interrupts::setPhase(Phase::Running);
            throw;
        }
    });
    Interrupts::setPhase(Phase::Running);
    try {
        run.execute(ending);
    } catch (const ECommitUnknown &error) {
        result.commitUnknown = error.message();
    } catch (const NorvelError &error) {
        Interrupts::setPhase(Phase::Idle);
        // Whatever the cancelled statement raised: the run stopped because it was asked to.
        if (Interrupts::requested() != 0)
            throw Interrupts::EStopRequested(Interrupts::stopMessage(Phase::Running));
        if (dynamic_cast<const EDatabaseError *>(&error) && !error.message().contains(QStringLiteral("没有任何改动")))
            throw EAbort(error.message() + QStringLiteral("\n事务已回滚，数据库没有任何改动。"));
        throw;
    }
    if (ending == PaddingRun::Ending::RollBack)
        Interrupts::setPhase(Phase::Idle);
    result.leftAlone = !run.collisionList().isEmpty();
    result.lines = view.resultLines();
    if (result.commitUnknown) {
        result.lines = result.leftAlone ? QStringList{PaddingRun::CollisionHeading, run.collisionList()}
                                        : QStringList{PaddingRun::NoCollisionLine};
    }
    return result;
}

// The record beside which an unknown commit leaves its note (NAME.unconfirmed).
QByteArray unconfirmedNote(const ServerIdentity &server, const QString &howToCheck)
{
    return QStringLiteral(
               "norvel-pad，%1\n"
               "旁边的变更记录属于一次提交结果不明的处理：提交改动时与数据库的连接出错，改动可能已经提交，也可能没有。\n"
               "记录列出的是提交成功时的全部改动。\n"
               "数据库：%2\n"
               "查看方法：%3\n"
               "确认之前不要再次处理。确认改动已经提交后，删除本文件即可；确认没有提交时，删除变更记录和本文件，再重新处理。\n")
        .arg(QDateTime::currentDateTime().toString(Qt::ISODate), server.oneLine(), howToCheck)
        .toUtf8();
}

int execute(const PadOptions &options, Console &console)
{
    const bool ask = options.apply && !options.yes;
    if (ask && !console.canAsk())
        return usageError(console, QStringLiteral("没有终端可以确认：执行(--apply)时请加上--yes"));

    // The records' names: nothing that exists is written over (and again when the files are made).
    for (const auto &[file, what] : {std::pair{options.changesFile, QStringLiteral("变更记录")},
                                     std::pair{options.sheetFile, QStringLiteral("表格")}}) {
        if (file.isEmpty())
            continue;
        if (const QString why = RecordFile::refusal(file); !why.isEmpty())
            return usageError(console, what + why);
    }
    reportLeftovers(console, options.changesFile, ChangeRecord::signature());
    reportLeftovers(console, options.sheetFile, SheetRecord::signature());
    Records records(options);

    Interrupts::check();
    const LibConnection::Login login = chooseLogin(options, console);
    Interrupts::check();
    LibConnection connection;
    try {
        connection.open(login);
    } catch (const NorvelError &e) {
        Interrupts::check();
        throw EAbort(QStringLiteral("无法连接数据源%1：%2").arg(login.alias, e.message().trimmed()));
    }
    Interrupts::check();
    const ServerIdentity server = queryServerIdentity(connection.database());
    console.out(describeTarget(login.alias, server, options.length));

    // The whole run, rolled back, and what it did.
    const auto preview = [&](Records *sink) {
        RunResult result = runOnce(options, console, PaddingRun::Ending::RollBack, sink);
        console.out(QStringLiteral("预览：以下是执行时将做的改动。事务已回滚，数据库没有任何改动。\n"));
        console.out(summarize(result.report, result.lines));
        return result;
    };

    if (!options.apply) {
        const RunResult previewed = preview(&records);
        const Records::Outcome published = records.publish(QStringLiteral("（执行时将写的记录）"));
        for (const QString &line : published.lines)
            console.out(line + u'\n');
        for (const QString &problem : published.problems)
            console.err(QStringLiteral("norvel-pad: %1\n").arg(problem));
        console.out(QStringLiteral("要执行这些改动，请加上--apply。\n"));
        return published.problems.isEmpty() ? statusOf(previewed) : PadStatus::Error;
    }

    if (ask) {
        const RunResult previewed = preview(nullptr);
        if (nothingToChange(previewed.report)) {
            console.out(QStringLiteral("没有需要补0的借书证号，也没有要设置的密码：不需要执行，数据库没有任何改动%1。\n")
                            .arg(records.any() ? QStringLiteral("，也没有写变更记录") : QString()));
            return statusOf(previewed);
        }
        const std::optional<QString> answer = console.ask(
            QStringLiteral("\n确认已经备份好数据库，并在%1上执行以上改动？请输入 yes 执行：").arg(server.oneLine()), false);
        if (!answer && Interrupts::requested() != 0) {
            console.err(QStringLiteral("\n"));
            throw Interrupts::EStopRequested(Interrupts::stopMessage(Phase::Idle));
        }
        if (!answer || *answer != QStringLiteral("yes")) {
            console.out(QStringLiteral("已取消，数据库没有任何改动。\n"));
            return PadStatus::Error;
        }
        console.out(QStringLiteral("\n"));
    }

    const RunResult applied = runOnce(options, console, PaddingRun::Ending::Commit, &records);

    // Committed, or perhaps committed: the records go in place before anything is printed, and from
    // here on neither a signal nor a failing output changes what the command says or its status.
    if (applied.commitUnknown) {
        const QString howToCheck = records.howToCheck(options.length);
        const Records::Outcome published = records.publish(QString(), unconfirmedNote(server, howToCheck));
        Interrupts::finish(PadStatus::CommitUnknown,
                           QStringLiteral("已中断。提交的结果不明：改动可能已经提交，也可能没有。%1 %2")
                               .arg(howToCheck, published.places.join(QStringLiteral("；"))));
        console.err(QStringLiteral("norvel-pad: %1\n").arg(*applied.commitUnknown));
        console.err(QStringLiteral("norvel-pad: 查看方法：%1\n").arg(howToCheck));
        for (const QString &problem : published.problems)
            console.err(QStringLiteral("norvel-pad: %1\n").arg(problem));
        console.out(QStringLiteral("提交的结果不明。如果改动已经提交，改动如下：\n"));
        console.out(summarize(applied.report, applied.lines));
        for (const QString &line : published.lines)
            console.out(line + u'\n');
        return PadStatus::CommitUnknown;
    }

    const int status = statusOf(applied);
    const Records::Outcome published = records.publish(QString());
    const QString places = published.places.isEmpty() ? QString()
                                                      : QStringLiteral("%1。").arg(published.places.join(QStringLiteral("；")));
    Interrupts::finish(status, QStringLiteral("已中断，但改动在此之前已经提交。%1").arg(places));
    console.out(QStringLiteral("已执行，改动已提交：\n"));
    console.out(summarize(applied.report, applied.lines));
    for (const QString &line : published.lines)
        console.out(line + u'\n');
    for (const QString &problem : published.problems)
        console.err(QStringLiteral("norvel-pad: %1\n").arg(problem));
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
