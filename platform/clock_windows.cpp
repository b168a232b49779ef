#include <windows.h>

#include "platform/clock.h"

namespace mirava::platform {

std::uint32_t SystemClock::TickCount() {
  // GetTickCount64 truncated reads the same as GetTickCount, without its 49.7-day wrap inside.
  return static_cast<std::uint32_t>(GetTickCount64());
}

void SystemClock::SleepMs(std::uint32_t ms) {
  // Sleep(INFINITE) never returns; the longest finite wait is one less.
  if (ms == INFINITE) {
    Sleep(INFINITE - 1);
    ms = 1;
  }
  Sleep(ms);
}

std::shared_ptr<IClock> MakeSystemClock() {
  return std::make_shared<SystemClock>();
}

}  // namespace mirava::platform
