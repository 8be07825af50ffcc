// A machine-wide exclusive lock keyed by a name: the stand-in for a named mutex. The lock
// is an abstract Unix socket bound to a name derived from the lock's name: every process
// of the machine sees it, whatever its user or runtime folder, nothing on disk can be
// planted or left behind in its place, and the kernel releases it when the holder dies,
// even by kill -9.
//
// $DOVRA_INSTANCE_SCOPE, when set and not empty, becomes part of every derived name, so
// test runs that share a machine keep their guards apart; installations never set it.
#pragma once

#include <memory>
#include <string>

namespace dovra {

class InstanceLock {
 public:
  enum class Outcome { Acquired, AlreadyHeld, Failed };

  // Tries to take the lock named `name` without waiting. On Acquired the returned object
  // holds it until destroyed; on AlreadyHeld another process holds it; Failed means the
  // lock could not be made for another reason (the caller runs on without the guard).
  static std::unique_ptr<InstanceLock> acquire(const std::string& name, Outcome& outcome);

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // The abstract socket name (without its leading NUL) that carries the lock for `name`;
  // at most 107 bytes. Visible for tests and diagnostics.
  static std::string objectName(const std::string& name);

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace dovra
