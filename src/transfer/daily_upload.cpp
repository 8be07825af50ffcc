#include "transfer/daily_upload.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <pugixml.hpp>

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "backup/erp_statements.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/http_get.h"
#include "platform/paths.h"
#include "shell/form1.h"
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

bool isMidnightOf(const std::chrono::local_seconds& value, const LocalDateTime& day) {
  using namespace std::chrono;
  const local_days date{year{day.year} / month{static_cast<unsigned>(day.month)} /
                        std::chrono::day{static_cast<unsigned>(day.day)}};
  return value == local_seconds{date};
}

// Opens the archive for the run: read-only, with a shared advisory lock (a writer that
// locks exclusively keeps us out while it writes in place; one that holds the lock now
// makes the open fail, and the next run tries again).
int openArchive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EInOutError::fromErrno(errno);
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    throw EInOutError::fromErrno(err);
  }
  return fd;
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
    pugi::xml_document document;
    document.load_buffer(response.body.data(), response.body.size());
  } catch (const std::exception&) {
    // The report is informative; the upload stands without it.
  }
}

}  // namespace

std::string uploadRecordPath(const std::string& archivePath) {
  return archivePath + ".upload";
}

std::string describeUploadOrigin(int fd, const std::string& remotePath) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw EInOutError::fromErrno(errno);
  std::vector<unsigned char> head(kDigestBytes);
  size_t have = 0;
  while (have < head.size()) {
    const ssize_t n = ::pread(fd, head.data() + have, head.size() - have, static_cast<off_t>(have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError::fromErrno(errno);
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  const uLong digest = ::crc32(::crc32(0L, Z_NULL, 0), head.data(), static_cast<uInt>(have));
  return "size=" + std::to_string(st.st_size) + "\nmtime=" + std::to_string(st.st_mtim.tv_sec) +
         "." + std::to_string(st.st_mtim.tv_nsec) + "\nhead-crc32=" + std::to_string(digest) +
         "\nremote=" + remotePath + "\n";
}

void recordUploadStart(const std::string& archivePath, const std::string& remotePath) {
  const int fd = ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EInOutError::fromErrno(errno);
  std::string text;
  try {
    text = describeUploadOrigin(fd, remotePath);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  writeFileAtomically(uploadRecordPath(archivePath), text);
}

TFTP::TFTP(TForm1& form, RunSettings settings) : form_(form), settings_(std::move(settings)) {}

void TFTP::Execute() {
  try {
    run();
  } catch (...) {
    // A failure outside the logged steps ends the run silently.
  }
}

void TFTP::run() {
  ErpConnections& db = form_.erp();
  WindowModel& window = form_.window();
  const auto log = [&window](const std::string& line) { window.memoAdd(kLog, line); };

  const std::string archive = settings_.BackupFolder + settings_.DatabaseBaseName + ".zlib";
  {
    std::lock_guard banco(db.Banco.lock());
    if (db.TBanco.Active()) db.TBanco.CommitRetaining();
    db.Query1.Close();
    db.Query1.SetSQL(erp::kSelectUploadDate);
    db.Query1.Open();
    const auto last = db.Query1.Fields[0].AsDateTime();
    db.Query1.Close();
    // Nothing to do: the read ends its transaction, so no snapshot of the ERP database
    // stays open between ticks (it would hold back the server's garbage collection).
    if ((last && isMidnightOf(*last, form_.clock().now())) || !fileExists(archive)) {
      if (db.TBanco.Active()) db.TBanco.Commit();
      return;
    }
  }

  RunningFlag running(form_.state().FtpRunning);
  log("FTP começa");
  TIdFTP& ftp = form_.IdFTP1;
  std::unique_lock session(ftp.lock());
  ftp.CloseSession();

  std::string folder;
  {
    std::lock_guard banco(db.Banco.lock());
    folder = cnpjFolderName(firstRowText(db.Query1, erp::kSelectFirstCnpj));
    db.Query1.Close();
  }
  if (!fileExists(archive)) return;

  const std::string temporary = settings_.DatabaseBaseName + ".zlib_temp";
  const std::string final = settings_.DatabaseBaseName + ".zlib";
  std::unique_ptr<FileUploadSource> source;
  // Held from the date update to the end-of-run commit.
  std::unique_lock<std::recursive_mutex> dateRecorded;
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
      const int fd = openArchive(archive);
      std::string origin;
      try {
        origin = describeUploadOrigin(fd, folder + "/" + temporary);
      } catch (...) {
        ::close(fd);
        throw;
      }
      source = std::make_unique<FileUploadSource>(fd);
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
        }
        const std::string today = formatShortDate(form_.clock().now());
        for (const std::string& cnpj : cnpjs) {
          if (!cnpj.empty()) reportDate(trimText(cleanCnpj(cnpj)), today);
        }
        log("Arquivo enviado");

        dateRecorded = std::unique_lock(db.Banco.lock());
        db.Query1.Close();
        db.Query1.SetSQL(erp::kUpdateUploadDate);
        db.Query1.ExecSQL();

        try {
          ftp.RemoveRemote(final);
          log("Arquivo old deletado");
        } catch (const std::exception&) {
          // No previous file on the first upload.
        }
        try {
          ftp.RenameRemote(temporary, final);
          log("Arquivo novo renomeado");
          ::unlink(recordPath.c_str());
        } catch (const std::exception&) {
          // The temporary waits for the next day's run.
        }
      } catch (const std::exception&) {
        log("Arquivo não enviado");
      }
    }
  } catch (const std::exception& e) {
    log(std::string("Erro: ") + e.what());
  }

  try {
    std::lock_guard banco(db.Banco.lock());
    if (db.TBanco.Active()) {
      try {
        db.TBanco.Commit();
      } catch (const std::exception&) {
        // Not recorded: the next run uploads again rather than trust a half-made commit.
        db.TBanco.Rollback();
      }
    }
  } catch (const std::exception&) {
    // The connection is gone; the server has undone the run's update.
  }
  if (dateRecorded.owns_lock()) dateRecorded.unlock();
  source.reset();
  ftp.CloseSession();
}

}  // namespace dovra
