#include "backup/automatic_backup.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/archive_writer.h"
#include "backup/archive_record.h"
#include "backup/backup_pass.h"
#include "backup/table_counts.h"
#include "core/run_report.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace dovra {
namespace {

constexpr const char* kSuffix = "_AUTO.fbk";

std::string errorText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Error";
  }
}

// The service side of a run: each database through the service manager, one after the
// other, with the window's log, labels and pass logs. When the archive is packed while the
// server writes, this runs on a thread of its own and reports each file's end to the packer.
//
// The state is shared with that thread. A run that gives up on a stalled server abandons
// the thread: from then on it leaves the window alone and only waits for the server.
class Passes : public std::enable_shared_from_this<Passes> {
 public:
  Passes(WindowModel& window, const RunSettings& settings)
      : w_(window),
        s_(settings),
        files_{backupFilePath(s_.BackupFolder, s_.DatabaseBaseName, kSuffix),
               backupFilePath(s_.BackupFolder, s_.NfeDatabaseBaseName, kSuffix)},
        locations_{s_.DatabasePath, s_.NfeDatabasePath} {
    for (int pass = 0; pass < 2; ++pass) {
      if (!locations_[pass].empty() && (pass == 0 || s_.NfeEnabled)) meant_.push_back(pass);
    }
  }

  // The passes the run is meant to make, in order.
  const std::vector<int>& meant() const { return meant_; }
  const std::string& file(int pass) const { return files_[pass]; }
  ProducerEnd& end(int pass) { return ends_[pass]; }

  void run() {
    std::unique_ptr<TIBBackupService> service;
    for (int pass = 0; pass < 2; ++pass) {
      if (locations_[pass].empty()) continue;
      ui([&] { w_.memoClear("MemoBackup"); });
      try {
        if (!service) service = std::make_unique<TIBBackupService>();
      } catch (const std::exception& e) {
        // No client library: this pass fails like any other.
        ends_[pass].failed(e.what());
        noteFailure(std::string("erro: ") + e.what(), false);
        ui([&] {
          w_.memoAdd("MemoBackup", std::string("erro: ") + e.what());
          w_.setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
        });
        continue;
      }
      if (pass == 1 && !s_.NfeEnabled) break;
      ui([&] { lastLog_ = passLogPath(files_[pass]); });
      try {
        runBackupPass(*service, s_.DbUser, s_.DbPassword,
                      automaticBackupTarget(s_.LocalRemote, locations_[pass], s_.BackupFolder),
                      files_[pass], [&](const std::string& line) {
                        ends_[pass].alive();
                        if (pass == 0) mainCounts_.line(line);
                        ui([&] { w_.memoAdd("MemoBackup", line); });
                      });
        ends_[pass].finished();
        ui([&] {
          made_.push_back(pass);
          w_.memoAdd("MemoBackup", "Copia realizada com sucesso para " + locations_[pass]);
          w_.setLabel("lbStatus", "Backup realizado com sucesso", LabelColor::Highlight);
          w_.setLabel("lbArquivo", pass == 0
                                       ? s_.DatabaseBaseName
                                       : w_.labelText("lbArquivo") + ", " + s_.NfeDatabaseBaseName);
        });
      } catch (const std::exception& e) {
        ends_[pass].failed(e.what());
        const bool first = noteFailure(std::string("erro: ") + e.what(), isDiskSpaceError(e));
        ui([&] {
          w_.memoAdd("MemoBackup", std::string("erro: ") + e.what());
          // The status says so even when the log cannot be written (a full disk).
          w_.setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
          try {
            saveMemoLines(w_.memoLines("MemoBackup"), lastLog_);
            if (first) failureLog_ = lastLog_;
          } catch (...) {
            // The log could not be written: the run goes on.
          }
        });
      }
      service->Detach();
      ui([&] { w_.setBusyCursor(false); });
    }
    service.reset();
    over_ = true;
    std::lock_guard lock(mu_);
    done_ = true;
    doneChanged_.notify_all();
  }

  // True once run() has ended; any thread.
  bool over() const { return over_.load(); }

