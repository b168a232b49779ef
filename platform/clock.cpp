#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace mirava::platform {

std::uint32_t SystemClock::TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  // Only the low 32 bits count: callers compare ticks with TickDiff, which survives the wrap.
  return static_cast<std::uint32_t>(ms);
}

void SystemClock::SleepMs(std::uint32_t ms) {
  timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  // A signal must not cut the sleep short.
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &remaining, &remaining) == EINTR) {
  }
}

std::shared_ptr<IClock> MakeSystemClock() {
  return std::make_shared<SystemClock>();
}

}  // namespace mirava::platform
