// EventLoop on Qt's own loop: posted tasks wait in the task queue, run by a queued call on
// the loop's context object; timers are QTimers. The thread that creates it (the GUI
// thread) is the main thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/event_loop.h"
#include "platform/task_queue.h"

namespace dovra {

class QtEventLoop final : public EventLoop {
 public:
  QtEventLoop();
  ~QtEventLoop() override;

  void post(Task task) override;
  int startTimer(int intervalMs, Task onTick) override;
  void stopTimer(int id) override;
  void processEvents() override;
  int run() override;
  void exit(int code) override;
  bool exiting() const override { return exiting_; }
  bool inMainThread() const override;

 private:
  struct Entry {
    std::unique_ptr<QTimer> timer;
    std::shared_ptr<bool> running = std::make_shared<bool>(false);
  };
  TaskQueue tasks_;  // before context_: its queued calls run the tasks
  QObject context_;
  std::map<int, Entry> timers_;
  int nextId_ = 1;
  bool exiting_ = false;
  int exitCode_ = 0;
};

}  // namespace dovra
