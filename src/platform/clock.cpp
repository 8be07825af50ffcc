#include "platform/clock.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace dovra {
namespace {

constexpr double kMsPerDay = 86400000.0;

std::string twoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads one field of one or two digits; false when there is none.
bool readField(std::string_view text, size_t& i, int& value) {
  int digits = 0;
  value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 2) {
    value = value * 10 + (text[i] - '0');
    ++i;
    ++digits;
  }
  return digits > 0;
}

}  // namespace

double LocalDateTime::timeOfDay() const {
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / kMsPerDay;
}

std::string formatHhNn(const LocalDateTime& t) {
  return twoDigits(t.hour) + ":" + twoDigits(t.minute);
}

std::string formatHhNn(double timeOfDay) {
  const double frac = timeOfDay - std::floor(timeOfDay);
  long long ms = std::llround(frac * kMsPerDay);
  if (ms >= 86400000LL) ms = 0;
  const int hour = static_cast<int>(ms / 3600000);
  const int minute = static_cast<int>(ms / 60000 % 60);
  return twoDigits(hour) + ":" + twoDigits(minute);
}

std::string formatBackupDateTime(const LocalDateTime& t) {
  return twoDigits(t.day) + "/" + twoDigits(t.month) + "/" + twoDigits(t.year % 100) + " - " +
         twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
}

std::string formatBackupStamp(const LocalDateTime& t) {
  return "_" + twoDigits(t.day) + twoDigits(t.month) + twoDigits(t.year % 100) + "_" +
         twoDigits(t.hour) + "_" + twoDigits(t.minute) + "_" + twoDigits(t.second);
}

std::string formatShortDate(const LocalDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.day, t.month, t.year);
  return buf;
}

std::optional<double> parseTimeOfDay(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  int h = 0, n = 0, s = 0;
  if (!readField(text, i, h)) return std::nullopt;
  if (i >= text.size() || text[i] != ':') return std::nullopt;
  ++i;
  if (!readField(text, i, n)) return std::nullopt;
  if (i < text.size() && text[i] == ':') {
    ++i;
    if (!readField(text, i, s)) return std::nullopt;
  }
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i != text.size()) return std::nullopt;
  if (h > 23 || n > 59 || s > 59) return std::nullopt;
  return (h * 3600000.0 + n * 60000.0 + s * 1000.0) / kMsPerDay;
}

}  // namespace dovra
