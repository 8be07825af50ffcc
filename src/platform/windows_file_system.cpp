#include <cerrno>

#include "platform/file_system.h"
#include "platform/windows_support.h"

namespace dovra {
namespace {

void unixTime(const FILETIME& t, FileInfo& out) {
  constexpr int64_t kStepsTo1970 = 116444736000000000LL;
  const int64_t steps =
      static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) -
      kStepsTo1970;
  out.modifiedSeconds = steps / 10000000;
  out.modifiedNanoseconds = steps % 10000000 * 100;
  if (out.modifiedNanoseconds < 0) {
    out.modifiedNanoseconds += 1000000000;
    --out.modifiedSeconds;
  }
}

}  // namespace

int renameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExW(win::widePath(from).c_str(), win::widePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : win::errnoFromWin32(GetLastError());
}

// A rename without MOVEFILE_REPLACE_EXISTING refuses an existing name in the same step, on
// every Windows file system: no fallback is needed.
int renameNoReplace(const std::string& from, const std::string& to, NoReplaceFallback) {
  if (MoveFileExW(win::widePath(from).c_str(), win::widePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  return win::errnoFromWin32(GetLastError());
}

int removeFile(const std::string& path) {
  const std::wstring wide = win::widePath(path);
  const DWORD a = GetFileAttributesW(wide.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return EISDIR;
  }
  return DeleteFileW(wide.c_str()) ? 0 : win::errnoFromWin32(GetLastError());
}

int pathInfo(const std::string& path, FileInfo& out, bool followLinks) {
  const std::wstring wide = win::widePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    return win::errnoFromWin32(GetLastError());
  }
  if (followLinks && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // What the link points to: asked through a handle opened on the target.
    win::Handle h(CreateFileW(wide.c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!h.valid() || !GetFileInformationByHandle(h.get(), &information)) {
      return win::errnoFromWin32(GetLastError());
    }
    data.dwFileAttributes = information.dwFileAttributes;
    data.nFileSizeHigh = information.nFileSizeHigh;
    data.nFileSizeLow = information.nFileSizeLow;
    data.ftLastWriteTime = information.ftLastWriteTime;
  }
  out.size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  out.isFolder = !link && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.isRegular = !link && !out.isFolder && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  unixTime(data.ftLastWriteTime, out);
  return 0;
}

// The file system journals its folder entries itself (a rename with MOVEFILE_WRITE_THROUGH
// returns once it is on the disk): there is nothing to flush.
void syncFolder(const std::string&) {}

// Folder by folder from the top, through the wide names.
int createFolders(const std::string& path) {
  std::wstring wide = win::widePath(path);
  while (wide.size() > 1 && wide.back() == L'\\') wide.pop_back();
  if (wide.empty()) return ENOENT;
  const DWORD a = GetFileAttributesW(wide.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : EEXIST;
  const size_t cut = wide.find_last_of(L'\\');
  // A drive ("C:") or a share's root is there or not: nothing above it is made.
  if (cut != std::wstring::npos && cut > 0 && wide[cut - 1] != L':' && wide[cut - 1] != L'\\') {
    if (const int err = createFolders(win::narrow(wide.substr(0, cut)))) return err;
  }
  if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
  const DWORD err = GetLastError();
  return err == ERROR_ALREADY_EXISTS ? 0 : win::errnoFromWin32(err);
}

int makeHardLink(const std::string& from, const std::string& to) {
  return CreateHardLinkW(win::widePath(to).c_str(), win::widePath(from).c_str(), nullptr)
             ? 0
             : win::errnoFromWin32(GetLastError());
}

int freeSpace(const std::string& path, uint64_t& bytes) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(win::widePath(path).c_str(), &available, nullptr, nullptr)) {
    return win::errnoFromWin32(GetLastError());
  }
  bytes = available.QuadPart;
  return 0;
}

// A new folder inherits its parent's permissions; `model` is not consulted.
int makeFolderLike(const std::string& folder, const std::string&) {
  return CreateDirectoryW(win::widePath(folder).c_str(), nullptr)
             ? 0
             : win::errnoFromWin32(GetLastError());
}

int removeFolder(const std::string& folder) {
  return RemoveDirectoryW(win::widePath(folder).c_str()) ? 0 : win::errnoFromWin32(GetLastError());
}

}  // namespace dovra
