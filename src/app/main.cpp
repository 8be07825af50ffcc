// backupdovra: the Qt tray program, or with --headless (or without a display) the same
// core behind the console front end.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/wiring.h"
#include "gui/qt_program.h"
#include "headless/headless_program.h"
#include "platform/termination_signals.h"
#include "platform/text_codec.h"

int main(int argc, char** argv) {
  dovra::blockTerminationSignals();
  dovra::useUtf8CharacterType();  // before any thread starts
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) headless = true;
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!(display && *display) && !(wayland && *wayland) && !(platform && *platform)) {
    headless = true;
  }
  const int code = headless ? dovra::runHeadlessProgram(dovra::wireProgram)
                            : dovra::runQtProgram(argc, argv, dovra::wireProgram);
  // Workers are not waited for: they end with the process.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(code);
}
