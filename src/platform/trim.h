// Trimming. Two meanings, each written once:
// - a text (a settings value once read, a database field, a protocol line, an operator's
//   command): the blank and every control character (the bytes up to 0x20) go from both
//   ends;
// - a line of a profile (settings) file, around its names and values: only the white space
//   of a line (blank, tab, CR, VT, FF) goes, so that other control bytes stay part of a
//   value, as the profile functions keep them.
// Bytes above 0x7F are never trimmed, so UTF-8 and Windows-1252 texts keep their accented
// ends.
#pragma once

#include <string>
#include <string_view>

namespace dovra {

// The trimmed part of `text`, pointing into it.
inline std::string_view trimmedView(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

inline std::string trimText(std::string_view text) {
  return std::string(trimmedView(text));
}

// The part of a profile file's line, name or value without its white space, pointing into
// it.
inline std::string_view trimmedProfileView(std::string_view text) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
  };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace dovra
