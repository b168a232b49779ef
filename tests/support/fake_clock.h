#pragma once
// A tick source for tests: time moves only when somebody sleeps or the test advances it, so
// waits of minutes take milliseconds. Every sleep also yields the real thread briefly, so other
// threads keep running.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace mirava::testing {

class FakeClock final : public platform::IClock {
 public:
  explicit FakeClock(std::uint32_t start = 1000000,
                     std::chrono::microseconds real_sleep = std::chrono::microseconds(200))
      : tick_(start), real_sleep_(real_sleep) {}

  std::uint32_t TickCount() override { return tick_.load(); }

  void SleepMs(std::uint32_t ms) override {
    tick_.fetch_add(ms);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      sleeps_.push_back(ms);
    }
    std::this_thread::sleep_for(real_sleep_);
  }

  void Advance(std::uint32_t ms) { tick_.fetch_add(ms); }
  void Set(std::uint32_t tick) { tick_.store(tick); }

  std::vector<std::uint32_t> Sleeps() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleeps_;
  }

 private:
  std::atomic<std::uint32_t> tick_;
  std::chrono::microseconds real_sleep_;
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace mirava::testing
