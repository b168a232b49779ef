#include "engine/request_pacing.h"

namespace mirava::engine {

RequestTurn::RequestTurn(const platform::NamedLock& request_mutex, PacingState& state,
                         platform::IClock& clock, std::uint32_t interval_ms,
                         const std::atomic<bool>& stop, std::uint32_t poll_ms)
    : holding_(request_mutex), state_(state), clock_(clock) {
  // Measured only once the lock is held, so the time spent waiting for it counts too. A stop
  // ends the wait, but the caller still sends its request.
  while (!stop.load() &&
         platform::TickDiff(clock_.TickCount(), state_.LastRequestTick.load()) < interval_ms) {
    clock_.SleepMs(poll_ms);
  }
}

RequestTurn::~RequestTurn() {
  // Before the lock is released, so the next holder measures from the end of this request.
  state_.LastRequestTick.store(clock_.TickCount());
}

void MarkProxiedRequest(PacingState& state, platform::IClock& clock) {
  state.LastRequestTick.store(clock.TickCount());
}

}  // namespace mirava::engine
