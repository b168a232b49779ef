// Resident memory and CPU time per worker while many HTTPS workers hold their connections open.
// A slow local TLS server (a separate process, so its memory is not counted) completes every
// handshake, reads the request and then stays silent. The client side runs in a process of its
// own for each variant, so one variant's freed memory cannot hide the next one's:
//   shared_store=1  the worker's client, one certificate store built once for all handles;
//   shared_store=0  plain libcurl handles that each load the CA file themselves.
// The CA file is the system bundle with the test CA appended, so both parse a real-sized store.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/curl_handle_profile.h"
#include "engine/http_client.h"
#include "platform/thread.h"
#include "tests/support/fake_site.h"
#include "tests/support/test_certificates.h"

namespace {

using mirava::testing::FakeResponse;
using mirava::testing::FakeSite;
using mirava::testing::TestCertificates;

constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

struct Measurement {
  int workers_started = 0;
  int requests_arrived = 0;
  int ended_early = 0;      // workers whose request failed instead of waiting
  double store_kb = 0;      // the shared store itself (0 for per-handle loading)
  double rss_delta_kb = 0;  // from before the first worker until every request has arrived
  double cpu_ms = 0;        // user + system time over the same span
  double wall_ms = 0;
};

void RaiseFileLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

double ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_usec) / 1000.0;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::string BigCaFile() {
  std::ifstream system(kSystemBundle);
  std::stringstream text;
  text << system.rdbuf();
  text << "\n" << TestCertificates::Shared().CaPem;
  const std::string path = "/tmp/mirava-bench-ca-" + std::to_string(getpid()) + ".pem";
  std::ofstream(path) << text.str();
  return path;
}

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got <= 0) {
      return false;
    }
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// The silent server: reports its port, then one byte per request that arrived; ends when its
// control pipe closes.
pid_t StartServer(int& port, int& arrivals_fd, int& control_fd) {
  int port_pipe[2];
  int arrivals_pipe[2];
  int control_pipe[2];
  if (pipe(port_pipe) != 0 || pipe(arrivals_pipe) != 0 || pipe(control_pipe) != 0) {
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(port_pipe[0]);
    close(arrivals_pipe[0]);
    close(control_pipe[1]);
    RaiseFileLimit();
    const int arrivals = arrivals_pipe[1];
    FakeSite site(TestCertificates::Shared());
    site.SetHandler([arrivals](const mirava::testing::RecordedRequest&) {
      const char byte = 1;
      [[maybe_unused]] const ssize_t ignored = write(arrivals, &byte, 1);
      return std::optional<FakeResponse>(FakeResponse::Silence(std::chrono::minutes(10)));
    });
    const int server_port = site.Port();
    [[maybe_unused]] const ssize_t ignored = write(port_pipe[1], &server_port, sizeof server_port);
    char byte;
    while (read(control_pipe[0], &byte, 1) > 0) {
    }
    _exit(0);  // the kernel closes a thousand connections faster than an orderly stop
  }
  close(port_pipe[1]);
  close(arrivals_pipe[1]);
  close(control_pipe[0]);
  if (!ReadAll(port_pipe[0], &port, sizeof port)) {
    port = 0;
  }
  close(port_pipe[0]);
  arrivals_fd = arrivals_pipe[0];
  control_fd = control_pipe[1];
  return pid;
}

// What a handle does without the shared store: libcurl loads the CA file into every new TLS
// context.
void NaiveFetch(const std::string& url, const std::string& ca_file) {
  CURL* easy = mirava::bench::NewProfiledHandle(url);
  curl_easy_setopt(easy, CURLOPT_CAINFO, ca_file.c_str());
  curl_easy_perform(easy);
  curl_easy_cleanup(easy);
}

