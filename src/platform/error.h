// The program's base exception class. Every failure the program reports carries the
// message text the operator sees (the system's own texts, exactly as they are shown).
#pragma once

#include <stdexcept>
#include <string>

namespace dovra {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Input/output failure of a text-file operation ("File not found", "File access denied",
// "I/O error %d"), as the runtime reports it.
class EInOutError : public Exception {
 public:
  EInOutError(int errorCode, const std::string& message)
      : Exception(message), errorCode_(errorCode) {}
  int errorCode() const { return errorCode_; }

  // Builds the error for an errno value with the runtime's texts.
  static EInOutError fromErrno(int err);

 private:
  int errorCode_;
};

// The system's text for an errno value, as the operator sees it after a file or socket
// failure ("No such file or directory"). Thread-safe.
std::string systemErrorText(int err);

}  // namespace dovra
