#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class TLibDM;

// What start-up leaves running: the data module (when the connection opened) and the one
// window the program runs with.
struct StartedProgram
{
    std::unique_ptr<TLibDM> dataModule;
    std::unique_ptr<QWidget> mainWindow;
};

using MainWindowFactory = std::function<std::unique_ptr<QWidget>()>;

// Creates the data module (which opens the connection) and chooses the window: the main window
// when the status is "OK", the connection-settings dialog otherwise, and also whenever creating the
// data module or the main window raised an error. Such an error is not shown on screen: the dialog
// is the report. Its text goes to standard error in one line, for example
//   norvel: cannot connect to data source "LibODBC": <the driver's message>
// The window is not shown yet.
StartedProgram startProgram(const MainWindowFactory &createMainWindow = {});

// The whole program: status cleared, application object, start-up, message loop.
int runNorvel(int &argc, char **argv);