  // Waits up to `timeout` for run() to end; true when it has.
  bool waitDone(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu_);
    return doneChanged_.wait_for(lock, timeout, [&] { return done_; });
  }

  // The window is no longer this run's.
  void abandon() {
    std::lock_guard lock(mu_);
    abandoned_ = true;
  }

  bool allMade() const { return !meant_.empty() && made_ == meant_; }
  // The first failed pass's log line and the log file that holds it ("" when none was
  // written). Read once run() has ended.
  const std::string& firstFailure() const { return failure_; }
  const std::string& firstFailureLog() const { return failureLog_; }
  const std::string& lastLog() const { return lastLog_; }
  // A pass failed for want of disk space. Read once run() has ended.
  bool diskFull() const { return diskFull_; }
  // The record counts the main database's backup reported. Read once run() has ended.
  const TableCounts& mainCounts() const { return mainCounts_.counts(); }

 private:
  // Keeps the first failure; true when this one is it.
  bool noteFailure(const std::string& line, bool diskFull) {
    std::lock_guard lock(mu_);
    diskFull_ = diskFull_ || diskFull;
    if (!failure_.empty()) return false;
    failure_ = line;
    return true;
  }

  template <class F>
  void ui(F&& f) {
    std::lock_guard lock(mu_);
    if (!abandoned_) f();
  }

  WindowModel& w_;
  const RunSettings s_;  // a copy: the thread may outlive the run that started it
  const std::string files_[2];
  const std::string locations_[2];
  std::vector<int> meant_;
  ProducerEnd ends_[2];
  std::atomic<bool> over_{false};

  std::mutex mu_;  // guards what follows and every use of the window
  std::condition_variable doneChanged_;
  bool done_ = false;
  bool abandoned_ = false;
  std::vector<int> made_;
  std::string lastLog_;
  std::string failure_, failureLog_;
  bool diskFull_ = false;
  TableCountReader mainCounts_{TableCountReader::Source::Backup};
};

// Keeps beside the new archive what its later check compares against; without it (a full
// disk) the archive is simply not checked.
void recordArchive(const std::string& archive, const std::string& mainBackup,
                   const TableCounts& counts) {
  const std::string path = archiveRecordPath(archive);
  try {
    ArchiveRecord record;
    record.archiveSize = fileSize(archive);
    record.archiveCrc = fileCrc32(archive);
    const size_t slash = mainBackup.find_last_of("/\\");
    record.mainEntry = slash == std::string::npos ? mainBackup : mainBackup.substr(slash + 1);
    record.mainEntrySize = fileSize(mainBackup);
    record.tables = counts;
    saveArchiveRecord(path, record);
  } catch (const std::exception&) {
    removeFile(path);  // the record of the archive replaced must not stand for this one
  }
}

bool isDiskSpaceFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return isDiskSpaceError(e);
  } catch (...) {
    return false;
  }
}

}  // namespace

