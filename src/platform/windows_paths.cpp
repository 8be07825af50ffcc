#include <string>

#include "platform/paths.h"
#include "platform/windows_support.h"

namespace dovra {

std::string settingsFolder() {
  std::string dir = win::environment(L"DOVRA_WINDOWS_DIR");
  if (dir.empty()) {
    wchar_t buf[MAX_PATH + 1] = L"";
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH + 1);
    dir = n > 0 && n <= MAX_PATH ? win::narrow(std::wstring_view(buf, n)) : "C:\\Windows";
  }
  return withTrailingSeparator(dir);
}

std::string executablePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return win::narrow(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::string programFolder() {
  const std::string dir = win::environment(L"DOVRA_PROGRAM_DIR");
  if (!dir.empty()) return withTrailingSeparator(dir);
  return directoryPart(executablePath());
}

std::string temporaryFolder() {
  wchar_t buf[MAX_PATH + 2] = L"";
  const DWORD n = GetTempPathW(MAX_PATH + 2, buf);
  if (n == 0 || n > MAX_PATH + 1) return withTrailingSeparator(".");
  return withTrailingSeparator(win::narrow(std::wstring_view(buf, n)));
}

std::string withTrailingSeparator(std::string folder) {
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\')) folder += '\\';
  return folder;
}

bool fileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD a = GetFileAttributesW(win::widePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int64_t fileSize(const std::string& path) {
  if (path.empty()) return -1;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win::widePath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return -1;
  }
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                              data.nFileSizeLow);
}

// The wide form of the name, never its bytes in the ANSI code page.
std::string absolutePath(const std::string& path) {
  const std::wstring wide = win::widePath(path);
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
    if (n == 0) return path;
    if (n < buf.size()) return win::narrow(std::wstring_view(buf.data(), n));
    buf.resize(n);
  }
}

bool directoryExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD a = GetFileAttributesW(win::widePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace dovra
