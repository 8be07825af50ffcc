// backupdovra: the tray program (Qt on Linux, native on Windows), or with --headless (or
// without a display) the same core behind the console front end; --setup writes a new
// installation.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop.h"
#include "app/wiring.h"
#include "form/form1.h"
#include "headless/headless_program.h"
#include "platform/process.h"
#include "platform/termination_signals.h"
#include "platform/text_codec.h"

static_assert(dovra::TForm1::kProgramVersion == DOVRA_PACKAGE_VERSION,
              "the package version is the program's version number");

namespace {

int runSetup(const dovra::InstallationSetup& setup) {
  try {
    for (const auto& line : dovra::setupInstallation(setup).lines) {
      std::printf("%s\n", line.c_str());
    }
    return 0;
  } catch (const dovra::SetupRefused& e) {
    std::fprintf(stderr, "backupdovra: %s\n", e.what());
    return dovra::kUsageExit;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "backupdovra: %s\n", e.what());
    return dovra::kCannotCreateExit;
  }
}

}  // namespace

int main(int argc, char** argv) {
  dovra::useStartingConsole();    // before anything is read or written
  dovra::useUtf8CharacterType();  // before any thread starts
  const std::vector<std::string> arguments = dovra::commandLineArguments(argc, argv);
  std::vector<const char*> texts;
  for (const std::string& a : arguments) texts.push_back(a.c_str());
  const dovra::CommandLine cl =
      dovra::parseCommandLine(static_cast<int>(texts.size()), texts.data());
  switch (cl.action) {
    case dovra::CommandLine::Action::UsageError:
      std::fprintf(stderr, "backupdovra: %s (see backupdovra --help)\n", cl.error.c_str());
      return dovra::kUsageExit;
    case dovra::CommandLine::Action::Help:
      std::fputs(dovra::usageText().c_str(), stdout);
      return 0;
    case dovra::CommandLine::Action::Version:
      std::printf("backupdovra %d\n", static_cast<int>(dovra::TForm1::kProgramVersion));
      return 0;
    case dovra::CommandLine::Action::Setup:
      return runSetup(cl.setup);
    case dovra::CommandLine::Action::Run:
      break;
  }

  dovra::blockTerminationSignals();
  const bool headless = cl.headless || !dovra::desktopAvailable();
  const int code = headless ? dovra::runHeadlessProgram(dovra::wireProgram)
                            : dovra::runDesktopProgram(argv[0], dovra::wireProgram);
  // Workers are not waited for: they end with the process.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}
