#include "win32/win32_event_loop.h"

#include <algorithm>

namespace dovra {
namespace {

constexpr UINT kRunTasks = WM_APP + 1;
constexpr wchar_t kClassName[] = L"BackUpDovraLoop";

}  // namespace

Win32EventLoop::Win32EventLoop() : thread_(GetCurrentThreadId()) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32EventLoop::windowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when a second loop registers it again
  hwnd_ =
      CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32EventLoop::~Win32EventLoop() {
  for (const auto& [id, entry] : timers_) KillTimer(hwnd_, id);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

LRESULT CALLBACK Win32EventLoop::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Win32EventLoop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && (message == kRunTasks || message == WM_TIMER)) {
    // No exception may cross the system's frames: keep it for run() or processEvents().
    try {
      if (message == kRunTasks) {
        self->runTasks();
      } else {
        self->tick(wParam);
      }
    } catch (...) {
      if (!self->pending_) self->pending_ = std::current_exception();
    }
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32EventLoop::post(Task task) {
  tasks_.push(std::move(task));
  wake();
}

void Win32EventLoop::wake() {
  if (!wakePending_.exchange(true)) {
    // A full message queue drops the wake-up: the next post tries again.
    if (!PostMessageW(hwnd_, kRunTasks, 0, 0)) wakePending_ = false;
  }
}

void Win32EventLoop::runTasks() {
  wakePending_ = false;
  try {
    tasks_.runQueued();
  } catch (...) {
    // The rest run later, in order, after the failure has been reported.
    if (!tasks_.empty()) wake();
    throw;
  }
}

int Win32EventLoop::startTimer(int intervalMs, Task onTick) {
  const UINT_PTR id = nextTimerId_++;
  auto entry = std::make_shared<TimerEntry>();
  entry->onTick = std::move(onTick);
  timers_[id] = std::move(entry);
  SetTimer(hwnd_, id, static_cast<UINT>(std::max(intervalMs, 1)), nullptr);
  return static_cast<int>(id);
}

void Win32EventLoop::stopTimer(int id) {
  const auto it = timers_.find(static_cast<UINT_PTR>(id));
  if (it == timers_.end()) return;
  KillTimer(hwnd_, it->first);
  timers_.erase(it);
}

void Win32EventLoop::tick(UINT_PTR id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  // Held here: a tick may stop its own timer.
  const std::shared_ptr<TimerEntry> entry = it->second;
  if (entry->running) return;  // the previous tick is still running (a modal box, say)
  entry->running = true;
  try {
    entry->onTick();
  } catch (...) {
    entry->running = false;
    throw;
  }
  entry->running = false;
}

void Win32EventLoop::dispatch(MSG& msg) {
  for (HWND window : dialogWindows_) {
    if ((msg.hwnd == window || IsChild(window, msg.hwnd)) && IsDialogMessageW(window, &msg)) {
      return;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void Win32EventLoop::rethrowPending() {
  if (pending_) {
    std::exception_ptr e = pending_;
    pending_ = nullptr;
    std::rethrow_exception(e);
  }
}

void Win32EventLoop::processEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Someone asked the thread to quit: that is the loop's exit.
      exit(static_cast<int>(msg.wParam));
      break;
    }
    dispatch(msg);
    rethrowPending();
  }
}

int Win32EventLoop::run() {
  MSG msg;
  while (!exiting_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      exit(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) break;
    dispatch(msg);
    rethrowPending();
  }
  return exitCode_;
}

void Win32EventLoop::exit(int code) {
  if (!exiting_) exitCode_ = code;
  exiting_ = true;
  PostMessageW(hwnd_, WM_NULL, 0, 0);  // wakes a waiting GetMessage
}

void Win32EventLoop::addDialogWindow(HWND window) {
  dialogWindows_.push_back(window);
}

void Win32EventLoop::removeDialogWindow(HWND window) {
  std::erase(dialogWindows_, window);
}

}  // namespace dovra