// Runs in a process of its own and writes one Measurement to `result_fd`.
void MeasureWorkers(bool shared_store, int workers, int port, int arrivals_fd, int result_fd) {
  RaiseFileLimit();
  mirava::engine::InitHttpGlobally();
  const std::string ca_file = BigCaFile();
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/slow";
  Measurement measurement;

  const double before_store = ResidentKb();
  std::shared_ptr<const mirava::engine::TlsTrustStore> store;
  if (shared_store) {
    store = mirava::engine::TlsTrustStore::FromFile(ca_file);
  }
  measurement.store_kb = ResidentKb() - before_store;

  const double rss_before = ResidentKb();
  const double cpu_before = CpuMs();
  const auto wall_before = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<mirava::platform::Thread>> threads;
  static std::atomic<int> ended{0};
  for (int i = 0; i < workers; ++i) {
    auto thread = std::make_unique<mirava::platform::Thread>();
    try {
      thread->Start([shared_store, store, url, ca_file] {
        if (shared_store) {
          mirava::engine::HttpClientOptions options;
          options.TrustStore = store;
          options.ReadTimeoutMs = 600000;
          mirava::engine::HttpClient client(options, url);
          std::string body;
          client.Get(url, body);
        } else {
          NaiveFetch(url, ca_file);
        }
        ++ended;
      });
    } catch (const std::exception& error) {
      std::fprintf(stderr, "worker %d not started: %s\n", i, error.what());
      break;
    }
    threads.push_back(std::move(thread));
  }
  measurement.workers_started = static_cast<int>(threads.size());
  // Every request has arrived once every handshake is done and each client waits for its page.
  while (measurement.requests_arrived < measurement.workers_started) {
    pollfd watched{arrivals_fd, POLLIN, 0};
    if (poll(&watched, 1, 300000) <= 0) {
      break;
    }
    char bytes[256];
    const ssize_t got = read(arrivals_fd, bytes, sizeof bytes);
    if (got <= 0) {
      break;
    }
    measurement.requests_arrived += static_cast<int>(got);
  }
  measurement.cpu_ms = CpuMs() - cpu_before;
  measurement.ended_early = ended.load();
  measurement.rss_delta_kb = ResidentKb() - rss_before;
  measurement.wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_before)
          .count();
  [[maybe_unused]] const ssize_t ignored = write(result_fd, &measurement, sizeof measurement);
  std::remove(ca_file.c_str());
  _exit(0);  // the workers are still waiting for their pages
}

void BM_HttpsWorkersHeldOpen(benchmark::State& state) {
  const bool shared_store = state.range(0) == 1;
  const int workers = static_cast<int>(state.range(1));
  // Made before the processes split, so the server and the clients agree on the authority.
  TestCertificates::Shared();
  for (auto _ : state) {
    int port = 0;
    int arrivals_fd = -1;
    int control_fd = -1;
    const pid_t server = StartServer(port, arrivals_fd, control_fd);
    if (server <= 0 || port == 0) {
      state.SkipWithError("the slow TLS server did not start");
      return;
    }
    int result_pipe[2];
    if (pipe(result_pipe) != 0) {
      state.SkipWithError("pipe");
      return;
    }
    const pid_t client = fork();
    if (client == 0) {
      close(result_pipe[0]);
      MeasureWorkers(shared_store, workers, port, arrivals_fd, result_pipe[1]);
    }
    close(result_pipe[1]);
    close(arrivals_fd);
    Measurement measurement;
    const bool measured = ReadAll(result_pipe[0], &measurement, sizeof measurement);
    close(result_pipe[0]);
    int status = 0;
    waitpid(client, &status, 0);
    close(control_fd);
    waitpid(server, &status, 0);
    if (!measured) {
      state.SkipWithError("the measuring process ended without a result");
      return;
    }
    const double held = measurement.requests_arrived > 0 ? measurement.requests_arrived : 1;
    state.counters["workers_held"] = measurement.requests_arrived;
    state.counters["ended_early"] = measurement.ended_early;
    state.counters["MB_per_worker"] = measurement.rss_delta_kb / 1024.0 / held;
    state.counters["cpu_ms_per_worker"] = measurement.cpu_ms / held;
    state.counters["store_MB"] = measurement.store_kb / 1024.0;
    state.counters["all_held_after_s"] = measurement.wall_ms / 1000.0;
  }
}

BENCHMARK(BM_HttpsWorkersHeldOpen)
    ->ArgNames({"shared_store", "workers"})
    ->Args({1, 1000})
    ->Args({0, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
