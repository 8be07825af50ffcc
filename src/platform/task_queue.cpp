#include "platform/task_queue.h"

#include <iterator>
#include <utility>

namespace dovra {

bool TaskQueue::push(Task task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  return tasks_.size() == 1;
}

bool TaskQueue::runQueued() {
  std::deque<Task> ready;
  {
    std::lock_guard lock(mutex_);
    ready.swap(tasks_);
  }
  while (!ready.empty()) {
    Task task = std::move(ready.front());
    ready.pop_front();
    try {
      task();
    } catch (...) {
      std::lock_guard lock(mutex_);
      tasks_.insert(tasks_.begin(), std::make_move_iterator(ready.begin()),
                    std::make_move_iterator(ready.end()));
      throw;
    }
  }
  return !empty();
}

bool TaskQueue::empty() const {
  std::lock_guard lock(mutex_);
  return tasks_.empty();
}

}  // namespace dovra
