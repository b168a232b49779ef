// How long a stop takes to end workers that are in the middle of a transfer: every worker is on a
// page that drips one byte every 200 ms (the read time-out never fires), and all are stopped at
// once. Measured from the stop to the last worker's hand-off and to its thread's end.
//
//   through a proxy: 8 workers, all in a transfer at the same time (proxied requests skip pacing)
//   direct: 1 worker; direct requests take turns, so a second one would wait for the first
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/timed_run.h"
#include "engine/http_client.h"
#include "engine/run_event_channel.h"
#include "engine/scraping_thread.h"
#include "platform/clock.h"
#include "platform/named_lock.h"
#include "tests/support/fake_site.h"

namespace {

using namespace mirava;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

void BM_StopWorkersOnDrippingPages(benchmark::State& state) {
  const bool proxied = state.range(0) != 0;
  const int workers = static_cast<int>(state.range(1));
  state.SetLabel(proxied ? "through a proxy" : "direct");
  engine::InitHttpGlobally();

  testing::FakeSite site;  // also the proxy: it answers absolute-form requests the same way
  testing::FakeResponse drips = testing::FakeResponse::Page(std::string(100000, 'd'));
  drips.DripEvery = std::chrono::milliseconds(200);
  site.SetFallback(drips);

  const std::string mutex_name = "MiravaParserMutex-bench-stop-" + std::to_string(getpid());
  auto services = std::make_shared<engine::WorkerServices>();
  services->Clock = platform::MakeSystemClock();
  services->Events = std::make_shared<engine::RunEventChannel>(
      std::make_shared<bench::OutcomeClock>(), [] { return std::string("t"); });
  services->Pacing = std::make_shared<engine::PacingState>();
  services->RequestMutex =
      std::make_shared<const platform::NamedLock>(platform::NamedLock(mutex_name));
  const std::string entry = "bench:secret@127.0.0.1:" + std::to_string(site.Port());
  services->Proxies = std::make_shared<const engine::ProxyList>(engine::ProxyList{entry});
  services->Rotation = std::make_shared<engine::ProxyRotation>();

  double slowest_hand_off_ms = 0;
  double slowest_gone_ms = 0;
  for (auto _ : state) {
    const std::size_t requests_before = site.RequestCount();
    auto lists = std::make_shared<engine::WorkerLists>();
    std::vector<std::unique_ptr<engine::TScrapingThread>> running;
    for (int i = 0; i < workers; ++i) {
      auto worker = std::make_unique<engine::TScrapingThread>(services);
      worker->Lists = lists;
      worker->url = site.Url("/drip/" + std::to_string(i));
      worker->UseProxy = proxied;
      worker->proxy = proxied ? entry : "";
      {
        std::lock_guard<std::mutex> guard(lists->WorkerListsLock);
        lists->RunningList.push_back(worker.get());
      }
      worker->Start();
      running.push_back(std::move(worker));
    }
    if (!site.WaitForRequests(requests_before + workers, std::chrono::seconds(30))) {
      state.SkipWithError("the workers' requests did not arrive");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // every body is dripping

    const Clock::time_point stopped = Clock::now();
    for (auto& worker : running) {
      worker->Stop();
    }
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(lists->WorkerListsLock);
        if (lists->RunningList.empty()) {
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const Clock::time_point handed_off = Clock::now();
    running.clear();  // joins every thread
    const Clock::time_point gone = Clock::now();

    state.SetIterationTime(std::chrono::duration<double>(gone - stopped).count());
    slowest_hand_off_ms = std::max(slowest_hand_off_ms, MsSince(stopped, handed_off));
    slowest_gone_ms = std::max(slowest_gone_ms, MsSince(stopped, gone));
  }
  state.counters["workers"] = workers;
  state.counters["slowest_hand_off_ms"] = slowest_hand_off_ms;
  state.counters["slowest_gone_ms"] = slowest_gone_ms;
  if (slowest_gone_ms >= 1000) {
    state.SkipWithError("a worker outlived the stop by a second or more");
  }

  std::error_code ignored;
  std::filesystem::remove(platform::NamedLockPath(mutex_name), ignored);
}

}  // namespace

BENCHMARK(BM_StopWorkersOnDrippingPages)
    ->Args({1, 8})
    ->Args({0, 1})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
