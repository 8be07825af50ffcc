// The desktop front end of this build: the Qt tray program on Linux, the native Win32 one
// on Windows. main() asks whether there is a desktop to open windows on and, when the
// console front end was not asked for, runs the program behind this one.
#pragma once

#include <functional>

namespace dovra {

class TForm1;

// Whether the session has a display for windows and a tray.
bool desktopAvailable();
// The console front end's standard streams. A windowed Windows program gets none of its
// own: those not redirected are joined to the console it was started from, if any. A
// no-op where programs always have them.
void useStartingConsole();
// Runs the whole program with the desktop front end; `wire` completes the form before it
// is created. Returns the exit status. Main thread.
int runDesktopProgram(char* programName, const std::function<void(TForm1&)>& wire);

}  // namespace dovra
