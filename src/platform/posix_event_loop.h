// EventLoop on a mutex and a condition variable. The thread that creates it is the main
// thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event_loop.h"
#include "platform/task_queue.h"

namespace dovra {

class PosixEventLoop final : public EventLoop {
 public:
  PosixEventLoop();

  void post(Task task) override;
  int startTimer(int intervalMs, Task onTick) override;
  void stopTimer(int id) override;
  void processEvents() override;
  int run() override;
  void exit(int code) override;
  bool exiting() const override;
  bool inMainThread() const override { return std::this_thread::get_id() == mainThread_; }

  // Runs the loop until `done` returns true or `timeout` passes; true when `done` held.
  // For tests that wait for a worker's posted results.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct TimerEntry {
    std::chrono::milliseconds interval;
    TimePoint due;
    std::shared_ptr<Task> onTick;
    bool running = false;
  };
  // Runs what is ready; returns when the next timer falls due (or max()).
  TimePoint runReady();

  std::thread::id mainThread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  TaskQueue tasks_;
  std::map<int, TimerEntry> timers_;  // main thread only
  int nextTimerId_ = 1;
  bool exiting_ = false;
  int exitCode_ = 0;
};

}  // namespace dovra
