#include "PadOptions.h"

std::optional<PadOptions> parsePadOptions(const QStringList &arguments, QString &error)
{
    PadOptions options;
    bool changesGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> inlineValue;
        if (name.startsWith(QStringLiteral("--")) && name.contains(u'=')) {
            inlineValue = name.mid(name.indexOf(u'=') + 1);
            name = name.left(name.indexOf(u'='));
        }
        const auto value = [&](QString &target) {
            if (inlineValue) {
                target = *inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("选项%1需要一个值").arg(name);
                return false;
            }
            target = arguments[++i];
            return true;
        };
        const auto flag = [&](bool &target) {
            if (inlineValue) {
                error = QStringLiteral("选项%1不带值").arg(name);
                return false;
            }
            target = true;
            return true;
        };
        bool ok;
        if (name == QStringLiteral("--length")) {
            ok = value(options.length);
        } else if (name == QStringLiteral("--changes")) {
            ok = value(options.changesFile);
            changesGiven = true;
        } else if (name == QStringLiteral("--dsn")) {
            ok = value(options.dsn);
        } else if (name == QStringLiteral("--user")) {
            ok = value(options.user);
        } else if (name == QStringLiteral("--apply")) {
            ok = flag(options.apply);
        } else if (name == QStringLiteral("--yes")) {
            ok = flag(options.yes);
        } else if (name == QStringLiteral("--sql")) {
            ok = flag(options.showSql);
        } else if (name == QStringLiteral("--help") || name == QStringLiteral("-h")) {
            ok = flag(options.help);
        } else if (name == QStringLiteral("--version")) {
            ok = flag(options.version);
        } else {
            error = name.startsWith(u'-') ? QStringLiteral("未知的选项%1").arg(name)
                                          : QStringLiteral("多余的参数%1").arg(name);
            return std::nullopt;
        }
        if (!ok)
            return std::nullopt;
    }
    if (options.help || options.version)
        return options;
    if (options.yes && !options.apply) {
        error = QStringLiteral("--yes只和--apply一起使用");
        return std::nullopt;
    }
    if (options.dsn.isNull() != options.user.isNull()) {
        error = QStringLiteral("--dsn和--user要一起给出");
        return std::nullopt;
    }
    if (changesGiven && options.changesFile.isEmpty()) {
        error = QStringLiteral("--changes需要一个文件名");
        return std::nullopt;
    }
    return options;
}

QString padHelpText()
{
    return QStringLiteral(
        "用法: norvel-pad [--length L] [--apply [--yes]] [--changes 文件] [--sql] [--dsn 数据源 --user 登录名]\n"
        "\n"
        "给读者表(lib_people.pe_id)中短于L位的借书证号前面补0到L位，借阅记录(lib_jieshu.js_libcard)随之\n"
        "改动，密码等于借书证号的读者密码随证号改动；补0后会与现有证号重复的证号不改动并列出。全部改动在\n"
        "一个事务中完成：要么全部完成，要么没有任何改动。\n"
        "\n"
        "默认只预览：整个处理在事务中执行后回滚，数据库没有任何改动，输出就是执行时将做的改动。\n"
        "\n"
        "  --length L        借书证长度，默认9（与窗口中的\"设置证长度\"相同）\n"
        "  --apply           执行并提交改动。在终端上先显示预览并要求确认\n"
        "  --yes             与--apply一起使用：不再确认（没有终端时必须给出）\n"
        "  --changes 文件    把改动逐条写入CSV文件(UTF-8)：原借书证号、新借书证号、密码的变化、\n"
        "                    移动的借阅记录数、类别。执行时文件在提交成功后才出现；预览时是执行将写的记录\n"
        "  --sql             把发给数据库的每条语句写到标准错误输出\n"
        "  --dsn 数据源      不用本机保存的连接参数，改用这个ODBC数据源...\n"
        "  --user 登录名     ...和这个数据库登录名；密码取自环境变量NORVEL_PASSWORD，\n"
        "                    没有时在终端上输入（不回显）\n"
        "  --help            显示本说明\n"
        "  --version         显示版本\n"
        "\n"
        "连接参数默认与窗口程序相同：/etc/xdg/Kestavo/Lib.conf（或XDG_CONFIG_DIRS的第一个目录下）。\n"
        "Ctrl+C或SIGTERM随时中止：事务回滚，数据库没有任何改动。\n"
        "\n"
        "退出状态:\n"
        "  0   完成，没有需要手工处理的证号\n"
        "  2   完成，有证号因重复没有改动（已列出）\n"
        "  1   出错，数据库没有任何改动\n"
        "  64  用法错误\n"
        "预览的退出状态与执行时相同。\n");
}
