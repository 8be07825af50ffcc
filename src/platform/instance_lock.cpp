#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace dovra {

std::string InstanceLock::lockFilePath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = runtime && *runtime ? runtime : "/tmp";
  // Any byte may appear in the name: keep letters and digits, escape the rest.
  std::string file = "backupdovra-";
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      file += hex[c >> 4];
      file += hex[c & 15];
    }
  }
  if (file.size() > 180) {
    // Keep under NAME_MAX; a hash of the whole name keeps long names apart.
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ULL;
    file.resize(160);
    file += '-';
    for (int shift = 60; shift >= 0; shift -= 4) file += hex[(h >> shift) & 15];
  }
  return dir + "/" + file + ".lock";
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name, Outcome& outcome) {
  const std::string path = lockFilePath(name);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    outcome = Outcome::Failed;
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    outcome = err == EWOULDBLOCK ? Outcome::AlreadyHeld : Outcome::Failed;
    return nullptr;
  }
  outcome = Outcome::Acquired;
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace dovra
