#include "win32/front_end.h"

namespace dovra {

Win32FrontEnd::Win32FrontEnd(WindowModel& model, const std::function<void(const std::string&)>& run,
                             Win32Tray::NotifyCall notify)
    : window_(model, run), tray_(model, run, std::move(notify)) {
  model.setObserver(this);
}

void Win32FrontEnd::onUiEvent(const UiEvent& event) {
  window_.apply(event);
  tray_.apply(event);
}

}  // namespace dovra
