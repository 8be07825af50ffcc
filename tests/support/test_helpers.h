// Small helpers shared by the test suites: an environment variable set for one scope,
// deterministic test bytes and the message of a failure.
#pragma once

#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

namespace dovra::test {

// Sets or (with a null value) removes an environment variable of this process; the
// program's own lookups and started programs see the change.
inline void setEnvironment(const std::string& name, const char* value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value ? value : "");
#else
  if (value) {
    ::setenv(name.c_str(), value, 1);
  } else {
    ::unsetenv(name.c_str());
  }
#endif
}

// Sets `name` to `value` (unsets it when `value` is null) and puts the old state back when
// the object dies.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    setEnvironment(name_, value);
  }
  ScopedEnv(std::string name, const std::string& value)
      : ScopedEnv(std::move(name), value.c_str()) {}
  ~ScopedEnv() { setEnvironment(name_, old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Deterministic bytes; different seeds give different contents.
inline std::string pattern(size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  unsigned x = seed * 2654435761u + 12345u;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<char>(x >> 24);
  }
  return bytes;
}

// The message of the exception of type E that `fn` throws, or "" when it throws none; an
// exception of another type passes through (and fails the test).
template <typename E = std::exception, typename Fn>
std::string errorText(Fn&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  }
  return {};
}

}  // namespace dovra::test
