// A shared library loaded at run time, and the addresses of its entry points.
//
// The library stays loaded while the object lives; addresses taken from it are valid as
// long. Loading and looking up are thread-safe; one object is used by one thread at a time.
#pragma once

#include <string>
#include <utility>

namespace dovra {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Unloads the library.
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads `name`: a path, or a bare name found through the system's search path for
  // libraries. Every entry point it needs is bound at once, and its own symbols are not
  // offered to libraries loaded later. Returns false when it cannot be loaded;
  // errorText() then says why.
  bool load(const std::string& name);
  bool loaded() const { return handle_ != nullptr; }
  // The address of `symbol`, nullptr when the library has no such entry point.
  void* symbol(const char* symbol) const;
  // The system's description of why the last load() failed.
  const std::string& errorText() const { return error_; }
  // Unloads the library now; nothing happens when none is loaded.
  void unload();
  // Keeps the library loaded for the rest of the process: the object forgets it.
  void release() { handle_ = nullptr; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// Ownership moves the same way on every system.
inline DynamicLibrary::~DynamicLibrary() {
  unload();
}

inline DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

inline DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    unload();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

}  // namespace dovra
