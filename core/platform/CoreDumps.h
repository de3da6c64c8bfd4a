#pragma once

// Both programs hold the database password in memory in plain text (decoded from the settings,
// taken from the environment or typed). This keeps it out of core dumps: the process is marked
// not dumpable, which also keeps other processes of the same user from reading its memory
// (ptrace, /proc/<pid>/mem). Called by the programs at their start, before any password is read;
// not by the library, so that tests and tools linking it keep their core dumps. Returns false when
// the system refused.
bool keepOutOfCoreDumps();
