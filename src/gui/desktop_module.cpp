#include "gui/desktop_module.h"

#include "gui/qt_program.h"

// Runs the whole program with the Qt front end (runQtProgram); Qt sees only the program's
// name, since every argument has been taken by then.
extern "C" __attribute__((visibility("default"))) int dovra_run_desktop_program(
    char* programName, const std::function<void(dovra::TForm1&)>* wire) {
  int argc = 1;
  char* argv[] = {programName, nullptr};
  return dovra::runQtProgram(argc, argv, *wire);
}

// The entry point has the type the program calls it through.
static_assert(sizeof(&dovra_run_desktop_program) == sizeof(dovra::DesktopProgram));
