#include "Interrupts.h"
#include "PadCommand.h"
#include "Terminal.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    // Before any other thread: the signals go to the thread that watches them.
    Interrupts::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvel-pad"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NORVEL_VERSION));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    TerminalConsole console;
    return runPadCommand(arguments, console);
}
