#include <sys/time.h>
#include <ctime>

#include "platform/clock.h"

namespace dovra {

LocalDateTime SystemClock::now() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  LocalDateTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return t;
}

LocalDateTime localDateTimeOf(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  tm local{};
  localtime_r(&t, &local);
  LocalDateTime out;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  return out;
}

}  // namespace dovra
