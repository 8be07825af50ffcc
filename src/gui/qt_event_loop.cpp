#include "gui/qt_event_loop.h"

#include <QCoreApplication>
#include <QThread>

namespace dovra {

QtEventLoop::QtEventLoop() = default;
QtEventLoop::~QtEventLoop() = default;

void QtEventLoop::post(Task task) {
  // One queued call runs every task waiting when it comes; the next post makes another.
  if (tasks_.push(std::move(task))) {
    QMetaObject::invokeMethod(
        &context_, [this] { tasks_.runQueued(); }, Qt::QueuedConnection);
  }
}

int QtEventLoop::startTimer(int intervalMs, Task onTick) {
  const int id = nextId_++;
  Entry e;
  e.timer = std::make_unique<QTimer>();
  e.timer->setInterval(intervalMs);
  QObject::connect(e.timer.get(), &QTimer::timeout, &context_,
                   [running = e.running, onTick = std::move(onTick)] {
                     if (*running) return;  // the previous tick is still running
                     // A timer stopped by its own tick is deleted later, so this lambda
                     // outlives the tick.
                     *running = true;
                     onTick();
                     *running = false;
                   });
  e.timer->start();
  timers_[id] = std::move(e);
  return id;
}

void QtEventLoop::stopTimer(int id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.timer->stop();
  // A timer may stop itself from its own tick: delete it once the tick is over.
  it->second.timer.release()->deleteLater();
  timers_.erase(it);
}

void QtEventLoop::processEvents() {
  QCoreApplication::processEvents();
}

int QtEventLoop::run() {
  if (exiting_) return exitCode_;
  QCoreApplication::exec();
  return exitCode_;
}

void QtEventLoop::exit(int code) {
  if (!exiting_) exitCode_ = code;
  exiting_ = true;
  QCoreApplication::exit(code);
}

bool QtEventLoop::inMainThread() const {
  return QThread::currentThread() == context_.thread();
}

}  // namespace dovra
