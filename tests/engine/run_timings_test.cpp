#include "engine/run_timings.h"

#include <gtest/gtest.h>

namespace mirava::engine {
namespace {

using namespace std::chrono_literals;

TEST(RunTimings, PauseTextsAreFormedFromTheTimings) {
  EXPECT_EQ(PauseDurationText(timings::kRateLimitPause), "5 минут");
  EXPECT_EQ(PauseDurationText(timings::kAutoPause), "30 секунд");
}

TEST(RunTimings, PauseTextTakesTheRussianCountForm) {
  const struct {
    std::chrono::milliseconds Duration;
    const char* Text;
  } cases[] = {{1min, "1 минуту"},  {2min, "2 минуты"},   {4min, "4 минуты"},
               {11min, "11 минут"}, {21min, "21 минуту"}, {1s, "1 секунду"},
               {22s, "22 секунды"}, {90s, "90 секунд"},   {112s, "112 секунд"}};
  for (const auto& one : cases) {
    EXPECT_EQ(PauseDurationText(one.Duration), one.Text) << one.Duration.count();
  }
}

TEST(RunTimings, TickMsHoldsTheCountInRange) {
  EXPECT_EQ(TickMs(-5ms), 0u);
  EXPECT_EQ(TickMs(400ms), 400u);
  EXPECT_EQ(TickMs(std::chrono::milliseconds(1LL << 40)), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace mirava::engine
