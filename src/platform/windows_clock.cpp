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

}  // namespace dovra
