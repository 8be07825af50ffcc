// One JSON object per line, built field by field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dovra {

// Escapes text as a JSON string literal (with its quotes). Bytes that are not valid UTF-8
// are taken as Windows-1252 characters, so the output is always valid JSON; a carriage
// return stays "\r".
std::string jsonString(std::string_view text);

class JsonLine {
 public:
  explicit JsonLine(std::string_view event);
  JsonLine& add(std::string_view key, std::string_view value);
  JsonLine& add(std::string_view key, const char* value) {
    return add(key, std::string_view(value));
  }
  JsonLine& add(std::string_view key, const std::string& value) {
    return add(key, std::string_view(value));
  }
  JsonLine& add(std::string_view key, bool value);
  JsonLine& add(std::string_view key, int value);
  JsonLine& add(std::string_view key, int64_t value);
  // A number with one decimal ("5.2").
  JsonLine& add(std::string_view key, double value);
  JsonLine& addNull(std::string_view key);
  // The finished object, without a line end.
  std::string str() const { return text_ + "}"; }

 private:
  std::string text_;
};

}  // namespace dovra
