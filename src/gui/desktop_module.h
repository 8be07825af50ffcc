// The Qt front end as a module that the program loads when it opens windows, so that the
// program itself, and a server's package, need no Qt. The module takes the rest of the
// program from the executable that loaded it.
#pragma once

#include <functional>

namespace dovra {

class TForm1;

// The module's file name, and the entry point it exports (a DesktopProgram).
inline constexpr const char* kDesktopModuleFile = "backupdovra-desktop.so";
inline constexpr const char* kDesktopModuleEntry = "dovra_run_desktop_program";
using DesktopProgram = int (*)(char* programName, const std::function<void(TForm1&)>* wire);

}  // namespace dovra
