#include "transfer/ftp_session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "platform/file_system.h"
#include "platform/trim.h"

namespace dovra {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultMaxLineLength = 16384;
constexpr int kDefaultBufferSize = 32768;

bool isAccepted(int code, std::initializer_list<int> accepted) {
  return std::find(accepted.begin(), accepted.end(), code) != accepted.end();
}

int chunkSize(int configured) {
  return configured > 0 ? configured : kDefaultBufferSize;
}

// Writes all bytes to a local file.
void writeFile(FileHandle& file, const char* data, size_t size) {
  const FileIo io = file.write(data, size);
  if (io.error != 0) throw EInOutError::fromErrno(io.error);
}

// Moves a finished download into place without replacing a file that appeared meanwhile.
void moveIntoPlace(const std::string& from, const std::string& to) {
  const int err = renameNoReplace(from, to, NoReplaceFallback::checkThenRename);
  if (err == 0) return;
  if (err == EEXIST) throw EIdFTPFileAlreadyExists();
  throw EInOutError::fromErrno(err);
}

// A new file beside the download target, removed again unless it was moved into place.
class PartialFile {
 public:
  explicit PartialFile(const std::string& target) {
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%06x.part",
                    static_cast<unsigned>(random() & 0xFFFFFF));
      path_ = target + suffix;
      const int err = file_.open(path_, FileOpenMode::createNewWriteOnly);
      if (err == 0) return;
      if (err != EEXIST) throw EInOutError::fromErrno(err);
    }
    throw EInOutError::fromErrno(EEXIST);
  }
  ~PartialFile() {
    file_.close();
    if (!path_.empty()) removeFile(path_);
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  FileHandle& file() { return file_; }

  // Flushes the bytes to disk and renames the file to target.
  void commit(const std::string& target) {
    if (const int err = file_.sync()) throw EInOutError::fromErrno(err);
    if (const int err = file_.close()) throw EInOutError::fromErrno(err);
    moveIntoPlace(path_, target);
    path_.clear();
  }

 private:
  std::string path_;
  FileHandle file_;
};

}  // namespace

// Marks the session busy for the duration of one operation of the owner. On the way out
// it finishes what CloseSession or Abort from another thread asked for meanwhile.
class TIdFTP::Busy {
 public:
  explicit Busy(TIdFTP& session) : session_(session) {
    std::lock_guard<std::mutex> guard(session_.stateMutex_);
    if (session_.busy_) throw EIdException("The FTP session is in use by another thread.");
    session_.busy_ = true;
  }
  ~Busy() {
    std::lock_guard<std::mutex> guard(session_.stateMutex_);
    session_.busy_ = false;
    if (session_.closeRequested_ || session_.abortRequested_) {
      session_.data_.close();
      session_.control_.close();
      session_.connected_ = false;
      session_.closeRequested_ = false;
      session_.abortRequested_ = false;
      session_.wake_.clear();
    }
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  TIdFTP& session_;
};

TIdFTP::TIdFTP() {
  if (const int err = wake_.open()) throw EIdSocketError::fromErrno(err);
}

TIdFTP::~TIdFTP() {
  data_.close();
  control_.close();
}

int TIdFTP::readTimeoutMs() const {
  return ReadTimeout > 0 ? ReadTimeout : kDefaultReadTimeout;
}

bool TIdFTP::Connected() const {
  std::lock_guard<std::mutex> guard(stateMutex_);
  return connected_;
}

void TIdFTP::requireConnected() const {
  if (!Connected()) throw EIdNotConnected();
}

FtpReply TIdFTP::lastReply() const {
  std::lock_guard<std::mutex> guard(stateMutex_);
  return lastReply_;
}

FtpReply TIdFTP::greeting() const {
  std::lock_guard<std::mutex> guard(stateMutex_);
  return greeting_;
}

FtpReply TIdFTP::loginMessage() const {
  std::lock_guard<std::mutex> guard(stateMutex_);
  return loginMessage_;
}

void TIdFTP::setUploadProgress(std::function<void(int64_t)> callback) {
  uploadProgress_ = std::move(callback);
}

bool TIdFTP::interrupted() const {
  std::lock_guard<std::mutex> guard(stateMutex_);
  return closeRequested_ || abortRequested_;
}

void TIdFTP::throwInterrupted() {
  bool aborted;
  {
    std::lock_guard<std::mutex> guard(stateMutex_);
    aborted = abortRequested_;
  }
  if (aborted) throw EIdTransferAborted();
  throw EIdNotConnected();
}

TIdFTP::Wait TIdFTP::await(const TcpSocket& socket, SocketDirection direction, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (interrupted()) throwInterrupted();
    int waitMs = -1;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Wait::timedOut;
      waitMs = static_cast<int>(left);
    }
    const CancellableWait::Result result = wake_.wait(socket, direction, waitMs);
    switch (result.outcome) {
      case CancellableWait::Outcome::failed:
        throw EIdSocketError::fromErrno(result.error);
      case CancellableWait::Outcome::cancelled:
        if (interrupted()) throwInterrupted();
        wake_.clear();
        break;
      case CancellableWait::Outcome::ready:
        return Wait::ready;
      case CancellableWait::Outcome::nothing:
        break;
    }
  }
}

