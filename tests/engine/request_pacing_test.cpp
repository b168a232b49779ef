// Turns of direct requests: one at a time, spaced from the end of the previous request.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/request_pacing.h"
#include "platform/clock.h"
#include "platform/named_lock.h"
#include "tests/support/fake_clock.h"

namespace mirava::engine {
namespace {

using platform::NamedLock;
using platform::TickDiff;
using testing::FakeClock;

class TempLock {
 public:
  TempLock() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pacing-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    folder_ = pattern;
  }
  ~TempLock() { std::filesystem::remove_all(folder_); }
  NamedLock Lock() const { return NamedLock::AtPath(folder_ + "/request.lock"); }

 private:
  std::string folder_;
};

struct Request {
  std::uint32_t Start;
  std::uint32_t End;
};

// Workers that each send `per_worker` direct requests lasting `duration_ms` on the fake clock.
// Returns the requests in the order they started; fails the test if two were ever in flight.
// With `copies` > 1 the workers are spread over that many pacing states on the one lock file, as
// the workers of separate running copies of the program are.
std::vector<Request> RunWorkers(FakeClock& clock, std::uint32_t interval_ms, int workers,
                                int per_worker, std::uint32_t duration_ms, int copies = 1) {
  TempLock temp;
  const NamedLock lock = temp.Lock();
  std::vector<PacingState> states(static_cast<std::size_t>(copies));
  const std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<Request> requests;
  std::atomic<int> in_flight{0};
  std::atomic<bool> overlapped{false};

  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      PacingState& state = states[static_cast<std::size_t>(w % copies)];
      for (int i = 0; i < per_worker; ++i) {
        RequestTurn turn(lock, state, clock, interval_ms, stop);
        if (++in_flight > 1) {
          overlapped = true;
        }
        const std::uint32_t start = clock.TickCount();
        clock.SleepMs(duration_ms);
        const std::uint32_t end = clock.TickCount();
        --in_flight;
        std::lock_guard<std::mutex> guard(mutex);
        requests.push_back({start, end});
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_FALSE(overlapped) << "two direct requests were in flight at once";
  std::sort(requests.begin(), requests.end(),
            [](const Request& a, const Request& b) { return a.Start < b.Start; });
  return requests;
}

TEST(RequestPacingTest, ThreeWorkersAreSpacedByTheIntervalFromTheEndOfTheLastRequest) {
  FakeClock clock(1000000);
  const std::vector<Request> requests = RunWorkers(clock, 10000, 3, 3, 1500);
  ASSERT_EQ(requests.size(), 9u);
  EXPECT_EQ(requests[0].Start, 1000000u) << "the first request of a run does not wait";
  for (std::size_t i = 1; i < requests.size(); ++i) {
    const std::uint32_t gap = requests[i].Start - requests[i - 1].End;
    EXPECT_GE(gap, 10000u) << "request " << i;
    EXPECT_LT(gap, 10100u) << "request " << i;  // one poll at most
  }
}

TEST(RequestPacingTest, TwoRunningCopiesTogetherKeepTheInterval) {
  // Two copies with two workers each: one request per interval in all, not one per copy.
  FakeClock clock(1000000);
  const std::vector<Request> requests = RunWorkers(clock, 10000, 4, 3, 1500, 2);
  ASSERT_EQ(requests.size(), 12u);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    const std::uint32_t gap = requests[i].Start - requests[i - 1].End;
    EXPECT_GE(gap, 10000u) << "request " << i;
    EXPECT_LT(gap, 10100u) << "request " << i;
  }
}

TEST(RequestPacingTest, ARunsResetForgetsOnlyItsOwnCopysRequests) {
  TempLock temp;
  const NamedLock lock = temp.Lock();
  const std::atomic<bool> stop{false};
  FakeClock clock(500000, std::chrono::microseconds(0));
  PacingState mine;
  PacingState other;

  // This copy's own last request, then a new run: its first request does not wait.
  { RequestTurn turn(lock, mine, clock, 10000, stop); }
  mine.LastRequestTick = 0;
  clock.Advance(1000);
  {
    RequestTurn turn(lock, mine, clock, 10000, stop);
    EXPECT_EQ(clock.TickCount(), 501000u);
  }

  // Another copy's request counts even right after this copy's reset.
  clock.Advance(20000);
  {
    RequestTurn turn(lock, other, clock, 10000, stop);
    EXPECT_EQ(clock.TickCount(), 521000u);
  }
  mine.LastRequestTick = 0;
  {
    RequestTurn turn(lock, mine, clock, 10000, stop);
    EXPECT_EQ(clock.TickCount(), 531000u);
  }
}

TEST(RequestPacingTest, TheRateLimitPauseCountsFromAnyCopysLatestRequest) {
  struct Row {
    const char* name;
    std::uint32_t own_last;    // ticks before the pause starts
    std::uint32_t other_last;  // 0: the other copy has sent nothing
    std::uint32_t expected_wait;
  };
  const Row rows[] = {
      {"only this copy's requests", 1000, 0, 299000},
      {"the other copy's request is later", 1000, 500, 299500},
      {"the other copy's request is earlier", 1000, 4000, 299000},
      {"both long ago", 400000, 350000, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempLock temp;
    const NamedLock lock = temp.Lock();
    const std::atomic<bool> stop{false};
    FakeClock clock(10000000, std::chrono::microseconds(0));
    PacingState mine;
    PacingState other;
    if (row.other_last != 0) {
      clock.Set(10000000 - row.other_last);
      RequestTurn turn(lock, other, clock, 0, stop);
    }
    clock.Set(10000000);
    mine.LastRequestTick = 10000000 - row.own_last;
    WaitSinceLatestRequest(lock, mine, clock, 300000, stop);
    EXPECT_EQ(clock.TickCount() - 10000000, row.expected_wait);
  }
}

TEST(RequestPacingTest, IntervalZeroSerialisesWithoutPause) {
  FakeClock clock(1000000);
  const std::vector<Request> requests = RunWorkers(clock, 0, 3, 3, 50);
  ASSERT_EQ(requests.size(), 9u);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Start, requests[i - 1].End) << "request " << i;
  }
  for (const std::uint32_t sleep : clock.Sleeps()) {
    EXPECT_EQ(sleep, 50u) << "a pacing poll with interval 0";
  }
}

