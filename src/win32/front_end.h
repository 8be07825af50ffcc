// The native Windows front end of one window model: the main window and the
// notification-area icon, both fed every model event on the main thread and both sending
// the operator's actions to the form's handlers by name.
#pragma once

#include <functional>
#include <string>

#include "core/window_model.h"
#include "win32/main_window.h"
#include "win32/tray.h"

namespace dovra {

// Renders `model` in the main window and the tray; registers itself as the model's
// observer. Main thread only.
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

}  // namespace dovra
