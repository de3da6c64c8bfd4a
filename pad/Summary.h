#pragma once

#include "connection/ServerIdentity.h"
#include "run/PaddingReport.h"

#include <QString>
#include <QStringList>

// What norvel-pad prints for a person.

// The target of the run, as the server names it: the data source, the server (product, version and
// where it is), the database, the login, and the length.
QString describeTarget(const QString &dataSource, const ServerIdentity &server, int length);

// The run's figures per card-number length and in total, then its result lines as the window's
// memo shows them.
QString summarize(const PaddingReport &report, const QStringList &resultLines);

// Whether the figures show nothing to change: no card number to pad, no password to set.
bool nothingToChange(const PaddingReport &report);
