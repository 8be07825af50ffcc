#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <system_error>

#include "platform/error.h"

namespace dovra {
namespace {

[[noreturn]] void throwErrno(int err, const std::string& what) {
  throw std::system_error(err, std::generic_category(), what);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

std::string uniqueTemporaryBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 rng{std::random_device{}()};
  return path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(rng() % 1000000);
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  struct stat st {};
  const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  const std::string tmp = uniqueTemporaryBeside(path);
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (fd.get() < 0) throwErrno(errno, tmp);
  auto fail = [&](int err) {
    ::close(fd.release());
    ::unlink(tmp.c_str());
    throwErrno(err, path);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0) fail(errno);
  if (::close(fd.release()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throwErrno(err, path);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throwErrno(err, path);
  }
}

namespace {

// Writes all of `bytes` at `offset`; returns 0 or the errno value.
int writeAllAt(int fd, std::string_view bytes, off_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

std::string readAll(int fd, const std::string& path) {
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno(errno, path);
    }
    if (n == 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace

void rewriteFileInPlace(const std::string& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) throwErrno(errno, path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throwErrno(errno, path);
  if (!S_ISREG(st.st_mode)) throwErrno(EINVAL, path);
  const std::string old = readAll(fd.get(), path);
  size_t from = 0;
  while (from < old.size() && from < bytes.size() && old[from] == bytes[from]) ++from;
  if (from == old.size() && from == bytes.size()) return;

  // The safety copy; a folder we may not write simply goes without it.
  std::string copy = uniqueTemporaryBeside(path);
  {
    Fd c(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0666));
    if (c.get() < 0 || writeAllAt(c.get(), bytes, 0) != 0 || ::fsync(c.get()) != 0) {
      if (c.get() >= 0) ::unlink(copy.c_str());
      copy.clear();
    }
  }
  const auto dropCopy = [&] {
    if (!copy.empty()) ::unlink(copy.c_str());
  };

  if (bytes.size() > old.size()) {
    const int err = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(bytes.size()));
    if (err != 0 && err != EOPNOTSUPP && err != EINVAL) {
      dropCopy();
      throwErrno(err, path);
    }
  }
  int err = writeAllAt(fd.get(), bytes.substr(from), static_cast<off_t>(from));
  if (err == 0 && bytes.size() < old.size() &&
      ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0) {
    err = errno;
  }
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  if (err != 0) {
    // Put the old text back; the reserved space makes this rewrite of the same range fit.
    if (writeAllAt(fd.get(), std::string_view(old).substr(from), static_cast<off_t>(from)) == 0 &&
        ::ftruncate(fd.get(), static_cast<off_t>(old.size())) == 0) {
      ::fsync(fd.get());
      dropCopy();
    }
    throwErrno(err, path);
  }
  dropCopy();
}

std::string resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string readWholeFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throwErrno(errno, path);
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno(errno, path);
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

int existingFileWriteError(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return 0;
  if ((st.st_mode & 0222) == 0) return EACCES;
  Fd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  return fd.get() < 0 ? errno : 0;
}

bool markInUse(int fd) {
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool removeIfNotInUse(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat held {};
  if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return false;
  if (!markInUse(fd.get())) return false;
  // The name must still be the file whose lock we hold.
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

std::vector<std::string> folderEntryNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

void makeDirectories(const std::string& folder) {
  std::string path;
  size_t pos = 0;
  while (pos <= folder.size()) {
    size_t next = folder.find('/', pos);
    if (next == std::string::npos) next = folder.size();
    path = folder.substr(0, next);
    pos = next + 1;
    if (path.empty()) continue;
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) throwErrno(errno, path);
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) throwErrno(errno, folder);
  if (!S_ISDIR(st.st_mode)) throwErrno(ENOTDIR, folder);
}

std::string readFirstLineBounded(const std::string& path, size_t maxBytes) {
  // Non-blocking open: a link to a pipe must not hang the start-up.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) throw EInOutError::fromErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw EInOutError::fromErrno(errno);
  if (!S_ISREG(st.st_mode)) throw EInOutError(100, "Invalid file format");
  std::string line;
  char buf[4096];
  bool ended = false;
  while (!ended) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EInOutError::fromErrno(errno);
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n && !ended; ++i) {
      ended = buf[i] == '\r' || buf[i] == '\n' || buf[i] == '\x1A';
      if (ended) break;
      if (line.size() == maxBytes) throw EInOutError(100, "Invalid file format");
      line += buf[i];
    }
  }
  if (::close(fd.release()) != 0) throw EInOutError::fromErrno(errno);
  return line;
}

}  // namespace dovra
