// Whole runs and the folder's organization base, direct at interval 0 on a local site.
//
// A repeat that takes only new organizations: a first run of everything fills the base, then the
// same selection again with OnlyNew. The repeat should send only its listing and hub requests,
// over the demo directory and over one city's category of 1,000 organizations (34 listing pages
// against 1,034 pages in all). Figures: requests and time of each run and their ratios, and the
// organization pages the repeat fetched all the same (goal 0).
//
// What recording costs: the demo directory crawled with a working base and with one that cannot
// be opened (a folder in the file's place: the run goes on without it and says so once), the two
// alternated round after round in fresh folders. Medians of the wall time and of the process's
// CPU time to the outcome line, and to the run's end (the workbook export included, whose sheet
// of new organizations needs the base), each with the overhead in percent (goal at most 2 % of
// the wall time to the outcome line).
//
//   bench_organization_base_run             5 rounds of the recording cost (about 11 minutes)
//   bench_organization_base_run --rounds=N
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/organization_base.h"
#include "bench/timed_run.h"
#include "engine/scraper.h"
#include "platform/named_lock.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"
#include "tests/support/site_pages.h"

namespace {

using namespace mirava;
namespace fs = std::filesystem;

// As the demo site serves its pages.
constexpr std::size_t kPageBytes = 24 * 1024;
constexpr int kThreads = 3;
constexpr int kCategoryOrganizations = 1000;
// Written when the base cannot be used; the run must say it once.
constexpr std::string_view kWithoutBase = "работа идет без нее";

int g_rounds = 5;

// A local site and the selection that crawls all of it.
class BenchSite {
 public:
  virtual ~BenchSite() = default;
  virtual engine::RunRequest Selection() const = 0;
  virtual std::size_t Organizations() const = 0;
  virtual testing::FakeSite& Site() = 0;
};

class DemoSite final : public BenchSite {
 public:
  DemoSite() { directory_.Attach(site_); }
  engine::RunRequest Selection() const override {
    engine::RunRequest request;
    for (std::size_t city = 0; city < directory_.Cities().size(); ++city) {
      request.Cities.push_back(directory_.CityValue(site_.Origin(), city));
    }
    for (const testing::DirectoryCategory& category : directory_.Categories()) {
      request.Categories.push_back(category.Path);
    }
    return request;
  }
  std::size_t Organizations() const override { return directory_.Organizations().size(); }
  testing::FakeSite& Site() override { return site_; }

 private:
  // The directory outlives the site that answers from it.
  testing::FakeDirectory directory_{
      {.Seed = 5, .Size = testing::DirectorySize::Demo, .PageBytes = kPageBytes}};
  testing::FakeSite site_;
};

// One city's category of exactly 1,000 organizations: at the split threshold, so it is walked
// through its 34 listing pages and not by metro station.
class ThousandCategorySite final : public BenchSite {
 public:
  ThousandCategorySite() {
    const int pages =
        (kCategoryOrganizations + analysis::kCompaniesPerPage - 1) / analysis::kCompaniesPerPage;
    for (int page = 1; page <= pages; ++page) {
      testing::ListingPageData listing;
      listing.Heading = "Автосервисы в Барнауле";
      listing.Breadcrumb = "Автосервисы";
      listing.CountText = std::to_string(kCategoryOrganizations);
      listing.PageNumber = page;
      const int first = (page - 1) * analysis::kCompaniesPerPage;
      const int end = std::min(kCategoryOrganizations, first + analysis::kCompaniesPerPage);
      for (int n = first; n < end; ++n) {
        listing.CardLinks.push_back(site_.Url(OrganizationPath(n)));
      }
      if (page > 1) {
        listing.Heading += ", страница " + std::to_string(page);
      }
      const std::string path =
          std::string(kRoot) + (page == 1 ? "" : "page-" + std::to_string(page) + "/");
      site_.Serve(path, testing::FakeResponse::Page(testing::ListingPage(
                            listing, {kPageBytes, static_cast<std::uint32_t>(page)})));
    }
    for (int n = 0; n < kCategoryOrganizations; ++n) {
      testing::OrganizationPageData organization =
          testing::SampleOrganization(static_cast<std::uint32_t>(n));
      organization.Id = std::to_string(kFirstId + n);
      site_.Serve(OrganizationPath(n),
                  testing::FakeResponse::Page(testing::OrganizationPage(
                      organization, {kPageBytes, static_cast<std::uint32_t>(n)})));
    }
  }
  engine::RunRequest Selection() const override {
    engine::RunRequest request;
    request.Cities.push_back(site_.Url("/barnaul/"));
    request.Categories.push_back("autoservice/");
    return request;
  }
  std::size_t Organizations() const override { return kCategoryOrganizations; }
  testing::FakeSite& Site() override { return site_; }

