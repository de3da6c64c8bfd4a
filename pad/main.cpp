#include "Interrupts.h"
#include "PadCommand.h"
#include "Terminal.h"

#include "platform/CoreDumps.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    // The password (stored, from the environment or typed) must not end up in a core dump.
    keepOutOfCoreDumps();
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
