// What dead proxies cost. First one request through each kind of dead proxy (refused port,
// listener whose handshake never completes, listener that never answers, 407, 502) and through
// a live tinyproxy, at the given time-outs. Then whole runs over the demo directory through ten
// entries of which four are dead, with and without setting dead entries aside. Then a run of
// three threads over one city of the demo directory through two live proxies and three dead
// entries (refused port, a listener that takes the request and never answers, 502) against the
// same run through three live proxies: the dead entries should cost less than half of it again.
//
//   bench_proxy_health                     time-outs of 2 s (the runs take about two minutes)
//   bench_proxy_health --timeout-ms=15000  the proxy time-outs of the program
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/timed_run.h"
#include "engine/http_client.h"
#include "engine/scraper.h"
#include "platform/clock.h"
#include "platform/named_lock.h"
#include "tests/support/dead_proxies.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"
#include "tests/support/tinyproxy.h"

namespace {

using namespace mirava;

int g_timeout_ms = 2000;

enum DeadKind { kAlive, kRefused, kUnreachable, kSilent, kAsks407, kAnswers502 };

void BM_OneRequestThrough(benchmark::State& state) {
  const auto kind = static_cast<DeadKind>(state.range(0));
  testing::FakeSite site;
  site.SetFallback(testing::FakeResponse::Page("ok"));
  std::unique_ptr<testing::TinyProxy> tinyproxy;
  std::unique_ptr<testing::RefusingPort> refusing;
  std::unique_ptr<testing::UnreachableListener> unreachable;
  std::unique_ptr<testing::SilentListener> silent;
  std::unique_ptr<testing::FakeSite> answering;
  int port = 0;
  switch (kind) {
    case kAlive:
      tinyproxy = std::make_unique<testing::TinyProxy>("bench", "secret", std::vector<int>{});
      port = tinyproxy->Port();
      state.SetLabel("tinyproxy");
      break;
    case kRefused:
      refusing = std::make_unique<testing::RefusingPort>();
      port = refusing->Port();
      state.SetLabel("refused port");
      break;
    case kUnreachable:
      unreachable = std::make_unique<testing::UnreachableListener>();
      port = unreachable->Port();
      state.SetLabel("handshake never completes");
      break;
    case kSilent:
      silent = std::make_unique<testing::SilentListener>();
      port = silent->Port();
      state.SetLabel("accepts, never answers");
      break;
    case kAsks407:
    case kAnswers502:
      answering = std::make_unique<testing::FakeSite>();
      answering->SetFallback(testing::FakeResponse::Error(kind == kAsks407 ? 407 : 502));
      port = answering->Port();
      state.SetLabel(kind == kAsks407 ? "answers 407" : "answers 502");
      break;
  }
  engine::HttpClientOptions options;
  options.ConnectTimeoutMs = static_cast<std::uint32_t>(g_timeout_ms);
  options.ProxyConnectTimeoutMs = static_cast<std::uint32_t>(g_timeout_ms);
  options.ReadTimeoutMs = static_cast<std::uint32_t>(g_timeout_ms);
  options.ProxyFirstByteTimeoutMs = static_cast<std::uint32_t>(g_timeout_ms);
  for (auto _ : state) {
    engine::HttpClient client(options, site.Url("/page"));
    client.SetProxy({"127.0.0.1", port, "bench", "secret"});
    std::string body;
    const engine::HttpResult result = client.Get(site.Url("/page"), body);
    benchmark::DoNotOptimize(result.Ok);
  }
}

void BM_DemoRunWithFourDeadOfTen(benchmark::State& state) {
  const bool set_aside = state.range(0) != 0;
  state.SetLabel(set_aside ? "dead entries set aside" : "every entry keeps its turn");
  testing::FakeDirectory directory({.Seed = 5, .Size = testing::DirectorySize::Demo});
  testing::FakeSite site;
  directory.Attach(site);
  if (!testing::TinyProxy::Available()) {
    state.SkipWithError("tinyproxy is not installed");
    return;
  }
  testing::TinyProxy first("bench", "secret", {});
  testing::TinyProxy second("bench", "secret", {});
  testing::TinyProxy third("bench", "secret", {});
  testing::RefusingPort refusing;
  testing::SilentListener silent;
  testing::FakeSite asks_credentials;
  asks_credentials.SetFallback(testing::FakeResponse::Error(407));
  testing::FakeSite bad_gateway;
  bad_gateway.SetFallback(testing::FakeResponse::Error(502));
  const auto entry = [](int port) { return "bench:secret@127.0.0.1:" + std::to_string(port); };

  const std::string folder =
      std::filesystem::temp_directory_path() / ("mirava-proxy-health-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/proxy.txt") << entry(first.Port()) << "\r\n"
                                       << entry(refusing.Port()) << "\r\n"
                                       << entry(second.Port()) << "\r\n"
                                       << entry(silent.Port()) << "\r\n"
                                       << entry(third.Port()) << "\r\n"
                                       << entry(asks_credentials.Port()) << "\r\n"
                                       << entry(first.Port()) << " \r\n"
                                       << entry(bad_gateway.Port()) << "\r\n"
                                       << entry(second.Port()) << " \r\n"
                                       << entry(third.Port()) << " \r\n";

  engine::RunRequest request;
  for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
    request.Cities.push_back(directory.CityValue(site.Origin(), city));
  }
  for (const testing::DirectoryCategory& category : directory.Categories()) {
    request.Categories.push_back(category.Path);
  }
  request.ThreadsLimit = 8;
  request.IntervalSec = 0;
  request.UseProxy = true;
  request.Folder = folder + "/";

