// A system-wide exclusive lock keyed by a name: the stand-in for a named mutex. The
// lock is a flock() on a file in $XDG_RUNTIME_DIR (else /tmp) whose name is derived from
// the lock's name; the kernel releases it when the process dies, even by kill -9.
#pragma once

#include <memory>
#include <string>

namespace dovra {

class InstanceLock {
 public:
  enum class Outcome { Acquired, AlreadyHeld, Failed };

  // Tries to take the lock named `name` without waiting. On Acquired the returned object
  // holds it until destroyed; on AlreadyHeld another process holds it; Failed means the
  // lock file could not be made (the caller runs on without the guard).
  static std::unique_ptr<InstanceLock> acquire(const std::string& name, Outcome& outcome);

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // File that carries the lock for `name` (visible for tests and diagnostics).
  static std::string lockFilePath(const std::string& name);

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace dovra
