#include "transfer/nfe_export.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "core/run_report.h"
#include "firebird/erp_statements.h"
#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/trim.h"
#include "transfer/cnpj_folder.h"
#include "transfer/maker_servers.h"

namespace dovra {

namespace {

constexpr const char* kLog = "mLog";
constexpr int kConnectLimitMs = 5000;
// Documents handed to the uploader ahead of the one it sends.
constexpr size_t kPipelineDepth = 16;

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
  if (const int err = createFolders(folder)) throw EInOutError::fromErrno(err);
}

// Writes `bytes` to `path` unless a file is there already: a temporary beside it,
// flushed, then renamed into place without replacing anything.
void writeIfMissing(const std::string& path, std::string_view bytes) {
  const std::string temporary = uniqueTemporaryBeside(path);
  FileHandle file;
  if (const int err = file.open(temporary, FileOpenMode::createNewWriteOnly, 0644)) {
    throw EInOutError::fromErrno(err);
  }
  const auto fail = [&](int err) {
    file.close();
    removeFile(temporary);
    throw EInOutError::fromErrno(err);
  };
  if (const FileIo io = file.write(bytes.data(), bytes.size()); io.error != 0) fail(io.error);
  if (const int err = file.syncData()) fail(err);
  if (const int err = file.close()) {
    removeFile(temporary);
    throw EInOutError::fromErrno(err);
  }
  const int err = renameNoReplace(temporary, path);
  if (err != 0) removeFile(temporary);
  if (err != 0 && err != EEXIST) throw EInOutError::fromErrno(err);
}

// One document on its way from the database to the server.
struct Document {
  std::string company;  // NFEEMPRESA as text
  int32_t companyCode = 0;
  int32_t note = 0;
  std::string name;       // remote file name
  std::string localFile;  // the local copy, sent as it is
  std::string error;      // why the document cannot go; logged at its turn
};

struct Stored {
  int32_t companyCode;
  int32_t note;
};

// The run is split in two: the worker thread walks the rows, writes the local copies and
// marks the stored documents (everything on banconfe); an uploader thread changes folders
// and stores the files (everything on the FTP session), in row order. The database work
// for later documents thus overlaps the transfers. The worker hands documents over through
// a short queue and gets the stored ones back to mark.
class Handover {
 public:
  using Mark = std::function<void(const Stored&)>;

  // Worker: queues a document, marking what was stored while the queue is full.
  void push(Document document, const Mark& mark) {
    std::unique_lock lock(mutex_);
    for (;;) {
      markAll(lock, mark);
      if (documents_.size() < kPipelineDepth || stopped_ || uploaderDone_) break;
      changed_.wait(lock);
    }
    if (stopped_ || uploaderDone_) return;
    documents_.push_back(std::move(document));
    changed_.notify_all();
  }

  // Worker: no more documents; marks until the uploader has sent everything.
  void finish(const Mark& mark) {
    std::unique_lock lock(mutex_);
    ended_ = true;
    changed_.notify_all();
    for (;;) {
      markAll(lock, mark);
      if (uploaderDone_) break;
      changed_.wait(lock);
    }
    markAll(lock, mark);
  }

  // Worker: the run is ending early; the uploader stops after its current document.
  void stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

  // Uploader: the next document in row order, or none at the end.
  std::optional<Document> next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || ended_ || !documents_.empty(); });
    if (stopped_ || documents_.empty()) return std::nullopt;
    Document document = std::move(documents_.front());
    documents_.pop_front();
    changed_.notify_all();
    return document;
  }

  // Uploader: a document is on the server.
  void stored(const Stored& document) {
    std::lock_guard lock(mutex_);
    stored_.push_back(document);
    changed_.notify_all();
  }

  // Uploader: nothing more will come from it.
  void uploaderDone() {
    std::lock_guard lock(mutex_);
    uploaderDone_ = true;
    changed_.notify_all();
  }

 private:
  // Runs the marks without holding the lock, so the uploader goes on meanwhile.
  void markAll(std::unique_lock<std::mutex>& lock, const Mark& mark) {
    while (!stored_.empty()) {
      std::deque<Stored> batch;
      batch.swap(stored_);
      lock.unlock();
      for (const Stored& s : batch) mark(s);
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Document> documents_;
  std::deque<Stored> stored_;
  bool ended_ = false;
  bool stopped_ = false;
  bool uploaderDone_ = false;
};

// Whether the server holds `name` exactly as the local copy `bytes` (sent from
// `localFile`): a final 226 says only that the data connection ended in order, not that
// the whole document came through it. The size the server tells (SIZE, 213) must be the
// copy's; a server that tells no size has the file read back (RETR, into a temporary
// beside the local copy, removed again) and compared byte for byte. Throws what the read
// back throws.
bool storedWhole(TIdFTP& ftp, const std::string& name, const std::string& localFile,
                 const std::string& bytes) {
  const int64_t size = ftp.RemoteSize(name);
  if (size >= 0) return size == static_cast<int64_t>(bytes.size());
  const std::string copy = uniqueTemporaryBeside(localFile);
  std::string stored;
  try {
    ftp.DownloadFile(name, copy);
    stored = readWholeFile(copy);
  } catch (...) {
    removeFile(copy);
    throw;
  }
  removeFile(copy);
  return stored == bytes;
}

// Sends the documents in order: the company's folder when it changes, then the file. A
// company is taken as entered only once its folder change has succeeded.
void uploadDocuments(Handover& handover, TIdFTP& ftp, const std::string& cnpjFolder,
                     WindowModel& window) {
  std::string entered;
  while (std::optional<Document> document = handover.next()) {
    try {
      if (!document->error.empty()) throw Exception(document->error);
      if (document->company != entered) {
        entered.clear();
        ftp.EnterFolder("/");
        for (const std::string& level : {cnpjFolder, std::string("XMLS"), document->company}) {
          try {
            ftp.CreateFolder(level);
          } catch (const std::exception&) {
            // It usually exists.
          }
          ftp.EnterFolder(level);
        }
        entered = document->company;
      }
      if (fileExists(document->localFile)) {
        try {
          const std::string bytes = readWholeFile(document->localFile);
          ftp.UploadFile(document->localFile, document->name, false);
          if (storedWhole(ftp, document->name, document->localFile, bytes)) {
            handover.stored({document->companyCode, document->note});
          }
        } catch (const std::exception&) {
          // The document stays unsent and is tried again by a later run.
        }
      }
    } catch (const std::exception& e) {
      window.memoAdd(kLog, std::string("ERRO ") + e.what());
    }
  }
}

// The uploader thread; stopped and joined however the run ends.
class Uploader {
 public:
  Uploader(Handover& handover, TIdFTP& ftp, const std::string& cnpjFolder, WindowModel& window)
      : handover_(handover), thread_([&handover, &ftp, cnpjFolder, &window] {
          try {
            uploadDocuments(handover, ftp, cnpjFolder, window);
          } catch (...) {
            // Whatever was not stored stays unsent.
          }
          handover.uploaderDone();
        }) {}
  ~Uploader() {
    handover_.stop();
    thread_.join();
  }
  Uploader(const Uploader&) = delete;
  Uploader& operator=(const Uploader&) = delete;

 private:
  Handover& handover_;
  std::thread thread_;
};

}  // namespace

