#include <dlfcn.h>

#include <utility>

#include "platform/dynamic_library.h"

namespace dovra {

DynamicLibrary::~DynamicLibrary() {
  unload();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    unload();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

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
