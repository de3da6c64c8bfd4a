#pragma once

// Ctrl+C (SIGINT) and SIGTERM during norvel-pad.
//
// The signals are taken by a thread of their own. Between two statements of the run the request
// is only noted: the run sees it at its next statement or before its commit, and rolls back. While
// the server works on a statement (which may take minutes on a large library) the command ends at
// once: it never sent the commit, and the server discards the open transaction when the
// connection goes. During the commit itself the command waits for it and then says what happened.
namespace Interrupts {

// Call before any other thread starts.
void install();
// The signal that asked to stop, or 0.
int requested();
// The run's statements and the commit, as they start and end.
void setServerCall(bool working);
void setCommitting(bool committing);
// The message printed when the command stops for a signal.
const char *stopMessage();

} // namespace Interrupts
