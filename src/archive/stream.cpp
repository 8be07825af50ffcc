#include "archive/stream.h"

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

bool isDiskFull(int err) {
  return err == EFBIG || isNoSpaceError(err);
}

}  // namespace

FileStream FileStream::create(const std::string& path, const std::string& shownPath) {
  FileHandle file;
  if (const int err = file.open(path, FileOpenMode::createOrTruncate)) {
    throw EFCreateError(shownPath.empty() ? path : shownPath, err);
  }
  return FileStream(std::move(file), path);
}

FileStream FileStream::createNew(const std::string& path, const std::string& shownPath) {
  FileHandle file;
  if (const int err = file.open(path, FileOpenMode::createNew)) {
    throw EFCreateError(shownPath.empty() ? path : shownPath, err);
  }
  return FileStream(std::move(file), path);
}

FileStream FileStream::openRead(const std::string& path) {
  FileHandle file;
  if (const int err = file.open(path, FileOpenMode::read)) throw EFOpenError(path, err);
  FileInfo info;
  if (file.info(info) == 0 && info.isFolder) throw EFOpenError(path, EISDIR);
  file.adviseSequentialRead();
  return FileStream(std::move(file), path);
}

FileStream::FileStream(FileStream&& other) noexcept
    : file_(std::move(other.file_)), path_(std::move(other.path_)), pos_(other.pos_) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
  if (this != &other) {
    file_ = std::move(other.file_);
    path_ = std::move(other.path_);
    pos_ = other.pos_;
  }
  return *this;
}

FileStream::~FileStream() = default;

size_t FileStream::read(void* buffer, size_t count) {
  if (!file_.isOpen()) throw EReadError();
  const FileIo io = file_.read(buffer, count);
  if (io.error != 0) throw EReadError();
  pos_ += static_cast<int64_t>(io.bytes);
  return io.bytes;
}

size_t FileStream::write(const void* buffer, size_t count) {
  if (!file_.isOpen()) throw EWriteError();
  const FileIo io = file_.write(buffer, count);
  pos_ += static_cast<int64_t>(io.bytes);
  if (io.error != 0) throw EWriteError(isDiskFull(io.error));
  return io.bytes;
}

int64_t FileStream::seek(int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::Current && offset == 0) return pos_;
  const FileSeekOrigin from = origin == SeekOrigin::Begin     ? FileSeekOrigin::begin
                              : origin == SeekOrigin::Current ? FileSeekOrigin::current
                                                              : FileSeekOrigin::end;
  int64_t to = 0;
  if (const int err = file_.seek(offset, from, to)) throw EStreamError(systemErrorText(err));
  pos_ = to;
  return pos_;
}

int64_t FileStream::size() {
  FileInfo info;
  if (const int err = file_.info(info)) throw EStreamError(systemErrorText(err));
  return info.size;
}

void FileStream::sync() {
  if (!file_.isOpen()) throw EWriteError();
  if (const int err = file_.syncData()) throw EWriteError(isNoSpaceError(err));
}

void FileStream::close() {
  if (const int err = file_.close()) throw EWriteError(isNoSpaceError(err));
}

bool FileStream::markInUse() {
  return file_.lockExclusive();
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
