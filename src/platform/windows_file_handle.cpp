#include <cerrno>
#include <utility>

#include "platform/file_handle.h"
#include "platform/windows_support.h"

namespace dovra {
namespace {

HANDLE handleOf(intptr_t native) {
  return reinterpret_cast<HANDLE>(native);
}

// Seconds and nanoseconds since 1970 from a FILETIME (100 ns steps since 1601).
void unixTime(const FILETIME& t, int64_t& seconds, int64_t& nanoseconds) {
  constexpr int64_t kStepsTo1970 = 116444736000000000LL;
  const int64_t steps =
      static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) -
      kStepsTo1970;
  seconds = steps / 10000000;
  nanoseconds = steps % 10000000 * 100;
  if (nanoseconds < 0) {
    nanoseconds += 1000000000;
    --seconds;
  }
}

int lockError(DWORD code) {
  return code == ERROR_LOCK_VIOLATION || code == ERROR_SHARING_VIOLATION
             ? EWOULDBLOCK
             : win::errnoFromWin32(code);
}

bool lock(intptr_t native, bool exclusive, int* error) {
  const DWORD code = win::lockInUseByte(handleOf(native), exclusive);
  if (code != 0 && error != nullptr) *error = lockError(code);
  return code == 0;
}

}  // namespace

bool isNoSpaceError(int error) {
  return error == ENOSPC;
}

int FileHandle::open(const std::string& path, FileOpenMode mode, unsigned /*permissions*/) {
  close();
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = CREATE_NEW;
  switch (mode) {
    case FileOpenMode::read:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      break;
    case FileOpenMode::createNew:
      break;
    case FileOpenMode::createNewWriteOnly:
      access = GENERIC_WRITE;
      break;
    case FileOpenMode::createOrTruncate:
      disposition = CREATE_ALWAYS;
      break;
  }
  // Shared as POSIX files are: others may read, write, rename and delete it meanwhile. Not
  // inherited (no security attributes asking for it).
  const HANDLE h = CreateFileW(win::widePath(path).c_str(), access,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    // A folder opened as a file: the name exists but is no file.
    if (err == ERROR_ACCESS_DENIED) {
      const DWORD a = GetFileAttributesW(win::widePath(path).c_str());
      if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
    }
    return win::errnoFromWin32(err);
  }
  native_ = reinterpret_cast<intptr_t>(h);
  return 0;
}

FileIo FileHandle::read(void* buffer, size_t count) {
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
  DWORD n = 0;
  if (!ReadFile(handleOf(native_), buffer, chunk, &n, nullptr)) {
    const DWORD err = GetLastError();
    if (err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE) return {0, 0};
    return {0, win::errnoFromWin32(err)};
  }
  return {n, 0};
}

FileIo FileHandle::readAt(void* buffer, size_t count, int64_t offset) {
  // A positioned read on a synchronous handle moves the file position: put it back.
  LARGE_INTEGER zero{}, position{};
  SetFilePointerEx(handleOf(native_), zero, &position, FILE_CURRENT);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
  DWORD n = 0;
  FileIo result;
  if (ReadFile(handleOf(native_), buffer, chunk, &n, &at)) {
    result.bytes = n;
  } else if (const DWORD err = GetLastError(); err != ERROR_HANDLE_EOF) {
    result.error = win::errnoFromWin32(err);
  }
  SetFilePointerEx(handleOf(native_), position, nullptr, FILE_BEGIN);
  return result;
}

FileIo FileHandle::write(const void* buffer, size_t count) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  FileIo done;
  while (done.bytes < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done.bytes, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(handleOf(native_), p + done.bytes, chunk, &n, nullptr)) {
      done.error = win::errnoFromWin32(GetLastError());
      break;
    }
    if (n == 0) {
      // A write that takes nothing without an error is a full device.
      done.error = ENOSPC;
      break;
    }
    done.bytes += n;
  }
  return done;
}

int FileHandle::seek(int64_t offset, FileSeekOrigin origin, int64_t& to) {
  const DWORD method = origin == FileSeekOrigin::begin     ? FILE_BEGIN
                       : origin == FileSeekOrigin::current ? FILE_CURRENT
                                                           : FILE_END;
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(handleOf(native_), distance, &position, method)) {
    return win::errnoFromWin32(GetLastError());
  }
  to = position.QuadPart;
  return 0;
}

int FileHandle::info(FileInfo& out) const {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handleOf(native_), &information)) {
    return win::errnoFromWin32(GetLastError());
  }
  out.size = static_cast<int64_t>((static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                                  information.nFileSizeLow);
  out.isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.isRegular = !out.isFolder && GetFileType(handleOf(native_)) == FILE_TYPE_DISK;
  unixTime(information.ftLastWriteTime, out.modifiedSeconds, out.modifiedNanoseconds);
  return 0;
}

// The system reads ahead on its own; the hint exists only when the file is opened.
void FileHandle::adviseSequentialRead() {}

int FileHandle::sync() {
  return FlushFileBuffers(handleOf(native_)) ? 0 : win::errnoFromWin32(GetLastError());
}

int FileHandle::syncData() {
  return sync();
}

bool FileHandle::lockShared(int* error) {
  return lock(native_, false, error);
}

bool FileHandle::lockExclusive(int* error) {
  return lock(native_, true, error);
}

int FileHandle::close() {
  if (native_ == kClosed) return 0;
  return CloseHandle(handleOf(std::exchange(native_, kClosed)))
             ? 0
             : win::errnoFromWin32(GetLastError());
}

}  // namespace dovra
