#include "transfer/nfe_export.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "backup/erp_statements.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "shell/form1.h"
#include "transfer/cnpj_folder.h"
#include "transfer/maker_servers.h"

namespace dovra {

namespace {

constexpr const char* kLog = "mLog";
constexpr int kConnectLimitMs = 5000;

class RunningFlag {
 public:
  explicit RunningFlag(RunFlag& flag) : flag_(flag) { flag_.set(true); }
  ~RunningFlag() { flag_.set(false); }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  RunFlag& flag_;
};

// Closes the session however the run ends.
class SessionCloser {
 public:
  explicit SessionCloser(TIdFTP& ftp) : ftp_(ftp) {}
  ~SessionCloser() { ftp_.CloseSession(); }
  SessionCloser(const SessionCloser&) = delete;
  SessionCloser& operator=(const SessionCloser&) = delete;

 private:
  TIdFTP& ftp_;
};

// A document's file name must stay inside its folder, locally and on the server.
void requirePlainFileName(const std::string& name) {
  for (const char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) {
      throw EInOutError(123, "Invalid filename");
    }
  }
}

void makeFolders(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw EInOutError::fromErrno(ec.value());
}

// Writes `bytes` to `path` unless a file is there already: a temporary beside it,
// flushed, then renamed into place without replacing anything.
void writeIfMissing(const std::string& path, std::string_view bytes) {
  const std::string temporary = uniqueTemporaryBeside(path);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw EInOutError::fromErrno(errno);
  const auto fail = [&](int err) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw EInOutError::fromErrno(err);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno);
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    throw EInOutError::fromErrno(err);
  }
  int err = 0;
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
    err = errno;
    if (err == EINVAL || err == ENOSYS) {
      // A file system without the no-replace rename: a hard link never replaces either.
      err = ::link(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    }
  }
  ::unlink(temporary.c_str());
  if (err != 0 && err != EEXIST) throw EInOutError::fromErrno(err);
}

}  // namespace

TXML::TXML(TForm1& form, RunSettings settings) : form_(form), settings_(std::move(settings)) {}

void TXML::Execute() {
  try {
    run();
  } catch (...) {
    // Database failures end the run without a log line.
  }
}

void TXML::run() {
  ErpConnections& db = form_.erp();
  WindowModel& window = form_.window();
  const auto log = [&window](const std::string& line) { window.memoAdd(kLog, line); };

  std::lock_guard nfe(db.banconfe.lock());
  if (db.tnfe.Active()) db.tnfe.Commit();
  db.qnfe.Close();
  db.qnfe.SetSQL(erp::kSelectUnsentNfe);
  db.qnfe.Open();
  if (db.qnfe.Eof()) return;

  RunningFlag running(form_.state().XmlRunning);
  if (trimText(db.qnfe.FieldByName("NFENOTA").AsString()).empty()) {
    db.qnfe.Close();
    return;
  }

  std::string folder;
  {
    std::lock_guard banco(db.Banco.lock());
    folder = cnpjFolderName(firstRowText(db.Query1, erp::kSelectOwnCnpj));
    db.Query1.Close();
  }

  TIdFTP& ftp = form_.IdFTPNFE;
  std::unique_lock session(ftp.lock());
  SessionCloser closer(ftp);
  ftp.CloseSession();
  bool connected = false;
  try {
    const ServerAddress server = nfeFtpServer();
    ftp.Host = server.host;
    ftp.Port = server.port;
    ftp.Username = "copia_ftp_dovra";
    ftp.Password = "lotusgravelz2";
    ftp.Passive = true;
    ftp.RecvBufferSize = 8192;
    ftp.OpenSession(true, kConnectLimitMs);
    log("Conectou");
    connected = true;
  } catch (const std::exception&) {
    // Nothing is exported; the next run tries again.
  }

  // The company whose folder the session is in; empty when none is known.
  std::string entered;
  for (; !db.qnfe.Eof(); db.qnfe.Next()) {
    if (!connected) continue;
    try {
      const std::string company = db.qnfe.FieldByName("NFEEMPRESA").AsString();
      const std::string note = db.qnfe.FieldByName("NFENOTA").AsString();
      const std::string name = db.qnfe.FieldByName("NFECHAVE").AsString() + "-nfe.xml";
      requirePlainFileName(name);
      const std::string localFolder = settings_.XmlFolder + company + "/NFe" + note;
      const std::string localFile = localFolder + "/" + name;

      if (!fileExists(localFile)) {
        if (!directoryExists(localFolder)) makeFolders(localFolder);
        writeIfMissing(localFile, db.qnfe.FieldByName("NFEXML").AsBytes());
      }

      if (company != entered) {
        entered.clear();
        ftp.EnterFolder("/");
        for (const std::string& level : {folder, std::string("XMLS"), company}) {
          try {
            ftp.CreateFolder(level);
          } catch (const std::exception&) {
            // It usually exists.
          }
          ftp.EnterFolder(level);
        }
        entered = company;
      }

      if (fileExists(localFile)) {
        try {
          ftp.UploadFile(localFile, name, false);
          db.qnfe2.Close();
          db.qnfe2.SetSQL(erp::kMarkNfeSent);
          db.qnfe2.ParamByName("d1").setAsString("S");
          db.qnfe2.ParamByName("d2").setAsInteger(db.qnfe.FieldByName("NFEEMPRESA").AsInteger());
          db.qnfe2.ParamByName("d3").setAsInteger(db.qnfe.FieldByName("NFENOTA").AsInteger());
          db.qnfe2.ExecSQL();
          db.qnfe2.Close();
        } catch (const std::exception&) {
          // The document stays unsent and is tried again by a later run.
        }
      }
    } catch (const std::exception& e) {
      log(std::string("ERRO ") + e.what());
    }
  }

  ftp.CloseSession();
  db.qnfe.Close();
  if (db.tnfe.Active()) db.tnfe.Commit();
}

}  // namespace dovra