 private:
  static constexpr std::string_view kRoot = "/barnaul/autoservice/";
  static constexpr int kFirstId = 4200000;
  static std::string OrganizationPath(int n) {
    return "/org/" + std::to_string(kFirstId + n) + "/";
  }

  testing::FakeSite site_;
};

std::unique_ptr<BenchSite> MakeSite(int kind) {
  if (kind == 0) {
    return std::make_unique<DemoSite>();
  }
  return std::make_unique<ThousandCategorySite>();
}

std::string FreshFolder(const std::string& name) {
  const fs::path folder = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  return folder.string() + "/";
}

engine::RunRequest DirectRequest(const BenchSite& site, const std::string& folder) {
  engine::RunRequest request = site.Selection();
  request.ThreadsLimit = kThreads;
  request.IntervalSec = 0;
  request.UseProxy = false;
  request.Folder = folder;
  return request;
}

// The lines of the run logs in `folder` that hold `text`.
int LogLinesWith(const std::string& folder, std::string_view text) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || !name.starts_with("log") || !name.ends_with(".txt")) {
      continue;
    }
    std::ifstream file(entry.path(), std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
      count += line.find(text) != std::string::npos ? 1 : 0;
    }
  }
  return count;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void BM_RepeatOnlyNew(benchmark::State& state) {
  std::unique_ptr<BenchSite> bench_site = MakeSite(static_cast<int>(state.range(0)));
  testing::FakeSite& site = bench_site->Site();
  state.SetLabel(state.range(0) == 0 ? "demo directory" : "one category of 1,000 organizations");
  const std::string folder = FreshFolder("mirava-base-repeat");
  engine::RunEnvironment environment = bench::BenchEnvironment();
  const auto organizations = static_cast<long long>(bench_site->Organizations());

  for (auto _ : state) {
    engine::RunRequest request = DirectRequest(*bench_site, folder);
    const std::size_t before_first = site.RequestCount();
    const bench::TimedRun first = bench::RunToEnd(environment, request);
    const std::size_t before_repeat = site.RequestCount();
    request.OnlyNew = true;
    const bench::TimedRun repeat = bench::RunToEnd(environment, request);
    const std::vector<std::string> paths = site.Paths();

    std::set<std::string> organization_pages;
    for (std::size_t i = before_repeat; i < paths.size(); ++i) {
      if (paths[i].starts_with("/org/")) {
        organization_pages.insert(paths[i]);
      }
    }
    const auto first_requests = static_cast<double>(before_repeat - before_first);
    const auto repeat_requests = static_cast<double>(paths.size() - before_repeat);
    state.SetIterationTime(first.Seconds + repeat.Seconds);
    state.counters["organizations"] = static_cast<double>(organizations);
    state.counters["first_requests"] = first_requests;
    state.counters["repeat_requests"] = repeat_requests;
    state.counters["requests_ratio"] = repeat_requests / first_requests;
    state.counters["first_s"] = first.Seconds;
    state.counters["repeat_s"] = repeat.Seconds;
    state.counters["time_ratio"] = repeat.Seconds / first.Seconds;
    state.counters["repeat_org_pages"] = static_cast<double>(organization_pages.size());
    state.counters["repeat_rows"] = static_cast<double>(repeat.Events->Rows());
    if (first.Events->Rows() != organizations) {
      state.SkipWithError("the first run did not write every organization");
    } else if (!organization_pages.empty()) {
      state.SkipWithError(
          ("the repeat fetched known organization pages, the first " + *organization_pages.begin())
              .c_str());
    }
  }

  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::remove(platform::NamedLockPath(environment.RequestMutexName), ignored);
}

// The run's events for the recording cost: when the outcome line arrives, in wall and process
// time, so that the crawl is timed without the workbook export that follows it.
class CrawlClock final : public engine::IRunEvents {
 public:
  void BusyChanged(bool) override {}
  void LogLine(const std::string& line) override {
    if (line.find("Сбор данных завершен") != std::string::npos) {
      outcome_at_ = std::chrono::steady_clock::now();
      outcome_cpu_ = std::clock();
    }
  }
  void ProgressChanged(const engine::RunProgress& progress) override { rows_ = progress.Rows; }
  void RunEnded(engine::RunOutcome, const std::string&) override {}
  std::chrono::steady_clock::time_point OutcomeAt() const { return outcome_at_; }
  std::clock_t OutcomeCpu() const { return outcome_cpu_; }
  long long Rows() const { return rows_; }