void TIdFTP::dropConnection() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  data_.close();
  control_.close();
  connected_ = false;
}

void TIdFTP::closeData() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  data_.close();
}

TcpSocket& TIdFTP::connectTo(const std::string& host, int port, int timeoutMs,
                             TcpSocket TIdFTP::*slot) {
  const HostAddresses found = resolveIpv4(host);
  if (found.error != 0) {
    if (found.systemError) throw EIdSocketError::fromErrno(found.error);
    std::string text = found.errorText;
    if (text.empty() || text.back() != '.') text += '.';
    throw EIdSocketError(found.error, text);
  }

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int lastError = EHOSTUNREACH;
  TcpSocket& socket = this->*slot;
  for (const auto& address : found.addresses) {
    TcpSocket fresh;
    if (const int err = fresh.open()) throw EIdSocketError::fromErrno(err);
    {
      std::lock_guard<std::mutex> guard(stateMutex_);
      socket = std::move(fresh);
    }
    auto giveUp = [&] {
      std::lock_guard<std::mutex> guard(stateMutex_);
      socket.close();
    };
    int err = socket.startConnect(address, port);
    if (err == EINPROGRESS) {
      int left = -1;
      if (timeoutMs > 0) {
        left = static_cast<int>(std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                   .count()));
      }
      Wait outcome;
      try {
        outcome = await(socket, SocketDirection::writable, left);
      } catch (...) {
        giveUp();
        throw;
      }
      if (outcome == Wait::timedOut) {
        giveUp();
        throw EIdConnectTimeout();
      }
      err = socket.connectResult();
    }
    if (err == 0) return socket;
    giveUp();
    lastError = err;
  }
  throw EIdSocketError::fromErrno(lastError);
}

void TIdFTP::sendLine(const std::string& line) {
  if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    throw EIdException("An FTP command cannot hold a line break.");
  }
  std::lock_guard<std::mutex> writeGuard(controlWriteMutex_);
  const std::string bytes = line + "\r\n";
  size_t sent = 0;
  try {
    while (sent < bytes.size()) {
      const SocketIo io = control_.send(bytes.data() + sent, bytes.size() - sent);
      if (!io.wouldBlock && io.error == 0) {
        sent += io.bytes;
        continue;
      }
      if (io.error != 0) {
        if (interrupted()) throwInterrupted();
        throw EIdSocketError::fromErrno(io.error);
      }
      if (await(control_, SocketDirection::writable, readTimeoutMs()) == Wait::timedOut) {
        throw EIdReadTimeout();
      }
    }
  } catch (...) {
    dropConnection();
    throw;
  }
}

std::string TIdFTP::readLine() {
  const size_t maxLength =
      static_cast<size_t>(MaxLineLength > 0 ? MaxLineLength : kDefaultMaxLineLength);
  size_t scanned = 0;
  std::vector<char> chunk(static_cast<size_t>(chunkSize(RecvBufferSize)));
  for (;;) {
    const size_t lf = readBuffer_.find('\n', scanned);
    if (lf != std::string::npos) {
      std::string line = readBuffer_.substr(0, lf);
      readBuffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > maxLength) throw EIdReadLnMaxLineLengthExceeded();
      return line;
    }
    scanned = readBuffer_.size();
    if (readBuffer_.size() > maxLength + 1) throw EIdReadLnMaxLineLengthExceeded();
    const SocketIo io = control_.receive(chunk.data(), chunk.size());
    if (io.bytes > 0) {
      readBuffer_.append(chunk.data(), io.bytes);
      continue;
    }
    if (io.error != 0) {
      if (interrupted()) throwInterrupted();
      throw EIdSocketError::fromErrno(io.error);
    }
    if (!io.wouldBlock) {
      if (interrupted()) throwInterrupted();
      throw EIdConnClosedGracefully();
    }
    if (await(control_, SocketDirection::readable, readTimeoutMs()) == Wait::timedOut) {
      throw EIdReadTimeout();
    }
  }
}

