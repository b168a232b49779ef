#pragma once
// The one home of a run's timings and limits. Settings default to these values, and the Russian
// texts that mention a pause are formed from them.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mirava::engine {

namespace timings {
using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kLoopSleep = 50ms;       // each turn of the pool loop
inline constexpr std::chrono::milliseconds kRefusalPause = 400ms;   // after a 403
inline constexpr std::chrono::milliseconds kRateLimitPause = 5min;  // after a 429, direct mode
inline constexpr std::chrono::milliseconds kAutoPause = 30s;        // after a reported run error
inline constexpr std::chrono::milliseconds kConnectTimeout = 2min;
// Reaching a proxy and having its tunnel opened: a proxy that swallows the connection costs this
// on every turn it gets until it is set aside (bench/proxy_health).
inline constexpr std::chrono::milliseconds kProxyConnectTimeout = 15s;
inline constexpr std::chrono::milliseconds kReadTimeout = 2min;  // without a byte received
// Through a proxy, from the request sent to the first byte of the answer: a proxy that takes
// requests and never answers would otherwise cost the read time-out on every turn it gets.
inline constexpr std::chrono::milliseconds kProxyFirstByteTimeout = 15s;
// How often a wait that a stop ends looks at the stop flag.
inline constexpr std::chrono::milliseconds kStopPoll = 100ms;
// A request a stopped worker still sends (it had won its pacing turn) is broken off when it has
// not been answered in this time.
inline constexpr std::chrono::milliseconds kStoppedRequestGrace = 1s;
// How long a front end that ends waits for a stopped run to free itself (its workers break their
// transfers off within kStopPoll, a request sent after the stop within kStoppedRequestGrace)
// before it ends the process without waiting any longer.
inline constexpr std::chrono::milliseconds kStoppedRunFreeWait = 5s;
inline constexpr std::size_t kMaxBodyBytes = 64u * 1024 * 1024;
// Harvested pages in a row that the readers did not recognise before the run holds: far more
// than an ordinary directory gives, which answers an empty rubric with an empty listing and has
// few organizations without a name and an address. 0 never holds.
inline constexpr int kUnrecognisedPagesLimit = 20;
inline constexpr int kMaxAttempts = 50;

}  // namespace timings

// A whole number of minutes or seconds as the log says it after "паузу" or "на": "5 минут",
// "30 секунд", "1 минуту", "2 секунды".
std::string PauseDurationText(std::chrono::milliseconds duration);

// For the tick clock: milliseconds as an unsigned 32-bit count, held in its range.
std::uint32_t TickMs(std::chrono::milliseconds duration);

}  // namespace mirava::engine