 private:
  std::chrono::steady_clock::time_point outcome_at_{};
  std::clock_t outcome_cpu_ = 0;
  long long rows_ = 0;
};

struct RoundResult {
  double Seconds = 0;        // to the outcome line
  double CpuSeconds = 0;     // likewise
  double EndSeconds = 0;     // to the run's end, the workbook export included
  double EndCpuSeconds = 0;  // likewise
};

double CpuSince(std::clock_t started, std::clock_t now) {
  return static_cast<double>(now - started) / CLOCKS_PER_SEC;
}

// One crawl of `site` into a fresh folder; without the base, a folder stands where its file
// would be, so that it cannot be opened.
RoundResult CrawlOnce(benchmark::State& state, BenchSite& site, engine::RunEnvironment environment,
                      bool with_base) {
  const std::string folder = FreshFolder(with_base ? "mirava-base-with" : "mirava-base-without");
  if (!with_base) {
    fs::create_directories(folder + std::string(base::kBaseFileName));
  }
  auto events = std::make_shared<CrawlClock>();
  environment.Events = events;
  std::weak_ptr<engine::TScraper> run;
  const auto started = std::chrono::steady_clock::now();
  // Process time over every thread: the workers, the coordinator and the site alike.
  const std::clock_t cpu_started = std::clock();
  {
    std::shared_ptr<engine::TScraper> scraper =
        engine::TScraper::Create(environment, DirectRequest(site, folder));
    scraper->Start();
    run = scraper;
  }
  while (!run.expired()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  RoundResult result;
  result.EndCpuSeconds = CpuSince(cpu_started, std::clock());
  result.EndSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.Seconds = std::chrono::duration<double>(events->OutcomeAt() - started).count();
  result.CpuSeconds = CpuSince(cpu_started, events->OutcomeCpu());

  if (events->Rows() != static_cast<long long>(site.Organizations())) {
    state.SkipWithError("a run did not write every organization");
  }
  const int failures = LogLinesWith(folder, kWithoutBase);
  if (failures != (with_base ? 0 : 1)) {
    state.SkipWithError(with_base ? "the base failed in the run that should have it"
                                  : "the run without a base did not say so exactly once");
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return result;
}

void BM_RecordingCost(benchmark::State& state) {
  DemoSite site;
  engine::RunEnvironment environment = bench::BenchEnvironment();
  state.SetLabel("demo directory, " + std::to_string(kThreads) + " threads, " +
                 std::to_string(g_rounds) + " rounds");

  for (auto _ : state) {
    std::vector<RoundResult> with_base, without_base;
    for (int round = 0; round < g_rounds; ++round) {
      // Alternating which goes first evens out a machine whose load drifts.
      for (const bool base_works : {round % 2 == 0, round % 2 != 0}) {
        (base_works ? with_base : without_base)
            .push_back(CrawlOnce(state, site, environment, base_works));
      }
    }
    const auto median = [](const std::vector<RoundResult>& results, double RoundResult::*field) {
      std::vector<double> values;
      for (const RoundResult& result : results) {
        values.push_back(result.*field);
      }
      return Median(values);
    };
    const auto report = [&](const std::string& name, double RoundResult::*field) {
      const double with_median = median(with_base, field);
      const double without_median = median(without_base, field);
      state.counters["with_base_" + name] = with_median;
      state.counters["without_base_" + name] = without_median;
      state.counters[name + "_overhead_pct"] = 100 * (with_median / without_median - 1);
      return with_median;
    };
    state.SetIterationTime(report("s", &RoundResult::Seconds));
    report("cpu_s", &RoundResult::CpuSeconds);
    report("end_s", &RoundResult::EndSeconds);
    report("end_cpu_s", &RoundResult::EndCpuSeconds);
    state.counters["requests_per_run"] =
        static_cast<double>(site.Site().RequestCount()) / (2.0 * static_cast<double>(g_rounds));
  }

  std::error_code ignored;
  fs::remove(platform::NamedLockPath(environment.RequestMutexName), ignored);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with("--rounds=")) {
      g_rounds = std::max(1, std::atoi(argv[i] + 9));
    } else {
      arguments.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(arguments.size());
  benchmark::RegisterBenchmark("BM_RepeatOnlyNew", BM_RepeatOnlyNew)
      ->Arg(0)
      ->Arg(1)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("BM_RecordingCost", BM_RecordingCost)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::Initialize(&count, arguments.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
