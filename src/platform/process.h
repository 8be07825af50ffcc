// Starting another program, detached from this one (the stand-in for WinExec).
#pragma once

#include <string>

namespace dovra {

// Makes `path` executable by its owner and starts it without arguments, in its own
// session, with the standard streams on /dev/null; does not wait for it. Returns false
// when the program could not be started.
bool startDetached(const std::string& path);

}  // namespace dovra
