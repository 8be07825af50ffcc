// An ordered list of text lines, used for the "name=value" parameter lines of database
// and service connections and for the file lists of backup and restore requests.
//
// A line's name is the text before its first "=" (empty when it has none), its value the
// text after it. Names compare without regard to ASCII case. Setting a value through
// SetValue replaces the first line with that name, appends "name=value" when there is
// none, and removes the line when the value is empty.
//
// An owner may install a guard that runs before every change and refuses it by throwing
// (a service connection refuses parameter changes while it is attached).
//
// Not thread-safe: the owner's thread (or the holder of the owner's lock) uses it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dovra {

class StringList {
 public:
  StringList() = default;
  StringList(std::initializer_list<std::string> lines) : lines_(lines) {}
  // Copies take the lines only; an assignment is a change of the target (its guard runs
  // and stays).
  StringList(const StringList& other) : lines_(other.lines_) {}
  StringList& operator=(const StringList& other) {
    changing();
    lines_ = other.lines_;
    return *this;
  }

  void Clear();
  void Add(std::string line);
  size_t Count() const { return lines_.size(); }
  const std::string& operator[](size_t index) const { return lines_.at(index); }
  const std::vector<std::string>& Lines() const { return lines_; }

  // Text before the first "=" of line `index`; empty when the line has no "=".
  std::string Names(size_t index) const;
  // Text after the first "=" of line `index`; empty when the line has no "=".
  std::string ValueFromIndex(size_t index) const;
  // Index of the first line whose name equals `name` (ASCII case ignored), or -1.
  long IndexOfName(std::string_view name) const;
  // Value of the first line named `name`; empty when there is none.
  std::string Values(std::string_view name) const;
  // Sets the value of the line named `name`; an empty value removes that line.
  void SetValue(std::string_view name, std::string_view value);

  // Runs before every change; throwing from it refuses the change.
  void setChangeGuard(std::function<void()> guard) { guard_ = std::move(guard); }

 private:
  void changing() const {
    if (guard_) guard_();
  }
  std::vector<std::string> lines_;
  std::function<void()> guard_;
};

}  // namespace dovra
