#include "engine/run_timings.h"

#include <algorithm>
#include <limits>

namespace mirava::engine {

namespace {

// The accusative after a number: 1 минуту, 2 минуты, 5 минут, 21 минуту, 11 минут.
const char* Form(long long count, const char* one, const char* few, const char* many) {
  const long long last_two = count % 100;
  const long long last = count % 10;
  if (last_two >= 11 && last_two <= 14) {
    return many;
  }
  if (last == 1) {
    return one;
  }
  if (last >= 2 && last <= 4) {
    return few;
  }
  return many;
}

}  // namespace

std::string PauseDurationText(std::chrono::milliseconds duration) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(duration);
  if (minutes.count() > 0 && minutes == duration) {
    return std::to_string(minutes.count()) + " " +
           Form(minutes.count(), "минуту", "минуты", "минут");
  }
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  return std::to_string(seconds) + " " + Form(seconds, "секунду", "секунды", "секунд");
}

std::uint32_t TickMs(std::chrono::milliseconds duration) {
  return static_cast<std::uint32_t>(
      std::clamp<long long>(duration.count(), 0, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace mirava::engine
