#include "PadOptions.h"

#include "platform/IntConversion.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

// The options' names as they are written, for messages.
QString written(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// QCommandLineParser's own messages are English: say in Chinese what it refused.
QString refusal(const QCommandLineParser &parser, const QStringList &arguments,
                const QList<QCommandLineOption> &withValue, const QList<QCommandLineOption> &flags)
{
    if (!parser.unknownOptionNames().isEmpty())
        return QStringLiteral("未知的选项%1").arg(written(parser.unknownOptionNames().constFirst()));
    const auto names = [](const QList<QCommandLineOption> &options) {
        QStringList all;
        for (const QCommandLineOption &option : options)
            all += option.names();
        return all;
    };
    const QStringList valued = names(withValue);
    const QStringList flagNames = names(flags);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QStringLiteral("--"))
            break;
        if (!argument.startsWith(u'-'))
            continue;
        const QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1).section(u'=', 0, 0);
        if (argument.contains(u'=') && flagNames.contains(name))
            return QStringLiteral("选项%1不带值").arg(written(name));
        if (!argument.contains(u'=') && valued.contains(name) && i + 1 == arguments.size())
            return QStringLiteral("选项%1需要一个值").arg(written(name));
    }
    return parser.errorText();
}

} // namespace

std::optional<PadOptions> parsePadOptions(const QStringList &arguments, QString &error)
{
    const QCommandLineOption length(QStringLiteral("length"), {}, QStringLiteral("L"));
    const QCommandLineOption apply(QStringLiteral("apply"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption changes(QStringLiteral("changes"), {}, QStringLiteral("file"));
    const QCommandLineOption sheet(QStringLiteral("sheet"), {}, QStringLiteral("file"));
    const QCommandLineOption sql(QStringLiteral("sql"));
    const QCommandLineOption dsn(QStringLiteral("dsn"), {}, QStringLiteral("name"));
    const QCommandLineOption user(QStringLiteral("user"), {}, QStringLiteral("name"));
    const QCommandLineOption lockTimeout(QStringLiteral("lock-timeout"), {}, QStringLiteral("seconds"));
    const QCommandLineOption also(QStringLiteral("also"), {}, QStringLiteral("table.column"));
    const QCommandLineOption noScan(QStringLiteral("no-scan"));
    const QCommandLineOption undo(QStringLiteral("undo"), {}, QStringLiteral("record"));
    const QCommandLineOption partial(QStringLiteral("partial"));
    const QCommandLineOption databaseMoved(QStringLiteral("database-moved"));
    const QCommandLineOption runs(QStringLiteral("runs"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QList<QCommandLineOption> withValue{length, changes, sheet, dsn, user, lockTimeout, also, undo};
    const QList<QCommandLineOption> flags{apply, yes, sql, help, version, noScan, partial, databaseMoved, runs};

    QCommandLineParser parser;
    parser.addOptions(withValue + flags);
    if (!parser.parse(QStringList{QStringLiteral("norvel-pad")} + arguments)) {
        error = refusal(parser, arguments, withValue, flags);
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("多余的参数%1").arg(parser.positionalArguments().constFirst());
        return std::nullopt;
    }
    // Each option once: of "--length 9 --length 3" neither is more right than the other.
    QStringList seen;
    for (const QString &name : parser.optionNames()) {
        const QString option = name == QStringLiteral("h") ? QStringLiteral("help") : name;
        if (seen.contains(option) && option != QStringLiteral("also")) {
            error = QStringLiteral("选项%1给了不止一次").arg(written(option));
            return std::nullopt;
        }
        seen << option;
    }

    PadOptions options;
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    if (options.help || options.version)
        return options;
    options.apply = parser.isSet(apply);
    options.yes = parser.isSet(yes);
    options.showSql = parser.isSet(sql);
    options.changesFile = parser.value(changes);
    options.sheetFile = parser.value(sheet);
    options.dsn = parser.value(dsn);
    options.user = parser.value(user);

    // Empty values are slips (an unset variable in a script), not choices.
    for (const QCommandLineOption &option : withValue) {
        if (parser.isSet(option) && parser.value(option).isEmpty()) {
            error = QStringLiteral("选项%1的值是空的").arg(written(option.names().constFirst()));
            return std::nullopt;
        }
    }
    if (parser.isSet(length)) {
        // The conversion the window's length field goes through.
        const QString text = parser.value(length);
        const std::optional<std::int32_t> value = tryStrToInt(text);
        if (!value) {
            error = QStringLiteral("借书证长度“%1”不是整数").arg(text);
            return std::nullopt;
        }
        if (*value < MinimumLength) {
            error = QStringLiteral("借书证长度至少为%1，不能是%2").arg(MinimumLength).arg(*value);
            return std::nullopt;
        }
        options.length = *value;
    }
    if (parser.isSet(lockTimeout)) {
        bool ok = false;
        const QString text = parser.value(lockTimeout);
        options.lockTimeout = text.toInt(&ok);
        if (!ok || options.lockTimeout < 0 || text.startsWith(u'+')) {
            error = QStringLiteral("--lock-timeout需要一个秒数（0或正整数），不能是“%1”").arg(text);
            return std::nullopt;
        }
    }
    options.noScan = parser.isSet(noScan);
    options.undoRecord = parser.value(undo);
    options.partial = parser.isSet(partial);
    options.databaseMoved = parser.isSet(databaseMoved);
    options.runs = parser.isSet(runs);
    options.alsoGiven = parser.isSet(also);
    for (const QString &name : parser.values(also)) {
        QString why;
        const std::optional<AlsoColumn> column = AlsoColumn::parse(name, &why);
        if (!column) {
            error = QStringLiteral("--also %1：%2").arg(name, why);
            return std::nullopt;
        }
        if (options.also.contains(*column)) {
            error = QStringLiteral("--also %1给了不止一次").arg(name);
            return std::nullopt;
        }
        options.also << *column;
    }
    // Options that exclude others: while a rule holds, none of its options may be given. The first
    // one given, in the rules' order, is named by its long name.
    struct Rule
    {
        bool holds;
        QList<QCommandLineOption> refused;
        QString message;   // %1: the option as written
    };
    QList<QCommandLineOption> besideRuns = withValue + flags;
    besideRuns.removeIf([](const QCommandLineOption &option) { return option.names().constLast() == QStringLiteral("runs"); });
    const QList<Rule> rules{
        {options.runs, besideRuns, QStringLiteral("--runs只列出处理日志，不和%1一起使用")},
        {!options.undoRecord.isEmpty(), {length, also, noScan},
         QStringLiteral("--undo按变更记录撤销（长度和一起补0的列都取自记录），不和%1一起使用")},
        {options.undoRecord.isEmpty(), {partial, databaseMoved}, QStringLiteral("%1只和--undo一起使用")},
    };
    for (const Rule &rule : rules) {
        if (!rule.holds)
            continue;
        for (const QCommandLineOption &option : rule.refused) {
            if (parser.isSet(option)) {
                error = rule.message.arg(written(option.names().constLast()));
                return std::nullopt;
            }
        }
    }
    if (options.runs)
        return options;
    if (options.yes && !options.apply) {
        error = QStringLiteral("--yes只和--apply一起使用");
        return std::nullopt;
    }
    if (parser.isSet(dsn) != parser.isSet(user)) {
        error = QStringLiteral("--dsn和--user要一起给出");
        return std::nullopt;
    }
    if (!options.sheetFile.isEmpty() && !options.sheetFile.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)) {
        error = QStringLiteral("--sheet的文件名要以.xlsx结尾：%1").arg(options.sheetFile);
        return std::nullopt;
    }
    if (!options.changesFile.isEmpty() && !options.sheetFile.isEmpty()
        && QFileInfo(options.changesFile).absoluteFilePath() == QFileInfo(options.sheetFile).absoluteFilePath()) {
        error = QStringLiteral("--changes和--sheet不能是同一个文件");
        return std::nullopt;
    }
    return options;
}

QString padHelpText()
{
    return QStringLiteral(
        "用法: norvel-pad [--length L] [--also 表.列]... [--no-scan] [--apply [--yes]]\n"
        "                 [--changes 文件.csv] [--sheet 文件.xlsx] [--lock-timeout 秒数] [--sql]\n"
        "                 [--dsn 数据源 --user 登录名]\n"
        "       norvel-pad --undo 变更记录.csv [--partial] [--database-moved] [--apply [--yes]] ...\n"
        "       norvel-pad --runs\n"
        "\n"
        "给读者表(lib_people.pe_id)中短于L位的借书证号前面补0到L位，借阅记录(lib_jieshu.js_libcard)随之\n"
        "改动，密码等于借书证号的读者密码随证号改动；补0后会与现有证号重复的证号不改动并列出。全部改动在\n"
        "一个事务中完成：要么全部完成，要么没有任何改动。\n"
        "\n"
        "默认只预览：整个处理在事务中执行后回滚，数据库没有任何改动，输出就是执行时将做的改动。\n"
        "\n"
        "  --length L          借书证长度，默认9，至少为2\n"
        "  --apply             执行并提交改动。在终端上先显示预览，再问是否执行（只有输入yes才执行）；\n"
        "                      没有需要改动的内容时不问\n"
        "  --yes               与--apply一起使用：不再确认（没有终端时必须给出）\n"
        "  --changes 文件      把改动逐条写入CSV文件(UTF-8)：原借书证号、新借书证号、密码的变化、\n"
        "                      移动的借阅记录数、类别。文件不能已经存在；执行时在提交成功后才出现，\n"
        "                      预览时是执行将写的记录\n"
        "  --sheet 文件.xlsx   同样的记录写成电子表格（全是文本单元格，保留借书证号前面的0）\n"
        "  --lock-timeout 秒数 另一个会话锁住表时最多等这么久，然后放弃（没有任何改动）；默认一直等\n"
        "  --also 表.列        这一列也存着借书证号：按借阅记录的规则随读者一起补0（可以给多个；\n"
        "                      不给时用连接设置中的ALSO）\n"
        "  --no-scan           预览时不查找其他表中存着借书证号的列\n"
        "  --undo 变更记录     按一次已提交的处理的变更记录（及旁边的.run清单）撤销它，保留此后的借阅；\n"
        "                      默认只预览，--apply执行\n"
        "  --partial           与--undo一起使用：有冲突的证号保持不变，其余撤销\n"
        "  --database-moved    与--undo一起使用：数据库改了名或恢复到了别处，仍按记录撤销\n"
        "  --runs              列出处理日志中的每次处理和撤销\n"
        "  --sql               把发给数据库的每条语句写到标准错误输出\n"
        "  --dsn 数据源        不用本机保存的连接参数，改用这个ODBC数据源...\n"
        "  --user 登录名       ...和这个数据库登录名；密码取自环境变量NORVEL_PASSWORD，\n"
        "                      没有时在终端上输入（不回显）\n"
        "  -h, --help          显示本说明\n"
        "  --version           显示版本\n"
        "\n"
        "连接参数默认与窗口程序相同：/etc/xdg/Kestavo/Lib.conf（或XDG_CONFIG_DIRS的第一个目录下）。\n"
        "每次执行（窗口程序的也一样）都把变更记录和清单保存在处理日志中：root是/var/lib/norvel/runs，\n"
        "其他用户是~/.local/state/norvel/runs。\n"
        "Ctrl+C或SIGTERM在提交之前随时中止：正在执行的语句被取消，事务回滚，数据库没有任何改动。\n"
        "\n"
        "退出状态:\n"
        "  0   完成，没有需要手工处理的证号\n"
        "  2   完成，有证号因重复没有改动（已列出）；执行时改动已经提交\n"
        "  1   出错、中断或没有确认，数据库没有任何改动\n"
        "  3   提交时与数据库的连接出错：改动可能已经提交，也可能没有（见输出中的查看方法）\n"
        "  4   撤销时发现冲突（已列出），没有任何改动\n"
        "  64  用法错误，什么也没有做\n"
        "预览的退出状态与执行时相同。\n");
}
