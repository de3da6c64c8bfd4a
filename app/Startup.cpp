#include "app/Startup.h"

#include "common/unGlobal.h"
#include "data/dmLibData.h"
#include "forms/frmDbPara.h"
#include "forms/frmNorvelMain.h"
#include "platform/Artwork.h"
#include "platform/Exceptions.h"
#include "platform/NorvelApplication.h"

#include <cstdio>

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

int runNorvel(int &argc, char **argv)
{
    StatusText.clear();
    NorvelApplication app(argc, argv);
    Artwork::installApplicationIcon();
    StartedProgram program = startProgram();
    program.mainWindow->show();
    const int code = app.exec();
    program.mainWindow.reset();
    program.dataModule.reset();
    return code;
}
