#pragma once

#include <QString>

#include <optional>

// What norvel-pad needs of the terminal it may run on.
namespace Terminal {

bool isTerminal(int fd);
// A terminal to ask the user on: standard input and standard error are both terminals.
bool canAsk();
// Asks on standard error and reads a line from standard input without echoing it; nothing at the
// end of the input.
std::optional<QString> readHidden(const QString &prompt);
// Asks and reads one line (echoed); nothing at the end of the input.
std::optional<QString> readLine(const QString &prompt);

// Text to standard output and standard error, UTF-8.
void out(const QString &text);
void err(const QString &text);

} // namespace Terminal
