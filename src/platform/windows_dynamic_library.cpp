#include <utility>

#include "platform/dynamic_library.h"
#include "platform/windows_support.h"

namespace dovra {

bool DynamicLibrary::load(const std::string& name) {
  unload();
  const std::wstring wide = win::widePath(name);
  // A path loads the libraries it needs from its own folder first; a bare name is found
  // through the system's search order. No error box interrupts a failed load.
  const DWORD flags = wide.find(L'\\') != std::wstring::npos ? LOAD_WITH_ALTERED_SEARCH_PATH : 0;
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, flags);
  const DWORD err = GetLastError();
  SetThreadErrorMode(oldMode, nullptr);
  if (module == nullptr) {
    error_ = win::systemMessage(err);
    if (error_.empty()) error_ = "error " + std::to_string(err);
    return false;
  }
  handle_ = module;
  error_.clear();
  return true;
}

void* DynamicLibrary::symbol(const char* symbol) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), symbol));
}

void DynamicLibrary::unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)));
}

}  // namespace dovra
