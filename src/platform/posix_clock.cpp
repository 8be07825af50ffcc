#include <sys/time.h>
#include <ctime>

#include "platform/clock.h"

namespace dovra {
namespace {

LocalDateTime localTimeOf(time_t seconds) {
  tm local{};
  localtime_r(&seconds, &local);
  LocalDateTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  return t;
}

}  // namespace

LocalDateTime SystemClock::now() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  LocalDateTime t = localTimeOf(tv.tv_sec);
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return t;
}

LocalDateTime localDateTimeOf(int64_t seconds) {
  return localTimeOf(static_cast<time_t>(seconds));
}

}  // namespace dovra
