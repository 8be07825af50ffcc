// The clock and the date/time texts the program shows and compares.
//
// Time is injected: everything that needs "now" takes a Clock, so a test can sit at
// 17:50 or cross midnight without waiting. A time of day is a fraction of a day held as
// a double (0.5 is 12:00); 0 means "not set".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dovra {

struct LocalDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;

  // Fraction of the day: (h*3600000 + n*60000 + s*1000 + ms) / 86400000.
  double timeOfDay() const;
  bool sameDate(const LocalDateTime& other) const {
    return year == other.year && month == other.month && day == other.day;
  }
};

// Source of the current local date and time. Implementations are thread-safe.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime now() const = 0;
};

// The system's local time.
class SystemClock final : public Clock {
 public:
  LocalDateTime now() const override;
};

// The local date and time of `seconds` since 1970 (UTC), such as a file's modification time.
LocalDateTime localDateTimeOf(int64_t seconds);

// "hh:nn" of a date-time (two-digit hour 00-23, colon, two-digit minute).
std::string formatHhNn(const LocalDateTime& t);
// "hh:nn" of a time-of-day fraction, rounded to the millisecond first.
std::string formatHhNn(double timeOfDay);
// "dd/mm/yy - hh:nn:ss", the date and time of the last backup as the labels show it.
std::string formatBackupDateTime(const LocalDateTime& t);
// "_ddmmyy_hh_nn_ss", the stamp of a manual backup's file names.
std::string formatBackupStamp(const LocalDateTime& t);
// "dd/mm/yyyy", the system's short date (Brazilian format).
std::string formatShortDate(const LocalDateTime& t);

// Converts a time text "h:n" or "h:n:s" (one or two digits each, colons as separators,
// surrounding blanks allowed) to a fraction of a day. Hours 0-23, minutes and seconds
// 0-59; anything else (including "25:99" and "  :  ") gives nothing.
std::optional<double> parseTimeOfDay(std::string_view text);

}  // namespace dovra
