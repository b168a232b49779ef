// The organization base at the size of years of runs: a base of 1,000,000 organizations whose rows
// are like the demo directory's (its organizations' values, each at an address of its own, every
// tenth reached from another address, as after a redirect), built once. Figures: the time to tell
// whether an address is known (goal: at most 50 us), the bytes the file takes per organization
// (goal: at most 600), the time to open the base (a full soundness check of the file), and the cost
// of recording a listing page's worth of rows.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "analysis/organization_row.h"
#include "base/organization_base.h"
#include "tests/support/fake_directory.h"
#include "tests/support/site_pages.h"

namespace {

using namespace mirava;
namespace fs = std::filesystem;

constexpr int kOrganizations = 1000000;
constexpr int kBatch = 1000;

std::string Address(std::int64_t n) {
  return "https://mirava.ru/org/" + std::to_string(4100000 + n) + "/";
}

// The address organization `n`'s page was queued under.
std::string QueuedAddress(std::int64_t n) {
  return n % 10 == 0 ? "https://mirava.ru/barnaul/firm/" + std::to_string(4100000 + n) + "/"
                     : Address(n);
}

// The demo directory's organizations as rows; a million of them cycle through these values.
std::vector<analysis::OrganizationRow> DemoRows() {
  testing::FakeDirectory directory({.Seed = 1, .Size = testing::DirectorySize::Demo});
  std::vector<analysis::OrganizationRow> rows;
  for (const testing::DirectoryOrganization& organization : directory.Organizations()) {
    rows.push_back(
        testing::ExpectedRow(organization.Data, Address(0), *organization.ListedUnder.begin()));
  }
  return rows;
}

std::uintmax_t FileBytes(const fs::path& path) {
  std::error_code missing;
  const std::uintmax_t size = fs::file_size(path, missing);
  return missing ? 0 : size;
}

struct MillionBase {
  MillionBase() {
    folder =
        fs::temp_directory_path() / ("mirava-base-bench-" + std::to_string(std::random_device()()));
    fs::create_directories(folder);
    path = (folder / std::string(base::kBaseFileName)).string();
    const std::vector<analysis::OrganizationRow> demo = DemoRows();
    const auto started = std::chrono::steady_clock::now();
    {
      base::OrganizationBase organizations(path);
      std::vector<base::RecordedRow> batch;
      for (int n = 0; n < kOrganizations; n += kBatch) {
        batch.clear();
        for (int i = n; i < n + kBatch; ++i) {
          batch.push_back({QueuedAddress(i), demo[i % demo.size()]});
          batch.back().Row[analysis::kLinkColumn] = Address(i);
        }
        organizations.RecordRows("data" + std::to_string(1 + n / 50000) + ".tab", batch,
                                 1700000000 + n);
      }
    }
    build_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Closed: the write-ahead log is back in the file.
    file_bytes = FileBytes(path) + FileBytes(path + "-wal");
    demo_rows = demo.size();
  }
  ~MillionBase() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  fs::path folder;
  std::string path;
  double build_seconds = 0;
  std::uintmax_t file_bytes = 0;
  std::size_t demo_rows = 0;
};

MillionBase& Base() {
  static MillionBase base;
  return base;
}

void BM_FileBytesPerOrganization(benchmark::State& state) {
  MillionBase& million = Base();
  for (auto _ : state) {
    benchmark::DoNotOptimize(million.file_bytes);
  }
  state.counters["bytes_per_organization"] =
      static_cast<double>(million.file_bytes) / kOrganizations;
  state.counters["file_MB"] = static_cast<double>(million.file_bytes) / 1e6;
  state.counters["build_s"] = million.build_seconds;
  state.counters["demo_rows"] = static_cast<double>(million.demo_rows);
}
BENCHMARK(BM_FileBytesPerOrganization)->Iterations(1);

// Half the addresses asked are known, in a case the base did not store them in.
void BM_FindAmongAMillion(benchmark::State& state) {
  base::OrganizationBase organizations(Base().path);
  std::mt19937 random(7);
  std::vector<std::string> asked;
  for (int i = 0; i < 4096; ++i) {
    std::string address = Address(static_cast<std::int64_t>(random() % (2 * kOrganizations)));
    address.replace(0, 5, "HTTPS");
    asked.push_back(address);
  }
  std::size_t next = 0;
  std::int64_t known = 0;
  for (auto _ : state) {
    known += organizations.Find(asked[next++ % asked.size()]).has_value() ? 1 : 0;
  }
  state.counters["known_share"] = static_cast<double>(known) / state.iterations();
}
BENCHMARK(BM_FindAmongAMillion)->Unit(benchmark::kMicrosecond);

void BM_OpenAMillion(benchmark::State& state) {
  const std::string path = Base().path;
  for (auto _ : state) {
    base::OrganizationBase organizations(path);
    benchmark::DoNotOptimize(&organizations);
  }
}
BENCHMARK(BM_OpenAMillion)->Unit(benchmark::kMillisecond)->Iterations(3);

// A listing page's 30 organizations, a third of them known, into the million base.
void BM_RecordAPageOfRows(benchmark::State& state) {
  base::OrganizationBase organizations(Base().path);
  const std::vector<analysis::OrganizationRow> demo = DemoRows();
  std::int64_t next_new = kOrganizations;
  std::mt19937 random(11);
  std::vector<base::RecordedRow> batch;
  for (auto _ : state) {
    batch.clear();
    for (int i = 0; i < 30; ++i) {
      const std::int64_t n =
          i % 3 == 0 ? static_cast<std::int64_t>(random() % kOrganizations) : next_new++;
      batch.push_back({QueuedAddress(n), demo[static_cast<std::size_t>(i) % demo.size()]});
      batch.back().Row[analysis::kLinkColumn] = Address(n);
    }
    benchmark::DoNotOptimize(organizations.RecordRows("data99.tab", batch, 1800000000));
  }
  state.SetItemsProcessed(state.iterations() * 30);
}
BENCHMARK(BM_RecordAPageOfRows)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
