// The program with the native Windows front end: the notification-area icon, the main
// window and the system's dialogs, on the Windows message loop.
#pragma once

#include <functional>
#include <memory>

#include "shell/window_model.h"
#include "win32/main_window.h"
#include "win32/tray.h"

namespace dovra {

class TForm1;

// Renders one window model in the main window and the tray. Main thread only.
class Win32FrontEnd final : public UiObserver {
 public:
  Win32FrontEnd(WindowModel& model, const std::function<void(const std::string&)>& run,
                Win32Tray::NotifyCall notify = {});
  void onUiEvent(const UiEvent& event) override;
  Win32MainWindow& window() { return window_; }
  Win32Tray& tray() { return tray_; }

 private:
  Win32MainWindow window_;
  Win32Tray tray_;
};

// Runs the whole program; `wire` completes the form before it is created. Returns the
// exit status.
int runWin32Program(const std::function<void(TForm1&)>& wire);

}  // namespace dovra
