#include "scheduler/scheduler.h"

namespace dovra {

Scheduler::Scheduler(const RunState& state, const Clock& clock, WindowModel& window,
                     WorkerLauncher& launcher)
    : state_(state), clock_(clock), window_(window), launcher_(launcher) {}

void Scheduler::Timer1Timer() {
  if (formatHhNn(clock_.now()) == "17:50") {
    window_.hideBalloon();
    window_.showBalloon("BackUp Dovra", "Atenção, não deixe de fazer o bakup do sistema",
                        BalloonIcon::Information, 30);
  }

  try {
    if (state_.FtpTime > 0 && clock_.now().timeOfDay() > state_.FtpTime && !state_.FtpRunning) {
      launcher_.start(WorkerKind::TFTP);
    }
    if (state_.BackupTime1 > 0 && formatHhNn(clock_.now()) == formatHhNn(state_.BackupTime1) &&
        !state_.BackupRunning) {
      launcher_.start(WorkerKind::Tauto);
    }
    if (state_.BackupTime2 > 0 && formatHhNn(clock_.now()) == formatHhNn(state_.BackupTime2) &&
        !state_.BackupRunning) {
      launcher_.start(WorkerKind::Tauto);
    }
  } catch (...) {
    // A worker that cannot be started is tried again on a later tick.
  }

  if (state_.NfeEnabled && !state_.FtpRunning && !state_.BackupRunning && !state_.XmlRunning) {
    launcher_.start(WorkerKind::TXML);
  }

  // The check of the newest archive restores a whole database: only when no backup, no
  // upload (nor a started upload worker that has not decided yet) and no restore runs.
  const bool idle = !state_.BackupRunning && !state_.FtpRunning && !state_.RestoreRunning &&
                    !launcher_.running(WorkerKind::Tauto) && !launcher_.running(WorkerKind::TFTP);
  try {
    if (idle && verificationDue_ && verificationDue_()) launcher_.start(WorkerKind::TVerifica);
  } catch (...) {
    // Tried again on a later tick.
  }
}

}  // namespace dovra
