#include "platform/ini_file.h"

#include <cerrno>
#include <system_error>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "platform/trim.h"

namespace dovra {
namespace {

unsigned char fold(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // accented capitals
  return c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The section name of a header line, or false when the line is not a header.
bool headerName(std::string_view line, std::string_view& name) {
  line = trimmedProfileView(line);
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  const size_t close = line.find(']');
  name = trimmedProfileView(close == std::string_view::npos ? line : line.substr(0, close));
  return true;
}

bool isComment(std::string_view line) {
  line = trimmedProfileView(line);
  return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// Splits "key=value"; false when the line holds no "=" or is a comment.
bool keyValue(std::string_view line, std::string_view& key, size_t& valueOffset) {
  if (isComment(line)) return false;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = trimmedProfileView(line.substr(0, eq));
  valueOffset = eq + 1;
  return !key.empty();
}

std::string_view unquote(std::string_view v) {
  v = trimmedProfileView(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

std::string singleLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

IniDocument::IniDocument(std::string bytes) : bytes_(std::move(bytes)) {
  split();
}

void IniDocument::split() {
  lines_.clear();
  size_t pos = 0;
  while (pos < bytes_.size()) {
    Line l;
    l.begin = pos;
    const size_t nl = bytes_.find('\n', pos);
    if (nl == std::string::npos) {
      l.end = l.next = bytes_.size();
    } else {
      l.end = nl;
      l.next = nl + 1;
      if (l.end > l.begin && bytes_[l.end - 1] == '\r') --l.end;
    }
    lines_.push_back(l);
    pos = l.next;
  }
}

std::string IniDocument::lineEnding() const {
  const size_t nl = bytes_.find('\n');
  if (nl == std::string::npos) return "\r\n";
  return nl > 0 && bytes_[nl - 1] == '\r' ? "\r\n" : "\n";
}

long IniDocument::findSection(std::string_view section) const {
  const std::string_view wanted = trimmedProfileView(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (headerName(content(lines_[i]), name) && sameName(name, wanted)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

long IniDocument::findKey(long h, std::string_view key) const {
  const std::string_view wanted = trimmedProfileView(key);
  for (size_t i = static_cast<size_t>(h) + 1; i < lines_.size(); ++i) {
    std::string_view name;
    if (headerName(content(lines_[i]), name)) break;
    std::string_view k;
    size_t off;
    if (keyValue(content(lines_[i]), k, off) && sameName(k, wanted)) return static_cast<long>(i);
  }
  return -1;
}

std::string IniDocument::value(std::string_view section, std::string_view key) const {
  const long h = findSection(section);
  if (h < 0) return {};
  const long k = findKey(h, key);
  if (k < 0) return {};
  std::string_view kname;
  size_t off;
  const std::string_view line = content(lines_[static_cast<size_t>(k)]);
  keyValue(line, kname, off);
  return std::string(unquote(line.substr(off)));
}

bool IniDocument::hasKey(std::string_view section, std::string_view key) const {
  const long h = findSection(section);
  return h >= 0 && findKey(h, key) >= 0;
}

bool IniDocument::hasSection(std::string_view section) const {
  const long h = findSection(section);
  if (h < 0) return false;
  for (size_t i = static_cast<size_t>(h) + 1; i < lines_.size(); ++i) {
    std::string_view name;
    if (headerName(content(lines_[i]), name)) break;
    std::string_view k;
    size_t off;
    if (keyValue(content(lines_[i]), k, off)) return true;
  }
  return false;
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
  const std::string v = singleLine(value);
  const std::string eol = lineEnding();
  const long h = findSection(section);
  if (h >= 0) {
    const long k = findKey(h, key);
    if (k >= 0) {
      // Replace the value only: the key's spelling and the blanks after "=" stay.
      const Line& l = lines_[static_cast<size_t>(k)];
      const std::string_view line = content(l);
      size_t start = line.find('=') + 1;
      while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
      bytes_.replace(l.begin + start, l.end - (l.begin + start), v);
    } else {
      // After the section's last non-blank line.
      size_t last = static_cast<size_t>(h);
      for (size_t i = last + 1; i < lines_.size(); ++i) {
        std::string_view name;
        if (headerName(content(lines_[i]), name)) break;
        if (!trimmedProfileView(content(lines_[i])).empty()) last = i;
      }
      const Line& l = lines_[last];
      std::string insert = std::string(trimmedProfileView(key)) + "=" + v + eol;
      size_t at = l.next;
      if (l.next == l.end) {  // last line of the file without a line ending
        insert = eol + insert;
        at = l.end;
      }
      bytes_.insert(at, insert);
    }
  } else {
    std::string add;
    if (!bytes_.empty() && bytes_.back() != '\n') add += eol;
    add += "[" + std::string(trimmedProfileView(section)) + "]" + eol +
           std::string(trimmedProfileView(key)) + "=" + v + eol;
    bytes_ += add;
  }
  split();
}

bool ProfileFile::exists() const {
  return fileExists(path_);
}

IniDocument ProfileFile::load() const {
  try {
    return IniDocument(readWholeFile(path_));
  } catch (const std::system_error&) {
    return IniDocument();
  }
}

std::string ProfileFile::readRaw(std::string_view section, std::string_view key) const {
  return load().value(section, key);
}

std::string ProfileFile::readString(std::string_view section, std::string_view key) const {
  return cp1252ToUtf8(readRaw(section, key));
}

bool ProfileFile::sectionExists(std::string_view section) const {
  return load().hasSection(section);
}

void ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) {
  std::string bytes;
  try {
    bytes = readWholeFile(path_);
  } catch (const std::system_error& e) {
    // A missing file is created; an unreadable one must not be replaced by a stub.
    if (e.code().value() != ENOENT) throw Exception("Unable to write to " + path_);
  }
  IniDocument doc(std::move(bytes));
  doc.setValue(utf8ToCp1252(section), utf8ToCp1252(key), utf8ToCp1252(value));
  // The file belongs to the ERP: an existing one is changed in place, so its owner, group,
  // mode, hard links and symbolic links stay as they were and a file we may write is
  // written even in a folder we may not. Only a missing file is created, atomically.
  try {
    rewriteFileInPlace(path_, doc.bytes());
  } catch (const std::system_error& e) {
    if (e.code().value() != ENOENT) throw Exception("Unable to write to " + path_);
    try {
      writeFileAtomically(resolvedPath(path_), doc.bytes());
    } catch (const std::system_error&) {
      throw Exception("Unable to write to " + path_);
    }
  }
}

}  // namespace dovra