FtpReply TIdFTP::readReply() {
  try {
    FtpReplyAssembler assembler;
    for (;;) {
      const std::string line = trimText(readLine());
      if (line.empty()) continue;
      if (assembler.addLine(line)) break;
    }
    std::lock_guard<std::mutex> guard(stateMutex_);
    lastReply_ = assembler.reply();
    return lastReply_;
  } catch (...) {
    dropConnection();
    throw;
  }
}

FtpReply TIdFTP::command(const std::string& line, std::initializer_list<int> accepted) {
  requireConnected();
  sendLine(line);
  FtpReply reply = readReply();
  if (!isAccepted(reply.numericCode, accepted)) {
    throw EIdProtocolReplyError(reply.numericCode, reply.text);
  }
  return reply;
}

void TIdFTP::OpenSession(bool login, int timeoutMs) {
  Busy busy(*this);
  if (Connected()) throw EIdAlreadyConnected();
  try {
    TcpSocket& control = connectTo(Host, Port, timeoutMs > 0 ? timeoutMs : -1, &TIdFTP::control_);
    control.disableDelay();
    controlPeer_ = control.peerAddressText();
    readBuffer_.clear();
    {
      std::lock_guard<std::mutex> guard(stateMutex_);
      connected_ = true;
      greeting_ = FtpReply();
      loginMessage_ = FtpReply();
    }
    const FtpReply welcome = readReply();
    {
      std::lock_guard<std::mutex> guard(stateMutex_);
      greeting_ = welcome;
    }
    if (welcome.numericCode != 220) {
      throw EIdProtocolReplyError(welcome.numericCode, welcome.text);
    }
    if (login) {
      FtpReply reply = command("USER " + Username, {230, 331});
      if (reply.numericCode == 331) reply = command("PASS " + Password, {230});
      std::lock_guard<std::mutex> guard(stateMutex_);
      loginMessage_ = reply;
    }
    command(TransferType == ftBinary ? "TYPE I" : "TYPE A", {200});
    command("SYST", {200, 215, 500});
  } catch (...) {
    dropConnection();
    throw;
  }
}

void TIdFTP::CloseSession() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  connected_ = false;
  if (busy_) {
    // The owner is blocked inside an operation: wake it; it closes the sockets itself.
    closeRequested_ = true;
    data_.shutdownBoth();
    control_.shutdownBoth();
    wake_.cancel();
    return;
  }
  data_.close();
  control_.close();
}

void TIdFTP::Abort() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  if (!busy_ || !data_.isOpen()) return;
  abortRequested_ = true;
  if (control_.isOpen() && controlWriteMutex_.try_lock()) {
    static const char abor[] = "ABOR\r\n";
    control_.send(abor, sizeof abor - 1);
    controlWriteMutex_.unlock();
  }
  data_.shutdownBoth();
  wake_.cancel();
}

void TIdFTP::EnterFolder(const std::string& name) {
  Busy busy(*this);
  command("CWD " + name, {200, 250});
}

void TIdFTP::CreateFolder(const std::string& name) {
  Busy busy(*this);
  command("MKD " + name, {257});
}

int64_t TIdFTP::RemoteSize(const std::string& name) {
  Busy busy(*this);
  requireConnected();
  sendLine("SIZE " + name);
  return parseSizeReply(readReply());
}

void TIdFTP::RemoveRemote(const std::string& name) {
  Busy busy(*this);
  command("DELE " + name, {250});
}

void TIdFTP::RenameRemote(const std::string& oldName, const std::string& newName) {
  Busy busy(*this);
  command("RNFR " + oldName, {350});
  command("RNTO " + newName, {250});
}

