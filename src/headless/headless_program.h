// The program run with the console front end: JSON events on standard output, commands on
// standard input, until the exit sequence or the start sequence ends it.
#pragma once

#include <functional>

namespace dovra {

class TForm1;

// `wire` completes the form (workers, databases, transfers) before it is created.
// Returns the exit status.
int runHeadlessProgram(const std::function<void(TForm1&)>& wire);

}  // namespace dovra
