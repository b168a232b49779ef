// The cost of queueing one address as a run grows to a million of them: what EnqueuePage does
// (visited test, append to the queue) for new addresses and for addresses already seen. The time
// per call should stay flat, not grow with the number of addresses the run holds.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/visited_list.h"

namespace {

// Organization addresses as the directory writes them, in mixed case.
std::vector<std::string> Addresses(std::int64_t count, std::int64_t first = 0) {
  std::vector<std::string> addresses;
  addresses.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = first; i < first + count; ++i) {
    addresses.push_back("https://mirava.ru/Moskva/firm/" + std::to_string(1000000 + i * 7919) +
                        "-Kafe-Na-Ulitse/");
  }
  return addresses;
}

// Mirrors EnqueuePage: the address goes to the queue only if the run has not queued it before.
struct Enqueuer {
  mirava::engine::VisitedList visited;
  std::deque<std::string> queue;
  int max = 0;
  bool EnqueuePage(const std::string& url) {
    if (!visited.Add(url)) {
      return false;
    }
    queue.push_back(url);
    ++max;
    return true;
  }
};

// A whole run's worth of new addresses; reported per call.
void BM_EnqueueNewAddresses(benchmark::State& state) {
  const std::vector<std::string> addresses = Addresses(state.range(0));
  for (auto _ : state) {
    Enqueuer enqueuer;
    for (const std::string& address : addresses) {
      benchmark::DoNotOptimize(enqueuer.EnqueuePage(address));
    }
    state.PauseTiming();
    {
      Enqueuer discarded = std::move(enqueuer);  // freeing is not part of queueing
    }
    state.ResumeTiming();
  }
  state.counters["per_call"] =
      benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnqueueNewAddresses)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// An address the run already holds, with `range` addresses in it: the usual case once listing
// pages start naming organizations seen before.
void BM_EnqueueSeenAddress(benchmark::State& state) {
  const std::vector<std::string> addresses = Addresses(state.range(0));
  Enqueuer enqueuer;
  for (const std::string& address : addresses) {
    enqueuer.EnqueuePage(address);
  }
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < addresses.size(); i += addresses.size() / 1000) {
    std::string upper = addresses[i];
    upper[8] = 'M';  // "https://Mirava.ru/...": the same address, other case
    seen.push_back(std::move(upper));
  }
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(enqueuer.EnqueuePage(seen[next]));
    next = next + 1 == seen.size() ? 0 : next + 1;
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnqueueSeenAddress)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Complexity(benchmark::o1);

}  // namespace

BENCHMARK_MAIN();
