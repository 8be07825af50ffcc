#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support/fakes.h"

namespace dovra {
namespace {

double hm(int h, int n, int s = 0) {
  return (h * 3600.0 + n * 60 + s) / 86400.0;
}

TEST(TimeText, ParsesHoursMinutesAndOptionalSeconds) {
  EXPECT_DOUBLE_EQ(*parseTimeOfDay("09:30"), hm(9, 30));
  EXPECT_DOUBLE_EQ(*parseTimeOfDay(" 9:30 "), hm(9, 30));
  EXPECT_DOUBLE_EQ(*parseTimeOfDay("09:30:40"), hm(9, 30, 40));
  EXPECT_DOUBLE_EQ(*parseTimeOfDay("00:00"), 0.0);
  EXPECT_DOUBLE_EQ(*parseTimeOfDay("23:59:59"), hm(23, 59, 59));
}

TEST(TimeText, RefusesWhatIsNotATimeOfDay) {
  for (const char* bad : {"25:99", "  :  ", "", "12", "12:", ":30", "12:60", "24:00", "1:2:3:4",
                          "ab:cd", "123:00", "12:00 x"}) {
    EXPECT_FALSE(parseTimeOfDay(bad).has_value()) << bad;
  }
}

TEST(TimeText, FormatsToTheMinuteIgnoringSecondsAndBackupStampsAndDates) {
  EXPECT_EQ(formatHhNn(hm(9, 30, 40)), "09:30");
  EXPECT_EQ(formatHhNn(hm(0, 0)), "00:00");
  EXPECT_EQ(formatHhNn(hm(23, 59, 59)), "23:59");
  // A value a hair below a whole minute (from floating-point arithmetic) still reads right.
  EXPECT_EQ(formatHhNn(hm(16, 30) - 1e-12), "16:30");

  const LocalDateTime t = test::ManualClock::at(2026, 3, 7, 5, 4, 9);
  EXPECT_EQ(formatBackupDateTime(t), "07/03/26 - 05:04:09");
  EXPECT_EQ(formatBackupStamp(t), "_070326_05_04_09");
  EXPECT_EQ(formatShortDate(t), "07/03/2026");
  EXPECT_EQ(formatHhNn(t), "05:04");
  EXPECT_DOUBLE_EQ(t.timeOfDay(), hm(5, 4, 9));
}

// A file's time (seconds since 1970, UTC) in the zone the machine runs in.
TEST(TimeText, AFilesTimeInTheLocalZone) {
#ifndef _WIN32
  const std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
  for (const auto& [zone, hour] : {std::pair{"UTC0", 16}, std::pair{"BRT3", 13}}) {
    setenv("TZ", zone, 1);
    tzset();
    const LocalDateTime t = localDateTimeOf(1765383051);
    EXPECT_EQ(formatBackupDateTime(t), "10/12/25 - " + std::to_string(hour) + ":10:51") << zone;
  }
  saved.empty() ? unsetenv("TZ") : setenv("TZ", saved.c_str(), 1);
  tzset();
#else
  EXPECT_EQ(localDateTimeOf(1765383051).year, 2025);
#endif
}

}  // namespace
}  // namespace dovra
