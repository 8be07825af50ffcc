// The program's arguments. In normal use it takes none (or --headless); --help, --version
// and --setup are for the administrator. Anything else is a usage error.
#pragma once

#include <string>

#include "core/installation_setup.h"

namespace dovra {

// Exit status of a usage error (1 and 2 already mean the start sequence's end and a
// second instance).
inline constexpr int kUsageExit = 64;
// Exit status of a --setup that could not write its files.
inline constexpr int kCannotCreateExit = 73;

struct CommandLine {
  enum class Action { Run, Help, Version, Setup, UsageError };
  Action action = Action::Run;
  bool headless = false;
  InstallationSetup setup;
  std::string error;  // for UsageError: one line, without the program name
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// The --help text (several lines, ending with a line break).
std::string usageText();

}  // namespace dovra
