// The 50-second scheduler tick (`Timer1Timer`): the 17:50 reminder, the daily upload after
// its time, the automatic backups in the minute of their times, and the NF-e export
// whenever nothing else runs, and the check of the newest archive when no backup, upload or
// restore runs. It decides only whether to start a worker; the workers do their own
// bookkeeping. Main thread.
#pragma once

#include <functional>

#include "core/run_state.h"
#include "core/window_model.h"
#include "platform/clock.h"
#include "scheduler/worker_launcher.h"

namespace dovra {

class Scheduler {
 public:
  Scheduler(const RunState& state, const Clock& clock, WindowModel& window,
            WorkerLauncher& launcher);

  // One tick. A failure of the reminder or of the NF-e check propagates (the caller
  // reports it); failures of the three time checks and of the archive check are swallowed.
  void Timer1Timer();

  // Whether the newest archive waits for its check (any thread). Without it no check starts.
  void setVerificationDue(std::function<bool()> due) { verificationDue_ = std::move(due); }

 private:
  const RunState& state_;
  const Clock& clock_;
  WindowModel& window_;
  bool idleForVerification() const;

  WorkerLauncher& launcher_;
  std::function<bool()> verificationDue_;
};

}  // namespace dovra
