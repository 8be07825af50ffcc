// The notification-area icon (Shell_NotifyIconW): the program's icon, the tray tip (the
// hint's first 127 characters), balloons with their icon kind and time-out, the popup menu
// with the entries the model shows, single and double clicks. A hidden top-level window
// receives the icon's messages and the "TaskbarCreated" broadcast, after which the icon is
// added again when it is meant to be visible (Explorer restarted). Main thread only.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

#include "core/window_model.h"

namespace dovra {

class Win32Tray {
 public:
  // The call that reaches the shell: Shell_NotifyIconW unless a test records the calls.
  using NotifyCall = std::function<bool(DWORD message, const NOTIFYICONDATAW& data)>;

  // `run` runs a handler by name. The icon is added at once when the model has it visible.
  Win32Tray(WindowModel& model, std::function<void(const std::string&)> run,
            NotifyCall notify = {});
  ~Win32Tray();  // removes the icon
  Win32Tray(const Win32Tray&) = delete;
  Win32Tray& operator=(const Win32Tray&) = delete;

  void apply(const UiEvent& event);

  // Called when Windows ends the session (log-off, shut-down), before the process ends.
  void setEndSessionHandler(std::function<void()> handler) { endSession_ = std::move(handler); }

  HWND hwnd() const { return hwnd_; }
  // The messages the icon sends to hwnd(), as the shell sends them: lParam is the mouse
  // message (WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, ...).
  static constexpr UINT kCallbackMessage = WM_APP + 20;
  // The names of the popup menu's entries in order, as it opens now ("N1" is the
  // separator); empty while no menu is attached.
  std::vector<std::string> menuEntries() const;
  // The program's icon drawn at `size` pixels. The caller owns it (DestroyIcon).
  static HICON programIcon(int size);

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  NOTIFYICONDATAW iconData(UINT flags) const;
  void add();
  void remove();
  void updateTip();
  void showBalloon(const UiEvent& event);
  void hideBalloon();
  void popupMenu();
  void iconMessage(UINT mouseMessage);

  WindowModel& model_;
  std::function<void(const std::string&)> run_;
  NotifyCall notify_;
  std::function<void()> endSession_;
  HWND hwnd_ = nullptr;
  HICON icon_ = nullptr;
  UINT taskbarCreated_ = 0;
  bool added_ = false;
  bool visible_ = true;
  bool clickPending_ = false;  // a single click waits for the double-click time
  bool afterDouble_ = false;   // the button release that ends a double click
};

}  // namespace dovra
