#pragma once
// Polls a condition that another thread makes true, with a bound that only a broken test reaches.
#include <chrono>
#include <functional>
#include <thread>

namespace mirava::testing {

inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace mirava::testing
