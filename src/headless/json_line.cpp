#include "headless/json_line.h"

#include <cstdio>

#include "platform/text_codec.h"

namespace dovra {
namespace {

// Length of a valid UTF-8 sequence at s[i], or 0.
size_t validSequence(std::string_view s, size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  size_t len = b0 < 0x80             ? 1
               : (b0 & 0xE0) == 0xC0 ? 2
               : (b0 & 0xF0) == 0xE0 ? 3
               : (b0 & 0xF8) == 0xF0 ? 4
                                     : 0;
  if (len == 0 || i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  if (len == 2 && b0 < 0xC2) return 0;  // overlong
  return len;
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
          } else {
            out += c;
          }
      }
      ++i;
      continue;
    }
    const size_t len = validSequence(text, i);
    if (len) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += cp1252ToUtf8(text.substr(i, 1));
      ++i;
    }
  }
  return out + "\"";
}

JsonLine::JsonLine(std::string_view event) : text_("{\"event\":" + jsonString(event)) {}

JsonLine& JsonLine::add(std::string_view key, std::string_view value) {
  text_ += "," + jsonString(key) + ":" + jsonString(value);
  return *this;
}

JsonLine& JsonLine::add(std::string_view key, bool value) {
  text_ += "," + jsonString(key) + ":" + (value ? "true" : "false");
  return *this;
}

JsonLine& JsonLine::add(std::string_view key, int value) {
  text_ += "," + jsonString(key) + ":" + std::to_string(value);
  return *this;
}

JsonLine& JsonLine::add(std::string_view key, int64_t value) {
  text_ += "," + jsonString(key) + ":" + std::to_string(value);
  return *this;
}

JsonLine& JsonLine::add(std::string_view key, double value) {
  char number[32];
  std::snprintf(number, sizeof number, "%.1f", value);
  text_ += "," + jsonString(key) + ":" + number;
  return *this;
}

JsonLine& JsonLine::addNull(std::string_view key) {
  text_ += "," + jsonString(key) + ":null";
  return *this;
}

}  // namespace dovra
