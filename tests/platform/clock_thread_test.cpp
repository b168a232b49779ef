// The tick source, the folder of the executable and the thread wrapper.
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/exe_folder.h"
#include "platform/thread.h"

namespace mirava::platform {
namespace {

std::uint32_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

// Waits (bounded) for a flag that another thread sets.
bool WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 10000 && !flag.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return flag.load();
}

TEST(TickDiffTest, IsTheDifferenceModulo2To32) {
  struct Row {
    std::uint32_t now, then, expected;
  };
  const Row rows[] = {
      {5000, 3000, 2000},  {3000, 3000, 0},
      {2, 0xFFFFFFFEu, 4},  // the counter wrapped between the two readings
      {0, 0xFFFFFFFFu, 1}, {0xFFFFFFFFu, 0, 0xFFFFFFFFu},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TickDiff(row.now, row.then), row.expected) << row.now << " - " << row.then;
  }
}

TEST(SystemClockTest, CountsMonotonicMillisecondsAndSleepsForReal) {
  const std::shared_ptr<IClock> clock = MakeSystemClock();
  ASSERT_NE(clock, nullptr);

  const std::uint32_t before = MonotonicMs();
  const std::uint32_t tick = clock->TickCount();
  const std::uint32_t after = MonotonicMs();
  EXPECT_LE(TickDiff(tick, before), TickDiff(after, before));

  const std::uint32_t start = clock->TickCount();
  clock->SleepMs(30);
  EXPECT_GE(TickDiff(clock->TickCount(), start), 30u);
}

TEST(ExecutableFolderTest, IsTheAbsoluteFolderOfThisProgramWithATrailingSlash) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(
      std::filesystem::equivalent(folder + program_invocation_short_name, "/proc/self/exe"));
}

TEST(ThreadTest, RunsTheBodyOnItsOwnThreadAndJoinWaitsForIt) {
  Thread thread;
  EXPECT_FALSE(thread.Joinable());
  EXPECT_FALSE(thread.IsCurrentThread());

  std::atomic<bool> body_on_own_thread{false};
  bool body_done = false;  // read after Join only
  thread.Start([&] {
    body_on_own_thread = thread.IsCurrentThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    body_done = true;
  });
  EXPECT_TRUE(thread.Joinable());
  EXPECT_FALSE(thread.IsCurrentThread());

  thread.Join();
  EXPECT_TRUE(body_done);
  EXPECT_TRUE(body_on_own_thread);
  EXPECT_FALSE(thread.Joinable());
  EXPECT_FALSE(thread.IsCurrentThread());
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer raises every thread stack to a minimum of its own.
constexpr bool kStacksResizedBySanitizer = true;
#else
constexpr bool kStacksResizedBySanitizer = false;
#endif

TEST(ThreadTest, GivesTheThreadTheRequestedStackSize) {
  for (const std::size_t requested : {Thread::kDefaultStackSize, std::size_t{512 * 1024}}) {
    std::size_t stack_size = 0;
    Thread thread;
    thread.Start(
        [&] {
          pthread_attr_t attributes;
          if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            pthread_attr_getstacksize(&attributes, &stack_size);
            pthread_attr_destroy(&attributes);
          }
        },
        requested);
    thread.Join();
    EXPECT_GE(stack_size, requested - 64 * 1024) << requested;
    if (!kStacksResizedBySanitizer) {
      EXPECT_LE(stack_size, requested + 64 * 1024) << requested;
    }
  }
}

TEST(ThreadTest, ReportsWhatTheSystemRefusesAndMisuse) {
  std::atomic<bool> ran{false};
  auto body = [&] { ran = true; };

  Thread too_small;
  EXPECT_THROW(too_small.Start(body, 1), std::system_error);
  EXPECT_FALSE(too_small.Joinable());

  // Far more address space than any machine has.
  Thread too_large;
  EXPECT_THROW(too_large.Start(body, std::size_t{1} << 50), std::system_error);
  EXPECT_FALSE(too_large.Joinable());
  EXPECT_FALSE(ran);

  Thread never_started;
  EXPECT_THROW(never_started.Join(), std::system_error);
  EXPECT_THROW(never_started.Detach(), std::system_error);

  Thread twice;
  twice.Start(body);
  EXPECT_THROW(twice.Start(body), std::logic_error);
  twice.Join();
  EXPECT_TRUE(ran);

#if !defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's runtime now and then aborts on the later join of a thread that tried to
  // join itself; the other builds check it.
  std::atomic<int> own_join_error{0};
  Thread self_joining;
  self_joining.Start([&] {
    try {
      self_joining.Join();
    } catch (const std::system_error& error) {
      own_join_error = error.code().value();
    }
  });
  self_joining.Join();
  EXPECT_EQ(own_join_error, EDEADLK);
#endif
}

TEST(ThreadTest, DestructionWaitsForTheBody) {
  std::atomic<bool> body_done{false};
  {
    Thread thread;
    thread.Start([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      body_done = true;
    });
  }
  EXPECT_TRUE(body_done);
}

TEST(ThreadTest, AnObjectMayFreeItselfOnItsOwnThread) {
  struct SelfFreeing {
    Thread thread;
  };
  std::atomic<bool> freed{false};
  auto* object = new SelfFreeing;
  object->thread.Start([object, &freed] {
    delete object;  // destroys the Thread on its own thread: it must detach, not join
    freed = true;
  });
  EXPECT_TRUE(WaitFor(freed));
}

TEST(ThreadTest, ADetachedThreadRunsOn) {
  std::atomic<bool> release{false};
  std::atomic<bool> body_done{false};
  {
    Thread thread;
    thread.Start([&] {
      WaitFor(release);
      body_done = true;
    });
    thread.Detach();
    EXPECT_FALSE(thread.Joinable());
  }  // destroying a detached Thread neither waits nor ends it
  EXPECT_FALSE(body_done);
  release = true;
  EXPECT_TRUE(WaitFor(body_done));
}

}  // namespace
}  // namespace mirava::platform
