// An open file of the local file system, owned by one object: positional and sequential
// reads and writes, size and times, advisory locks, flushes to disk. Closing (or
// destroying) the object closes the file and ends any lock taken on it.
//
// Failures are returned, never thrown: every call that can fail gives the system's error
// as an errno value (ENOENT, EACCES, ENOSPC, ...; an implementation on a system with other
// codes maps them), so each caller turns it into the exception its layer reports.
//
// A handle belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace dovra {

// What a read or write did: `bytes` moved before `error` (0 when none) stopped it.
struct FileIo {
  size_t bytes = 0;
  int error = 0;
};

// What the system knows of an open file or a name.
struct FileInfo {
  int64_t size = 0;
  bool isFolder = false;
  bool isRegular = false;
  // Last modification, as seconds since 1970 and the nanoseconds within that second.
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
};

// Whether `error`, an errno value from a write, flush or close, says the device or the
// user's share of it is full (ENOSPC, or EDQUOT where the system has quotas).
bool isNoSpaceError(int error);

enum class FileOpenMode {
  read,                // an existing file, read only
  createNew,           // a new file that must not exist yet (EEXIST otherwise), read and write
  createNewWriteOnly,  // as createNew, write only
  createOrTruncate,    // created, or an existing file emptied; read and write
};

enum class FileSeekOrigin { begin, current, end };

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens `path` (a handle already open is closed first). `permissions` are the POSIX
  // permission bits of a created file before the umask; systems without them ignore them.
  // The handle is not inherited by started programs. Returns 0 or the errno value; the
  // handle stays closed on failure.
  int open(const std::string& path, FileOpenMode mode, unsigned permissions = 0666);
  bool isOpen() const { return native_ != kClosed; }

  // Reads up to `count` bytes at the file position and moves past them; 0 bytes and no
  // error at the end of the file.
  FileIo read(void* buffer, size_t count);
  // Reads up to `count` bytes at `offset`; the file position does not move.
  FileIo readAt(void* buffer, size_t count, int64_t offset);
  // Writes `count` bytes at the file position, in as many system calls as it takes; on an
  // error `bytes` tells how many were written before it.
  FileIo write(const void* buffer, size_t count);
  // Moves the file position; returns 0 or the errno value, and the new position in `to`.
  int seek(int64_t offset, FileSeekOrigin origin, int64_t& to);
  // The file's size and times; returns 0 or the errno value.
  int info(FileInfo& out) const;

  // Tells the system the file will be read from start to end (a hint; never fails).
  void adviseSequentialRead();
  // Forces the written data (syncData: only what reading it back needs) to the device.
  // Returns 0 or the errno value.
  int sync();
  int syncData();

  // Non-blocking advisory locks on the whole file, released when the handle is closed or
  // the process ends, however it ends. False when another holder keeps it out (or the
  // system refuses the lock); `error` (when given) then holds the errno value. The
  // exclusive lock is the one markInUse (platform/files.h) takes and removeIfNotInUse
  // respects. The locks never stand in the way of reading or writing the file: a system
  // whose locks are mandatory takes them on a range past any content.
  bool lockShared(int* error = nullptr);
  bool lockExclusive(int* error = nullptr);

  // Closes the file; returns 0 or the errno value the system reported for the close (the
  // handle is closed either way). Closing a closed handle returns 0.
  int close();

  // The system's own handle (a file descriptor on POSIX), for the platform layer.
  intptr_t native() const { return native_; }

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t native_ = kClosed;
};

// Ownership moves the same way on every system.
inline FileHandle::~FileHandle() {
  close();
}

inline FileHandle::FileHandle(FileHandle&& other) noexcept
    : native_(std::exchange(other.native_, kClosed)) {}

inline FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    native_ = std::exchange(other.native_, kClosed);
  }
  return *this;
}

}  // namespace dovra
