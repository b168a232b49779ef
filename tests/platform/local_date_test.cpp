#include <ctime>
#include <optional>

#include <gtest/gtest.h>

#include "platform/local_time.h"

namespace mirava::platform {
namespace {

// The days --since takes: those the calendar has, read back as the export writes them.
TEST(LocalDateTest, MidnightsOfRealDaysOnlyAndTheirDatesReadBack) {
  struct Case {
    int year, month, day;
    const char* shown;  // nullptr: no such day
  };
  const Case cases[] = {
      {2026, 12, 1, "01.12.2026"}, {2024, 2, 29, "29.02.2024"}, {2026, 2, 29, nullptr},
      {2026, 4, 31, nullptr},      {2026, 1, 31, "31.01.2026"}, {2000, 12, 31, "31.12.2000"},
  };
  for (const Case& c : cases) {
    const std::optional<std::time_t> midnight = LocalMidnight(c.year, c.month, c.day);
    if (c.shown == nullptr) {
      EXPECT_FALSE(midnight) << c.year << "-" << c.month << "-" << c.day;
      continue;
    }
    ASSERT_TRUE(midnight) << c.shown;
    EXPECT_EQ(FormatLocalDate(*midnight), c.shown);
    EXPECT_NE(FormatLocalDate(*midnight - 1), c.shown);  // the second before is the day before
  }
}

}  // namespace
}  // namespace mirava::platform
