// The named lock: one holder at a time across threads and processes, freed when a holder dies.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/named_lock.h"

namespace mirava::platform {
namespace {

// A folder of this test's own, so no test ever shares a lock with the program or another test.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "named-lock-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// True when nobody holds the lock file right now; never waits.
bool IsFree(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return taken;
}

struct Pipe {
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    read_end = fds[0];
    write_end = fds[1];
  }
  ~Pipe() {
    close(read_end);
    close(write_end);
  }
  void Send(char c) const { (void)!write(write_end, &c, 1); }
  // Waits at most 10 s, so a child that went wrong cannot hang the test.
  std::optional<char> Receive() const {
    pollfd ready{read_end, POLLIN, 0};
    char c = 0;
    if (poll(&ready, 1, 10000) == 1 && read(read_end, &c, 1) == 1) {
      return c;
    }
    return std::nullopt;
  }
  int read_end = -1;
  int write_end = -1;
};

// A forked child running `body`; killed and reaped by the destructor if the test did not.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<void()>& body) {
    pid_ = fork();
    if (pid_ == 0) {
      try {
        body();
        _exit(0);
      } catch (...) {
        _exit(2);
      }
    }
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  bool Started() const { return pid_ > 0; }
  void Kill() const { kill(pid_, SIGKILL); }
  // The raw wait status.
  int Wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

class EnvironmentVariable {
 public:
  explicit EnvironmentVariable(const char* name) : name_(name) {
    if (const char* value = getenv(name)) {
      saved_ = value;
    }
  }
  ~EnvironmentVariable() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  void Set(const char* value) const {
    if (value == nullptr) {
      unsetenv(name_);
    } else {
      setenv(name_, value, 1);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(NamedLockTest, LivesInTheRuntimeFolderElseInTmpPerUser) {
  const std::string per_user = "/tmp/MiravaParserMutex-" + std::to_string(getuid()) + ".lock";
  struct Row {
    const char* runtime_dir;
    std::string expected;
  };
  const Row rows[] = {
      {"/run/user/1000", "/run/user/1000/MiravaParserMutex.lock"},
      {"/run/user/1000/", "/run/user/1000/MiravaParserMutex.lock"},
      {"", per_user},
      {nullptr, per_user},
  };
  EnvironmentVariable runtime_dir("XDG_RUNTIME_DIR");
  for (const Row& row : rows) {
    runtime_dir.Set(row.runtime_dir);
    EXPECT_EQ(NamedLockPath("MiravaParserMutex"), row.expected)
        << (row.runtime_dir ? row.runtime_dir : "(unset)");
  }
}

TEST(NamedLockTest, ConstructionCreatesTheLockFileOrReportsTheSystemsReason) {
  TempFolder folder;
  {
    EnvironmentVariable runtime_dir("XDG_RUNTIME_DIR");
    runtime_dir.Set(folder.File("").c_str());
    const NamedLock lock("TestMutex");
    EXPECT_EQ(lock.Path(), folder.File("TestMutex.lock"));
    EXPECT_TRUE(std::filesystem::is_regular_file(lock.Path()));
  }

  try {
    NamedLock::AtPath(folder.File("no-such-folder/test.lock"));
    FAIL() << "no error for a lock file in a missing folder";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
    EXPECT_NE(std::string(error.what()).find(std::strerror(ENOENT)), std::string::npos);
  }
}

TEST(NamedLockTest, TheSharedRecordPassesFromHolderToHolderAcrossProcesses) {
  TempFolder folder;
  const NamedLock lock = NamedLock::AtPath(folder.File("test.lock"));
  {
    NamedLock::Holding holding(lock);
    EXPECT_FALSE(holding.ReadRecord()) << "a new lock file holds no record";
  }
  ChildProcess child([&] {
    NamedLock::Holding holding(lock);
    if (!holding.WriteRecord({0xFFFFFFF0u, 0x0123456789ABCDEFull})) {
      _exit(1);
    }
  });
  ASSERT_TRUE(child.Started());
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  {
    NamedLock::Holding holding(lock);
    const std::optional<SharedRequestRecord> record = holding.ReadRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->LastRequestTick, 0xFFFFFFF0u);
    EXPECT_EQ(record->Writer, 0x0123456789ABCDEFull);
  }

  // A lock file with other contents (an older version's empty file, a stray write) holds none.
  std::ofstream(lock.Path(), std::ios::binary | std::ios::trunc) << "something else entirely";
  NamedLock::Holding holding(lock);
  EXPECT_FALSE(holding.ReadRecord());
}

TEST(NamedLockTest, ThreadsOfOneProcessNeverHoldItTogether) {
  TempFolder folder;
  const NamedLock lock = NamedLock::AtPath(folder.File("test.lock"));
  std::atomic<int> holders{0};
  std::atomic<int> most_holders{0};
  std::atomic<int> holdings{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        NamedLock::Holding holding(lock);
        const int now = ++holders;
        int most = most_holders.load();
        while (now > most && !most_holders.compare_exchange_weak(most, now)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        --holders;
        ++holdings;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(holdings, 400);
  EXPECT_EQ(most_holders, 1);
  EXPECT_TRUE(IsFree(lock.Path()));
}

TEST(NamedLockTest, AnotherProcessWaitsUntilTheHolderReleases) {
  TempFolder folder;
  const NamedLock lock = NamedLock::AtPath(folder.File("test.lock"));
  Pipe to_parent;
  Pipe to_child;
  ChildProcess child([&] {
    NamedLock::Holding holding(lock);
    to_parent.Send('H');
    to_child.Receive();  // hold until the parent says so
  });
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(to_parent.Receive(), 'H');
  EXPECT_FALSE(IsFree(lock.Path()));

  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    NamedLock::Holding holding(lock);
    acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(acquired) << "took the lock while another process held it";

  to_child.Send('R');
  waiter.join();
  EXPECT_TRUE(acquired);
  const int status = child.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(NamedLockTest, AKilledHolderLeavesTheLockFree) {
  TempFolder folder;
  const NamedLock lock = NamedLock::AtPath(folder.File("test.lock"));
  Pipe to_parent;
  ChildProcess child([&] {
    NamedLock::Holding holding(lock);
    to_parent.Send('H');
    for (;;) {
      pause();
    }
  });
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(to_parent.Receive(), 'H');
  EXPECT_FALSE(IsFree(lock.Path()));

  child.Kill();
  child.Wait();
  ASSERT_TRUE(IsFree(lock.Path()));
  NamedLock::Holding holding(lock);  // the next waiter takes it over
  EXPECT_FALSE(IsFree(lock.Path()));
}

}  // namespace
}  // namespace mirava::platform
