#pragma once

#include "Console.h"
#include "PadOptions.h"

#include "connection/LibConnection.h"
#include "connection/ServerIdentity.h"
#include "run/AlsoColumn.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What the run and the undo of norvel-pad share: their messages, the login, the connection, the
// record files' names, the confirmation.

int usageError(Console &console, const QString &message);
int failure(Console &console, const QString &message);

// The login: the stored settings (saying on standard error what could not be read and what is used
// instead), or the data source and user given on the command line with the password from the
// environment or the terminal.
LibConnection::Login chooseLogin(const PadOptions &options, Console &console);

// The columns the run pads with the loans: --also, or else the stored settings' ALSO value (a value
// that cannot be read is an error: the window's run would pad them).
QList<AlsoColumn> chooseAlsoColumns(const PadOptions &options);

// Refuses record names that exist (a usage error, before anything is done): the status, or 0.
int refuseRecordNames(const PadOptions &options, Console &console);
// Names or removes what killed runs left beside the records' names.
void reportLeftovers(Console &console, const QString &path, const QByteArray &signature);

// Connects with the login and asks the server what it is.
ServerIdentity connectLibrary(LibConnection &connection, const LibConnection::Login &login);

// Asks the question on the terminal; true only for "yes". A signal while it waits raises
// Interrupts::EStopRequested.
bool confirmed(Console &console, const QString &question);

// The note beside a record whose commit did not come back (NAME.unconfirmed).
QByteArray unconfirmedNote(const ServerIdentity &server, const QString &howToCheck);

class Records;

// The hook a run or an undo calls just before its commit: the records finished, then, for a
// commit, signals held back until it is done and the files marked as those of a commit being sent.
std::function<void()> beforeCommit(Records *records, bool commit);

// Runs a run's or an undo's execute with the interrupts' phases: a stop asked for while it ran
// raises Interrupts::EStopRequested, a database error says that nothing changed. Returns the
// message of a commit that did not come back.
std::optional<QString> runInterruptibly(const std::function<void()> &execute, bool commit);
