// Readable sources for uploads: a stream of bytes with a size and a position, read from
// the position on. A source is used by one thread at a time; it owns what it reads from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace dovra {

class UploadSource {
 public:
  virtual ~UploadSource() = default;
  // Total size in bytes.
  virtual int64_t size() const = 0;
  // Current position; may lie beyond size().
  virtual int64_t position() const = 0;
  virtual void seek(int64_t position) = 0;
  // Reads up to `count` bytes at the position and moves past them; returns how many were
  // read, 0 at (or beyond) the end. Throws dovra::Exception on a read failure.
  virtual size_t read(char* buffer, size_t count) = 0;
};

// A local file opened read-only (others may read, write or replace it meanwhile). The
// size is taken when the file is opened. Throws EInOutError when it cannot be opened.
class FileUploadSource : public UploadSource {
 public:
  explicit FileUploadSource(const std::string& path);
  // Takes over a file opened for reading (the source closes it, which also ends any lock
  // taken on it). Throws EInOutError when its size cannot be read; the file is closed then
  // too.
  explicit FileUploadSource(FileHandle file);
  FileUploadSource(const FileUploadSource&) = delete;
  FileUploadSource& operator=(const FileUploadSource&) = delete;

  int64_t size() const override { return size_; }
  int64_t position() const override { return position_; }
  void seek(int64_t position) override { position_ = position; }
  size_t read(char* buffer, size_t count) override;

 private:
  FileHandle file_;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Bytes held in memory (the source keeps its own copy).
class MemoryUploadSource : public UploadSource {
 public:
  explicit MemoryUploadSource(std::string bytes) : bytes_(std::move(bytes)) {}

  int64_t size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t position() const override { return position_; }
  void seek(int64_t position) override { position_ = position; }
  size_t read(char* buffer, size_t count) override;

 private:
  std::string bytes_;
  int64_t position_ = 0;
};

}  // namespace dovra
