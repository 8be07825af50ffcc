// Whether the program's standard streams lead to a terminal (a console window on systems
// that have those), for tools that show progress only to a person watching.
#pragma once

namespace dovra {

// True when standard error is a terminal; false for a file, a pipe or nothing.
bool standardErrorIsTerminal();

}  // namespace dovra