  engine::RunEnvironment environment = bench::BenchEnvironment();
  if (!set_aside) {
    engine::ProxyHealthSettings never;
    never.FailuresToSetAside = INT_MAX;
    environment.Rotation->Health.Configure(never);
  }
  environment.Fetch.ConnectTimeout = std::chrono::milliseconds(g_timeout_ms);
  environment.Fetch.ProxyConnectTimeout = std::chrono::milliseconds(g_timeout_ms);
  environment.Fetch.ReadTimeout = std::chrono::milliseconds(g_timeout_ms);
  environment.Fetch.ProxyFirstByteTimeout = std::chrono::milliseconds(g_timeout_ms);

  for (auto _ : state) {
    const bench::TimedRun timed = bench::RunToEnd(environment, request);
    const auto& log = timed.Events;
    const double seconds = timed.Seconds;
    state.SetIterationTime(seconds);
    state.counters["rows"] = static_cast<double>(log->Rows());
    if (log->Rows() != static_cast<long long>(directory.Organizations().size())) {
      state.SkipWithError("not every organization was written");
    }
  }
  long long dead_requests = 0;
  for (const int port :
       {refusing.Port(), silent.Port(), asks_credentials.Port(), bad_gateway.Port()}) {
    const auto records = environment.Rotation->Health.Records();
    const auto found = records.find(entry(port));
    dead_requests += found == records.end() ? 0 : found->second.Requests;
  }
  state.counters["dead_requests"] = static_cast<double>(dead_requests);

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::remove(platform::NamedLockPath(environment.RequestMutexName), ignored);
}

// Three threads over the first city: through three live proxies, or through two live ones and
// three dead entries. The city's value and every category make about 130 pages.
void BM_CityRunThreeThreads(benchmark::State& state) {
  const bool with_dead = state.range(0) != 0;
  state.SetLabel(with_dead ? "2 live, 3 dead entries" : "3 live proxies");
  if (!testing::TinyProxy::Available()) {
    state.SkipWithError("tinyproxy is not installed");
    return;
  }
  testing::FakeDirectory directory({.Seed = 5, .Size = testing::DirectorySize::Demo});
  testing::FakeSite site;
  directory.Attach(site);
  testing::TinyProxy first("bench", "secret", {});
  testing::TinyProxy second("bench", "secret", {});
  std::unique_ptr<testing::TinyProxy> third;
  testing::RefusingPort refusing;
  testing::SilentListener silent;
  testing::FakeSite bad_gateway;
  bad_gateway.SetFallback(testing::FakeResponse::Error(502));
  const auto entry = [](int port) { return "bench:secret@127.0.0.1:" + std::to_string(port); };
  std::vector<std::string> entries = {entry(first.Port()), entry(second.Port())};
  std::vector<std::string> dead;
  if (with_dead) {
    dead = {entry(refusing.Port()), entry(silent.Port()), entry(bad_gateway.Port())};
    entries = {entries[0], dead[0], entries[1], dead[1], dead[2]};
  } else {
    third = std::make_unique<testing::TinyProxy>("bench", "secret", std::vector<int>{});
    entries.push_back(entry(third->Port()));
  }

  const std::string folder =
      std::filesystem::temp_directory_path() / ("mirava-proxy-city-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  {
    std::ofstream file(folder + "/proxy.txt");
    for (const std::string& line : entries) {
      file << line << "\r\n";
    }
  }
  engine::RunRequest request;
  request.Cities.push_back(directory.CityValue(site.Origin(), 0));
  for (const testing::DirectoryCategory& category : directory.Categories()) {
    request.Categories.push_back(category.Path);
  }
  request.ThreadsLimit = 3;
  request.IntervalSec = 0;
  request.UseProxy = true;
  request.Folder = folder + "/";

  engine::RunEnvironment environment = bench::BenchEnvironment();
  environment.Fetch.ConnectTimeout = std::chrono::milliseconds(g_timeout_ms);
  environment.Fetch.ProxyConnectTimeout = std::chrono::milliseconds(g_timeout_ms);
  environment.Fetch.ProxyFirstByteTimeout = std::chrono::milliseconds(g_timeout_ms);
  environment.Fetch.ReadTimeout = std::chrono::milliseconds(g_timeout_ms);

  for (auto _ : state) {
    const bench::TimedRun timed = bench::RunToEnd(environment, request);
    state.SetIterationTime(timed.Seconds);
    state.counters["pages"] = timed.Events->Fetched();
    state.counters["rows"] = static_cast<double>(timed.Events->Rows());
  }
  long long dead_requests = 0;
  const auto records = environment.Rotation->Health.Records();
  for (const std::string& line : dead) {
    const auto found = records.find(line);
    dead_requests += found == records.end() ? 0 : found->second.Requests;
  }
  state.counters["dead_requests"] = static_cast<double>(dead_requests);

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::remove(platform::NamedLockPath(environment.RequestMutexName), ignored);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with("--timeout-ms=")) {
      g_timeout_ms = std::atoi(argv[i] + 13);
    } else {
      arguments.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(arguments.size());
  benchmark::RegisterBenchmark("BM_OneRequestThrough", BM_OneRequestThrough)
      ->DenseRange(kAlive, kAnswers502)
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_DemoRunWithFourDeadOfTen", BM_DemoRunWithFourDeadOfTen)
      ->Arg(1)
      ->Arg(0)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("BM_CityRunThreeThreads", BM_CityRunThreeThreads)
      ->Arg(0)
      ->Arg(1)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::Initialize(&count, arguments.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
