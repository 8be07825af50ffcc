// The desktop front end on Linux: the Qt module (gui/desktop_module.h), looked for beside
// the program (a build folder) and in ../lib/backupdovra/ from it (an installed package).
// Without it, the program runs headless and says why on standard error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/desktop.h"
#include "gui/desktop_module.h"
#include "headless/headless_program.h"
#include "platform/dynamic_library.h"
#include "platform/paths.h"

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
  const std::string folder = directoryPart(executablePath());
  const std::string candidates[] = {folder + kDesktopModuleFile,
                                    folder + "../lib/backupdovra/" + kDesktopModuleFile};
  DynamicLibrary module;
  std::string why;
  for (const std::string& path : candidates) {
    if (!fileExists(path)) continue;
    if (module.load(path)) break;
    why = module.errorText();
  }
  DesktopProgram run = nullptr;
  if (module.loaded()) {
    run = reinterpret_cast<DesktopProgram>(module.symbol(kDesktopModuleEntry));
    if (!run) why = std::string("has no entry point ") + kDesktopModuleEntry;
  }
  if (!run) {
    std::fprintf(stderr,
                 "backupdovra: the desktop front end (%s) %s; running headless\n",
                 kDesktopModuleFile, why.empty() ? "is not installed" : why.c_str());
    return runHeadlessProgram(wire);
  }
  // Qt stays loaded until the process ends: workers may still be running when run returns.
  module.release();
  return run(programName, &wire);
}

}  // namespace dovra