void TIdFTP::transfer(const std::string& line, std::initializer_list<int> preliminary,
                      const DataPhase& dataPhase) {
  requireConnected();
  if (!Passive) throw EIdException("Only passive transfers are supported.");
  const FtpReply pasv = command("PASV", {227});
  const auto address = parsePasvText(pasv.text.empty() ? std::string() : pasv.text.front());
  if (!address) throw EIdException("Invalid PASV reply.");
  const std::string dataHost = chooseDataHost(*address, controlPeer_);

  // The data connection is made before the transfer command, so a refused connection
  // leaves nothing pending on the control connection.
  try {
    connectTo(dataHost, address->port, readTimeoutMs(), &TIdFTP::data_);
  } catch (const EIdConnectTimeout&) {
    dropConnection();
    throw;
  }
  try {
    sendLine(line);
    const FtpReply first = readReply();
    if (!isAccepted(first.numericCode, preliminary)) {
      throw EIdProtocolReplyError(first.numericCode, first.text);
    }
    try {
      dataPhase(first);
    } catch (...) {
      closeData();
      if (interrupted()) throwInterrupted();
      // Keep the control connection in step: the server answers the broken transfer too.
      if (Connected()) {
        try {
          readReply();
        } catch (...) {
        }
      }
      throw;
    }
    closeData();
    const FtpReply last = readReply();
    if (!isAccepted(last.numericCode, {225, 226, 250})) {
      throw EIdProtocolReplyError(last.numericCode, last.text);
    }
  } catch (...) {
    closeData();
    throw;
  }
}

void TIdFTP::sendStream(UploadSource& stream) {
  std::vector<char> chunk(static_cast<size_t>(chunkSize(SendBufferSize)));
  int64_t sent = 0;
  while (stream.position() != stream.size()) {
    const size_t count = stream.read(chunk.data(), chunk.size());
    if (count == 0) throw EIdNoDataToRead();
    size_t offset = 0;
    while (offset < count) {
      const SocketIo io = data_.send(chunk.data() + offset, count - offset);
      if (!io.wouldBlock && io.error == 0) {
        offset += io.bytes;
        continue;
      }
      if (io.error != 0) {
        if (interrupted()) throwInterrupted();
        throw EIdSocketError::fromErrno(io.error);
      }
      if (await(data_, SocketDirection::writable, readTimeoutMs()) == Wait::timedOut) {
        dropConnection();
        throw EIdReadTimeout();
      }
    }
    sent += static_cast<int64_t>(count);
    if (uploadProgress_) uploadProgress_(sent);
  }
}

int64_t TIdFTP::receiveInto(FileHandle& file) {
  std::vector<char> chunk(static_cast<size_t>(chunkSize(RecvBufferSize)));
  int64_t received = 0;
  for (;;) {
    const SocketIo io = data_.receive(chunk.data(), chunk.size());
    if (io.bytes > 0) {
      writeFile(file, chunk.data(), io.bytes);
      received += static_cast<int64_t>(io.bytes);
      continue;
    }
    if (io.error != 0) {
      if (interrupted()) throwInterrupted();
      throw EIdSocketError::fromErrno(io.error);
    }
    if (!io.wouldBlock) break;
    if (await(data_, SocketDirection::readable, readTimeoutMs()) == Wait::timedOut) {
      dropConnection();
      throw EIdReadTimeout();
    }
  }
  if (interrupted()) throwInterrupted();
  return received;
}

void TIdFTP::uploadStream(UploadSource& stream, const std::string& name, bool append) {
  transfer((append ? "APPE " : "STOR ") + name, {110, 125, 150},
           [&](const FtpReply&) { sendStream(stream); });
}

void TIdFTP::UploadStream(UploadSource& stream, const std::string& name, bool append) {
  Busy busy(*this);
  uploadStream(stream, name, append);
}

void TIdFTP::UploadFile(const std::string& localPath, const std::string& name, bool append) {
  Busy busy(*this);
  FileUploadSource source(localPath);
  uploadStream(source, name, append);
}

void TIdFTP::DownloadFile(const std::string& name, const std::string& localPath) {
  Busy busy(*this);
  FileInfo existing;
  if (pathInfo(localPath, existing, /*followLinks=*/false) == 0) throw EIdFTPFileAlreadyExists();
  requireConnected();
  PartialFile partial(localPath);
  transfer("RETR " + name, {125, 150, 154}, [&](const FtpReply& preliminary) {
    const int64_t received = receiveInto(partial.file());
    const auto announced = announcedTransferSize(preliminary);
    if (announced && *announced != received) {
      throw EIdException("Transfer incomplete: " + std::to_string(received) + " of " +
                         std::to_string(*announced) + " bytes received.");
    }
  });
  partial.commit(localPath);
}

}  // namespace dovra
