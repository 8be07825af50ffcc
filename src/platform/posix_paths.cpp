#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace dovra {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string settingsFolder() {
  std::string dir = env("DOVRA_WINDOWS_DIR");
  if (dir.empty()) {
    std::string base = env("XDG_CONFIG_HOME");
    if (base.empty()) base = env("HOME") + "/.config";
    dir = base + "/backupdovra/";
  }
  return withTrailingSeparator(dir);
}

std::string executablePath() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string programFolder() {
  const std::string dir = env("DOVRA_PROGRAM_DIR");
  if (!dir.empty()) return withTrailingSeparator(dir);
  return directoryPart(executablePath());
}

std::string temporaryFolder() {
  const std::string dir = env("TMPDIR");
  return withTrailingSeparator(dir.empty() ? "/tmp" : dir);
}

std::string withTrailingSeparator(std::string folder) {
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\')) folder += '/';
  return folder;
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t fileSize(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  return ec ? path : full.string();
}

bool directoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace dovra
