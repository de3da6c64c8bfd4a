#pragma once

#include "Console.h"
#include "PadOptions.h"

// norvel-pad --undo RECORD: takes a committed run (or undo) back from its record, previewed first,
// every card checked against the database as it stands; all or nothing, or with --partial all but
// the conflicting cards.
int runUndo(const PadOptions &options, Console &console);
