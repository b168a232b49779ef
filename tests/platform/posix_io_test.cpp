#include "platform/posix_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "tests/support/temp_folder.h"

namespace mirava::platform::posix {
namespace {

bool IsOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

struct Pipe {
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe2 failed");
    }
    read_end.Reset(ends[0]);
    write_end.Reset(ends[1]);
  }
  UniqueFd read_end;
  UniqueFd write_end;
};

std::atomic<int> interruptions{0};
void CountInterruption(int) {
  interruptions.fetch_add(1, std::memory_order_relaxed);
}

// A handler installed without SA_RESTART, so a blocked read or write comes back with EINTR, or
// with a partial count once some bytes went through.
class InterruptingSignal {
 public:
  InterruptingSignal() {
    struct sigaction action {};
    action.sa_handler = CountInterruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGUSR1, &action, &previous_);
  }
  ~InterruptingSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

TEST(PosixIoTest, ReadAllAndWriteAllCarryEveryByteThroughInterruptionsAndShortTransfers) {
  InterruptingSignal signal;
  Pipe pipe;
  // Far more than a pipe holds, so both sides block again and again while being interrupted.
  std::string sent(1 << 20, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) {
    sent[i] = static_cast<char>(i * 7 + i / 251);
  }

  std::atomic<bool> done{false};
  int write_error = -1;
  std::thread writer([&] {
    write_error = WriteAll(pipe.write_end.Get(), sent);
    pipe.write_end.Reset();
  });
  const pthread_t reader = ::pthread_self();
  const pthread_t writer_thread = writer.native_handle();
  std::thread interrupter([&] {
    while (!done.load()) {
      ::pthread_kill(writer_thread, SIGUSR1);
      ::pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  std::string received;
  const int read_error = ReadAll(pipe.read_end.Get(), received);
  writer.join();
  done = true;
  interrupter.join();

  EXPECT_EQ(read_error, 0);
  EXPECT_EQ(write_error, 0);
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent) << "the bytes arrived changed or out of order";
  EXPECT_GT(interruptions.load(), 0);
}

TEST(PosixIoTest, RefusalsComeBackAsTheSystemsReason) {
  Pipe pipe;
  std::string bytes = "kept";
  EXPECT_EQ(ReadAll(pipe.write_end.Get(), bytes), EBADF);
  EXPECT_EQ(bytes, "kept");

  // No reader any more: a broken pipe, reported instead of retried forever.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  pipe.read_end.Reset();
  EXPECT_EQ(WriteAll(pipe.write_end.Get(), "x"), EPIPE);
  std::signal(SIGPIPE, previous);

  EXPECT_FALSE(Open("/nonexistent-folder/file", O_RDONLY).Valid());
  EXPECT_EQ(errno, ENOENT);
}

TEST(PosixIoTest, UniqueFdClosesExactlyOnceWhateverWayItGoes) {
  int fd;
  {
    Pipe pipe;
    fd = pipe.read_end.Get();
    UniqueFd moved = std::move(pipe.read_end);
    EXPECT_FALSE(pipe.read_end.Valid());
    EXPECT_EQ(moved.Get(), fd);
    EXPECT_TRUE(IsOpen(fd));
  }
  EXPECT_FALSE(IsOpen(fd));

  Pipe pipe;
  fd = pipe.write_end.Get();
  EXPECT_EQ(pipe.write_end.Close(), 0);
  EXPECT_FALSE(pipe.write_end.Valid());
  EXPECT_FALSE(IsOpen(fd));
  EXPECT_EQ(pipe.write_end.Close(), 0);  // nothing left to close

  const int kept = pipe.read_end.Release();
  EXPECT_TRUE(IsOpen(kept));
  ::close(kept);
}

TEST(PosixIoTest, PositionedReadsAndWritesLeaveTheFilePositionAlone) {
  testing::TempFolder folder("mirava-posix-io");
  const UniqueFd file = Open((folder / "record").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_TRUE(file.Valid());

  ASSERT_EQ(WriteAllAt(file.Get(), "head", 0), 0);
  ASSERT_EQ(WriteAllAt(file.Get(), "tail", 6), 0);
  EXPECT_EQ(::lseek(file.Get(), 0, SEEK_CUR), 0);

  char buffer[16] = {};
  EXPECT_EQ(ReadFullyAt(file.Get(), buffer, 10, 0), 10);
  EXPECT_EQ(std::string(buffer, 10), std::string("head\0\0tail", 10));
  // Past the end it stops short with what there is.
  EXPECT_EQ(ReadFullyAt(file.Get(), buffer, sizeof buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "il");
  EXPECT_EQ(::lseek(file.Get(), 0, SEEK_CUR), 0);
}

}  // namespace
}  // namespace mirava::platform::posix
