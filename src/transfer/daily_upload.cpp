#include "transfer/daily_upload.h"

#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/run_report.h"
#include "firebird/erp_statements.h"
#include "firebird/fb_client.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/http_get.h"
#include "platform/paths.h"
#include "platform/trim.h"
#include "platform/xml_document.h"
#include "transfer/cnpj_folder.h"
#include "transfer/maker_servers.h"

namespace dovra {

namespace {

constexpr const char* kLog = "mLog";
constexpr int kConnectLimitMs = 5000;
constexpr size_t kDigestBytes = 64 * 1024;

// Clears FtpRunning when the run ends, however it ends.
class RunningFlag {
 public:
  explicit RunningFlag(RunFlag& flag) : flag_(flag) { flag_.set(true); }
  ~RunningFlag() { flag_.set(false); }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  RunFlag& flag_;
};

// Opens the archive for the run: read-only, with a shared advisory lock (a writer that
// locks exclusively keeps us out while it writes in place; one that holds the lock now
// makes the open fail, and the next run tries again).
FileHandle openArchive(const std::string& path) {
  FileHandle file;
  if (const int err = file.open(path, FileOpenMode::read)) throw EInOutError::fromErrno(err);
  int err = 0;
  if (!file.lockShared(&err)) throw EInOutError::fromErrno(err);
  return file;
}

std::string readRecord(const std::string& path) {
  try {
    return readWholeFile(path);
  } catch (const std::system_error&) {
    return {};
  }
}

// The date report for one company: a GET whose answer is parsed as XML and dropped. Every
// failure is ignored.
void reportDate(const std::string& fk, const std::string& date) {
  try {
    const std::string url = webServerBaseUrl() + "/atl/updataBkp.php?fk=" + encodeQueryValue(fk) +
                            "&data=" + encodeQueryValue(date);
    const HttpResponse response = httpGet(url);
    parseXmlDocument(response.body);
  } catch (const std::exception&) {
    // The report is informative; the upload stands without it.
  }
}

// Ends the upload's transaction on Banco (the caller holds Banco's lock). Each group of
// statements runs in a short transaction of its own, so no snapshot taken before the
// transfer is still in use after it: an ERP connection that changes PARGERAL meanwhile
// cannot make the date update conflict.
void endTransaction(ErpConnections& db) {
  if (!db.TBanco.Active()) return;
  try {
    db.TBanco.Commit();
  } catch (const std::exception&) {
    db.TBanco.Rollback();
    throw;
  }
}

bool isConcurrentUpdate(const EIBError& e) {
  constexpr int64_t kDeadlock = 335544336;        // isc_deadlock
  constexpr int64_t kLockConflict = 335544345;    // isc_lock_conflict
  constexpr int64_t kUpdateConflict = 335545096;  // isc_update_conflict
  return e.sqlCode() == -913 || e.gdsCode() == kDeadlock || e.gdsCode() == kLockConflict ||
         e.gdsCode() == kUpdateConflict;
}

// Records today (the server's date) as the day of the last upload, in a transaction of its
// own, committed at once. A row that an ERP connection changed meanwhile makes the update
// conflict; the update is then tried again in a new transaction, which sees that change.
// Throws the last failure.
void recordUploadDay(ErpConnections& db) {
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    std::unique_lock banco(db.Banco.lock());
    try {
      if (db.TBanco.Active()) db.TBanco.Commit();
      db.Query1.Close();
      db.Query1.SetSQL(erp::kUpdateUploadDate);
      db.Query1.ExecSQL();
      db.TBanco.Commit();
      return;
    } catch (const EIBError& e) {
      if (db.TBanco.Active()) db.TBanco.Rollback();
      if (!isConcurrentUpdate(e) || attempt == kAttempts) throw;
    }
    banco.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
  }
}

}  // namespace

std::string uploadRecordPath(const std::string& archivePath) {
  return archivePath + ".upload";
}

std::string describeUploadOrigin(FileHandle& file, const std::string& remotePath) {
  FileInfo info;
  if (const int err = file.info(info)) throw EInOutError::fromErrno(err);
  std::vector<unsigned char> head(kDigestBytes);
  size_t have = 0;
  while (have < head.size()) {
    const FileIo io =
        file.readAt(head.data() + have, head.size() - have, static_cast<int64_t>(have));
    if (io.error != 0) throw EInOutError::fromErrno(io.error);
    if (io.bytes == 0) break;
    have += io.bytes;
  }
  const uLong digest = ::crc32(::crc32(0L, Z_NULL, 0), head.data(), static_cast<uInt>(have));
  return "size=" + std::to_string(info.size) + "\nmtime=" + std::to_string(info.modifiedSeconds) +
         "." + std::to_string(info.modifiedNanoseconds) + "\nhead-crc32=" + std::to_string(digest) +
         "\nremote=" + remotePath + "\n";
}

void recordUploadStart(const std::string& archivePath, const std::string& remotePath) {
  FileHandle file;
  if (const int err = file.open(archivePath, FileOpenMode::read)) {
    throw EInOutError::fromErrno(err);
  }
  const std::string text = describeUploadOrigin(file, remotePath);
  file.close();
  writeFileAtomically(uploadRecordPath(archivePath), text);
}

TFTP::TFTP(WorkerContext context, ErpAccess erp, TIdFTP& ftp, RunSettings settings)
    : ctx_(context), erp_(std::move(erp)), ftp_(ftp), settings_(std::move(settings)) {}

void TFTP::Execute() {
  try {
    run();
  } catch (...) {
    // A failure outside the logged steps ends the run silently.
  }
}

