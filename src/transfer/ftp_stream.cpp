#include "transfer/ftp_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace dovra {

FileUploadSource::FileUploadSource(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw EInOutError::fromErrno(errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int err = errno;
    ::close(fd_);
    throw EInOutError::fromErrno(err);
  }
  size_ = st.st_size;
}

FileUploadSource::FileUploadSource(int fd) : fd_(fd) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int err = errno;
    ::close(fd_);
    throw EInOutError::fromErrno(err);
  }
  size_ = st.st_size;
}

FileUploadSource::~FileUploadSource() {
  if (fd_ >= 0) ::close(fd_);
}

size_t FileUploadSource::read(char* buffer, size_t count) {
  if (position_ < 0 || position_ >= size_) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position_));
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, count, position_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError::fromErrno(errno);
    position_ += n;
    return static_cast<size_t>(n);
  }
}

size_t MemoryUploadSource::read(char* buffer, size_t count) {
  if (position_ < 0 || position_ >= size()) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size() - position_));
  std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += static_cast<int64_t>(count);
  return count;
}

}  // namespace dovra
