// EventLoop on the Windows message loop of the thread that creates it (the main thread).
//
// A hidden message-only window receives the loop's messages: posted tasks wake it with one
// PostMessage (a queue behind a mutex holds the tasks, so any thread may post), and timers
// are window timers (SetTimer) on it. Because both arrive as messages, they keep running
// inside every modal loop (message boxes, the file dialogs), as window timers do.
//
// A task or a timer tick that throws ends the dispatch of its message; the exception is
// carried out of the window procedure and rethrown by run() or processEvents() on return.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <map>
#include <memory>
#include <vector>

#include "platform/event_loop.h"
#include "platform/task_queue.h"

namespace dovra {

class Win32EventLoop final : public EventLoop {
 public:
  Win32EventLoop();
  ~Win32EventLoop() override;
  Win32EventLoop(const Win32EventLoop&) = delete;
  Win32EventLoop& operator=(const Win32EventLoop&) = delete;

  void post(Task task) override;
  int startTimer(int intervalMs, Task onTick) override;
  void stopTimer(int id) override;
  void processEvents() override;
  int run() override;
  void exit(int code) override;
  bool exiting() const override { return exiting_; }
  bool inMainThread() const override { return GetCurrentThreadId() == thread_; }

  // Keyboard navigation (Tab, arrows, mnemonics) for the controls of `window`: its
  // messages go through IsDialogMessageW. Main thread; `window` must outlive the loop or
  // be removed first.
  void addDialogWindow(HWND window);
  void removeDialogWindow(HWND window);

 private:
  struct TimerEntry {
    Task onTick;
    bool running = false;
  };
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void runTasks();
  // Posts the message that runs the queued tasks, unless one is on its way.
  void wake();
  void tick(UINT_PTR id);
  void dispatch(MSG& msg);
  void rethrowPending();

  DWORD thread_;
  HWND hwnd_ = nullptr;
  TaskQueue tasks_;
  std::atomic<bool> wakePending_{false};  // a wake-up message is in the queue
  std::map<UINT_PTR, std::shared_ptr<TimerEntry>> timers_;
  UINT_PTR nextTimerId_ = 1;
  std::vector<HWND> dialogWindows_;
  std::exception_ptr pending_;
  bool exiting_ = false;
  int exitCode_ = 0;
};

}  // namespace dovra
