// `TVerifica`: the proof that the newest automatic archive restores. In idle time, once an
// automatic backup has left an archive with its record (archive_record.h), the worker
// restores the archive's first entry (the main database's backup) through the service
// manager into a scratch database, streamed straight from the archive, runs the server's
// online validation on it, and compares the record counts the restore reported for each
// table with those the backup reported. The scratch database and its folder are dropped
// afterwards, whatever happened.
//
// Files, all beside the archive <BackupFolder><base>.zlib:
//   <base>.zlib.verify      the backup's record; its state becomes "verified" or "failed"
//   <base>.verified.zlib    the last archive that passed, a second name of that very file
//                           (a copy where the file system has no hard links); it stays until
//                           a newer archive passes
//   <base>_VERIFICA/        the scratch folder: the database restored for the check and the
//                           archive pinned for it (so a backup may replace the archive
//                           meanwhile); gone after each check, and removed at the next start
//                           when a check was cut short
//   <base>_VERIFICA.txt     the log of a check that failed: the service's lines and the error
//
// A check needs room on the backup folder's disk for the restored database (about twice
// the backup file) plus a margin; without it the check fails at once. Each outcome is a
// "verify" report (done with the tables, records and seconds; failed with the error and
// the log), a line in MemoBackup, and, on success, the tray hint's note with the time of the
// verified archive; a failure shows a balloon with the error. Nothing of the live databases
// is read or written: only the archive and the scratch database are used.
//
// Threads: Execute runs on the worker's own thread and reaches the window through the
// thread-safe model; the other functions may be called from any thread.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "core/run_state.h"

namespace dovra {

class WindowModel;

// Where the check of an installation's archive keeps its files.
struct VerificationPaths {
  std::string archive;   // <BackupFolder><base>.zlib
  std::string record;    // archive + ".verify"
  std::string verified;  // <BackupFolder><base>.verified.zlib
  std::string scratch;   // <BackupFolder><base>_VERIFICA, with no separator at the end
  std::string database;  // the scratch database, inside scratch
  std::string pinned;    // the archive's second name inside scratch
  std::string log;       // <BackupFolder><base>_VERIFICA.txt
};
VerificationPaths verificationPaths(const RunSettings& settings);

// The archives a check was started for in this run of the program, so that one that failed
// (and whose record could not say so) is not checked again on every tick. Thread-safe.
class VerificationMemory {
 public:
  bool tried(const std::string& key) const;
  void remember(const std::string& key);

 private:
  mutable std::mutex mu_;
  std::set<std::string> tried_;
};

// Whether the archive waits for its check: checks are on, the archive has a pending
// record, and no check was started for it in this run. Cheap: one look at the archive and
// one read of its small record.
bool verificationDue(const RunSettings& settings, const VerificationMemory& memory);

// The text of the tray hint's note for the archive last verified, from the time that
// archive was written: "Backup verificado: dd/mm/yy - hh:nn:ss"; "" when none was.
std::string verifiedArchiveNote(const RunSettings& settings);

// Removes the scratch folder a check cut short left behind (the program was killed or the
// machine stopped). True when there was one; it is reported as a failed check of the
// archive. Files the program may not remove stay, and the next check tries again through
// the server.
bool removeInterruptedVerification(const RunSettings& settings, WindowModel& window);

class TVerifica {
 public:
  TVerifica(WindowModel& window, const RunSettings& settings, VerificationMemory& memory)
      : window_(window), s_(settings), memory_(memory) {}
  void Execute();

 private:
  WindowModel& window_;
  const RunSettings& s_;
  VerificationMemory& memory_;
};

}  // namespace dovra
