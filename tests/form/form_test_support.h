// A TForm1 on a real loop with scripted dialogs, a manual clock and an observer that keeps
// every UI event, in its own settings and program folders (DOVRA_WINDOWS_DIR and
// DOVRA_PROGRAM_DIR point into a fresh temporary folder).
#pragma once

#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/cripto.h"
#include "core/settings_store.h"
#include "form/form1.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/posix_event_loop.h"
#include "platform/text_codec.h"
#include "support/fakes.h"
#include "support/program_process.h"
#include "support/temp_dir.h"

namespace dovra::test {

struct EventLog : UiObserver {
  void onUiEvent(const UiEvent& e) override { events.push_back(e); }
  std::vector<UiEvent> of(UiEvent::Kind kind) const {
    std::vector<UiEvent> out;
    for (const auto& e : events) {
      if (e.kind == kind) out.push_back(e);
    }
    return out;
  }
  void onRunReport(const RunReport& r) override { reports.push_back(r); }
  std::vector<UiEvent> events;
  std::vector<RunReport> reports;
};

class FormFixture : public ::testing::Test {
 protected:
  FormFixture() : windowsDir(dir.path() / "windows"), programDir(dir.path() / "program") {
    std::filesystem::create_directories(windowsDir);
    std::filesystem::create_directories(programDir / "CONFIGURACAO");
    setenv("DOVRA_WINDOWS_DIR", windowsDir.c_str(), 1);
    setenv("DOVRA_PROGRAM_DIR", programDir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    setenv("DOVRA_INSTANCE_SCOPE", dir.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    form = std::make_unique<TForm1>(loop, dialogs, clock);
    // The tests run the start sequence and the update check themselves; left on, either
    // would fire in the middle of any test that runs the loop for more than two seconds.
    form->timerInicia.setEnabled(false);
    form->Timer3.setEnabled(false);
    form->window().setObserver(&log);
  }
  ~FormFixture() override {
    form.reset();
    unsetenv("DOVRA_WINDOWS_DIR");
    unsetenv("DOVRA_PROGRAM_DIR");
  }

  // Writes the identifier file with `id` scrambled, as installations store it.
  void writeIdentifier(const std::string& id) {
    writeFile(programDir / "CONFIGURACAO" / "application.dvk",
              scramble(id) + "\r\nsegunda linha\r\n");
  }
  std::string settingsPath(const std::string& id) const {
    return (windowsDir / (id + ".dvk")).string();
  }

  TempDir dir;
  std::filesystem::path windowsDir, programDir;
  PosixEventLoop loop;
  ScriptedDialogs dialogs;
  ManualClock clock;
  EventLog log;
  std::unique_ptr<TForm1> form;
};

}  // namespace dovra::test
