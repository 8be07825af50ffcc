#include "archive/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace dovra {

EReadError::EReadError() : EStreamError("Stream read error") {}
EWriteError::EWriteError(bool diskFull) : EStreamError("Stream write error"), diskFull_(diskFull) {}
EFCreateError::EFCreateError(const std::string& path, int err)
    : EStreamError("Cannot create file \"" + path + "\". " + systemErrorText(err)) {}
EFOpenError::EFOpenError(const std::string& path, int err)
    : EStreamError("Cannot open file \"" + path + "\". " + systemErrorText(err)) {}

int64_t Stream::size() {
  const int64_t pos = seek(0, SeekOrigin::Current);
  const int64_t end = seek(0, SeekOrigin::End);
  seek(pos, SeekOrigin::Begin);
  return end;
}

void Stream::readBuffer(void* buffer, size_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const size_t n = read(p, count);
    if (n == 0) throw EReadError();
    p += n;
    count -= n;
  }
}

void Stream::writeBuffer(const void* buffer, size_t count) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const size_t n = write(p, count);
    if (n == 0) throw EWriteError();
    p += n;
    count -= n;
  }
}

// ---- FileStream ----

namespace {

int openOrErr(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

FileStream FileStream::create(const std::string& path, const std::string& shownPath) {
  const int fd = openOrErr(path, O_RDWR | O_CREAT | O_TRUNC);
  if (fd < 0) throw EFCreateError(shownPath.empty() ? path : shownPath, errno);
  return FileStream(fd, path);
}

FileStream FileStream::createNew(const std::string& path, const std::string& shownPath) {
  const int fd = openOrErr(path, O_RDWR | O_CREAT | O_EXCL);
  if (fd < 0) throw EFCreateError(shownPath.empty() ? path : shownPath, errno);
  return FileStream(fd, path);
}

FileStream FileStream::openRead(const std::string& path) {
  const int fd = openOrErr(path, O_RDONLY);
  if (fd < 0) throw EFOpenError(path, errno);
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFOpenError(path, EISDIR);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return FileStream(fd, path);
}

FileStream::FileStream(FileStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), pos_(other.pos_) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    pos_ = other.pos_;
  }
  return *this;
}

FileStream::~FileStream() {
  if (fd_ >= 0) ::close(fd_);
}

size_t FileStream::read(void* buffer, size_t count) {
  if (fd_ < 0) throw EReadError();
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, count);
    if (n >= 0) {
      pos_ += n;
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) throw EReadError();
  }
}

size_t FileStream::write(const void* buffer, size_t count) {
  if (fd_ < 0) throw EWriteError();
  const auto* p = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, p + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      pos_ += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != ENOSPC && errno != EFBIG && errno != EDQUOT) throw EWriteError();
    throw EWriteError(/*diskFull=*/true);
  }
  return done;
}

int64_t FileStream::seek(int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::Current && offset == 0) return pos_;
  const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  const off_t r = ::lseek(fd_, offset, whence);
  if (r < 0) throw EStreamError(systemErrorText(errno));
  pos_ = r;
  return pos_;
}

int64_t FileStream::size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) throw EStreamError(systemErrorText(errno));
  return st.st_size;
}

void FileStream::sync() {
  if (fd_ < 0) throw EWriteError();
  if (::fdatasync(fd_) != 0) throw EWriteError(errno == ENOSPC || errno == EDQUOT);
}

void FileStream::close() {
  if (fd_ < 0) return;
  const int r = ::close(std::exchange(fd_, -1));
  if (r != 0 && errno != EINTR) throw EWriteError(errno == ENOSPC || errno == EDQUOT);
}

// ---- MemoryStream ----

size_t MemoryStream::read(void* buffer, size_t count) {
  const size_t n = pos_ < data_.size() ? std::min(count, data_.size() - pos_) : 0;
  if (n == 0) return 0;
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t MemoryStream::write(const void* buffer, size_t count) {
  const size_t room = pos_ < capacity_ ? capacity_ - pos_ : 0;
  const size_t n = std::min(count, room);
  if (pos_ + n > data_.size()) data_.resize(pos_ + n);
  std::memcpy(data_.data() + pos_, buffer, n);
  pos_ += n;
  return n;
}

int64_t MemoryStream::seek(int64_t offset, SeekOrigin origin) {
  const int64_t base = origin == SeekOrigin::Begin     ? 0
                       : origin == SeekOrigin::Current ? static_cast<int64_t>(pos_)
                                                       : static_cast<int64_t>(data_.size());
  const int64_t target = base + offset;
  if (target < 0) throw EStreamError("Invalid stream position");
  pos_ = static_cast<size_t>(target);
  return target;
}

}  // namespace dovra
