#include "transfer/ftp_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

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

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Writes all bytes to a local file descriptor.
void writeFile(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError::fromErrno(errno);
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Moves a finished download into place without replacing a file that appeared meanwhile.
void renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing target too.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return;
    }
    err = errno;
    if (err == EPERM || err == ENOTSUP) {
      struct stat st {};
      if (::lstat(to.c_str(), &st) == 0) throw EIdFTPFileAlreadyExists();
      if (::rename(from.c_str(), to.c_str()) == 0) return;
      err = errno;
    }
  }
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
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) return;
      if (errno != EEXIST) throw EInOutError::fromErrno(errno);
    }
    throw EInOutError::fromErrno(EEXIST);
  }
  ~PartialFile() {
    closeFd(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  int fd() const { return fd_; }

  // Flushes the bytes to disk and renames the file to target.
  void commit(const std::string& target) {
    if (::fsync(fd_) != 0) throw EInOutError::fromErrno(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw EInOutError::fromErrno(errno);
    renameNoReplace(path_, target);
    path_.clear();
  }

 private:
  std::string path_;
  int fd_ = -1;
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
      closeFd(session_.dataFd_);
      closeFd(session_.controlFd_);
      session_.connected_ = false;
      session_.closeRequested_ = false;
      session_.abortRequested_ = false;
      uint64_t count;
      while (::read(session_.wakeFd_, &count, sizeof count) > 0) {
      }
    }
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  TIdFTP& session_;
};

TIdFTP::TIdFTP() {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) throw EIdSocketError::fromErrno(errno);
}

TIdFTP::~TIdFTP() {
  closeFd(dataFd_);
  closeFd(controlFd_);
  closeFd(wakeFd_);
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

TIdFTP::Wait TIdFTP::await(int fd, short events, int timeoutMs) {
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
    pollfd fds[2] = {{fd, events, 0}, {wakeFd_, POLLIN, 0}};
    const int n = ::poll(fds, 2, waitMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EIdSocketError::fromErrno(errno);
    }
    if (fds[1].revents) {
      if (interrupted()) throwInterrupted();
      uint64_t count;
      while (::read(wakeFd_, &count, sizeof count) > 0) {
      }
      continue;
    }
    if (n > 0) return Wait::ready;
  }
}

void TIdFTP::dropConnection() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  closeFd(dataFd_);
  closeFd(controlFd_);
  connected_ = false;
}

void TIdFTP::closeData() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  closeFd(dataFd_);
}

int TIdFTP::connectTo(const std::string& host, int port, int timeoutMs, int TIdFTP::*slot) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) throw EIdSocketError::fromErrno(errno);
    std::string text = ::gai_strerror(rc);
    if (text.empty() || text.back() != '.') text += '.';
    throw EIdSocketError(rc, text);
  }
  std::vector<sockaddr_in> addresses;
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    sockaddr_in address{};
    std::memcpy(&address, ai->ai_addr, sizeof address);
    address.sin_port = htons(static_cast<uint16_t>(port));
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int lastError = EHOSTUNREACH;
  for (const auto& address : addresses) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw EIdSocketError::fromErrno(errno);
    {
      std::lock_guard<std::mutex> guard(stateMutex_);
      closeFd(this->*slot);
      this->*slot = fd;
    }
    auto giveUp = [&] {
      std::lock_guard<std::mutex> guard(stateMutex_);
      closeFd(this->*slot);
    };
    int err = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      err = errno;
      if (err == EINPROGRESS || err == EINTR) {
        int left = -1;
        if (timeoutMs > 0) {
          left = static_cast<int>(std::max<int64_t>(
              0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                     .count()));
        }
        Wait outcome;
        try {
          outcome = await(fd, POLLOUT, left);
        } catch (...) {
          giveUp();
          throw;
        }
        if (outcome == Wait::timedOut) {
          giveUp();
          throw EIdConnectTimeout();
        }
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
    if (err == 0) return fd;
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
      const ssize_t n = ::send(controlFd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n >= 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        if (interrupted()) throwInterrupted();
        throw EIdSocketError::fromErrno(errno);
      }
      if (await(controlFd_, POLLOUT, readTimeoutMs()) == Wait::timedOut) throw EIdReadTimeout();
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
    const ssize_t n = ::recv(controlFd_, chunk.data(), chunk.size(), 0);
    if (n > 0) {
      readBuffer_.append(chunk.data(), static_cast<size_t>(n));
      continue;
    }
    if (n == 0) {
      if (interrupted()) throwInterrupted();
      throw EIdConnClosedGracefully();
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (interrupted()) throwInterrupted();
      throw EIdSocketError::fromErrno(errno);
    }
    if (await(controlFd_, POLLIN, readTimeoutMs()) == Wait::timedOut) throw EIdReadTimeout();
  }
}

