// What the run journal costs. The per-page part is what the coordinator adds for every harvested
// page (its queued addresses and its finished record, one write, a sync at most every second),
// set beside the time a page takes at interval 0 in bench_run_throughput (100 ms: the loop's
// two sleeps), where the goal is at most 2%. The rebuild reads a journal of 1,000,000 queued
// addresses of a run interrupted halfway (the first half finished, in queue order, while the
// rest was queued) and restores queue, visited list and category lines (goal: at most 2 s).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "analysis/category_by_url.h"
#include "analysis/organization_row.h"
#include "engine/run_continuation.h"
#include "engine/run_journal.h"
#include "engine/run_recorder.h"
#include "engine/visited_list.h"
#include "output/results_file.h"
#include "platform/clock.h"

namespace {

using namespace mirava;

std::string TempFolder(const std::string& name) {
  const std::string folder =
      std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  return folder + "/";
}

std::string Address(long long n) {
  return "https://mirava.ru/barnaul/firm/organization-" + std::to_string(n) + "/";
}

// A listing page that queues `range(0)` organization pages, or an organization page (0).
void BM_JournalPerPage(benchmark::State& state) {
  const int queued_per_page = static_cast<int>(state.range(0));
  const std::string folder = TempFolder("mirava-journal-bench");
  auto clock = platform::MakeSystemClock();
  output::ResultsWriter results(platform::CreateResultsSink(folder + "data1.tab"));
  engine::RunRecorder recorder(platform::CreateResultsSink(folder + "data1.journal"), clock);
  engine::RunRequest request;
  request.Cities = {std::string("https://mirava.ru/barnaul/")};
  request.Categories = {std::string("autoservice/")};
  recorder.Begin(request, {"https://mirava.ru/barnaul/autoservice/"});
  analysis::CategoryByUrl categories;
  long long next = 0;
  int worker = 0;
  for (auto _ : state) {
    recorder.WorkerStarted(&worker, Address(next));
    for (int i = 0; i < queued_per_page; ++i) {
      const std::string address = Address(++next);
      recorder.Queued(address);
      categories.Add(address, "Автосервисы");
    }
    recorder.PageFinished(&worker, true, categories);
    recorder.SyncIfDue(&results);
  }
  recorder.Close(&results);
  results.Close();
  // Against the 100 ms a page takes at interval 0, 2% is 2000 us per page.
  state.SetItemsProcessed(state.iterations());
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_JournalPerPage)->Arg(0)->Arg(30)->Unit(benchmark::kMicrosecond);

void BM_RebuildFromJournal(benchmark::State& state) {
  const long long pages = state.range(0);
  const std::string folder = TempFolder("mirava-rebuild-bench");
  {
    auto clock = platform::MakeSystemClock();
    engine::JournalWriter journal(platform::CreateResultsSink(folder + "data1.journal"));
    journal.Header();
    journal.Selection({std::string("https://mirava.ru/barnaul/")}, {std::string("autoservice/")});
    for (long long n = 0; n < pages; ++n) {
      journal.Queued(Address(n), "Автосервисы");
      // Interrupted halfway: the queue is fetched in order, so the first half is finished.
      if (n >= pages / 2) {
        journal.Finished(Address(n - pages / 2), true);
      }
      if (n % 10000 == 0) {
        journal.Commit();
      }
    }
    journal.Commit();
    journal.Close();
    output::ResultsWriter results(platform::CreateResultsSink(folder + "data1.tab"));
    results.WriteLine(analysis::HeaderLine());
    results.Close();
  }
  for (auto _ : state) {
    // Freed outside the timed part: a continued run keeps them.
    auto queue_owner = std::make_unique<std::deque<std::string>>();
    auto visited_owner = std::make_unique<engine::VisitedList>();
    auto categories_owner = std::make_unique<analysis::CategoryByUrl>();
    auto& queue = *queue_owner;
    auto& visited = *visited_owner;
    auto& categories = *categories_owner;
    engine::RunToContinue run = engine::LoadRunToContinue(folder, "data1.tab");
    // The recorder's own restore, without a journal file of its own to append to.
    const std::string scratch = folder + "scratch.journal";
    engine::RunRecorder recorder(platform::CreateResultsSink(scratch), platform::MakeSystemClock());
    const auto restored =
        recorder.Restore(std::move(run), engine::RunRequest{}, queue, visited, categories);
    benchmark::DoNotOptimize(restored);
    if (static_cast<long long>(queue.size()) != pages / 2) {
      state.SkipWithError("the queue was not rebuilt");
    }
    recorder.Close(nullptr);
    state.PauseTiming();
    queue_owner.reset();
    visited_owner.reset();
    categories_owner.reset();
    state.ResumeTiming();
  }
  state.counters["queued"] = static_cast<double>(pages);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_RebuildFromJournal)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
