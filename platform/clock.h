#pragma once
// The millisecond tick source and sleeping, behind one interface so tests can run the waits of
// a run on a fake clock.
#include <cstdint>
#include <memory>

namespace mirava::platform {

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t TickCount() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

// Milliseconds from `then` to `now`, correct across one wrap of the counter.
inline std::uint32_t TickDiff(std::uint32_t now, std::uint32_t then) {
  return now - then;
}

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits; real sleeps.
class SystemClock final : public IClock {
 public:
  std::uint32_t TickCount() override;
  void SleepMs(std::uint32_t ms) override;
};

std::shared_ptr<IClock> MakeSystemClock();

}  // namespace mirava::platform
