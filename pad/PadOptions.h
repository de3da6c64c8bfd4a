#pragma once

#include "run/AlsoColumn.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The command line of norvel-pad.
struct PadOptions
{
    int length = 9;
    bool apply = false;
    bool yes = false;
    QString changesFile;     // empty: no record
    QString sheetFile;       // empty: no spreadsheet
    bool showSql = false;
    QString dsn;             // with user: instead of the stored settings
    QString user;
    int lockTimeout = 0;     // seconds; 0: wait as long as it takes
    // Columns of other tables padded with the loans (--also, repeatable); none given: the settings'.
    QList<AlsoColumn> also;
    bool alsoGiven = false;
    bool noScan = false;     // no look for other columns holding card numbers in the preview
    QString undoRecord;      // --undo: the record of the run to take back
    bool partial = false;    // the undo leaves conflicting cards as they are
    bool databaseMoved = false;
    bool runs = false;       // --runs: the journal's list
    bool help = false;
    bool version = false;

    bool overridesLogin() const { return !dsn.isEmpty(); }
    // The length as the run's view hands it over.
    QString lengthText() const { return QString::number(length); }
};

// Exit statuses (documented in --help and the manual page).
namespace PadStatus {
constexpr int Done = 0;            // done, nothing left alone
constexpr int Error = 1;           // error, interrupt or cancelled: nothing changed
constexpr int LeftAlone = 2;       // done, card numbers left alone (listed)
constexpr int CommitUnknown = 3;   // the commit did not come back: changed or not, unknown
constexpr int UndoConflicts = 4;   // the undo found cards changed since: nothing changed (listed)
constexpr int Usage = 64;          // wrong usage: nothing done
}

// The shortest length norvel-pad takes (the window takes any).
constexpr int MinimumLength = 2;

// Parses the arguments (without the program name). On wrong usage returns nothing and sets
// `error` to a one-line message.
std::optional<PadOptions> parsePadOptions(const QStringList &arguments, QString &error);

QString padHelpText();
