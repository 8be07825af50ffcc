#include <io.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <system_error>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/windows_support.h"

namespace dovra {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool lockInUse(HANDLE h) {
  return win::lockInUseByte(h, true) == 0;
}

// Writes all of `bytes` at `offset`; returns 0 or the Windows error code.
DWORD writeAllAt(HANDLE h, std::string_view bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at{};
    const uint64_t where = offset + done;
    at.Offset = static_cast<DWORD>(where);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &written, &at)) return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    done += written;
  }
  return 0;
}

std::string readAll(HANDLE h, const std::string& path) {
  std::string out;
  char buf[65536];
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(out.size());
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(out.size()) >> 32);
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf, &n, &at)) {
      const DWORD err = GetLastError();
      if (err == ERROR_HANDLE_EOF) return out;
      win::throwWin32(err, path);
    }
    if (n == 0) return out;
    out.append(buf, n);
  }
}

DWORD truncateAt(HANDLE h, uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) return GetLastError();
  return 0;
}

win::Handle openExisting(const std::string& path, DWORD access, DWORD flags = 0) {
  return win::Handle(CreateFileW(win::widePath(path).c_str(), access, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
}

}  // namespace

std::string uniqueTemporaryBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 rng{std::random_device{}()};
  return path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
         "-" + std::to_string(rng() % 1000000);
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::wstring target = win::widePath(path);
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    attributes = FILE_ATTRIBUTE_NORMAL;
  }
  attributes &= FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_NORMAL;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  const std::string tmp = uniqueTemporaryBeside(path);
  const std::wstring wtmp = win::widePath(tmp);
  win::Handle h(
      CreateFileW(wtmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
  if (!h.valid()) win::throwLastError(tmp);
  DWORD err = writeAllAt(h.get(), bytes, 0);
  if (err == 0 && !FlushFileBuffers(h.get())) err = GetLastError();
  h.reset();
  if (err == 0 && !MoveFileExW(wtmp.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    err = GetLastError();
  }
  if (err != 0) {
    DeleteFileW(wtmp.c_str());
    win::throwWin32(err, path);
  }
}

void rewriteFileInPlace(const std::string& path, std::string_view bytes) {
  const DWORD attributes = GetFileAttributesW(win::widePath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw std::system_error(EINVAL, std::generic_category(), path);
  }
  // Windows refuses to open a read-only file for writing; the attribute is checked here as
  // well so that the answer does not depend on the account (Wine as root would write it).
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    throw std::system_error(EACCES, std::generic_category(), path);
  }
  win::Handle h = openExisting(path, GENERIC_READ | GENERIC_WRITE);
  if (!h.valid()) win::throwLastError(path);
  if (GetFileType(h.get()) != FILE_TYPE_DISK) {
    throw std::system_error(EINVAL, std::generic_category(), path);
  }
  const std::string old = readAll(h.get(), path);
  size_t from = 0;
  while (from < old.size() && from < bytes.size() && old[from] == bytes[from]) ++from;
  if (from == old.size() && from == bytes.size()) return;

  // The safety copy; a folder we may not write simply goes without it.
  std::wstring copy = win::widePath(uniqueTemporaryBeside(path));
  {
    win::Handle c(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!c.valid() || writeAllAt(c.get(), bytes, 0) != 0 || !FlushFileBuffers(c.get())) {
      if (c.valid()) {
        c.reset();
        DeleteFileW(copy.c_str());
      }
      copy.clear();
    }
  }
  const auto dropCopy = [&] {
    if (!copy.empty()) DeleteFileW(copy.c_str());
  };

  if (bytes.size() > old.size()) {
    FILE_ALLOCATION_INFO reserve{};
    reserve.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (!SetFileInformationByHandle(h.get(), FileAllocationInfo, &reserve, sizeof reserve)) {
      const DWORD err = GetLastError();
      if (err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL) {
        dropCopy();
        win::throwWin32(err, path);
      }
    }
  }
  DWORD err = writeAllAt(h.get(), bytes.substr(from), from);
  if (err == 0 && bytes.size() < old.size()) err = truncateAt(h.get(), bytes.size());
  if (err == 0 && !FlushFileBuffers(h.get())) err = GetLastError();
  if (err != 0) {
    if (writeAllAt(h.get(), std::string_view(old).substr(from), from) == 0 &&
        truncateAt(h.get(), old.size()) == 0) {
      FlushFileBuffers(h.get());
      dropCopy();
    }
    win::throwWin32(err, path);
  }
  dropCopy();
}

// The file functions follow links themselves when they create a file through one.
std::string resolvedPath(const std::string& path) {
  return path;
}

std::string readWholeFile(const std::string& path) {
  win::Handle h = openExisting(path, GENERIC_READ);
  if (!h.valid()) win::throwLastError(path);
  return readAll(h.get(), path);
}

int existingFileWriteError(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(win::widePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? 0
                                                                      : win::errnoFromWin32(err);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 0;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return EACCES;
  win::Handle h = openExisting(path, GENERIC_WRITE, FILE_FLAG_OPEN_REPARSE_POINT);
  return h.valid() ? 0 : win::errnoFromWin32(GetLastError());
}

bool markInUse(int fd) {
  const intptr_t h = _get_osfhandle(fd);
  if (h == -1) return false;
  return lockInUse(reinterpret_cast<HANDLE>(h));
}

bool removeIfNotInUse(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(win::widePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  win::Handle h = openExisting(path, GENERIC_READ | DELETE, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!h.valid() || !lockInUse(h.get())) return false;
  // Deleted through the handle whose lock we hold, so it is the file we checked.
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = TRUE;
  return SetFileInformationByHandle(h.get(), FileDispositionInfo, &dispose, sizeof dispose) != 0;
}

std::vector<std::string> folderEntryNames(const std::string& folder) {
  std::vector<std::string> names;
  const std::string base = folder.empty() ? std::string(".") : folder;
  std::wstring pattern = win::widePath(base);
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(win::narrow(name));
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

void makeDirectories(const std::string& folder) {
  const std::wstring wide = win::widePath(folder);
  // The root cannot be made: "C:\", "\\server\share\" or a leading "\".
  size_t start = 0;
  if (wide.size() >= 2 && wide[1] == L':') {
    start = 2;
  } else if (wide.rfind(L"\\\\", 0) == 0) {
    start = wide.find(L'\\', 2);
    start = start == std::wstring::npos ? wide.size() : wide.find(L'\\', start + 1);
    if (start == std::wstring::npos) start = wide.size();
  }
  size_t pos = start;
  while (pos <= wide.size()) {
    size_t next = wide.find(L'\\', pos);
    if (next == std::wstring::npos) next = wide.size();
    const std::wstring part = wide.substr(0, next);
    pos = next + 1;
    if (next <= start || part.empty() || part.back() == L':') continue;
    if (!CreateDirectoryW(part.c_str(), nullptr)) {
      const DWORD err = GetLastError();
      if (err != ERROR_ALREADY_EXISTS) win::throwWin32(err, win::narrow(part));
    }
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) win::throwLastError(folder);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw std::system_error(ENOTDIR, std::generic_category(), folder);
  }
}

std::string readFirstLineBounded(const std::string& path, size_t maxBytes) {
  const DWORD attributes = GetFileAttributesW(win::widePath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw EInOutError(100, "Invalid file format");
  }
  win::Handle h = openExisting(path, GENERIC_READ);
  if (!h.valid()) throw EInOutError::fromErrno(win::errnoFromWin32(GetLastError()));
  if (GetFileType(h.get()) != FILE_TYPE_DISK) throw EInOutError(100, "Invalid file format");
  std::string line;
  char buf[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), buf, sizeof buf, &n, nullptr)) {
      const DWORD err = GetLastError();
      if (err == ERROR_HANDLE_EOF) break;
      throw EInOutError::fromErrno(win::errnoFromWin32(err));
    }
    if (n == 0) break;
    for (DWORD i = 0; i < n; ++i) {
      if (buf[i] == '\r' || buf[i] == '\n' || buf[i] == '\x1A') return line;
      if (line.size() == maxBytes) throw EInOutError(100, "Invalid file format");
      line += buf[i];
    }
  }
  return line;
}

}  // namespace dovra
