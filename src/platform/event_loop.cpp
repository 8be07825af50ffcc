#include "platform/event_loop.h"

#include "platform/posix_event_loop.h"

#include <algorithm>

namespace dovra {

Timer::Timer(EventLoop& loop, int intervalMs, EventLoop::Task onTick)
    : loop_(loop), intervalMs_(intervalMs), onTick_(std::move(onTick)) {}

Timer::~Timer() {
  setEnabled(false);
}

void Timer::setEnabled(bool on) {
  if (on) {
    if (id_ != 0) loop_.stopTimer(id_);
    id_ = loop_.startTimer(intervalMs_, onTick_);
  } else if (id_ != 0) {
    loop_.stopTimer(id_);
    id_ = 0;
  }
}

PosixEventLoop::PosixEventLoop() : mainThread_(std::this_thread::get_id()) {}

void PosixEventLoop::post(Task task) {
  tasks_.push(std::move(task));
  // Through the loop's lock, so that a loop about to wait sees the task or the wake-up.
  { std::lock_guard lock(mutex_); }
  wake_.notify_one();
}

int PosixEventLoop::startTimer(int intervalMs, Task onTick) {
  const int id = nextTimerId_++;
  TimerEntry t;
  t.interval = std::chrono::milliseconds(intervalMs);
  t.due = std::chrono::steady_clock::now() + t.interval;
  t.onTick = std::make_shared<Task>(std::move(onTick));
  timers_[id] = std::move(t);
  return id;
}

void PosixEventLoop::stopTimer(int id) {
  timers_.erase(id);
}

PosixEventLoop::TimePoint PosixEventLoop::runReady() {
  // Tasks first, only those queued now: a task that posts another does not starve timers.
  tasks_.runQueued();
  const auto now = std::chrono::steady_clock::now();
  std::vector<int> due;
  for (auto& [id, t] : timers_) {
    if (!t.running && t.due <= now) due.push_back(id);
  }
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.running) continue;  // stopped by an earlier tick
    it->second.running = true;
    it->second.due = now + it->second.interval;
    const std::shared_ptr<Task> onTick = it->second.onTick;
    (*onTick)();
    it = timers_.find(id);
    if (it != timers_.end() && it->second.onTick == onTick) it->second.running = false;
  }
  TimePoint next = TimePoint::max();
  for (auto& [id, t] : timers_) {
    if (!t.running && t.due < next) next = t.due;
  }
  return next;
}

void PosixEventLoop::processEvents() {
  runReady();
}

int PosixEventLoop::run() {
  while (!exiting()) {
    const TimePoint next = runReady();
    std::unique_lock lock(mutex_);
    if (exiting_ || !tasks_.empty()) continue;
    if (next == TimePoint::max()) {
      wake_.wait(lock, [&] { return exiting_ || !tasks_.empty(); });
    } else {
      wake_.wait_until(lock, next, [&] { return exiting_ || !tasks_.empty(); });
    }
  }
  std::lock_guard lock(mutex_);
  return exitCode_;
}

bool PosixEventLoop::runUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
  const auto limit = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= limit) return false;
    TimePoint next = runReady();
    if (done()) break;
    std::unique_lock lock(mutex_);
    if (!tasks_.empty()) continue;
    const TimePoint slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    wake_.wait_until(lock, std::min({next, limit, slice}), [&] { return !tasks_.empty(); });
  }
  return true;
}

void PosixEventLoop::exit(int code) {
  {
    std::lock_guard lock(mutex_);
    if (!exiting_) exitCode_ = code;
    exiting_ = true;
  }
  wake_.notify_all();
}

bool PosixEventLoop::exiting() const {
  std::lock_guard lock(mutex_);
  return exiting_;
}

}  // namespace dovra
