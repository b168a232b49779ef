#pragma once
// What the coordinator's tests share: a window that records the run's events, a fake clock (the
// loop's sleeps and the automatic pause take no real time), a temporary folder as the
// executable's folder, a request mutex of the test's own, and a fast-failing fetch.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/text_encoding.h"
#include "engine/scraper.h"
#include "platform/named_lock.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_window.h"
#include "tests/support/wait_for.h"

namespace mirava::testing {

// A generous bound for anything a run does: no test waits this long unless it is broken.
inline constexpr std::chrono::seconds kRunTimeout{60};

// The run has freed itself: its thread let go of the last reference.
inline bool WaitUntilGone(const std::weak_ptr<engine::TScraper>& run,
                          std::chrono::milliseconds timeout = kRunTimeout) {
  return WaitFor([&] { return run.expired(); }, timeout);
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// A run log as UTF-8: it is written in the system's code page (UTF-8 here, the ANSI code page on
// Windows).
inline std::string ReadLogAsUtf8(const std::string& path) {
  return analysis::Utf16ToUtf8(analysis::DecodeSystemCodePage(ReadFileBytes(path)));
}

class ScraperTest : public ::testing::Test {
 protected:
  static constexpr const char* kStamp = "10.12.2026 12:00:00";
  static constexpr std::uint32_t kStartTick = 1000000;
  // Long, so that only a test that moves the clock past it on purpose sees the pause after an
  // error lift itself; the workers' own sleeps on the shared fake clock never get there.
  static constexpr int kAutoPauseMs = 3600 * 1000;

  ScraperTest() {
    static std::atomic<int> counter{0};
    const std::string unique =
        std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    folder_ = std::filesystem::temp_directory_path() / ("mirava-scraper-test-" + unique);
    mutex_name_ = "MiravaParserMutex-test-" + unique;
    // A killed earlier test process of the same id (wine hands out the same ones every run) may
    // have left its files and its lock's last-request time behind: start from neither.
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    std::filesystem::remove(platform::NamedLockPath(mutex_name_), ignored);
    std::filesystem::create_directories(folder_);
    mutex_names_.push_back(mutex_name_);
    window.SetLimit(1);
    window.SetInterval(0);
  }

  ~ScraperTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    for (const std::string& name : mutex_names_) {
      std::filesystem::remove(platform::NamedLockPath(name), ignored);
    }
  }

  // A request mutex of the test's own besides the usual one; its lock file goes with the test.
  std::string OtherMutexName(const std::string& suffix) {
    mutex_names_.push_back(mutex_name_ + "-" + suffix);
    return mutex_names_.back();
  }

  std::string Folder() const { return folder_.string() + "/"; }

  engine::RunEnvironment Environment() {
    engine::RunEnvironment environment;
    environment.Clock = clock;
    environment.Events = window.events;
    environment.LogTimestamp = [] { return std::string(kStamp); };
    environment.Pacing = pacing;
    environment.Rotation = rotation;
    environment.RequestMutexName = mutex_name_;
    environment.Fetch.MaxAttempts = 1;
    environment.Fetch.ConnectTimeout = std::chrono::milliseconds(5000);
    environment.Fetch.ReadTimeout = std::chrono::milliseconds(5000);
    environment.AutoPause = std::chrono::milliseconds(kAutoPauseMs);
    auto opened = opened_;
    environment.OpenWorkbook = [opened](const std::string& path) {
      std::lock_guard<std::mutex> guard(opened->mutex);
      opened->paths.push_back(path);
    };
    return environment;
  }

  // What the window would start a run with, in the test's folder.
  engine::RunRequest Request() const { return window.Request(Folder()); }

  // Creates and starts a run; the test keeps only a weak reference, as the window does.
  std::weak_ptr<engine::TScraper> StartRun(
      engine::RunEnvironment environment, std::optional<engine::RunRequest> request = {},
      const std::function<void(engine::TScraper&)>& before_start = {}) {
    std::shared_ptr<engine::TScraper> run =
        engine::TScraper::Create(std::move(environment), request ? *request : Request());
    if (before_start) {
      before_start(*run);
    }
    run->Start();
    return run;
  }
  std::weak_ptr<engine::TScraper> StartRun() { return StartRun(Environment()); }

  // Runs `action` on the run if it still exists.
  static void With(const std::weak_ptr<engine::TScraper>& run,
                   const std::function<void(engine::TScraper&)>& action) {
    if (auto alive = run.lock()) {
      action(*alive);
    }
  }
  static bool Holds(const std::weak_ptr<engine::TScraper>& run,
                    const std::function<bool(const engine::TScraper&)>& test) {
    auto alive = run.lock();
    return alive && test(*alive);
  }

  std::string Line(const std::string& message) const {
    return std::string(kStamp) + ": " + message;
  }

  std::string ResultsPath() const {
    return Folder() + "data" + std::to_string(kStartTick) + ".tab";
  }
  std::string WorkbookPath() const {
    return Folder() + "data" + std::to_string(kStartTick) + ".xlsx";
  }
  std::string LogPath() const { return Folder() + "log" + std::to_string(kStartTick) + ".txt"; }

  std::vector<std::string> OpenedWorkbooks() const {
    std::lock_guard<std::mutex> guard(opened_->mutex);
    return opened_->paths;
  }

  // Log lines that contain `text`.
  int CountLines(const std::string& text) const {
    int count = 0;
    for (const auto& line : window.Log()) {
      count += line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
  }

  TestWindow window;
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(kStartTick);
  std::shared_ptr<engine::PacingState> pacing = std::make_shared<engine::PacingState>();
  std::shared_ptr<engine::ProxyRotation> rotation = std::make_shared<engine::ProxyRotation>();
  // Every hint the bar was given.
  std::shared_ptr<EventRecorder> progress = window.events;

 private:
  struct Opened {
    std::mutex mutex;
    std::vector<std::string> paths;
  };
  std::filesystem::path folder_;
  std::string mutex_name_;
  std::vector<std::string> mutex_names_;
  std::shared_ptr<Opened> opened_ = std::make_shared<Opened>();
};

}  // namespace mirava::testing
