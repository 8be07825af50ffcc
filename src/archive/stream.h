// Byte streams under the archive code: a small abstract stream (read, write, seek,
// position, size), a stream over a local file and one over memory.
//
// A stream object belongs to one thread at a time; none of them locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/error.h"
#include "platform/file_handle.h"

namespace dovra {

// Failures of stream operations, with the texts the operator sees.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
// "Stream read error": fewer bytes than asked for, or the device failed while reading.
class EReadError : public EStreamError {
 public:
  EReadError();
};
// "Stream write error": fewer bytes written than asked for (a full disk), or the device failed.
// diskFull() tells a full disk (or quota, or file size limit) from other failures.
class EWriteError : public EStreamError {
 public:
  explicit EWriteError(bool diskFull = false);
  bool diskFull() const { return diskFull_; }

 private:
  bool diskFull_;
};
// "Cannot create file "<path>". <system error text>"
class EFCreateError : public EStreamError {
 public:
  EFCreateError(const std::string& path, int err);
};
// "Cannot open file "<path>". <system error text>"
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const std::string& path, int err);
};

enum class SeekOrigin { Begin, Current, End };

class Stream {
 public:
  virtual ~Stream() = default;

  // Reads up to `count` bytes into `buffer`; returns how many were read, 0 at the end.
  virtual size_t read(void* buffer, size_t count) = 0;
  // Writes up to `count` bytes; returns how many were written (fewer when the device is full).
  virtual size_t write(const void* buffer, size_t count) = 0;
  // Moves the position and returns the new one.
  virtual int64_t seek(int64_t offset, SeekOrigin origin) = 0;

  int64_t position() { return seek(0, SeekOrigin::Current); }
  void setPosition(int64_t pos) { seek(pos, SeekOrigin::Begin); }
  // Size in bytes; the position is left where it was.
  virtual int64_t size();

  // Reads exactly `count` bytes or throws EReadError.
  void readBuffer(void* buffer, size_t count);
  // Writes exactly `count` bytes or throws EWriteError.
  void writeBuffer(const void* buffer, size_t count);
};

// A stream over a file it owns (the descriptor is closed when the object dies). Read and
// write failures of the system throw EReadError / EWriteError; they are never taken for the
// end of the file or a short write.
class FileStream : public Stream {
 public:
  // Creates the file, truncating an existing one; read and write access. Throws
  // EFCreateError naming `shownPath` (or `path` when empty).
  static FileStream create(const std::string& path, const std::string& shownPath = {});
  // Creates a file that must not exist yet; for temporary names.
  static FileStream createNew(const std::string& path, const std::string& shownPath = {});
  // Opens an existing file for reading. Throws EFOpenError.
  static FileStream openRead(const std::string& path);

  FileStream(FileStream&& other) noexcept;
  FileStream& operator=(FileStream&& other) noexcept;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  ~FileStream() override;

  size_t read(void* buffer, size_t count) override;
  size_t write(const void* buffer, size_t count) override;
  int64_t seek(int64_t offset, SeekOrigin origin) override;
  int64_t size() override;

  // Forces written data to the device. Throws EWriteError.
  void sync();
  // Closes the file now. Throws EWriteError when the system reports a failure.
  void close();
  // Marks the file as in use by this process (see markInUse in platform/files.h): an
  // exclusive advisory lock held until the file is closed. False when it is refused.
  bool markInUse();
  const std::string& path() const { return path_; }

 private:
  FileStream(FileHandle file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}

  FileHandle file_;
  std::string path_;
  int64_t pos_ = 0;
};

// A growable stream in memory. `capacity` caps its size: a write beyond it is cut short, as
// on a full device.
class MemoryStream : public Stream {
 public:
  explicit MemoryStream(std::string data = {}, size_t capacity = std::numeric_limits<size_t>::max())
      : data_(std::move(data)), capacity_(capacity) {}

  size_t read(void* buffer, size_t count) override;
  size_t write(const void* buffer, size_t count) override;
  int64_t seek(int64_t offset, SeekOrigin origin) override;

  const std::string& data() const { return data_; }

 private:
  std::string data_;
  size_t capacity_;
  size_t pos_ = 0;
};

}  // namespace dovra
