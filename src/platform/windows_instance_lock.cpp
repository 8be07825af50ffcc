#include "platform/instance_lock.h"

#include <cstdint>

#include "platform/windows_support.h"

namespace dovra {
namespace {

const char* const kHex = "0123456789ABCDEF";

std::string hashHex(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  std::string out;
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(h >> shift) & 15];
  return out;
}

}  // namespace

std::string InstanceLock::objectName(const std::string& name) {
  // A mutex name may hold any character but "\": escape it (and the escape character, so
  // that names stay apart).
  std::string object;
  const std::string scope = win::environment(L"DOVRA_INSTANCE_SCOPE");
  if (!scope.empty()) object += hashHex(scope) + "_";
  for (const char c : name) {
    if (c == '\\' || c == '%') {
      object += '%';
      object += kHex[static_cast<unsigned char>(c) >> 4];
      object += kHex[static_cast<unsigned char>(c) & 15];
    } else {
      object += c;
    }
  }
  return object;
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name, Outcome& outcome) {
  // In the global namespace, so every session of the machine (another user's desktop, a
  // remote desktop) sees the same guard.
  const std::wstring object = L"Global\\" + win::widen(objectName(name));
  HANDLE mutex = CreateMutexW(nullptr, TRUE, object.c_str());
  const DWORD err = GetLastError();
  if (mutex == nullptr) {
    // Another user's mutex that this user may not open exists all the same.
    outcome = err == ERROR_ACCESS_DENIED ? Outcome::AlreadyHeld : Outcome::Failed;
    return nullptr;
  }
  if (err == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    outcome = Outcome::AlreadyHeld;
    return nullptr;
  }
  outcome = Outcome::Acquired;
  return std::unique_ptr<InstanceLock>(new InstanceLock(reinterpret_cast<std::intptr_t>(mutex)));
}

InstanceLock::~InstanceLock() {
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

}  // namespace dovra
