#pragma once
// Direct requests go out one at a time across every worker and every instance of the program
// (the named lock), each at least an interval after the previous one ended. The end of the last
// request is kept twice: LastRequestTick for this process, and the lock's shared record for every
// copy of the program of the same user (the tick count is system-wide).
#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/named_lock.h"

namespace mirava::engine {

inline constexpr const char* kRequestMutexName = "MiravaParserMutex";

// Process-wide: one instance lives as long as the program; every run resets LastRequestTick at
// set-up. Two states (two processes, or two in a test) never take each other's record as their
// own.
struct PacingState {
  PacingState();
  std::atomic<std::uint32_t> LastRequestTick{0};
  // Marks the shared records this state wrote, so that a run's reset also forgets them while
  // other copies' requests still count.
  const std::uint64_t Writer;
};

// The later, seen from `now`, of this state's last request and the last one another copy
// recorded in the lock's shared record. Call only while holding the lock.
std::uint32_t LatestRequestTick(const platform::NamedLock::Holding& holding,
                                const PacingState& state, std::uint32_t now);

// A direct request's turn. Construction waits for the lock (no time limit, stop not looked at),
// then polls every `poll_ms` until `interval_ms` have passed since the latest request of this or
// another copy or `stop` is set. Destruction ends the turn: LastRequestTick and the shared record
// := now, then the lock is released. Throws std::system_error when the lock file cannot be
// opened. A thread must not nest two turns.
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

// The pause after a rate-limit answer: polls every `poll_ms` until `pause_ms` have passed since
// the latest direct request of this or another copy (the shared record read under the lock at
// every poll, so requests sent meanwhile extend it) or `stop` is set. Never takes the lock while
// the calling thread holds a turn.
void WaitSinceLatestRequest(const platform::NamedLock& request_mutex, const PacingState& state,
                            platform::IClock& clock, std::uint32_t pause_ms,
                            const std::atomic<bool>& stop, std::uint32_t poll_ms = 100);

// A successful request through a proxy also counts as the last request (of this process only:
// it did not come from the operator's own address).
void MarkProxiedRequest(PacingState& state, platform::IClock& clock);

}  // namespace mirava::engine
