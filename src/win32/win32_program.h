// The program with the native Windows front end: the notification-area icon, the main
// window and the system's dialogs, on the Windows message loop.
#pragma once

#include <functional>

namespace dovra {

class TForm1;

// Runs the whole program; `wire` completes the form before it is created. Returns the
// exit status.
int runWin32Program(const std::function<void(TForm1&)>& wire);

}  // namespace dovra
