#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"

namespace dovra {

int renameReplacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int renameNoReplace(const std::string& from, const std::string& to, NoReplaceFallback fallback) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int err = errno;
  if (err != EINVAL && err != ENOSYS) return err;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  err = errno;
  if (fallback == NoReplaceFallback::fail || (err != EPERM && err != ENOTSUP)) return err;
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int pathInfo(const std::string& path, FileInfo& out, bool followLinks) {
  struct stat st {};
  const int r = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (r != 0) return errno;
  out.size = st.st_size;
  out.isFolder = S_ISDIR(st.st_mode);
  out.isRegular = S_ISREG(st.st_mode);
  out.modifiedSeconds = st.st_mtim.tv_sec;
  out.modifiedNanoseconds = st.st_mtim.tv_nsec;
  return 0;
}

int makeHardLink(const std::string& from, const std::string& to) {
  return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int freeSpace(const std::string& path, uint64_t& bytes) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return errno;
  bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return 0;
}

int makeFolderLike(const std::string& folder, const std::string& model) {
  struct stat st {};
  if (::stat(model.c_str(), &st) != 0) return errno;
  if (::mkdir(folder.c_str(), 0700) != 0) return errno;
  // Set after the creation, which the umask would have narrowed.
  const mode_t mode = st.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO | S_ISGID);
  return ::chmod(folder.c_str(), mode) == 0 ? 0 : errno;
}

int removeFolder(const std::string& folder) {
  return ::rmdir(folder.c_str()) == 0 ? 0 : errno;
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

int createFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return ec ? ec.value() : 0;
}

}  // namespace dovra
