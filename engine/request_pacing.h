#pragma once
// Direct requests go out one at a time across every worker and every instance of the program
// (the named lock), each at least an interval after the previous one ended (LastRequestTick).
#include <atomic>
#include <cstdint>

#include "engine/platform/clock.h"
#include "engine/platform/named_lock.h"

namespace mirava::engine {

inline constexpr const char* kRequestMutexName = "MiravaParserMutex";

// Process-wide: one instance lives as long as the program; every run resets it at set-up.
struct PacingState {
  std::atomic<std::uint32_t> LastRequestTick{0};
};

// A direct request's turn. Construction waits for the lock (no time limit, stop not looked at),
// then polls every `poll_ms` until `interval_ms` have passed since LastRequestTick or `stop` is
// set. Destruction ends the turn: LastRequestTick := now, then the lock is released. Throws
// std::system_error when the lock file cannot be opened. A thread must not nest two turns.
class RequestTurn {
 public:
  RequestTurn(const platform::NamedLock& request_mutex, PacingState& state, platform::IClock& clock,
              std::uint32_t interval_ms, const std::atomic<bool>& stop,
              std::uint32_t poll_ms = 100);
  ~RequestTurn();
  RequestTurn(const RequestTurn&) = delete;
  RequestTurn& operator=(const RequestTurn&) = delete;

 private:
  platform::NamedLock::Holding holding_;
  PacingState& state_;
  platform::IClock& clock_;
};

// A successful request through a proxy also counts as the last request.
void MarkProxiedRequest(PacingState& state, platform::IClock& clock);

}  // namespace mirava::engine
