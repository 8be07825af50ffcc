// A machine-wide exclusive lock keyed by a name, released by the system when the holder
// dies, however it dies.
//
// On Windows it is the named mutex itself (CreateMutex; ERROR_ALREADY_EXISTS means another
// process holds it). On Linux it is an abstract Unix socket bound to a name derived from
// the lock's name: every process of the machine sees it, whatever its user or runtime
// folder, and nothing on disk can be planted or left behind in its place.
//
// $DOVRA_INSTANCE_SCOPE, when set and not empty, becomes part of every derived name, so
// test runs that share a machine keep their guards apart; installations never set it.
#pragma once

#include <cstdint>
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

  // The system object that carries the lock for `name`: on Linux the abstract socket name
  // (without its leading NUL, at most 107 bytes); on Windows the mutex name, `name` itself
  // (prefixed by the scope when one is set). Visible for tests and diagnostics.
  static std::string objectName(const std::string& name);

 private:
  explicit InstanceLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;  // the socket descriptor, or the mutex HANDLE
};

}  // namespace dovra
