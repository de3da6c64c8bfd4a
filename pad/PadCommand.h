#pragma once

#include <QStringList>

// norvel-pad: the padding run from a terminal. Returns the exit status (PadStatus).
int runPadCommand(const QStringList &arguments);
