// The tasks posted to a main loop: any thread queues them, the loop's thread runs them in
// the order they were posted. Every event loop of the program keeps its tasks here and only
// says how its thread is woken.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace dovra {

class TaskQueue {
 public:
  using Task = std::function<void()>;

  // Queues a task. Any thread. True when no task was waiting before it: the loop's thread
  // has to be woken for it.
  bool push(Task task);

  // Runs the tasks queued before the call, in order; those posted meanwhile wait for the
  // next call, so a task that posts another does not hold the loop. When a task throws,
  // the ones after it go back to the head of the queue, still in order, and the exception
  // goes on. Returns true when tasks are waiting afterwards. The loop's thread.
  bool runQueued();

  bool empty() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Task> tasks_;
};

}  // namespace dovra
