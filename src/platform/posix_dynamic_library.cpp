#include <dlfcn.h>

#include <utility>

#include "platform/dynamic_library.h"

namespace dovra {

bool DynamicLibrary::load(const std::string& name) {
  unload();
  handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* text = ::dlerror();
    error_ = text != nullptr ? text : "";
    return false;
  }
  error_.clear();
  return true;
}

void* DynamicLibrary::symbol(const char* symbol) const {
  return handle_ != nullptr ? ::dlsym(handle_, symbol) : nullptr;
}

void DynamicLibrary::unload() {
  if (handle_ != nullptr) ::dlclose(std::exchange(handle_, nullptr));
}

}  // namespace dovra
