#pragma once

#include <QWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

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

// What the command line and the environment settle before any Qt application object exists, so
// that none of it needs a display: "--help" and "--version" answer on out; an unknown option or
// an argument is a usage error (one line on err naming the first of them as typed, status 64); without a display (DISPLAY and
// WAYLAND_DISPLAY unset or empty, and no QT_QPA_PLATFORM to choose another platform) one line on
// err names the terminal command instead, status 1. Returns the exit status when the program ends
// here, nothing when it goes on to open its window.
std::optional<int> answerBeforeStart(int argc, char **argv, std::FILE *out, std::FILE *err);

// The whole program: the command line, the process kept out of core dumps, status cleared,
// application object, start-up, message loop. When Qt cannot open the display, one line on
// standard error says so and names norvel-pad, and the process ends with status 1.
int runNorvel(int &argc, char **argv);
