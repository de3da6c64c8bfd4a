#pragma once

#include "Console.h"

#include <QStringList>

// norvel-pad: the padding run from a terminal, talking through `console`. Returns the exit status
// (PadStatus).
int runPadCommand(const QStringList &arguments, Console &console);
