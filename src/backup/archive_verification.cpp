#include "backup/archive_verification.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/stream.h"
#include "backup/archive_record.h"
#include "backup/backup_pass.h"
#include "core/run_report.h"
#include "core/window_model.h"
#include "firebird/erp_connections.h"
#include "firebird/ib_database.h"
#include "firebird/ib_service.h"
#include "firebird/service_target.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace dovra {
namespace {

constexpr const char* kMemo = "MemoBackup";
// Room kept free beyond the restored database's estimate.
constexpr uint64_t kRoomMargin = 64ull << 20;
// Bytes of the backup handed to the server per read.
constexpr size_t kInputBlock = 1 << 16;

std::string recordKey(const ArchiveRecord& record) {
  char key[40];
  std::snprintf(key, sizeof key, "%lld-%08x", static_cast<long long>(record.archiveSize),
                record.archiveCrc);
  return key;
}

// The record of the archive; nothing when there is none (or no archive to check). A
// backup removes the record before it replaces the archive and writes the new one after,
// so a record always speaks of the archive beside it: one that does not match it is damage.
std::optional<ArchiveRecord> currentRecord(const VerificationPaths& paths) {
  if (!fileExists(paths.archive)) return std::nullopt;
  return loadArchiveRecord(paths.record);
}

std::string megabytes(uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// Where the scratch database is reached: the backup's service manager and the name the
// server gives the file.
struct ScratchTarget {
  TProtocol protocol = TProtocol::Local;
  std::string server;
  std::string database;  // as the server sees it
  // The location an attachment names.
  std::string location() const {
    return protocol == TProtocol::TCP ? server + ":" + database : database;
  }
};

ScratchTarget scratchTarget(const RunSettings& s, const VerificationPaths& paths) {
  const ServiceTarget backup = automaticBackupTarget(s.LocalRemote, s.DatabasePath, s.BackupFolder);
  return {backup.Protocol, backup.ServerName, paths.database};
}

void setUp(TIBCustomService& service, const RunSettings& s, const ScratchTarget& target) {
  service.LoginPrompt = false;
  service.Params.Clear();
  service.Params.SetValue("user_name", s.DbUser);
  service.Params.SetValue("password", s.DbPassword);
  service.Protocol = target.protocol;
  if (target.protocol == TProtocol::TCP) service.ServerName = target.server;
}

// Runs a started service to its end, handing every line to `onLine`; always detaches.
void runToEnd(TIBControlAndQueryService& service,
              const std::function<void(const std::string&)>& onLine) {
  struct DetachAtEnd {
    TIBControlAndQueryService& s;
    ~DetachAtEnd() { s.Detach(); }
  } detach{service};
  service.Attach();
  service.ServiceStart();
  while (!service.OutputFinished()) {
    const std::string line = service.ReadOutputLine();
    if (!line.empty()) onLine(line);
  }
}

// Drops the scratch database through the server, which owns its file; best effort (there
// may be none).
void dropScratchDatabase(const RunSettings& s, const ScratchTarget& target) {
  try {
    IbDatabase db;
    connectDatabase(db, target.location(), s.DbUser, s.DbPassword);
    db.DropDatabase();
  } catch (const std::exception&) {
    // No database, or a server that cannot be reached: the files are removed below.
  }
}

// Removes the scratch folder and whatever is in it; true when nothing of it is left.
bool removeScratchFolder(const VerificationPaths& paths) {
  if (!directoryExists(paths.scratch)) return true;
  for (const std::string& name : folderEntryNames(paths.scratch)) {
    removeFile(paths.scratch + "/" + name);
  }
  return removeFolder(paths.scratch) == 0 || !directoryExists(paths.scratch);
}

// Gives the archive a second name in the scratch folder; a copy where the file system
// cannot link.
void pinArchive(const VerificationPaths& paths) {
  if (makeHardLink(paths.archive, paths.pinned) == 0) return;
  FileStream in = FileStream::openRead(paths.archive);
  FileStream out = FileStream::createNew(paths.pinned);
  std::vector<unsigned char> block(1 << 20);
  for (;;) {
    const size_t n = in.read(block.data(), block.size());
    if (n == 0) break;
    out.writeBuffer(block.data(), n);
  }
  out.sync();
}

class VerificationFailed : public Exception {
 public:
  using Exception::Exception;
};

// Whether the validation found something wrong, and its first such line.
std::string validationProblem(const std::vector<std::string>& lines) {
  bool finished = false;
  for (const std::string& line : lines) {
    if (line.find("ERROR") != std::string::npos) return line;
    if (line.find("Validation finished") != std::string::npos) finished = true;
  }
  return finished ? std::string() : "não chegou ao fim";
}

}  // namespace

VerificationPaths verificationPaths(const RunSettings& s) {
  VerificationPaths p;
  const std::string& folder = s.BackupFolder;
  const std::string base = folder + s.DatabaseBaseName;
  // The folder ends with its separator, as the settings page stores it.
  const char separator = !folder.empty() && folder.back() == '\\' ? '\\' : '/';
  p.archive = base + ".zlib";
  p.record = archiveRecordPath(p.archive);
  p.verified = base + ".verified.zlib";
  p.scratch = base + "_VERIFICA";
  p.database = p.scratch + separator + s.DatabaseBaseName + "_VERIFICA.fdb";
  p.pinned = p.scratch + separator + s.DatabaseBaseName + ".zlib";
  p.log = base + "_VERIFICA.txt";
  return p;
}

bool VerificationMemory::tried(const std::string& key) const {
  std::lock_guard lock(mu_);
  return tried_.count(key) != 0;
}

void VerificationMemory::remember(const std::string& key) {
  std::lock_guard lock(mu_);
  tried_.insert(key);
}

bool verificationDue(const RunSettings& s, const VerificationMemory& memory) {
  if (!s.VerifyEnabled || s.DatabaseBaseName.empty() || s.BackupFolder.empty()) return false;
  const std::optional<ArchiveRecord> record = currentRecord(verificationPaths(s));
  return record && record->state == ArchiveRecord::State::Pending &&
         !memory.tried(recordKey(*record));
}

std::string verifiedArchiveNote(const RunSettings& s) {
  FileInfo info;
  if (pathInfo(verificationPaths(s).verified, info) != 0 || !info.isRegular) return {};
  return "Backup verificado: " + formatBackupDateTime(localDateTimeOf(info.modifiedSeconds));
}

bool removeInterruptedVerification(const RunSettings& s, WindowModel& window) {
  if (s.DatabaseBaseName.empty()) return false;
  const VerificationPaths paths = verificationPaths(s);
  if (!directoryExists(paths.scratch)) return false;
  removeScratchFolder(paths);
  RunOutcome outcome(window, {.kind = RunReport::Kind::Verify, .archive = paths.archive});
  outcome.fail("erro: Verificação interrompida antes do fim; a pasta " + paths.scratch +
               " foi removida");
  return true;
}

void TVerifica::Execute() {
  const auto started = std::chrono::steady_clock::now();
  const VerificationPaths paths = verificationPaths(s_);
  std::optional<ArchiveRecord> record = currentRecord(paths);
  if (!record) return;
  const std::string key = recordKey(*record);
  memory_.remember(key);

  RunOutcome outcome(window_, {.kind = RunReport::Kind::Verify, .archive = paths.archive});
  const ScratchTarget target = scratchTarget(s_, paths);
  std::vector<std::string> log;  // the services' lines, for the log of a failure
  TableCountReader restored(TableCountReader::Source::Restore);

  const auto setState = [&](ArchiveRecord::State state) {
    // Only the record of the archive checked: a backup may have replaced both meanwhile.
    std::optional<ArchiveRecord> now = currentRecord(paths);
    if (!now || recordKey(*now) != key) return;
    now->state = state;
    try {
      saveArchiveRecord(paths.record, *now);
    } catch (const std::exception&) {
      // The memory of this run keeps the archive from being checked again.
    }
  };

  try {
    // What a check cut short left: the server may still hold its database.
    if (directoryExists(paths.scratch)) {
      dropScratchDatabase(s_, target);
      if (!removeScratchFolder(paths)) {
        throw VerificationFailed("A pasta de verificação " + paths.scratch +
                                 " não pôde ser removida");
      }
    }
    uint64_t room = 0;
    const uint64_t needed = 2 * static_cast<uint64_t>(record->mainEntrySize) + kRoomMargin;
    if (const int err = freeSpace(s_.BackupFolder, room)) {
      throw VerificationFailed("Espaço livre de " + s_.BackupFolder +
                               " desconhecido: " + systemErrorText(err));
    }
    if (room < needed) {
      throw VerificationFailed("Espaço em disco insuficiente para verificar o backup (" +
                               megabytes(room) + " livres, " + megabytes(needed) + " necessários)");
    }
    if (const int err = makeFolderLike(paths.scratch, s_.BackupFolder)) {
      throw VerificationFailed("A pasta de verificação " + paths.scratch +
                               " não pôde ser criada: " + systemErrorText(err));
    }
    pinArchive(paths);
    if (fileSize(paths.pinned) != record->archiveSize ||
        fileCrc32(paths.pinned) != record->archiveCrc) {
      throw VerificationFailed("O arquivo " + paths.archive + " não é o que o backup gravou");
    }

    FirstEntryReader entry(paths.pinned);
    if (entry.entry().name != record->mainEntry) {
      throw VerificationFailed("A primeira entrada do arquivo é " + entry.entry().name + ", não " +
                               record->mainEntry);
    }
    TIBRestoreService restore;
    setUp(restore, s_, target);
    restore.Verbose = true;
    restore.PageSize = 8192;
    restore.DatabaseName.Add(target.database);
    restore.StdinSource = [&entry](char* buffer, size_t max) {
      try {
        return entry.read(buffer, std::min(max, kInputBlock));
      } catch (const std::exception& e) {
        throw VerificationFailed(std::string("Arquivo compactado danificado: ") + e.what());
      }
    };
    runToEnd(restore, [&](const std::string& line) {
      log.push_back(line);
      restored.line(line);
    });

    TIBValidationService validation;
    setUp(validation, s_, target);
    validation.DatabaseName = target.database;
    std::vector<std::string> report;
    runToEnd(validation, [&](const std::string& line) {
      log.push_back(line);
      report.push_back(line);
    });
    if (const std::string problem = validationProblem(report); !problem.empty()) {
      throw VerificationFailed("Validação: " + problem);
    }
    if (const std::string difference = compareTableCounts(record->tables, restored.counts());
        !difference.empty()) {
      throw VerificationFailed(difference);
    }
  } catch (const std::exception& e) {
    const std::string line = std::string("erro: ") + e.what();
    dropScratchDatabase(s_, target);
    removeScratchFolder(paths);
    setState(ArchiveRecord::State::Failed);
    window_.memoAdd(kMemo, line);
    log.push_back(line);
    try {
      saveMemoLines(log, paths.log);
      outcome.fail(line, paths.log);
    } catch (const std::exception&) {
      outcome.fail(line);
    }
    window_.showBalloon("Erro na verificação do backup", e.what(), BalloonIcon::Error, 50);
    return;
  }

  // The archive checked becomes the last verified copy, replacing the one before.
  dropScratchDatabase(s_, target);
  const int promoted = renameReplacing(paths.pinned, paths.verified);
  removeScratchFolder(paths);
  setState(ArchiveRecord::State::Verified);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const int tables = static_cast<int>(record->tables.size());
  const int64_t records = totalRecords(restored.counts());
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  window_.memoAdd(kMemo, "Verificado: " + paths.archive + " restaurado e validado, " +
                             std::to_string(tables) + " tabelas e " + std::to_string(records) +
                             " registros conferidos em " + took + " s");
  if (promoted == 0) window_.setHintNote(verifiedArchiveNote(s_));
  outcome.done(RunReport{.archive = paths.archive,
                         .bytes = record->archiveSize,
                         .tables = tables,
                         .records = records,
                         .seconds = seconds});
}

}  // namespace dovra
