// The settings file: Windows INI text with the Windows profile-function semantics, kept
// byte for byte.
//
// Lookup: section and key names compare without regard to case (ASCII and the accented
// letters of Windows-1252), surrounding blanks are ignored, the first matching section and
// the first matching key in it win, a value loses its surrounding blanks and one pair of
// matching surrounding quotes, a missing key reads as "". Lines that are not a section
// header or "key=value" (comments, junk, keys without "=") are kept but never match.
//
// Writes change one value and nothing else: every other section, key, comment, blank line,
// line order and line ending survives byte for byte. A missing key is added at the end of
// its section, a missing section at the end of the file, with the file's own line ending
// (CR LF for a new file, as the ERP's Windows installations write it).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovra {

// An INI document in memory, as raw bytes (Windows-1252). Not thread-safe.
class IniDocument {
 public:
  explicit IniDocument(std::string bytes = {});

  // The raw value of section/key, or "" when either is missing.
  std::string value(std::string_view section, std::string_view key) const;
  // True when the key exists (even with an empty value).
  bool hasKey(std::string_view section, std::string_view key) const;
  // True when the section exists and holds at least one key: a bare header counts as no
  // section, as the program's settings reader has always seen it.
  bool hasSection(std::string_view section) const;
  // Sets the raw value, creating the section and the key when missing. Line breaks in
  // the value are replaced by blanks, so a value can never add lines to the file.
  void setValue(std::string_view section, std::string_view key, std::string_view value);

  const std::string& bytes() const { return bytes_; }

 private:
  struct Line {
    size_t begin = 0, end = 0;  // content, without the line ending
    size_t next = 0;            // first byte of the following line
  };
  void split();
  // Index of the first header line of `section`, or -1.
  long findSection(std::string_view section) const;
  // Index of the key line within the section starting at header `h`, or -1.
  long findKey(long h, std::string_view key) const;
  std::string_view content(const Line& l) const {
    return std::string_view(bytes_).substr(l.begin, l.end - l.begin);
  }
  std::string lineEnding() const;

  std::string bytes_;
  std::vector<Line> lines_;
};

// A settings file on disk, opened, read or written and closed on each access (no cache).
// Texts are UTF-8 in memory and Windows-1252 on disk. An existing file is written in place
// (see rewriteFileInPlace): it keeps its owner, group, mode, inode and links, and needs
// write permission on the file only; a missing one is created atomically.
class ProfileFile {
 public:
  explicit ProfileFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  bool exists() const;
  // The value as UTF-8, "" when the file, the section or the key is missing or unreadable.
  std::string readString(std::string_view section, std::string_view key) const;
  // The value's raw bytes, for values that are scrambled byte by byte.
  std::string readRaw(std::string_view section, std::string_view key) const;
  bool sectionExists(std::string_view section) const;
  // Writes a UTF-8 value. Throws dovra::Exception("Unable to write to <path>") when the
  // file cannot be written; the file then keeps its old content.
  void writeString(std::string_view section, std::string_view key, std::string_view value);

 private:
  IniDocument load() const;
  std::string path_;
};

}  // namespace dovra
