// The main thread's loop: posted tasks and repeating timers.
//
// Every handler of the program runs on the main thread, from this loop. Workers reach the
// main thread only through post(). The headless front end and the tests use
// PosixEventLoop; the Qt front end implements the same interface on Qt's own loop.
#pragma once

#include <functional>
#include <memory>

namespace dovra {

class EventLoop {
 public:
  using Task = std::function<void()>;
  virtual ~EventLoop() = default;

  // Queues a task for the main thread. Any thread; never blocks on the main thread.
  virtual void post(Task task) = 0;
  // Starts a repeating timer whose first tick comes after `intervalMs`. Main thread only.
  // A tick is skipped while the previous tick of the same timer is still running (a
  // handler that processes events cannot re-enter itself through its own timer).
  virtual int startTimer(int intervalMs, Task onTick) = 0;
  virtual void stopTimer(int id) = 0;
  // Runs the tasks and due timer ticks that are ready now, without waiting. Main thread.
  virtual void processEvents() = 0;
  // Runs until exit() is called; returns the exit code. Main thread.
  virtual int run() = 0;
  // Makes run() return `code` once the current handler returns. Main thread.
  virtual void exit(int code) = 0;
  virtual bool exiting() const = 0;
  virtual bool inMainThread() const = 0;
};

// A timer of the main window: an interval, an enabled flag and a handler. Switching it on
// restarts its interval, as switching a window timer on does. Main thread only.
class Timer {
 public:
  Timer(EventLoop& loop, int intervalMs, EventLoop::Task onTick);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void setEnabled(bool on);
  bool enabled() const { return id_ != 0; }
  int interval() const { return intervalMs_; }

 private:
  EventLoop& loop_;
  int intervalMs_;
  EventLoop::Task onTick_;
  int id_ = 0;
};

}  // namespace dovra
