// Starting another program, detached from this one (the stand-in for WinExec), and asking
// whether a process still runs.
#pragma once

#include <string>
#include <vector>

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

// This program's arguments, its own name first, in UTF-8: `argv` itself on POSIX; on
// Windows those of the wide command line (the narrow `argv` is in the ANSI code page, and
// an accented folder's name would not come through it).
std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace dovra
