#include "app/Startup.h"

#include "data/StatusText.h"
#include "data/dmLibData.h"
#include "forms/frmDbPara.h"
#include "forms/frmNorvelMain.h"
#include "platform/CoreDumps.h"
#include "platform/Exceptions.h"
#include "shell/Artwork.h"
#include "shell/NorvelApplication.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

// One line on standard error: the window shows no error at start, but an administrator who starts
// the program from a terminal learns why it did not connect.
void tellTerminal(const QString &what, const QString &why)
{
    QString text = why;
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray line = QStringLiteral("norvel: %1: %2\n").arg(what, text.trimmed()).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

QString reasonOf(const std::exception *error)
{
    return error ? NorvelApplication::messageOf(*error) : QStringLiteral("Unknown error");
}

} // namespace

StartedProgram startProgram(const MainWindowFactory &createMainWindow)
{
    StartedProgram program;
    // A failed connection, unreadable settings or a main window that could not be built: the
    // dialog, with its explanation, is the only report on screen.
    auto fail = [&program](const QString &what, const std::exception *error) {
        tellTerminal(what, reasonOf(error));
        program.dataModule.reset();
        program.mainWindow.reset();
    };
    try {
        // Created without the connection first, so that a failure can name the data source; open()
        // then does what creating the module with the connection does.
        program.dataModule = std::make_unique<TLibDM>(TLibDM::Open::Later);
        try {
            program.dataModule->open();
        } catch (const EDatabaseError &error) {
            fail(QStringLiteral("cannot connect to data source \"%1\"").arg(program.dataModule->aliasName()), &error);
        } catch (const EUnsafeSettings &error) {
            fail(QStringLiteral("refusing the connection settings"), &error);
        } catch (const std::exception &error) {
            fail(QStringLiteral("cannot read the connection settings"), &error);
        }
        if (program.dataModule && StatusText == StatusOk) {
            try {
                program.mainWindow = createMainWindow ? createMainWindow() : std::make_unique<TNorvelMain>();
            } catch (const std::exception &error) {
                program.mainWindow.reset();
                tellTerminal(QStringLiteral("cannot open the main window"), reasonOf(&error));
            }
        }
    } catch (const std::exception &error) {
        fail(QStringLiteral("cannot start"), &error);
    } catch (...) {
        fail(QStringLiteral("cannot start"), nullptr);
    }
    if (!program.mainWindow)
        program.mainWindow = std::make_unique<TDbPara>();
    return program;
}

namespace {

const char *const HelpText =
    "用法: norvel [--help] [--version]\n"
    "\n"
    "扩展借书证到统一长度（窗口程序，需要图形显示）：给图书馆借还系统数据库中\n"
    "短于设定长度（默认9位）的借书证号前面补0，借阅记录随之改动；补0后会与现有\n"
    "证号重复的证号不改动，处理后列出。全部改动在一个事务中完成。\n"
    "\n"
    "  --help     显示本说明\n"
    "  --version  显示版本\n"
    "\n"
    "连接参数在/etc/xdg/Kestavo/Lib.conf（设置了XDG_CONFIG_DIRS时在它的第一个\n"
    "目录下）。连接不上时程序打开\"设置数据库【Lib】连接参数\"对话框，在那里修改\n"
    "并保存（需要root权限），下次启动生效。\n"
    "\n"
    "没有图形显示时（例如通过SSH登录服务器）请用norvel-pad，在终端上做同样的\n"
    "处理。详见man norvel和man norvel-pad。\n";

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int usageError(std::FILE *err, const QString &message)
{
    std::fprintf(err, "norvel: %s（见norvel --help）\n", message.toUtf8().constData());
    return 64;
}

// Help and version end the program: it fails only when the answer could not be written.
int answer(std::FILE *out, const char *text)
{
    std::fputs(text, out);
    return std::fflush(out) == 0 && !std::ferror(out) ? 0 : 1;
}

// The argument the parser did not take, as it was typed: the first option whose name it does not
// know, or that carries a value its option does not take.
QString refusedOption(const QStringList &arguments, const QCommandLineParser &parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QStringLiteral("--"))
            break;
        if (!argument.startsWith(u'-') || argument.size() == 1)
            continue;
        if (argument.contains(u'='))
            return argument;
        if (argument.startsWith(QStringLiteral("--"))) {
            if (unknown.contains(argument.mid(2)))
                return argument;
        } else {
            // Short options may be run together: "-hx".
            for (const QChar letter : argument.mid(1)) {
                if (unknown.contains(QString(letter)))
                    return argument;
            }
        }
    }
    return parser.errorText();
}

