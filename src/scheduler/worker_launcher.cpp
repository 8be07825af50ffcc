#include "scheduler/worker_launcher.h"

#include <thread>

namespace dovra {

const char* workerName(WorkerKind kind) {
  switch (kind) {
    case WorkerKind::Tauto:
      return "Tauto";
    case WorkerKind::TFTP:
      return "TFTP";
    case WorkerKind::TXML:
      return "TXML";
    case WorkerKind::TVerifica:
      return "TVerifica";
  }
  return "?";
}

ThreadWorkerLauncher::ThreadWorkerLauncher(RunState& state) : state_(state) {}

void ThreadWorkerLauncher::setBody(WorkerKind kind, Body body) {
  slots_[static_cast<size_t>(kind)].body = std::move(body);
}

bool ThreadWorkerLauncher::running(WorkerKind kind) const {
  return slots_[static_cast<size_t>(kind)].alive->load();
}

bool ThreadWorkerLauncher::start(WorkerKind kind) {
  Slot& slot = slots_[static_cast<size_t>(kind)];
  if (!slot.body) return false;
  bool expected = false;
  if (!slot.alive->compare_exchange_strong(expected, true)) return false;
  if (kind == WorkerKind::Tauto && !state_.BackupRunning.tryClaim()) {
    slot.alive->store(false);
    return false;
  }
  try {
    std::thread([body = slot.body, alive = slot.alive, settings = state_.snapshot()] {
      try {
        body(settings);
      } catch (...) {
        // A failure that escapes a worker ends that worker silently.
      }
      alive->store(false);
    }).detach();
  } catch (...) {
    if (kind == WorkerKind::Tauto) state_.BackupRunning.set(false);
    slot.alive->store(false);
    throw;
  }
  return true;
}

}  // namespace dovra