void Tauto::Execute() {
  RunState& state = ctx_.state;
  WindowModel& w = ctx_.window;
  state.BackupRunning.set(true);
  // Whatever happens, the run ends with the scheduler on and the flag clear.
  struct EndOfRun {
    const WorkerContext& ctx;
    const AutoBackupHooks& hooks;
    ~EndOfRun() {
      if (hooks.resumeScheduler) ctx.loop.post(hooks.resumeScheduler);
      ctx.state.BackupRunning.set(false);
    }
  } endOfRun{ctx_, hooks_};
  RunOutcome outcome(w, {.kind = RunReport::Kind::Backup, .backupKind = "automatic"});
  outcome.started();
  w.setLabel("lbArquivo", "");
  w.setActivePage("tbsbackup");
  w.setBusyCursor(true);

  const auto passes = std::make_shared<Passes>(w, s_);
  const std::string archive = s_.BackupFolder + s_.DatabaseBaseName + ".zlib";
  // The packer's progress shows once the server has written every file, as it did when
  // packing came after the backup.
  const auto progress = [this, passes](const CompressProgress&) {
    if (passes->over() && hooks_.compressionProgress) hooks_.compressionProgress();
  };
  const auto logLine = [&w](const std::string& line) { w.memoAdd("MemoBackup", line); };
  std::vector<std::string> files;
  for (int pass : passes->meant()) files.push_back(passes->file(pass));
  // Backup files of an earlier run that never made its archive: the server would write
  // over them, and a follower must not read their old bytes first.
  for (const std::string& base : {s_.DatabaseBaseName, s_.NfeDatabaseBaseName}) {
    if (!base.empty()) removeBackupFiles({backupFilePath(s_.BackupFolder, base, kSuffix)});
  }
  // The record of the archive about to be replaced goes first: a record always speaks of
  // the archive beside it.
  removeFile(archiveRecordPath(archive));

  // The archive replaces the previous one only when it holds every database the run was
  // meant to back up; after a failed pass the previous archive stays.
  const auto packAfterBackup = [&]() -> std::exception_ptr {
    try {
      CompressFiles(files, archive, progress, compressWorkers_);
      return nullptr;
    } catch (const std::exception&) {
      return std::current_exception();
    }
  };
  std::exception_ptr packFailure;
  std::string stalledLog;  // set when the run gave up on a stalled server
  const bool follow =
      packing_.whileWritten && !files.empty() &&
      writtenOnThisMachine(automaticBackupTarget(s_.LocalRemote, s_.DatabasePath, s_.BackupFolder));
  if (follow) {
    // The server writes each backup file while this thread packs it; the NF-e backup starts
    // as soon as the main one has ended, while its last blocks are still being compressed.
    std::thread producer([passes] { passes->run(); });
    std::vector<FollowedInput> inputs;
    for (int pass : passes->meant()) inputs.push_back({passes->file(pass), &passes->end(pass)});
    bool stalled = false;
    try {
      CompressGrowingFiles(inputs, archive, progress, compressWorkers_, packing_.follow, logLine);
    } catch (const EProducerFailed&) {
      // The pass has reported its own failure.
    } catch (const std::exception& e) {
      stalled = dynamic_cast<const EBackupStalled*>(&e) != nullptr;
      packFailure = std::current_exception();
    }
    if (stalled && !passes->waitDone(packing_.follow.stallTimeout)) {
      // The server neither writes nor ends: the run stops waiting for it, with the log of
      // the pass it stalled in.
      for (int pass : passes->meant()) {
        if (passes->end(pass).state() == ProducerEnd::State::Running) {
          stalledLog = passLogPath(passes->file(pass));
          break;
        }
      }
      passes->abandon();
      producer.detach();
    } else {
      producer.join();
      if (stalled && passes->allMade()) {
        // The server did end after all: pack the complete files.
        logLine("Backup compactado a partir dos arquivos completos: " + errorText(packFailure));
        packFailure = packAfterBackup();
      }
    }
  } else {
    passes->run();
    if (passes->allMade()) packFailure = packAfterBackup();
  }

  // An abandoned producer may still be writing its state; only its stall is reported.
  const bool abandoned = !stalledLog.empty();
  if (!abandoned && !passes->firstFailure().empty()) {
    outcome.fail(passes->firstFailure(), passes->firstFailureLog());
  }
  bool diskFull = !abandoned && passes->diskFull();
  if (packFailure && (passes->allMade() || abandoned)) {
    const std::string line = "erro: " + errorText(packFailure);
    const std::string log = abandoned ? stalledLog : passes->lastLog();
    w.memoAdd("MemoBackup", line);
    try {
      saveMemoLines(w.memoLines("MemoBackup"), log);
      outcome.fail(line, log);
    } catch (...) {
      outcome.fail(line);
    }
    diskFull = diskFull || isDiskSpaceFailure(packFailure);
  }
  const bool archived = !packFailure && passes->allMade();
  if (archived) {
    if (s_.VerifyEnabled) recordArchive(archive, passes->file(0), passes->mainCounts());
    outcome.done(archive);
  } else {
    // Whatever pass set the status last, the run failed: the status and a balloon say so.
    w.setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
    showBackupFailureBalloon(w, diskFull);
  }
  // The backup files go: the archive holds them, or it could not be made and they would
  // only hold the space the next run needs. A server still writing keeps its file until
  // the next run.
  if (!abandoned) removeBackupFiles(files);

  w.setLabel("lbDataHora", formatBackupDateTime(ctx_.clock.now()));
  w.setLabel("lbDiretorio", s_.BackupFolder);
  w.memoClear("MemoBackup");
}

}  // namespace dovra
