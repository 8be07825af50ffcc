// Starting the kinds of worker thread.
//
// One launcher starts every worker, from the tick, from the hidden buttons and nowhere
// else, and it never lets two workers of one kind run at once: each kind has a guard
// claimed atomically when the worker is started and released when its body returns. The
// automatic backup's guard is BackupRunning itself, so two backup checks of one tick, or
// two ticks, start one backup; the upload and the NF-e export set their own flags only when
// they decide to work (the scheduler and the self-update read those), so their guard is
// the launcher's own. A worker thread runs detached; the program never waits for it.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "core/run_state.h"

namespace dovra {

enum class WorkerKind { Tauto = 0, TFTP = 1, TXML = 2, TVerifica = 3 };
const char* workerName(WorkerKind kind);

class WorkerLauncher {
 public:
  virtual ~WorkerLauncher() = default;
  // Starts a worker of `kind` unless one is running. Main thread. True when started.
  virtual bool start(WorkerKind kind) = 0;
  // Whether a worker of `kind` runs now.
  virtual bool running(WorkerKind kind) const = 0;
};

// Runs each worker body on its own detached thread with a copy of the settings.
class ThreadWorkerLauncher final : public WorkerLauncher {
 public:
  using Body = std::function<void(const RunSettings& settings)>;

  explicit ThreadWorkerLauncher(RunState& state);
  // Installs the body of a kind. Main thread, before the first start of that kind.
  void setBody(WorkerKind kind, Body body);

  // False (and nothing claimed) when the kind has no body or a worker of it is running.
  // A body's exception ends its thread silently; the guard is released in every case.
  // BackupRunning, claimed here for Tauto, is the worker's to clear.
  bool start(WorkerKind kind) override;
  bool running(WorkerKind kind) const override;

 private:
  struct Slot {
    Body body;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(false);
  };
  RunState& state_;
  std::array<Slot, 4> slots_;
};

}  // namespace dovra