TEST(RequestPacingTest, WaitsOutWhatIsLeftOfTheIntervalInPollSteps) {
  struct Row {
    const char* name;
    std::uint32_t now;
    std::uint32_t last_request;
    std::uint32_t interval;
    std::uint32_t expected_wait;
  };
  const Row rows[] = {
      {"first request, system up for long", 1000000, 0, 10000, 0},
      {"first request soon after system start", 3000, 0, 10000, 7000},
      {"right after the last request", 500000, 500000, 10000, 10000},
      {"part of the interval passed", 504000, 500000, 10000, 6000},
      {"remainder not a multiple of the poll", 504050, 500000, 10000, 6000},
      {"interval already over", 520000, 500000, 10000, 0},
      {"interval zero", 500000, 500000, 0, 0},
      {"the wait crosses the wrap of the counter", 0xFFFFF000u, 0xFFFFF000u, 10000, 10000},
      {"last request before the wrap, now after it", 100, 0xFFFFFF00u, 10000, 9700},
  };
  const std::atomic<bool> stop{false};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // A lock file of the row's own: each row's state stands for a fresh copy of the program.
    TempLock temp;
    const NamedLock lock = temp.Lock();
    FakeClock clock(row.now, std::chrono::microseconds(0));
    PacingState state;
    state.LastRequestTick = row.last_request;
    {
      RequestTurn turn(lock, state, clock, row.interval, stop);
      EXPECT_EQ(TickDiff(clock.TickCount(), row.now), row.expected_wait);
      clock.Advance(1234);  // the request itself
    }
    EXPECT_EQ(state.LastRequestTick, clock.TickCount()) << "the turn ends at the request's end";
    for (const std::uint32_t sleep : clock.Sleeps()) {
      EXPECT_EQ(sleep, 100u);
    }
  }
}

// Sets the stop request once the clock has moved `after_ms` past its start.
class StopSettingClock final : public platform::IClock {
 public:
  StopSettingClock(std::uint32_t start, std::uint32_t after_ms, std::atomic<bool>& stop)
      : clock_(start, std::chrono::microseconds(0)), stop_at_(start + after_ms), stop_(stop) {}
  std::uint32_t TickCount() override { return clock_.TickCount(); }
  void SleepMs(std::uint32_t ms) override {
    clock_.SleepMs(ms);
    if (!stop_ && TickDiff(clock_.TickCount(), stop_at_) < 0x80000000u) {
      stop_ = true;
      stopped_at_ = clock_.TickCount();
    }
  }
  std::uint32_t StoppedAt() const { return stopped_at_; }

 private:
  FakeClock clock_;
  std::uint32_t stop_at_;
  std::atomic<bool>& stop_;
  std::uint32_t stopped_at_ = 0;
};

TEST(RequestPacingTest, TheStopRequestEndsTheIntervalWaitAtTheNextPoll) {
  TempLock temp;
  const NamedLock lock = temp.Lock();
  PacingState state;
  state.LastRequestTick = 500000;

  std::atomic<bool> stop{false};
  StopSettingClock clock(500000, 2050, stop);
  {
    RequestTurn turn(lock, state, clock, 300000, stop);
    EXPECT_TRUE(stop);
    EXPECT_LE(TickDiff(clock.TickCount(), clock.StoppedAt()), 100u);
    EXPECT_LT(TickDiff(clock.TickCount(), 500000), 3000u);
  }

  // Already stopped: no wait at all, and the turn is still taken and ended.
  FakeClock other(600000, std::chrono::microseconds(0));
  {
    RequestTurn turn(lock, state, other, 300000, stop);
    EXPECT_EQ(other.TickCount(), 600000u);
  }
  EXPECT_EQ(state.LastRequestTick, 600000u);
}

