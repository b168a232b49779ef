#pragma once
// What the fetch worker's tests share: a recording window on its own thread, a fake clock (the
// pauses of the failure rules take no real time), a request lock of the test's own, the two
// worker lists, and short time-outs.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/http_client.h"
#include "engine/scraping_thread.h"
#include "platform/named_lock.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_window.h"
#include "tests/support/wait_for.h"

namespace mirava::testing::worker {

inline constexpr const char* kStamp = "10.12.2026 12:00:00";

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    static std::atomic<int> counter{0};
    lock_path_ = "/tmp/mirava-worker-test-" + std::to_string(getpid()) + "-" +
                 std::to_string(counter++) + ".lock";
    // Not a killed earlier process's lock, with its last-request time.
    std::error_code ignored;
    std::filesystem::remove(lock_path_, ignored);
    engine::InitHttpGlobally();
    auto services = std::make_shared<engine::WorkerServices>();
    services->Clock = clock_;
    services->Events = std::make_shared<engine::RunEventChannel>(
        window_.events, [] { return std::string(kStamp); });
    services->Pacing = pacing_;
    services->RequestMutex =
        std::make_shared<const platform::NamedLock>(platform::NamedLock::AtPath(lock_path_));
    services->Proxies = std::make_shared<const engine::ProxyList>();
    services->Rotation = std::make_shared<engine::ProxyRotation>();
    services->Fetch.ConnectTimeout = std::chrono::milliseconds(5000);
    services->Fetch.ReadTimeout = std::chrono::milliseconds(10000);
    services->Fetch.TrustStore = engine::TlsTrustStore::FromFile(TestCertificates::Shared().CaFile);
    services_ = services;
  }

  ~WorkerTest() override { std::remove(lock_path_.c_str()); }

  engine::FetchSettings& Fetch() { return services_->Fetch; }

  // A worker filled in as the coordinator does it and put on RunningList; not started.
  std::unique_ptr<engine::TScrapingThread> MakeWorker(const std::string& url) {
    auto worker = std::make_unique<engine::TScrapingThread>(services_);
    worker->Lists = lists_;
    worker->url = url;
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    lists_->RunningList.push_back(worker.get());
    return worker;
  }

  bool IsFinished(const engine::TScrapingThread& worker) {
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    for (const auto* finished : lists_->FinishedList) {
      if (finished == &worker) {
        return true;
      }
    }
    return false;
  }

  // Starts the worker and waits for its hand-off; the outcome fields may be read afterwards.
  void RunToEnd(engine::TScrapingThread& worker) {
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return IsFinished(worker); })) << "the worker never finished";
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    EXPECT_TRUE(lists_->RunningList.empty());
  }

  std::vector<std::string> Log() const { return window_.Log(); }

  void ClearLog() { window_.events->ClearLog(); }

  // For tests that run several workers one after the other.
  void ForgetFinished() {
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    lists_->FinishedList.clear();
  }

  std::size_t CountLines(std::string_view part) const {
    std::size_t count = 0;
    for (const auto& line : Log()) {
      count += line.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
  }

  std::size_t CountSleeps(std::uint32_t ms) const {
    std::size_t count = 0;
    for (const auto sleep : clock_->Sleeps()) {
      count += sleep == ms ? 1 : 0;
    }
    return count;
  }

  TestWindow window_;
  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
  std::shared_ptr<engine::PacingState> pacing_ = std::make_shared<engine::PacingState>();
  std::shared_ptr<engine::WorkerLists> lists_ = std::make_shared<engine::WorkerLists>();
  std::shared_ptr<engine::WorkerServices> services_;
  std::string lock_path_;
};

}  // namespace mirava::testing::worker
