#pragma once

#include "run/PaddingStatements.h"
#include "run/StatementRunner.h"

// Takes the locks that keep every other writer of both tables out until the transaction ends
// (PaddingStatements::lockTables), waiting at most `timeoutSeconds` for another session that holds
// them (0: as long as it takes). When the time is up it raises EAbort, nothing changed. The SQLite
// driver gives up waiting after the data source's Timeout (100 seconds unless it says otherwise),
// and a cancel does not end its wait sooner.
void lockLibraryTables(StatementRunner &sql, PaddingStatements::Dialect server, int timeoutSeconds);
