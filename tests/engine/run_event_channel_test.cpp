// The run's one way out: order, the kept log as the pane shows it, and refused events.
#include "engine/run_event_channel.h"

#include <clocale>
#include <memory>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/platform/local_time.h"
#include "tests/support/test_window.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;

TEST(RunEventChannel, StampsLinesAndKeepsThemAsThePaneShowsThem) {
  auto events = std::make_shared<EventRecorder>();
  engine::RunEventChannel channel(events, [] { return std::string("01.02.2026 03:04:05"); });
  channel.Line("до начала");
  channel.Busy(true);  // a new run's log starts here, in the pane and in the kept lines
  channel.Line("первая\r\nвторая\rтретья");
  channel.WorkerLine("user:secret@10.0.0.1:3128", "Запускаем http://x/");
  channel.Line("a\u00A0b\u2028c");

  EXPECT_THAT(events->Log(), ElementsAre("01.02.2026 03:04:05: первая\r\nвторая\rтретья",
                                         "01.02.2026 03:04:05 (10.0.0.1:3128): Запускаем http://x/",
                                         "01.02.2026 03:04:05: a\u00A0b\u2028c"));
  EXPECT_EQ(channel.LogText(),
            "01.02.2026 03:04:05: первая\nвторая\nтретья\n"
            "01.02.2026 03:04:05 (10.0.0.1:3128): Запускаем http://x/\n"
            "01.02.2026 03:04:05: a b\nc");
}

// A line the front end refused was never shown, so the log file leaves it out too; the failure
// reaches the announcing step.
TEST(RunEventChannel, RefusedLineIsNotKept) {
  auto events = std::make_shared<EventRecorder>();
  engine::RunEventChannel channel(events, [] { return std::string("t"); });
  events->FailEvents([](const std::string& event) -> std::optional<std::string> {
    if (event.find("нет") != std::string::npos) {
      return "отказ";
    }
    return std::nullopt;
  });
  channel.Line("да");
  EXPECT_THROW(channel.Line("нет"), std::runtime_error);
  channel.Line("снова");
  EXPECT_EQ(channel.LogText(), "t: да\nt: снова");
}

TEST(RunEventChannel, ProgressHintHoldsThePositionInRange) {
  EXPECT_EQ(engine::ProgressHint(3, 10), "3 из 10, осталось 7");
  EXPECT_EQ(engine::ProgressHint(12, 10), "10 из 10, осталось 0");
  EXPECT_EQ(engine::ProgressHint(-1, 10), "0 из 10, осталось 10");
  EXPECT_EQ(engine::ProgressHint(0, -5), "0 из 0, осталось 0");
}

// Without a toolkit the C library's locale gives the format; the C and POSIX locales give the
// Russian numeric form instead of the American one; midnight leaves the time out.
TEST(LocalTimestamp, CLocaleGivesTheRussianNumericFormAndMidnightLeavesTheTimeOut) {
  const std::string previous = std::setlocale(LC_TIME, nullptr);
  std::setlocale(LC_TIME, "C");
  std::tm parts{};
  parts.tm_year = 2026 - 1900;
  parts.tm_mon = 2;
  parts.tm_mday = 9;
  parts.tm_hour = 7;
  parts.tm_min = 5;
  parts.tm_sec = 3;
  parts.tm_isdst = -1;
  const std::time_t morning = std::mktime(&parts);
  parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
  parts.tm_isdst = -1;
  const std::time_t midnight = std::mktime(&parts);
  EXPECT_EQ(engine::platform::FormatLocalTimestamp(morning), "09.03.2026 7:05:03");
  EXPECT_EQ(engine::platform::FormatLocalTimestamp(midnight), "09.03.2026");
  std::setlocale(LC_TIME, "POSIX");
  EXPECT_EQ(engine::platform::FormatLocalTimestamp(morning), "09.03.2026 7:05:03");
  std::setlocale(LC_TIME, previous.c_str());
}

}  // namespace
}  // namespace mirava::testing