TEST(RequestPacingTest, ASuccessfulProxiedRequestCountsAsTheLastRequest) {
  TempLock temp;
  const NamedLock lock = temp.Lock();
  PacingState state;
  FakeClock clock(500000, std::chrono::microseconds(0));
  const std::atomic<bool> stop{false};

  MarkProxiedRequest(state, clock);
  EXPECT_EQ(state.LastRequestTick, 500000u);
  clock.Advance(4000);
  RequestTurn turn(lock, state, clock, 10000, stop);
  EXPECT_EQ(clock.TickCount(), 510000u);
}

std::uint64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

struct RealRequest {
  std::uint64_t Start;
  std::uint64_t End;
};

// `count` direct requests of 20 ms each on the real clock, as one instance of the program would.
std::vector<RealRequest> SendRealRequests(const NamedLock& lock, int count,
                                          std::uint32_t interval_ms = 0) {
  PacingState state;
  platform::SystemClock clock;
  const std::atomic<bool> stop{false};
  std::vector<RealRequest> requests;
  for (int i = 0; i < count; ++i) {
    RequestTurn turn(lock, state, clock, interval_ms, stop, 1);
    const std::uint64_t start = MonotonicNs();
    clock.SleepMs(20);
    requests.push_back({start, MonotonicNs()});
  }
  return requests;
}

TEST(RequestPacingTest, TwoInstancesKeepTheIntervalBetweenThem) {
  // Real processes and the real clock: the interval holds across the two, not only within each.
  TempLock temp;
  const NamedLock lock = temp.Lock();
  constexpr int kPerProcess = 3;
  constexpr std::uint32_t kIntervalMs = 60;

  int records[2];
  ASSERT_EQ(pipe2(records, O_CLOEXEC), 0);
  const pid_t child = fork();
  if (child == 0) {
    int status = 0;
    try {
      for (const RealRequest& request : SendRealRequests(lock, kPerProcess, kIntervalMs)) {
        if (write(records[1], &request, sizeof request) != sizeof request) {
          status = 1;
        }
      }
    } catch (...) {
      status = 2;
    }
    _exit(status);
  }
  ASSERT_GT(child, 0);
  close(records[1]);

  std::vector<RealRequest> requests = SendRealRequests(lock, kPerProcess, kIntervalMs);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  RealRequest request{};
  while (read(records[0], &request, sizeof request) == sizeof request) {
    requests.push_back(request);
  }
  close(records[0]);

  ASSERT_EQ(requests.size(), 2u * kPerProcess);
  std::sort(requests.begin(), requests.end(),
            [](const RealRequest& a, const RealRequest& b) { return a.Start < b.Start; });
  for (std::size_t i = 1; i < requests.size(); ++i) {
    // The tick count has whole milliseconds: a gap may look up to one of them short.
    EXPECT_GE(requests[i].Start - requests[i - 1].End, (kIntervalMs - 1) * 1000000ull)
        << "requests " << i - 1 << " and " << i;
  }
}

TEST(RequestPacingTest, TwoInstancesNeverSendDirectRequestsAtTheSameTime) {
  TempLock temp;
  const NamedLock lock = temp.Lock();
  constexpr int kPerProcess = 5;

  int records[2];
  ASSERT_EQ(pipe2(records, O_CLOEXEC), 0);
  const pid_t child = fork();
  if (child == 0) {
    int status = 0;
    try {
      for (const RealRequest& request : SendRealRequests(lock, kPerProcess)) {
        if (write(records[1], &request, sizeof request) != sizeof request) {
          status = 1;
        }
      }
    } catch (...) {
      status = 2;
    }
    _exit(status);
  }
  ASSERT_GT(child, 0);
  close(records[1]);

  std::vector<RealRequest> requests = SendRealRequests(lock, kPerProcess);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  RealRequest request{};
  while (read(records[0], &request, sizeof request) == sizeof request) {
    requests.push_back(request);
  }
  close(records[0]);

  ASSERT_EQ(requests.size(), 2u * kPerProcess);
  std::sort(requests.begin(), requests.end(),
            [](const RealRequest& a, const RealRequest& b) { return a.Start < b.Start; });
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_GE(requests[i].Start, requests[i - 1].End) << "requests " << i - 1 << " and " << i;
  }
}

}  // namespace
}  // namespace mirava::engine
