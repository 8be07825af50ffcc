// `Tauto`: the worker that makes the unattended daily backups. It backs up the main
// database and, when there is one, the NF-e database through the service manager into
// BackupFolder + base name + "_AUTO.fbk", packs the backup files of the run into
// BackupFolder + DatabaseBaseName + ".zlib" (the archive the daily upload sends), deletes the
// backup files that the archive holds, and shows the time of the run. When the server runs
// on this machine the files are packed while the server writes them, and a server that
// stops writing without ending the backup ends the run after the follow options' stall
// timeout (twice over: once for the packer, once more for the server to answer).
//
// Runs on its own thread (started by the launcher, which has already claimed
// BackupRunning); it reaches the window only through the thread-safe model, and switches
// the scheduler back on through the main loop. Every path ends with Timer1 on and
// BackupRunning clear.
#pragma once

#include <functional>

#include "backup/backup_pass.h"
#include "core/run_state.h"
#include "core/worker_context.h"

namespace dovra {

// What the automatic backup reaches besides the worker's context.
struct AutoBackupHooks {
  // The compressor's progress event, once the server has written every file. Any thread.
  std::function<void()> compressionProgress;
  // Switches the scheduler back on; posted to the main loop at the end of every run.
  std::function<void()> resumeScheduler;
};

class Tauto {
 public:
  // `compressWorkers`: threads that deflate a large backup file (0: one per core).
  Tauto(WorkerContext context, AutoBackupHooks hooks, const RunSettings& settings,
        unsigned compressWorkers = 0, BackupPacking packing = {})
      : ctx_(context),
        hooks_(std::move(hooks)),
        s_(settings),
        compressWorkers_(compressWorkers),
        packing_(packing) {}
  void Execute();

 private:
  WorkerContext ctx_;
  AutoBackupHooks hooks_;
  const RunSettings& s_;
  unsigned compressWorkers_;
  BackupPacking packing_;
};

}  // namespace dovra
