#pragma once

#include "platform/Exceptions.h"

#include <QString>

#include <termios.h>

// Ctrl+C (SIGINT) and SIGTERM during norvel-pad.
//
// The signals are taken by a thread of their own, which acts by the command's phase:
//   Idle        nothing is open on the server (reading the settings, connecting, asking): the stop
//               is noted, a question being asked returns at once, and the command ends saying that
//               nothing was done.
//   Running     the run's transaction may be open: the statement the server is executing is
//               cancelled (ODBC's cancel: PostgreSQL and SQL Server get a cancel request), so that
//               a statement that waits for another session's lock ends at once; the run rolls
//               back, and closing the connection ends the session on the server.
//   Committing  the commit is about to be sent or under way: the stop waits, and the command says
//               afterwards what happened.
//   Finished    the commit is done (or its outcome unknown) and the record is in place: a stop ends
//               the command with that outcome's status and message, never with a rollback's.
// When the command has not ended a moment after the stop (a driver that cannot cancel its wait,
// such as SQLite's wait for a lock; output blocked on a full pipe), or at a second signal, the
// watching thread ends the process itself: before the commit after removing the record's hidden
// files and restoring the terminal (the server discards a transaction whose connection goes);
// after it with the outcome's status.
namespace Interrupts {

enum class Phase { Idle, Running, Committing, Finished };

// The command noticed a stop and ends; before the commit only.
class EStopRequested : public EAbort
{
public:
    using EAbort::EAbort;
};

// Call before any other thread starts: blocks the signals in every thread, ignores SIGPIPE (a
// closed pipe then fails the write instead of ending the process) and starts the watching thread.
void install();
// The signal that asked to stop, or 0; a signal that has arrived but that the watching thread has
// not taken yet counts too.
int requested();
// What the watching thread does when a signal comes (the tests call it without one).
void request(int signal);
// A descriptor that becomes readable once a stop was asked for (-1 without install()): a question
// waits for it as well as for the answer.
int wakeDescriptor();

void setPhase(Phase phase);
Phase phase();
// Enters the Committing phase just before the commit; raises EStopRequested when a stop has been
// asked for (the run then rolls back).
void beginCommit();
// The commit's outcome: a later stop ends the command with this status and this message.
void finish(int status, const QString &message);
// The terminal settings to put back when the process is ended from the watching thread (while a
// question is asked without echo); nullptr when there is nothing to put back.
void setTerminal(const termios *saved);

// The message for a stop the command noticed itself.
QString stopMessage(Phase phase);
// Raises EStopRequested when a stop was asked for (before the commit).
void check();

// Back to the start: no request, phase Idle (tests).
void reset();

} // namespace Interrupts
