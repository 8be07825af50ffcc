// Helpers shared by the Windows implementations of the platform interfaces; included only
// by platform/windows_*.cpp. Texts are UTF-8 in the program and wide strings at the API.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

namespace dovra::win {

// UTF-8 to UTF-16 and back. Invalid input converts with replacement characters.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// A path as the wide-character file functions take it: forward slashes become
// backslashes (paths built by the program may hold either).
std::wstring widePath(std::string_view utf8Path);

// The errno value that stands for a Windows error code in the program's error texts and
// in std::system_error codes (ERROR_FILE_NOT_FOUND -> ENOENT, ERROR_ACCESS_DENIED ->
// EACCES, ERROR_DISK_FULL -> ENOSPC, ...); EIO for codes without a counterpart.
int errnoFromWin32(DWORD code);

// The byte that marks an open file as in use (markInUse, FileHandle's locks): far past any
// real content, so the lock never stands in the way of reading or writing the file itself
// (Windows locks are mandatory).
inline constexpr DWORD kInUseLockOffsetLow = 0xFFFFFFFE;
inline constexpr DWORD kInUseLockOffsetHigh = 0xFFFFFFFF;

// Locks the in-use byte of `file` without waiting, shared or exclusive. Returns 0 or the
// Windows error code (ERROR_LOCK_VIOLATION while another handle holds it).
DWORD lockInUseByte(HANDLE file, bool exclusive);

// The system's text for a Windows error code, without the trailing line break; "" when
// it has none.
std::string systemMessage(DWORD code, HMODULE from = nullptr);

[[noreturn]] void throwLastError(const std::string& what);
[[noreturn]] void throwWin32(DWORD code, const std::string& what);

// The UTF-8 value of an environment variable, "" when it is unset.
std::string environment(const wchar_t* name);

// Owns a kernel handle; INVALID_HANDLE_VALUE and null both mean none.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(Handle&& o) noexcept : h_(o.release()) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset() {
    if (valid()) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace dovra::win
