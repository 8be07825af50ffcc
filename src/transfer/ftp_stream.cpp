#include "transfer/ftp_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/error.h"

namespace dovra {

FileUploadSource::FileUploadSource(const std::string& path) {
  if (const int err = file_.open(path, FileOpenMode::read)) throw EInOutError::fromErrno(err);
  FileInfo info;
  if (const int err = file_.info(info)) throw EInOutError::fromErrno(err);
  size_ = info.size;
}

FileUploadSource::FileUploadSource(FileHandle file) : file_(std::move(file)) {
  FileInfo info;
  if (const int err = file_.info(info)) throw EInOutError::fromErrno(err);
  size_ = info.size;
}

size_t FileUploadSource::read(char* buffer, size_t count) {
  if (position_ < 0 || position_ >= size_) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position_));
  const FileIo io = file_.readAt(buffer, count, position_);
  if (io.error != 0) throw EInOutError::fromErrno(io.error);
  position_ += static_cast<int64_t>(io.bytes);
  return io.bytes;
}

size_t MemoryUploadSource::read(char* buffer, size_t count) {
  if (position_ < 0 || position_ >= size()) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size() - position_));
  std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += static_cast<int64_t>(count);
  return count;
}

}  // namespace dovra
