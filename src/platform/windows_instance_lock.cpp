#include "platform/instance_lock.h"
#include "platform/instance_names.h"

#include <cstdint>

#include "platform/windows_support.h"

namespace dovra {

std::string InstanceLock::objectName(const std::string& name) {
  // A mutex name may hold any character but "\": escape it (and the escape character, so
  // that names stay apart).
  std::string object;
  const std::string scope = win::environment(L"DOVRA_INSTANCE_SCOPE");
  if (!scope.empty()) object += instanceScopeHash(scope) + "_";
  for (const char c : name) {
    if (c == '\\' || c == '%') {
      appendHexEscape(object, static_cast<unsigned char>(c));
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
