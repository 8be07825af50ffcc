#include "firebird/string_list.h"

namespace dovra {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void StringList::Clear() {
  changing();
  lines_.clear();
}

void StringList::Add(std::string line) {
  changing();
  lines_.push_back(std::move(line));
}

std::string StringList::Names(size_t index) const {
  const std::string& line = lines_.at(index);
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string StringList::ValueFromIndex(size_t index) const {
  const std::string& line = lines_.at(index);
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

long StringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const size_t eq = lines_[i].find('=');
    if (eq == std::string::npos) continue;
    if (equalsIgnoringCase(std::string_view(lines_[i]).substr(0, eq), name)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

std::string StringList::Values(std::string_view name) const {
  const long index = IndexOfName(name);
  return index < 0 ? std::string() : ValueFromIndex(static_cast<size_t>(index));
}

void StringList::SetValue(std::string_view name, std::string_view value) {
  changing();
  const long index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) lines_.erase(lines_.begin() + index);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (index >= 0) {
    lines_[static_cast<size_t>(index)] = std::move(line);
  } else {
    lines_.push_back(std::move(line));
  }
}

}  // namespace dovra
