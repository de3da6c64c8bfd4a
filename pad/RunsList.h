#pragma once

#include "Console.h"

// norvel-pad --runs: every applied run and undo in the journal, oldest first, with its time, its
// database, its length, its record's rows and whether it has been taken back.
int listRuns(Console &console);
