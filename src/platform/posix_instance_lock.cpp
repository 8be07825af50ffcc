#include "platform/instance_lock.h"
#include "platform/instance_names.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace dovra {

std::string InstanceLock::objectName(const std::string& name) {
  std::string object = "backupdovra/";
  const char* scope = std::getenv("DOVRA_INSTANCE_SCOPE");
  if (scope && *scope) object += instanceScopeHash(scope) + "/";
  // Any byte may appear in the name: keep letters and digits, escape the rest.
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      object += static_cast<char>(c);
    } else {
      appendHexEscape(object, c);
    }
  }
  constexpr size_t kMax = sizeof(sockaddr_un::sun_path) - 1;
  if (object.size() > kMax) {
    // A hash of the whole name keeps long names apart.
    const std::string tail = "#" + instanceScopeHash(name);
    object.resize(kMax - tail.size());
    object += tail;
  }
  return object;
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name, Outcome& outcome) {
  const std::string object = objectName(name);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    outcome = Outcome::Failed;
    return nullptr;
  }
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, then the name; the length bounds it (no terminator).
  std::memcpy(addr.sun_path + 1, object.data(), object.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + object.size());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    const int err = errno;
    close(fd);
    outcome = err == EADDRINUSE ? Outcome::AlreadyHeld : Outcome::Failed;
    return nullptr;
  }
  outcome = Outcome::Acquired;
  return std::unique_ptr<InstanceLock>(new InstanceLock(static_cast<std::intptr_t>(fd)));
}

InstanceLock::~InstanceLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

}  // namespace dovra
