#include "app/Startup.h"

#include "common/unGlobal.h"
#include "data/dmLibData.h"
#include "forms/frmDbPara.h"
#include "forms/frmNorvelMain.h"
#include "platform/Artwork.h"
#include "platform/NorvelApplication.h"

StartedProgram startProgram(const MainWindowFactory &createMainWindow)
{
    StartedProgram program;
    try {
        program.dataModule = std::make_unique<TLibDM>();
        if (StatusText == StatusOk)
            program.mainWindow = createMainWindow ? createMainWindow() : std::make_unique<TNorvelMain>();
        else
            program.mainWindow = std::make_unique<TDbPara>();
    } catch (...) {
        // A failed connection, unreadable settings or a main window that could not be built:
        // the dialog, with its explanation, is the only report.
        program.mainWindow = std::make_unique<TDbPara>();
    }
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