TXML::TXML(WorkerContext context, ErpAccess erp, TIdFTP& ftp, RunSettings settings)
    : ctx_(context), erp_(std::move(erp)), ftp_(ftp), settings_(std::move(settings)) {}

void TXML::Execute() {
  try {
    run();
  } catch (...) {
    // Database failures end the run without a log line.
  }
}

void TXML::run() {
  ErpConnections& db = erp_();
  WindowModel& window = ctx_.window;

  std::lock_guard nfe(db.banconfe.lock());
  if (db.tnfe.Active()) db.tnfe.Commit();
  db.qnfe.Close();
  db.qnfe.SetSQL(erp::kSelectUnsentNfe);
  db.qnfe.Open();
  if (db.qnfe.Eof()) return;

  RunningFlag running(ctx_.state.XmlRunning);
  if (trimText(db.qnfe.FieldByName("NFENOTA").AsString()).empty()) {
    db.qnfe.Close();
    return;
  }

  std::string folder;
  {
    std::lock_guard banco(db.Banco.lock());
    folder = cnpjFolderName(firstRowText(db.Query1, erp::kSelectOwnCnpj));
    db.Query1.Close();
    // A read only: its transaction ends here rather than staying open on the ERP database.
    if (db.TBanco.Active()) db.TBanco.Commit();
  }

  TIdFTP& ftp = ftp_;
  std::unique_lock session(ftp.lock());
  SessionCloser closer(ftp);
  ftp.CloseSession();
  bool connected = false;
  int exported = 0;  // documents marked sent in the run's transaction
  try {
    useMakerAccount(ftp, nfeFtpServer());
    ftp.OpenSession(true, kConnectLimitMs);
    window.memoAdd(kLog, "Conectou");
    connected = true;
  } catch (const std::exception&) {
    // Nothing is exported; the next run tries again.
  }

  if (connected) {
    db.qnfe2.Close();
    db.qnfe2.SetSQL(erp::kMarkNfeSent);
    const Handover::Mark mark = [&db, &exported](const Stored& document) {
      try {
        db.qnfe2.Close();
        db.qnfe2.ParamByName("d1").setAsString("S");
        db.qnfe2.ParamByName("d2").setAsInteger(document.companyCode);
        db.qnfe2.ParamByName("d3").setAsInteger(document.note);
        db.qnfe2.ExecSQL();
        db.qnfe2.Close();
        ++exported;
      } catch (const std::exception&) {
        // The document stays unsent and is stored again by a later run.
      }
    };
    Handover handover;
    Uploader uploader(handover, ftp, folder, window);
    for (; !db.qnfe.Eof(); db.qnfe.Next()) {
      Document document;
      try {
        document.company = db.qnfe.FieldByName("NFEEMPRESA").AsString();
        document.companyCode = db.qnfe.FieldByName("NFEEMPRESA").AsInteger();
        document.note = db.qnfe.FieldByName("NFENOTA").AsInteger();
        document.name = db.qnfe.FieldByName("NFECHAVE").AsString() + "-nfe.xml";
        requirePlainFileName(document.name);
        const std::string localFolder = settings_.XmlFolder + document.company + "/NFe" +
                                        db.qnfe.FieldByName("NFENOTA").AsString();
        document.localFile = localFolder + "/" + document.name;
        if (!fileExists(document.localFile)) {
          if (!directoryExists(localFolder)) makeFolders(localFolder);
          writeIfMissing(document.localFile, db.qnfe.FieldByName("NFEXML").AsBytes());
        }
      } catch (const std::exception& e) {
        document.error = e.what();
      }
      handover.push(std::move(document), mark);
    }
    handover.finish(mark);
  }

  ftp.CloseSession();
  db.qnfe.Close();
  if (db.tnfe.Active()) db.tnfe.Commit();
  // Reported once the marks are committed: these documents will not be sent again.
  if (exported > 0) window.report({.kind = RunReport::Kind::Export, .documents = exported});
}

}  // namespace dovra
