// The client of the Firebird service manager: backup and restore requests and their
// verbose output.
//
// The classes keep the program's names and layering: TIBCustomService attaches and
// detaches with the credentials of Params; TIBControlService sends a start request;
// TIBControlAndQueryService reads the output line by line; TIBBackupRestoreService adds
// Verbose; TIBBackupService and TIBRestoreService build their requests. Settings are
// public members, set before attaching; the built blocks are exposed as byte strings
// (BuildSpb, BuildStartRequest) so that tests can check them byte for byte.
//
// Use: set the settings, Attach (or setActive(true)), ServiceStart, then while
// !OutputFinished() take ReadOutputLine (the last line read is the empty one that marks
// the end), then Detach. An object may be reused for several requests.
//
// A restore may read its backup from the client instead of a file (TIBRestoreService::
// StdinSource): the request then names "stdin", and the reading of the output hands the
// server each block of the backup it asks for, as fbsvcmgr does with "bkp_file stdin". The
// online validation (TIBValidationService) checks every page and record of a database that
// stays in use, and reports what it found in its output.
//
// Errors: failures of the client library raise EIBError with its text; the local
// refusals raise Exception with the texts "Server Name Missing", "start Parameters
// missing or incorrect", "Unexpected Output buffer value", "Cannot perform operation --
// service is attached", "Cannot perform operation -- service is not attached", "SPB
// Constant Not supported", "SPB Constant Unknown". Nothing is retried.
//
// Text: user and password travel as Windows-1252 bytes, as for the database
// connections; file names (database and backup files) travel as UTF-8, which the attach
// block declares; output lines come back as UTF-8.
//
// Threads: an object belongs to the thread that uses it; objects share nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "firebird/fb_client.h"
#include "firebird/string_list.h"

namespace dovra {

enum class TProtocol { TCP, Local };

class TIBCustomService {
 public:
  // Loads the client library (FbClient::instance()); throws its not-found error.
  TIBCustomService();
  // Detaches; errors are swallowed.
  virtual ~TIBCustomService();
  TIBCustomService(const TIBCustomService&) = delete;
  TIBCustomService& operator=(const TIBCustomService&) = delete;

  TProtocol Protocol = TProtocol::Local;
  // Host of the service manager (used with TCP only); "host/port" selects a port.
  std::string ServerName;
  // Credentials, "user_name=..." and "password=..."; changes while attached are refused
  // with "Cannot perform operation -- service is attached".
  StringList Params;
  // No dialog exists: credentials come from Params whatever this says.
  bool LoginPrompt = true;

  // Attaches to the service manager. Refuses when attached already or when TCP has no
  // ServerName; a failed attach leaves the object detached.
  void Attach();
  // Detaches when attached; harmless otherwise. Never throws.
  void Detach();
  void setActive(bool active);
  bool Active() const { return handle_ != 0; }

  // TCP: ServerName + ":service_mgr"; Local: "service_mgr".
  std::string ServiceManagerName() const;
  // The attach parameter block: the UTF-8 file name flag, then the items of Params.
  std::string BuildSpb() const;

 protected:
  void requireAttached() const;
  const FbClient& client_;
  isc_svc_handle handle_ = 0;
};

class TIBControlService : public TIBCustomService {
 public:
  // Sends the start request of the concrete class; refuses when not attached.
  void ServiceStart();
  // The start request, byte for byte.
  virtual std::string BuildStartRequest() const = 0;

 protected:
  virtual void startRequested() {}
};

class TIBControlAndQueryService : public TIBControlService {
 public:
  // Size of the buffer that receives each answer of the service manager.
  static constexpr size_t kOutputBufferSize = 32000;

  // The next line of the service's output. When the service reports the end, returns the
  // empty line and sets OutputFinished; afterwards returns empty lines. While the service
  // reads its input from the client (see TIBRestoreService::StdinSource), each call also
  // sends the server the input it asks for until a line comes.
  std::string ReadOutputLine();
  bool OutputFinished() const { return outputFinished_; }

  // Reads the service's input: puts up to `max` bytes into `buffer` and returns how many,
  // 0 at the end of the input. Its exceptions end ReadOutputLine.
  using InputSource = std::function<size_t(char* buffer, size_t max)>;

  // Decodes one answer to an isc_info_svc_line query: the line's bytes (up to a zero
  // byte), or no line at all when the service reports the end. Throws "Unexpected Output
  // buffer value" for any other layout.
  struct OutputAnswer {
    bool finished = false;
    std::string line;
  };
  static OutputAnswer parseOutputAnswer(std::string_view answer);

  // Decodes one answer to a query for output and input requests together
  // (isc_info_svc_stdin, isc_info_svc_line): the line (empty when none came) and the number
  // of input bytes the server asks for (0 when it asks for none). Throws "Unexpected Output
  // buffer value" for items it does not know or that do not fit the answer.
  struct InputAnswer {
    std::string line;
    uint32_t inputWanted = 0;
  };
  static InputAnswer parseInputAnswer(std::string_view answer);

 protected:
  void startRequested() override {
    outputFinished_ = false;
    inputWanted_ = 0;
    inputEnded_ = false;
  }
  // The source of the running request's input; none when it reads no input.
  virtual const InputSource* inputSource() const { return nullptr; }

  bool outputFinished_ = false;
  uint32_t inputWanted_ = 0;  // input bytes the server asked for and has not had yet
  bool inputEnded_ = false;   // the source said its input is over
  std::vector<char> buffer_ = std::vector<char>(kOutputBufferSize);

 private:
  std::string readWithInput(const InputSource& source);
};

class TIBBackupRestoreService : public TIBControlAndQueryService {
 public:
  bool Verbose = false;
};

class TIBBackupService : public TIBBackupRestoreService {
 public:
  // The database as the server sees it; an empty one fails with "start Parameters
  // missing or incorrect".
  std::string DatabaseName;
  // Backup file lines; a blank line is skipped, "file=length" sends a length too.
  StringList BackupFile;
  // isc_spb_bkp_* option bits; 0 makes a full, transportable, checked backup.
  uint32_t Options = 0;
  // Sent only when greater than 0.
  int32_t BlockingFactor = 0;

  std::string BuildStartRequest() const override;
};

class TIBRestoreService : public TIBBackupRestoreService {
 public:
  // Database file lines to create; "file=length" sends a length too.
  StringList DatabaseName;
  // Backup file lines to read.
  StringList BackupFile;
  // isc_spb_res_* option bits; the default creates a new file and never replaces one.
  uint32_t Options = isc_spb_res_create;
  // Sent when greater than 0.
  int32_t PageSize = 4096;
  // Sent only when greater than 0.
  int32_t PageBuffers = 0;
  // When set, the backup comes from here rather than from the files of BackupFile, which
  // the request then leaves out.
  InputSource StdinSource;

  std::string BuildStartRequest() const override;

 protected:
  const InputSource* inputSource() const override { return StdinSource ? &StdinSource : nullptr; }
};

// The online validation of one database, which stays usable meanwhile. Its output lines
// tell what was checked and any error found ("... : N ERRORS found").
class TIBValidationService : public TIBControlAndQueryService {
 public:
  // The database as the server sees it; an empty one fails with "start Parameters missing
  // or incorrect".
  std::string DatabaseName;

  std::string BuildStartRequest() const override;
};

}  // namespace dovra
