// Starting another program, detached from this one (the stand-in for WinExec), and asking
// whether a process still runs.
#pragma once

#include <string>

namespace dovra {

// Makes `path` executable by its owner and starts it without arguments, in its own
// session, with the standard streams on /dev/null; does not wait for it. Returns false
// when the program could not be started.
bool startDetached(const std::string& path);

// Whether a process with id `pid` exists on this machine, whoever owns it. False only when
// the system says there is no such process; an id this process may not signal (another
// user's process) counts as running.
bool processRuns(long pid);

// The id of this process, as processRuns takes it.
long currentProcessId();

}  // namespace dovra