// The display Qt was asked to open, for the message that it could not.
QString displayName()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (platform.startsWith(QStringLiteral("wayland")) && !wayland.isEmpty())
        return wayland;
    if (platform.isEmpty() || platform.startsWith(QStringLiteral("xcb"))) {
        if (!x11.isEmpty())
            return x11;
        if (!wayland.isEmpty())
            return wayland;
    }
    return QStringLiteral("QT_QPA_PLATFORM=") + platform;
}

// While the application object is made, Qt's messages are held back: when it cannot open the
// display, its platform plugin ends the process through qFatal() with a long text that suggests
// reinstalling. That becomes one line naming the terminal command, and status 1. Otherwise the
// messages held back are passed on as they came once the object exists.
class DisplayOpening
{
public:
    DisplayOpening() { s_previous = qInstallMessageHandler(&DisplayOpening::handle); }
    ~DisplayOpening()
    {
        qInstallMessageHandler(s_previous);
        QList<Held> held;
        {
            const QMutexLocker lock(&s_mutex);
            held.swap(s_held);
        }
        for (const Held &message : held) {
            const QMessageLogContext context(message.file.constData(), message.line, message.function.constData(),
                                             message.category.constData());
            qt_message_output(message.type, context, message.text);
        }
    }
    DisplayOpening(const DisplayOpening &) = delete;
    DisplayOpening &operator=(const DisplayOpening &) = delete;

private:
    struct Held
    {
        QtMsgType type;
        QByteArray file;
        int line;
        QByteArray function;
        QByteArray category;
        QString text;
    };

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtFatalMsg) {
            const QByteArray line = QStringLiteral("norvel: 无法打开图形显示“%1”，无法打开窗口；在终端上请用norvel-pad\n")
                                        .arg(displayName())
                                        .toUtf8();
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
            std::fflush(stderr);
            std::_Exit(1);
        }
        const QMutexLocker lock(&s_mutex);
        s_held.append({type, QByteArray(context.file), context.line, QByteArray(context.function),
                       QByteArray(context.category), text});
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QList<Held> s_held;
};

} // namespace

std::optional<int> answerBeforeStart(int argc, char **argv, std::FILE *out, std::FILE *err)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    // Qt's messages are English and name no argument: the program's own name the one it refused,
    // the first in the order typed.
    const bool parsed = parser.parse(arguments);
    const QString refused = parsed ? QString() : refusedOption(arguments, parser);
    const QString extra = parser.positionalArguments().value(0);
    const qsizetype refusedAt = parsed ? -1 : arguments.indexOf(refused, 1);
    const qsizetype extraAt = parser.positionalArguments().isEmpty() ? -1 : arguments.indexOf(extra, 1);
    if (!parsed && (extraAt < 0 || refusedAt < 0 || refusedAt < extraAt))
        return usageError(err, QStringLiteral("未知的选项%1").arg(refused));
    if (extraAt >= 0)
        return usageError(err, QStringLiteral("多余的参数%1").arg(extra));
    if (parser.isSet(help))
        return answer(out, HelpText);
    if (parser.isSet(version))
        return answer(out, "norvel " NORVEL_VERSION "\n");
    if (!haveDisplay()) {
        std::fputs("norvel: 没有图形显示（DISPLAY和WAYLAND_DISPLAY都没有设置），无法打开窗口；"
                   "在终端上请用norvel-pad\n",
                   err);
        return 1;
    }
    return std::nullopt;
}

int runNorvel(int &argc, char **argv)
{
    if (const std::optional<int> status = answerBeforeStart(argc, argv, stdout, stderr))
        return *status;
    // Before the settings are read: the password must not end up in a core dump.
    keepOutOfCoreDumps();
    StatusText.clear();
    std::unique_ptr<NorvelApplication> app;
    {
        DisplayOpening opening;
        app = std::make_unique<NorvelApplication>(argc, argv);
    }
    Artwork::installApplicationIcon();
    StartedProgram program = startProgram();
    program.mainWindow->show();
    const int code = app->exec();
    program.mainWindow.reset();
    program.dataModule.reset();
    return code;
}
