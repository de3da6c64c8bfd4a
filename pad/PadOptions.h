#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of norvel-pad.
struct PadOptions
{
    QString length = QStringLiteral("9");   // as the window's field takes it
    bool apply = false;
    bool yes = false;
    QString changesFile;                    // empty: no record
    bool showSql = false;
    QString dsn;                            // with user: instead of the stored settings
    QString user;
    bool help = false;
    bool version = false;

    bool overridesLogin() const { return !dsn.isNull() || !user.isNull(); }
};

// Exit statuses (documented in --help and the manual page).
namespace PadStatus {
constexpr int Done = 0;            // done, nothing left alone
constexpr int Error = 1;           // error: nothing changed
constexpr int LeftAlone = 2;       // done, card numbers left alone (listed)
constexpr int Usage = 64;          // wrong usage
}

// Parses the arguments (without the program name). On wrong usage returns nothing and sets
// `error` to a one-line message.
std::optional<PadOptions> parsePadOptions(const QStringList &arguments, QString &error);

QString padHelpText();
