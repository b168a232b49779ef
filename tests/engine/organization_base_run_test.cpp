// Runs and the folder's organization base: a first run fills it, a repeat that takes only new
// organizations fetches none of the known ones' pages, known ones are fetched again once they
// are old enough, and a base that cannot be used costs the run nothing.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "base/organization_base.h"
#include "tests/engine/scraper_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::chrono::minutes kRunTimeout{5};
constexpr base::EpochSeconds kFirstDay = 1'765'000'000;
constexpr base::EpochSeconds kDay = 24 * 60 * 60;

class OrganizationBaseRunTest : public ScraperTest {
 protected:
  OrganizationBaseRunTest() {
    directory_.Attach(site_);
    window.SelectAllOf(directory_, site_.Origin());
  }

  std::string BasePath() const { return Folder() + std::string(base::kBaseFileName); }

  // One whole run; every run gets file names of its own.
  void Run(bool only_new = false, int refresh_days = 0) {
    clock->Advance(1000);
    ++runs_;
    engine::RunEnvironment environment = Environment();
    environment.Now = [now = now_] { return now->load(); };
    engine::RunRequest request = Request();
    request.OnlyNew = only_new;
    request.RefreshDays = refresh_days;
    window.events->ClearLog();
    paths_before_ = site_.Paths().size();
    auto run = StartRun(environment, request);
    ASSERT_TRUE(WaitUntilGone(run, kRunTimeout));
    ASSERT_EQ(CountLines("Сбор данных завершен"), 1);
  }

  std::size_t OrganizationRequests() const {
    std::size_t count = 0;
    const std::vector<std::string> paths = site_.Paths();
    for (std::size_t i = paths_before_; i < paths.size(); ++i) {
      count += paths[i].starts_with("/org/") ? 1 : 0;
    }
    return count;
  }

  // The rows of the latest run's results file, without the header.
  std::vector<std::string> LatestRows() const {
    std::vector<std::string> rows;
    std::string newest;
    for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("data") && name.ends_with(".tab") &&
          (newest.empty() || std::filesystem::last_write_time(entry) >=
                                 std::filesystem::last_write_time(Folder() + newest))) {
        newest = name;
      }
    }
    std::ifstream file(Folder() + newest, std::ios::binary);
    std::string line;
    std::getline(file, line);  // the header
    while (std::getline(file, line)) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      rows.push_back(line);
    }
    return rows;
  }

  std::vector<base::StoredOrganization> Stored() {
    base::OrganizationBase organizations(BasePath());
    std::vector<base::StoredOrganization> stored;
    organizations.ListOrganizations(
        std::nullopt,
        [&](const base::StoredOrganization& organization) { stored.push_back(organization); });
    return stored;
  }

  // The base forgets these organizations, as if the directory had added them since.
  void Forget(const std::vector<std::string>& links) {
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(BasePath().c_str(), &connection), SQLITE_OK);
    // The run that just ended may still be closing its own connection.
    sqlite3_busy_timeout(connection, 10000);
    for (const std::string& link : links) {
      const std::string sql =
          "DELETE FROM organizations WHERE identity = '" + analysis::FoldCaseUtf8(link) + "'";
      ASSERT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(connection);
  }

  std::string SummaryLine(long long fresh, long long known, long long skipped,
                          long long refreshed) const {
    return engine::RunBaseSummaryText({fresh, known, skipped, refreshed});
  }

  FakeDirectory directory_{{.Seed = 7, .Size = DirectorySize::Small}};
  FakeSite site_;
  std::shared_ptr<std::atomic<base::EpochSeconds>> now_ =
      std::make_shared<std::atomic<base::EpochSeconds>>(kFirstDay);
  int runs_ = 0;
  std::size_t paths_before_ = 0;
};

std::string LinkOf(const std::string& row) {
  return row.substr(1, row.find("\"\t") - 1);
}

TEST_F(OrganizationBaseRunTest, ARepeatThatTakesOnlyNewOrganizationsFetchesNoKnownPage) {
  Run();
  const std::size_t organizations = directory_.Organizations().size();
  const std::vector<std::string> first_rows = LatestRows();
  ASSERT_EQ(first_rows.size(), organizations);
  EXPECT_EQ(OrganizationRequests(), organizations);
  EXPECT_EQ(CountLines(SummaryLine(organizations, 0, 0, 0)), 1);
  const std::vector<base::StoredOrganization> stored = Stored();
  ASSERT_EQ(stored.size(), organizations);
  for (const base::StoredOrganization& organization : stored) {
    EXPECT_EQ(organization.FirstSeen, kFirstDay);
    EXPECT_EQ(organization.FirstRun, "data" + std::to_string(kStartTick + 1000) + ".tab");
  }

  now_->store(kFirstDay + kDay);
  Run(/*only_new=*/true);
  EXPECT_EQ(OrganizationRequests(), 0u);
  EXPECT_THAT(LatestRows(), IsEmpty());
  EXPECT_EQ(CountLines(SummaryLine(0, 0, organizations, 0)), 1);

  // Three organizations the base does not know, as if the directory had added them: a repeat
  // takes exactly those.
  const std::vector<std::string> added = {LinkOf(first_rows[0]), LinkOf(first_rows[5]),
                                          LinkOf(first_rows.back())};
  Forget(added);
  Run(/*only_new=*/true);
  EXPECT_EQ(OrganizationRequests(), 3u);
  std::vector<std::string> links;
  for (const std::string& row : LatestRows()) {
    links.push_back(LinkOf(row));
  }
  EXPECT_THAT(links, ElementsAre(added[0], added[1], added[2]));
  EXPECT_EQ(CountLines(SummaryLine(3, 0, organizations - 3, 0)), 1);
  // First seen now, the others kept what they had.
  for (const base::StoredOrganization& organization : Stored()) {
    const bool is_added = std::find(added.begin(), added.end(),
                                    organization.Row[analysis::kLinkColumn]) != added.end();
    EXPECT_EQ(organization.FirstSeen, is_added ? kFirstDay + kDay : kFirstDay);
  }
}