void TFTP::run() {
  ErpConnections& db = erp_();
  WindowModel& window = ctx_.window;
  const auto log = [&window](const std::string& line) { window.memoAdd(kLog, line); };

  const std::string archive = settings_.BackupFolder + settings_.DatabaseBaseName + ".zlib";
  {
    std::lock_guard banco(db.Banco.lock());
    if (db.TBanco.Active()) db.TBanco.CommitRetaining();
    db.Query1.Close();
    db.Query1.SetSQL(erp::kSelectUploadDate);
    db.Query1.Open();
    const auto last = db.Query1.Fields[0].AsDate();
    const auto serverToday = db.Query1.Fields[1].AsDate();
    db.Query1.Close();
    endTransaction(db);
    if ((last && last == serverToday) || !fileExists(archive)) return;
  }

  RunningFlag running(ctx_.state.FtpRunning);
  // Done once the archive is on the server under its final name; failed otherwise.
  RunOutcome outcome(window, {.kind = RunReport::Kind::Upload, .archive = archive});
  log("FTP começa");
  TIdFTP& ftp = ftp_;
  std::unique_lock session(ftp.lock());
  ftp.CloseSession();

  std::string folder;
  {
    std::lock_guard banco(db.Banco.lock());
    folder = cnpjFolderName(firstRowText(db.Query1, erp::kSelectFirstCnpj));
    db.Query1.Close();
    endTransaction(db);
  }
  if (!fileExists(archive)) return;

  const std::string temporary = settings_.DatabaseBaseName + ".zlib_temp";
  const std::string final = settings_.DatabaseBaseName + ".zlib";
  std::unique_ptr<FileUploadSource> source;
  try {
    useMakerAccount(ftp, uploadFtpServer());
    log("Tenta conectar");
    ftp.OpenSession(true, kConnectLimitMs);
    log("Conectou");
    ftp.EnterFolder("/");
    try {
      ftp.CreateFolder(folder);
    } catch (const std::exception&) {
      // The folder usually exists.
    }
    ftp.EnterFolder(folder);
    log("Muda diretorio CNPJ");

    if (fileExists(archive)) {
      log("Arquivo existe");
      FileHandle file = openArchive(archive);
      const std::string origin = describeUploadOrigin(file, folder + "/" + temporary);
      source = std::make_unique<FileUploadSource>(std::move(file));
      log("Arquivo lido");

      int64_t remote = 0;
      try {
        remote = ftp.RemoteSize(temporary);
      } catch (const std::exception&) {
        // No size: the whole archive goes.
      }
      log("pegou tamanho");

      try {
        const int64_t size = source->size();
        outcome.setBytes(size);
        const std::string recordPath = uploadRecordPath(archive);
        if (remote > size || (remote > 0 && readRecord(recordPath) != origin)) {
          // Left by another archive (or grown past this one): start afresh.
          ftp.RemoveRemote(temporary);
          remote = -1;
        } else if (remote < 0) {
          // No temporary, or a server that does not tell its size: make sure nothing is
          // left to append to.
          try {
            ftp.RemoveRemote(temporary);
          } catch (const std::exception&) {
            // Usually there is none.
          }
        }
        if (remote <= 0) {
          try {
            writeFileAtomically(recordPath, origin);
          } catch (const std::exception&) {
            // Without a record the next run starts afresh instead of resuming.
          }
        }
        source->seek(remote > 0 ? remote : 0);
        if (size != remote) ftp.UploadStream(*source, temporary, true);

        const int64_t stored = ftp.RemoteSize(temporary);
        if (stored >= 0 && stored != size) {
          throw Exception("The remote file holds " + std::to_string(stored) + " of " +
                          std::to_string(size) + " bytes.");
        }

        std::vector<std::string> cnpjs;
        {
          std::lock_guard banco(db.Banco.lock());
          db.Query1.Close();
          db.Query1.SetSQL(erp::kSelectAllCnpjs);
          db.Query1.Open();
          for (; !db.Query1.Eof(); db.Query1.Next())
            cnpjs.push_back(db.Query1.Fields[0].AsString());
          db.Query1.Close();
          endTransaction(db);
        }
        const std::string today = formatShortDate(ctx_.clock.now());
        for (const std::string& cnpj : cnpjs) {
          if (!cnpj.empty()) reportDate(trimText(cleanCnpj(cnpj)), today);
        }
        log("Arquivo enviado");

        try {
          ftp.RemoveRemote(final);
          log("Arquivo old deletado");
        } catch (const std::exception&) {
          // No previous file on the first upload.
        }
        bool renamed = true;
        try {
          ftp.RenameRemote(temporary, final);
        } catch (const std::exception& e) {
          // The day stays due: the next tick finds the complete temporary, sends nothing
          // and renames it.
          log(std::string("Erro: ") + e.what());
          outcome.fail(e.what());
          renamed = false;
        }
        if (renamed) {
          log("Arquivo novo renomeado");
          outcome.done(archive, size, "/" + folder + "/" + final);
          removeFile(recordPath);
          try {
            recordUploadDay(db);
          } catch (const std::exception& e) {
            // The archive is in place; only the day is not recorded, so the next tick
            // sends it again.
            log(std::string("Erro: ") + e.what());
          }
        }
      } catch (const std::exception& e) {
        log("Arquivo não enviado");
        outcome.fail(e.what());
      }
    }
  } catch (const std::exception& e) {
    log(std::string("Erro: ") + e.what());
    outcome.fail(e.what());
  }

  try {
    std::lock_guard banco(db.Banco.lock());
    endTransaction(db);
  } catch (const std::exception&) {
    // The connection is gone; nothing of the run was left uncommitted.
  }
  source.reset();
  ftp.CloseSession();
}

}  // namespace dovra
