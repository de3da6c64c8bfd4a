#pragma once

#include "run/PaddingReport.h"

#include <QString>
#include <QStringList>

// What norvel-pad prints for a person.

// The database the command works on.
struct DatabaseDescription
{
    QString dataSource;
    QString product;
    QString version;
    QString database;
};
QString describeDatabase(const DatabaseDescription &db);

// The run's figures per card-number length and in total, then its result lines as the window's
// memo shows them.
QString summarize(const PaddingReport &report, const QStringList &resultLines);
