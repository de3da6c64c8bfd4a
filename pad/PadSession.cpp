#include "PadSession.h"

#include "Interrupts.h"
#include "Records.h"

#include "common/unGlobal.h"
#include "connection/StoredSettings.h"
#include "platform/Exceptions.h"
#include "platform/MachineStore.h"
#include "platform/RecordFile.h"
#include "run/RunManifest.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <functional>

using Interrupts::Phase;

namespace {

// The form the program stores a login name or password in: four of "0", "3", "4", "7" per byte.
bool inDigitForm(const QString &stored)
{
    return stored.size() % 4 == 0
        && std::all_of(stored.begin(), stored.end(), [](QChar c) {
               return c == u'0' || c == u'3' || c == u'4' || c == u'7';
           });
}

} // namespace

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

// The stored settings as the window reads them, saying on standard error what could not be read
// and what is used instead: the window would fall back silently, and the driver may then try the
// operating system's user.
namespace {

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

} // namespace

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


QList<AlsoColumn> chooseAlsoColumns(const PadOptions &options)
{
    if (options.alsoGiven || options.overridesLogin())
        return options.also;
    StoredSettings stored;
    if (!stored.open())
        return {};
    const QString text = stored.alsoColumns();
    if (text.isEmpty())
        return {};
    QString why;
    const std::optional<QList<AlsoColumn>> columns = AlsoColumn::parseList(text, &why);
    if (!columns) {
        throw EAbort(QStringLiteral("连接设置文件%1中的%2不可读（%3），没有做任何改动")
                         .arg(MachineStore::keyFile(LibConnection::SettingsKey), StoredSettings::AlsoValue, why));
    }
    return *columns;
}

int refuseRecordNames(const PadOptions &options, Console &console)
{
    // Nothing that exists is written over (and again when the files are made).
    for (const auto &[file, what] : {std::pair{options.changesFile, QStringLiteral("变更记录")},
                                     std::pair{options.sheetFile, QStringLiteral("表格")}}) {
        if (file.isEmpty())
            continue;
        if (const QString why = RecordFile::refusal(file); !why.isEmpty())
            return usageError(console, what + why);
    }
    if (!options.changesFile.isEmpty()) {
        const QString manifest = RunManifest::pathFor(options.changesFile);
        if (const QString why = RecordFile::refusal(manifest); !why.isEmpty())
            return usageError(console, QStringLiteral("变更记录的清单文件") + why);
    }
    return 0;
}

ServerIdentity connectLibrary(LibConnection &connection, const LibConnection::Login &login)
{
    Interrupts::check();
    try {
        connection.open(login);
    } catch (const NorvelError &e) {
        Interrupts::check();
        throw EAbort(QStringLiteral("无法连接数据源%1：%2").arg(login.alias, e.message().trimmed()));
    }
    Interrupts::check();
    return queryServerIdentity(connection.database());
}

bool confirmed(Console &console, const QString &question)
{
    const std::optional<QString> answer = console.ask(question, false);
    if (!answer && Interrupts::requested() != 0) {
        console.err(QStringLiteral("\n"));
        throw Interrupts::EStopRequested(Interrupts::stopMessage(Phase::Idle));
    }
    return answer && *answer == QStringLiteral("yes");
}

std::function<void()> beforeCommit(Records *records, bool commit)
{
    return [records, commit] {
        if (records)
            records->finish();
        if (!commit)
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
    };
}

std::optional<QString> runInterruptibly(const std::function<void()> &execute, bool commit)
{
    std::optional<QString> commitUnknown;
    Interrupts::setPhase(Phase::Running);
    try {
        execute();
    } catch (const ECommitUnknown &error) {
        commitUnknown = error.message();
    } catch (const NorvelError &error) {
        Interrupts::setPhase(Phase::Idle);
        // Whatever the cancelled statement raised: the run stopped because it was asked to.
        if (Interrupts::requested() != 0)
            throw Interrupts::EStopRequested(Interrupts::stopMessage(Phase::Running));
        if (dynamic_cast<const EDatabaseError *>(&error) && !error.message().contains(QStringLiteral("没有任何改动")))
            throw EAbort(error.message() + QStringLiteral("\n事务已回滚，数据库没有任何改动。"));
        throw;
    }
    if (!commit)
        Interrupts::setPhase(Phase::Idle);
    return commitUnknown;
}