FtpReply TIdFTP::readReply() {
  try {
    FtpReplyAssembler assembler;
    for (;;) {
      const std::string line = trimBlanks(readLine());
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
    const int fd = connectTo(Host, Port, timeoutMs > 0 ? timeoutMs : -1, &TIdFTP::controlFd_);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    char text[INET_ADDRSTRLEN] = "";
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
      ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    }
    controlPeer_ = text;
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
    if (dataFd_ >= 0) ::shutdown(dataFd_, SHUT_RDWR);
    if (controlFd_ >= 0) ::shutdown(controlFd_, SHUT_RDWR);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    return;
  }
  closeFd(dataFd_);
  closeFd(controlFd_);
}

void TIdFTP::Abort() {
  std::lock_guard<std::mutex> guard(stateMutex_);
  if (!busy_ || dataFd_ < 0) return;
  abortRequested_ = true;
  if (controlFd_ >= 0 && controlWriteMutex_.try_lock()) {
    static const char abor[] = "ABOR\r\n";
    [[maybe_unused]] const ssize_t n =
        ::send(controlFd_, abor, sizeof abor - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    controlWriteMutex_.unlock();
  }
  ::shutdown(dataFd_, SHUT_RDWR);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
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
    connectTo(dataHost, address->port, readTimeoutMs(), &TIdFTP::dataFd_);
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
      const ssize_t n = ::send(dataFd_, chunk.data() + offset, count - offset, MSG_NOSIGNAL);
      if (n >= 0) {
        offset += static_cast<size_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        if (interrupted()) throwInterrupted();
        throw EIdSocketError::fromErrno(errno);
      }
      if (await(dataFd_, POLLOUT, readTimeoutMs()) == Wait::timedOut) {
        dropConnection();
        throw EIdReadTimeout();
      }
    }
    sent += static_cast<int64_t>(count);
    if (uploadProgress_) uploadProgress_(sent);
  }
}

int64_t TIdFTP::receiveInto(int fileFd) {
  std::vector<char> chunk(static_cast<size_t>(chunkSize(RecvBufferSize)));
  int64_t received = 0;
  for (;;) {
    const ssize_t n = ::recv(dataFd_, chunk.data(), chunk.size(), 0);
    if (n > 0) {
      writeFile(fileFd, chunk.data(), static_cast<size_t>(n));
      received += n;
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (interrupted()) throwInterrupted();
      throw EIdSocketError::fromErrno(errno);
    }
    if (await(dataFd_, POLLIN, readTimeoutMs()) == Wait::timedOut) {
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
  struct stat st {};
  if (::lstat(localPath.c_str(), &st) == 0) throw EIdFTPFileAlreadyExists();
  requireConnected();
  PartialFile partial(localPath);
  transfer("RETR " + name, {125, 150, 154}, [&](const FtpReply& preliminary) {
    const int64_t received = receiveInto(partial.fd());
    const auto announced = announcedTransferSize(preliminary);
    if (announced && *announced != received) {
      throw EIdException("Transfer incomplete: " + std::to_string(received) + " of " +
                         std::to_string(*announced) + " bytes received.");
    }
  });
  partial.commit(localPath);
}

}  // namespace dovra
