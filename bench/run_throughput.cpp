// A whole run against a local site whose pages take 50 ms, through a proxy (so no pacing) with
// an interval of 0: how close the run comes to the ceiling its own two 50 ms sleeps set, one
// worker start per 100 ms. Organization pages are analysed for real and their rows written.
//
//   bench_run_throughput               200 pages (about 20 s)
//   bench_run_throughput --pages=2000  the full run (about 200 s)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/timed_run.h"
#include "engine/scraper.h"
#include "platform/clock.h"
#include "platform/named_lock.h"
#include "tests/support/fake_site.h"
#include "tests/support/site_pages.h"
#include "tests/support/tinyproxy.h"

namespace {

using namespace mirava;

constexpr int kCategories = 20;
constexpr double kCeilingPagesPerSecond = 10.0;  // one start per 50 ms + 50 ms of sleep

int g_pages = 200;

void BM_RunThroughput(benchmark::State& state) {
  const int pages = static_cast<int>(state.range(0));
  const int cities = (pages + kCategories - 1) / kCategories;

  testing::FakeSite site;
  testing::FakeResponse page =
      testing::FakeResponse::Page(testing::OrganizationPage(testing::SampleOrganization(7)));
  page.Delay = std::chrono::milliseconds(50);
  site.SetFallback(page);

  const std::string folder = std::filesystem::temp_directory_path() /
                             ("mirava-run-throughput-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::unique_ptr<testing::TinyProxy> proxy;
  if (testing::TinyProxy::Available()) {
    proxy = std::make_unique<testing::TinyProxy>("bench", "secret", std::vector<int>{});
    std::ofstream(folder + "/proxy.txt") << "bench:secret@127.0.0.1:" << proxy->Port() << "\r\n";
  }
  state.SetLabel(proxy ? "through tinyproxy" : "proxy mode without a proxy list");

  engine::RunRequest request;
  for (int city = 0; city < cities; ++city) {
    request.Cities.push_back(site.Url("/city" + std::to_string(city)));
  }
  for (int category = 0; category < kCategories; ++category) {
    request.Categories.push_back("/org/" + std::to_string(category) + "/");
  }
  const int queued = cities * kCategories;
  request.ThreadsLimit = 10;
  request.IntervalSec = 0;
  request.UseProxy = true;
  request.Folder = folder + "/";

  engine::RunEnvironment environment = bench::BenchEnvironment();

  for (auto _ : state) {
    const bench::TimedRun timed = bench::RunToEnd(environment, request);
    const auto& log = timed.Events;
    const double seconds = timed.Seconds;
    state.SetIterationTime(seconds);
    const int harvested = log->Fetched();
    state.counters["pages"] = harvested;
    state.counters["pages_per_s"] = harvested / seconds;
    state.counters["of_ceiling"] = harvested / seconds / kCeilingPagesPerSecond;
    if (harvested != queued) {
      state.SkipWithError("not every page was fetched");
    }
  }

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::remove(platform::NamedLockPath(environment.RequestMutexName), ignored);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with("--pages=")) {
      g_pages = std::atoi(argv[i] + 8);
    } else {
      arguments.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(arguments.size());
  benchmark::RegisterBenchmark("BM_RunThroughput", BM_RunThroughput)
      ->Arg(g_pages)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::Initialize(&count, arguments.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
