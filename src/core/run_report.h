// The outcomes of the runs an administrator follows without watching the window: a backup
// started, done (its archive and size) or failed (its log line and log file), the daily
// upload done or failed, NF-e documents exported. Workers send them through the window
// model (WindowModel::report), which hands them to its observer on the main thread in the
// same order as the window changes made around them. They carry no password.
#pragma once

#include <cstdint>
#include <string>

namespace dovra {

class WindowModel;

struct RunReport {
  enum class Kind { Backup, Upload, Export, Verify };
  enum class State { Started, Done, Failed };
  Kind kind = Kind::Backup;
  State state = State::Done;
  std::string backupKind;  // Backup: "automatic" or "manual"
  std::string archive;     // Backup done, Upload: the local archive
  int64_t bytes = -1;      // Backup done, Upload: the archive's size; -1 when unknown
  std::string remote;      // Upload done: the archive's folder and name on the server
  std::string log;         // Backup failed: the log file written; "" when none was
  std::string error;       // Failed: the memo line or message of the failure
  int documents = 0;       // Export: documents stored on the server and marked sent
  int tables = -1;         // Verify done: tables whose counts were compared
  int64_t records = -1;    // Verify done: records the check restored
  double seconds = -1;     // Verify done: how long the check took
};

const char* reportStateName(RunReport::State state);

// One run's start and end events. The end event is sent exactly once: done() sends it at
// once; otherwise it goes out when the object dies, as "failed" with the first failure
// noted by fail() (an empty error when none was: the run ended early). Not thread-safe:
// one run, one thread.
class RunOutcome {
 public:
  // `base` gives kind, backupKind and archive of every event; nothing is sent yet.
  RunOutcome(WindowModel& window, RunReport base);
  ~RunOutcome();
  RunOutcome(const RunOutcome&) = delete;
  RunOutcome& operator=(const RunOutcome&) = delete;

  void started();
  // Notes a failure; only the first one counts. `log` names the log file written for it.
  void fail(const std::string& error, const std::string& log = "");
  // The run succeeded with `archive` of `bytes` bytes (-1 when unknown). Ignored after a
  // failure was noted or the end event was sent.
  void done(const std::string& archive, int64_t bytes, const std::string& remote = "");
  // The same, with the size the archive has on disk now.
  void done(const std::string& archive);
  // The run succeeded; `details` carries what its kind reports (its kind and state are
  // set here).
  void done(RunReport details);
  // The size of the run's archive, carried by a later "failed" event.
  void setBytes(int64_t bytes) { base_.bytes = bytes; }

 private:
  WindowModel& window_;
  RunReport base_;
  bool failed_ = false;
  bool ended_ = false;
  std::string error_, log_;
};

}  // namespace dovra
