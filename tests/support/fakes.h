// Fakes for unit tests of the shell: a manual clock and scripted dialogs.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/dialogs.h"
#include "platform/clock.h"

namespace dovra::test {

// A clock that stands still until told otherwise. Thread-safe.
class ManualClock final : public Clock {
 public:
  ManualClock() : now_(at(2026, 12, 8, 8, 0, 0, 0)) {}
  LocalDateTime now() const override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void set(const LocalDateTime& t) {
    std::lock_guard lock(mutex_);
    now_ = t;
  }
  void setTime(int h, int n, int s = 0, int ms = 0) {
    std::lock_guard lock(mutex_);
    now_.hour = h;
    now_.minute = n;
    now_.second = s;
    now_.millisecond = ms;
  }
  static LocalDateTime at(int y, int mo, int d, int h, int n, int s, int ms = 0) {
    LocalDateTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = n;
    t.second = s;
    t.millisecond = ms;
    return t;
  }

 private:
  mutable std::mutex mutex_;
  LocalDateTime now_;
};

// Dialogs that record what was shown and answer from a queue (ok/no/cancel when empty).
class ScriptedDialogs final : public Dialogs {
 public:
  struct Shown {
    std::string kind;  // "message", "open", "folder"
    std::string caption;
    std::string text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
  };

  void answer(std::string a) { answers_.push_back(std::move(a)); }

  MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                           MessageButtons buttons) override;
  std::optional<std::string> openFile(const FileDialogOptions& options) override;
  std::optional<std::string> browseFolder(const std::string& title) override;

  std::vector<Shown> shown;
  // Texts of the message boxes only, in order.
  std::vector<std::string> messages() const;

 private:
  std::optional<std::string> take();
  std::deque<std::string> answers_;
};

}  // namespace dovra::test
