#include "engine/request_pacing.h"

#include <random>

namespace mirava::engine {

namespace {

std::uint64_t NewWriterId() {
  std::random_device random;
  const std::uint64_t id = (static_cast<std::uint64_t>(random()) << 32) ^ random();
  return id == 0 ? 1 : id;
}

// The later of two ticks as seen from `now`: the one less far back.
std::uint32_t Later(std::uint32_t now, std::uint32_t a, std::uint32_t b) {
  return platform::TickDiff(now, a) <= platform::TickDiff(now, b) ? a : b;
}

std::uint32_t LatestOf(const std::optional<platform::SharedRequestRecord>& shared,
                       const PacingState& state, std::uint32_t now) {
  const std::uint32_t own = state.LastRequestTick.load();
  // This state's own record is already in LastRequestTick, or was forgotten by a reset.
  if (!shared || shared->Writer == state.Writer) {
    return own;
  }
  return Later(now, own, shared->LastRequestTick);
}

}  // namespace

PacingState::PacingState() : Writer(NewWriterId()) {}

std::uint32_t LatestRequestTick(const platform::NamedLock::Holding& holding,
                                const PacingState& state, std::uint32_t now) {
  return LatestOf(holding.ReadRecord(), state, now);
}

RequestTurn::RequestTurn(const platform::NamedLock& request_mutex, PacingState& state,
                         platform::IClock& clock, std::uint32_t interval_ms,
                         const std::atomic<bool>& stop, std::uint32_t poll_ms)
    : holding_(request_mutex), state_(state), clock_(clock) {
  // Measured only once the lock is held, so the time spent waiting for it counts too. Other
  // copies cannot write the record while it is held, so it is read once. A stop ends the wait,
  // but the caller still sends its request.
  const std::optional<platform::SharedRequestRecord> shared = holding_.ReadRecord();
  for (;;) {
    const std::uint32_t now = clock_.TickCount();
    if (stop.load() || platform::TickDiff(now, LatestOf(shared, state_, now)) >= interval_ms) {
      break;
    }
    clock_.SleepMs(poll_ms);
  }
}

RequestTurn::~RequestTurn() {
  // Before the lock is released, so the next holder, in this process or another, measures from
  // the end of this request. A refused write costs only the other copies' spacing.
  const std::uint32_t now = clock_.TickCount();
  state_.LastRequestTick.store(now);
  holding_.WriteRecord({now, state_.Writer});
}

void WaitSinceLatestRequest(const platform::NamedLock& request_mutex, const PacingState& state,
                            platform::IClock& clock, std::uint32_t pause_ms,
                            const std::atomic<bool>& stop, std::uint32_t poll_ms) {
  while (!stop.load()) {
    std::optional<platform::SharedRequestRecord> shared;
    try {
      const platform::NamedLock::Holding holding(request_mutex);
      shared = holding.ReadRecord();
    } catch (...) {
      // A lock file that cannot be opened leaves this process's own requests to go by.
    }
    const std::uint32_t now = clock.TickCount();
    if (platform::TickDiff(now, LatestOf(shared, state, now)) >= pause_ms) {
      return;
    }
    clock.SleepMs(poll_ms);
  }
}

void MarkProxiedRequest(PacingState& state, platform::IClock& clock) {
  state.LastRequestTick.store(clock.TickCount());
}

}  // namespace mirava::engine
