#include <windows.h>

#include "platform/clock.h"

namespace dovra {

LocalDateTime SystemClock::now() const {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  LocalDateTime t;
  t.year = local.wYear;
  t.month = local.wMonth;
  t.day = local.wDay;
  t.hour = local.wHour;
  t.minute = local.wMinute;
  t.second = local.wSecond;
  t.millisecond = local.wMilliseconds;
  return t;
}

LocalDateTime localDateTimeOf(int64_t seconds) {
  constexpr int64_t kStepsTo1970 = 116444736000000000LL;
  const uint64_t steps = static_cast<uint64_t>(seconds * 10000000 + kStepsTo1970);
  FILETIME utc{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
  SYSTEMTIME utcTime{}, local{};
  FileTimeToSystemTime(&utc, &utcTime);
  SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local);
  LocalDateTime out;
  out.year = local.wYear;
  out.month = local.wMonth;
  out.day = local.wDay;
  out.hour = local.wHour;
  out.minute = local.wMinute;
  out.second = local.wSecond;
  return out;
}

}  // namespace dovra