TEST_F(OrganizationBaseRunTest, KnownOrganizationsOldEnoughAreFetchedAgainIntoTheBaseOnly) {
  Run();
  const std::size_t organizations = directory_.Organizations().size();

  now_->store(kFirstDay + 3 * kDay);
  Run(/*only_new=*/true, /*refresh_days=*/5);
  EXPECT_EQ(OrganizationRequests(), 0u);

  now_->store(kFirstDay + 6 * kDay);
  Run(/*only_new=*/true, /*refresh_days=*/5);
  EXPECT_EQ(OrganizationRequests(), organizations);
  EXPECT_THAT(LatestRows(), IsEmpty());
  EXPECT_EQ(CountLines(SummaryLine(0, 0, 0, organizations)), 1);
  for (const base::StoredOrganization& organization : Stored()) {
    EXPECT_EQ(organization.FirstSeen, kFirstDay);
    EXPECT_EQ(organization.LastSeen, kFirstDay + 6 * kDay);
  }
}

TEST_F(OrganizationBaseRunTest, ABaseThatCannotBeOpenedCostsTheRunNothingAndIsLeftAlone) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"random bytes", std::string(3000, '\x5a') + "not a database"},
      {"truncated", std::string("SQLite format 3\0", 16) + std::string(100, '\x01')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::ofstream file(BasePath(), std::ios::binary | std::ios::trunc);
      file << c.bytes;
    }
    Run();
    EXPECT_EQ(LatestRows().size(), directory_.Organizations().size());
    std::ifstream file(BasePath(), std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, c.bytes);
    EXPECT_EQ(CountLines("База организаций " + BasePath() + " недоступна"), 1);
    EXPECT_EQ(CountLines("База организаций: "), 0);
  }
  EXPECT_EQ(window.events->BaseFailures().size(), 2u);
}

// Two copies of the program in one folder at once: both finish, and the base holds the rows of
// both.
TEST_F(OrganizationBaseRunTest, TwoRunsInOneFolderAtOnceBothKeepTheBase) {
  std::vector<std::weak_ptr<engine::TScraper>> runs;
  std::vector<std::shared_ptr<EventRecorder>> windows;
  for (std::size_t city = 0; city < 2; ++city) {
    window.ClearCities();
    window.AddCity(directory_.Cities()[city].Name, directory_.CityValue(site_.Origin(), city),
                   true);
    clock->Advance(1000);  // file names of its own
    engine::RunEnvironment environment = Environment();
    environment.Now = [now = now_] { return now->load(); };
    // Each copy has a window of its own.
    windows.push_back(std::make_shared<EventRecorder>());
    environment.Events = windows.back();
    runs.push_back(StartRun(environment));
    // Its file names are chosen before the clock moves on for the next copy.
    ASSERT_TRUE(WaitFor([&] {
      for (const std::string& line : windows.back()->Log()) {
        if (line.find("Данные будут записываться в файл") != std::string::npos) {
          return true;
        }
      }
      return false;
    }));
  }
  for (const auto& run : runs) {
    ASSERT_TRUE(WaitUntilGone(run, kRunTimeout));
  }
  for (const auto& copy : windows) {
    const std::vector<std::string> log = copy->Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), Line("Сбор данных завершен")), 1);
    for (const std::string& line : log) {
      EXPECT_EQ(line.find("недоступна"), std::string::npos) << line;
    }
  }
  std::set<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("data") && name.ends_with(".tab")) {
      std::ifstream file(entry.path(), std::ios::binary);
      std::string line;
      std::getline(file, line);
      while (std::getline(file, line)) {
        written.insert(LinkOf(line));
      }
    }
  }
  std::set<std::string> stored;
  for (const base::StoredOrganization& organization : Stored()) {
    stored.insert(organization.Row[analysis::kLinkColumn]);
  }
  EXPECT_EQ(stored, written);
  EXPECT_EQ(stored.size(), directory_.Organizations().size());
}

}  // namespace
}  // namespace mirava::testing
