#include <cstdlib>

#include "app/desktop.h"
#include "gui/qt_program.h"

namespace dovra {

bool desktopAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

void useStartingConsole() {}

int runDesktopProgram(char* programName, const std::function<void(TForm1&)>& wire) {
  // Qt sees only the program name: every argument has been taken by then.
  int argc = 1;
  char* argv[] = {programName, nullptr};
  return runQtProgram(argc, argv, wire);
}

}  // namespace dovra
