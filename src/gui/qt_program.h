// The program with the Qt front end: the tray icon, the main window and Qt's dialogs.
#pragma once

#include <functional>
#include <memory>

#include "core/window_model.h"

class QApplication;

namespace dovra {

class TForm1;
class MainWindow;
class Tray;

// Renders the form's model in the main window and the tray. GUI thread only.
class QtFrontEnd final : public UiObserver {
 public:
  explicit QtFrontEnd(TForm1& form);
  ~QtFrontEnd() override;
  void onUiEvent(const UiEvent& event) override;
  MainWindow& window() { return *window_; }
  Tray& tray() { return *tray_; }

 private:
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<Tray> tray_;
};

// Runs the whole program; `wire` completes the form before it is created. Returns the
// exit status.
int runQtProgram(int argc, char** argv, const std::function<void(TForm1&)>& wire);

}  // namespace dovra
