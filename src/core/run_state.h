// RunState: the run-time fields shared by the shell, the scheduler and the workers.
//
// The settings part (RunSettings) is written on the main thread, by the window's creation
// and the start sequence; a worker gets its own copy when it is started, so it never
// reads a field while the main thread writes it. The running flags are shared by
// all threads and safe to read and write from any of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace dovra {

// A running flag: one atomic boolean.
class RunFlag {
 public:
  bool get() const { return value_.load(std::memory_order_acquire); }
  operator bool() const { return get(); }
  void set(bool on) { value_.store(on, std::memory_order_release); }
  // Sets the flag when it is clear; false when it was already set. Never sets it twice.
  bool tryClaim() {
    bool expected = false;
    return value_.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
  }

 private:
  std::atomic<bool> value_{false};
};

struct RunSettings {
  std::string InstallationId;
  int32_t ProgramVersion = 0;
  std::string DatabasePath;
  std::string DatabaseBaseName;
  std::string NfeDatabasePath;
  std::string NfeDatabaseBaseName;
  bool NfeEnabled = false;
  std::string DbUser;
  std::string DbPassword;
  std::string LocalRemote;
  std::string BackupFolder;
  double BackupTime1 = 0;  // fractions of a day; 0 = not set
  double BackupTime2 = 0;
  double FtpTime = 0;
  std::string CompanyText;
  int32_t ProgressMaximum = 0;
  std::string XmlFolder;
  // Whether automatic archives are restored in idle time to prove them ("[backupdovra]
  // verificar", S unless set to N).
  bool VerifyEnabled = true;
};

struct RunState : RunSettings {
  RunFlag BackupRunning;
  RunFlag FtpRunning;
  RunFlag XmlRunning;
  // The unpack page's unpacking and restore dialogue is under way.
  RunFlag RestoreRunning;

  // A copy of the settings for a worker. Main thread.
  RunSettings snapshot() const { return static_cast<const RunSettings&>(*this); }
};

}  // namespace dovra
