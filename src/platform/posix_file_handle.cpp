#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_handle.h"

namespace dovra {
namespace {

int descriptor(intptr_t native) {
  return static_cast<int>(native);
}

int openFlags(FileOpenMode mode) {
  switch (mode) {
    case FileOpenMode::read:
      return O_RDONLY;
    case FileOpenMode::createNew:
      return O_RDWR | O_CREAT | O_EXCL;
    case FileOpenMode::createNewWriteOnly:
      return O_WRONLY | O_CREAT | O_EXCL;
    case FileOpenMode::createOrTruncate:
      return O_RDWR | O_CREAT | O_TRUNC;
  }
  return O_RDONLY;
}

bool lock(intptr_t native, int operation, int* error) {
  int r;
  do {
    r = ::flock(descriptor(native), operation | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0 && error != nullptr) *error = errno;
  return r == 0;
}

}  // namespace

bool isNoSpaceError(int error) {
  return error == ENOSPC || error == EDQUOT;
}

int FileHandle::open(const std::string& path, FileOpenMode mode, unsigned permissions) {
  close();
  int fd;
  do {
    fd = ::open(path.c_str(), openFlags(mode) | O_CLOEXEC, static_cast<mode_t>(permissions));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  native_ = fd;
  return 0;
}

FileIo FileHandle::read(void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::read(descriptor(native_), buffer, count);
    if (n >= 0) return {static_cast<size_t>(n), 0};
    if (errno != EINTR) return {0, errno};
  }
}

FileIo FileHandle::readAt(void* buffer, size_t count, int64_t offset) {
  for (;;) {
    const ssize_t n = ::pread(descriptor(native_), buffer, count, static_cast<off_t>(offset));
    if (n >= 0) return {static_cast<size_t>(n), 0};
    if (errno != EINTR) return {0, errno};
  }
}

FileIo FileHandle::write(const void* buffer, size_t count) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  FileIo done;
  while (done.bytes < count) {
    const ssize_t n = ::write(descriptor(native_), p + done.bytes, count - done.bytes);
    if (n > 0) {
      done.bytes += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A write that takes nothing without an error is a full device.
    done.error = n < 0 ? errno : ENOSPC;
    break;
  }
  return done;
}

int FileHandle::seek(int64_t offset, FileSeekOrigin origin, int64_t& to) {
  const int whence = origin == FileSeekOrigin::begin     ? SEEK_SET
                     : origin == FileSeekOrigin::current ? SEEK_CUR
                                                         : SEEK_END;
  const off_t r = ::lseek(descriptor(native_), static_cast<off_t>(offset), whence);
  if (r < 0) return errno;
  to = r;
  return 0;
}

int FileHandle::info(FileInfo& out) const {
  struct stat st {};
  if (::fstat(descriptor(native_), &st) != 0) return errno;
  out.size = st.st_size;
  out.isFolder = S_ISDIR(st.st_mode);
  out.isRegular = S_ISREG(st.st_mode);
  out.modifiedSeconds = st.st_mtim.tv_sec;
  out.modifiedNanoseconds = st.st_mtim.tv_nsec;
  return 0;
}

void FileHandle::adviseSequentialRead() {
  ::posix_fadvise(descriptor(native_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

int FileHandle::sync() {
  return ::fsync(descriptor(native_)) == 0 ? 0 : errno;
}

int FileHandle::syncData() {
  return ::fdatasync(descriptor(native_)) == 0 ? 0 : errno;
}

bool FileHandle::lockShared(int* error) {
  return lock(native_, LOCK_SH, error);
}

bool FileHandle::lockExclusive(int* error) {
  return lock(native_, LOCK_EX, error);
}

int FileHandle::close() {
  if (native_ == kClosed) return 0;
  const int r = ::close(descriptor(std::exchange(native_, kClosed)));
  // After EINTR the descriptor is gone on Linux; the close did not report a failure.
  return r != 0 && errno != EINTR ? errno : 0;
}

}  // namespace dovra
