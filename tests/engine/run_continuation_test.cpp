// Continuing an interrupted crawl of the small invented directory through TScraper: after a stop,
// after torn last lines, after a crash between a row and its journal record, and the refusal of
// damaged files. One worker, so at most one page is in flight when the run is interrupted.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "engine/run_continuation.h"
#include "output/results_file.h"
#include "tests/engine/scraper_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

namespace mirava::testing {
namespace {

constexpr std::chrono::minutes kLongRunTimeout{5};

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> SplitLines(const std::string& bytes, const std::string& separator) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find(separator, start)) != std::string::npos;
       start = end + separator.size()) {
    lines.push_back(bytes.substr(start, end - start));
  }
  if (start < bytes.size()) {
    lines.push_back(bytes.substr(start));
  }
  return lines;
}

class RunContinuationTest : public ScraperTest {
 protected:
  RunContinuationTest() {
    // Serves the directory and stops the run when the request numbered stop_at_ arrives.
    site.SetHandler([this](const RecordedRequest& request) {
      std::weak_ptr<engine::TScraper> to_stop;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (++requests_ == stop_at_) {
          to_stop = running_;
        }
      }
      if (auto run = to_stop.lock()) {
        run->Stop();
      }
      return std::optional<FakeResponse>(directory.Respond(site.Origin(), request));
    });
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      window.AddCity(directory.Cities()[city].Name, directory.CityValue(site.Origin(), city), true);
    }
    std::vector<std::string> jobs;
    for (std::size_t category = 0; category < directory.Categories().size(); ++category) {
      window.AddCategory(directory.Categories()[category].Name,
                         directory.Categories()[category].Path, true);
    }
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      for (std::size_t category = 0; category < directory.Categories().size(); ++category) {
        jobs.push_back(directory.JobAddress(site.Origin(), city, category));
      }
    }
    expected = directory.ExpectCrawl(site.Origin(), jobs);
  }

  // Runs to its end; stopped at the request numbered `stop_at` (0: never).
  void RunOnce(std::optional<engine::RunRequest> request, std::size_t stop_at) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stop_at_ = stop_at;
      requests_ = 0;
    }
    auto run = StartRun(Environment(), std::move(request), [this](engine::TScraper& started) {
      std::lock_guard<std::mutex> guard(mutex_);
      running_ = started.weak_from_this();
    });
    ASSERT_TRUE(WaitUntilGone(run, kLongRunTimeout));
  }

  engine::RunRequest ContinueRequest() {
    engine::RunRequest request = Request();
    request.Cities.clear();
    request.Categories.clear();
    request.ContinueResultsFile = "data" + std::to_string(kStartTick) + ".tab";
    return request;
  }

  std::string JournalPath() const {
    return Folder() + "data" + std::to_string(kStartTick) + ".journal";
  }

  // The results file holds the uninterrupted run's rows, each once, under one header, and
  // no page was fetched more often than the interruptions allow.
  void ExpectFinishedLikeOneRun(int interruptions) {
    const std::string bytes = ReadFileBytes(ResultsPath());
    const std::string head = "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";
    ASSERT_EQ(bytes.substr(0, head.size()), head);
    ASSERT_TRUE(bytes.ends_with("\r\n"));
    std::vector<std::string> rows = SplitLines(bytes.substr(head.size()), "\r\n");
    std::vector<std::string> wanted = expected.Rows;
    std::sort(rows.begin(), rows.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(rows, wanted);

    std::map<std::string, int> fetched;
    for (const std::string& path : site.Paths()) {
      ++fetched[path];
    }
    std::map<std::string, int> wanted_fetches;
    for (const std::string& path : expected.Requests) {
      ++wanted_fetches[path];
    }
    int repeated = 0;
    for (const auto& [path, count] : fetched) {
      ASSERT_TRUE(wanted_fetches.contains(path)) << path;
      EXPECT_LE(count, wanted_fetches[path] * (interruptions + 1)) << path;
      repeated += count - wanted_fetches[path];
    }
    for (const auto& [path, count] : wanted_fetches) {
      EXPECT_TRUE(fetched.contains(path)) << path;
    }
    // One worker: the page in flight, and one it had finished but the run had not yet taken.
    EXPECT_LE(repeated, interruptions * 2);
    EXPECT_FALSE(engine::FindUnfinishedRun(Folder()).has_value());
    EXPECT_TRUE(std::filesystem::exists(WorkbookPath()));
  }

  FakeDirectory directory{{.Seed = 7, .Size = DirectorySize::Small, .PageBytes = 2000}};
  FakeSite site;
  ExpectedCrawl expected;

 private:
  std::mutex mutex_;
  std::size_t requests_ = 0;
  std::size_t stop_at_ = 0;
  std::weak_ptr<engine::TScraper> running_;
};

TEST_F(RunContinuationTest, StopLeavesTheRunContinuableAndContinuingFinishesIt) {
  RunOnce(std::nullopt, expected.Requests.size() / 2);
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Stopped);
  EXPECT_EQ(CountLines("можно продолжить"), 1);
  const auto unfinished = engine::FindUnfinishedRun(Folder());
  ASSERT_TRUE(unfinished.has_value());
  EXPECT_EQ(unfinished->ResultsFileName, "data" + std::to_string(kStartTick) + ".tab");
  EXPECT_FALSE(unfinished->Damage.has_value());
  EXPECT_GT(unfinished->PagesLeft, 0);
  const std::size_t logs_before = std::distance(std::filesystem::directory_iterator(Folder()),
                                                std::filesystem::directory_iterator());

  RunOnce(ContinueRequest(), 0);
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Complete);
  ExpectFinishedLikeOneRun(1);
  // A log file of its own; the journal, results file and workbook are the same names.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder()),
                          std::filesystem::directory_iterator()),
            static_cast<long>(logs_before + 1));
}

// A crash leaves a torn line at the end of both files, and may come after a row was written but
// before the journal said its page was done.
TEST_F(RunContinuationTest, ContinuesAfterTornLinesAndARowWhoseRecordWasLost) {
  RunOnce(std::nullopt, expected.Requests.size() * 2 / 3);
  std::vector<std::string> lines = SplitLines(ReadFileBytes(JournalPath()), "\n");
  const std::string results = ReadFileBytes(ResultsPath());
  // The last organization page that the journal calls done and that has a row.
  const auto lost = std::find_if(lines.rbegin(), lines.rend(), [&](const std::string& line) {
    const std::string address = line.substr(2, line.rfind('\t') - 2);
    return line.starts_with("D\t") && results.find("\"" + address + "\"") != std::string::npos;
  });
  ASSERT_NE(lost, lines.rend());
  const std::string lost_path = lost->substr(2, lost->rfind('\t') - 2).substr(site.Origin().size());
  lines.erase(std::next(lost).base());
  std::string journal;
  for (const std::string& line : lines) {
    journal += line + "\n";
  }
  WriteFileBytes(JournalPath(), journal + "Q\thttp://127.0.0.1/torn");
  WriteFileBytes(ResultsPath(), results + "\"http://127.0.0.1/torn\"\t\"Авто");
  const std::size_t requests_before = site.Paths().size();

  RunOnce(ContinueRequest(), 0);
  const std::vector<std::string> paths = site.Paths();
  EXPECT_EQ(std::count(paths.begin() + requests_before, paths.end(), lost_path), 0);
  ExpectFinishedLikeOneRun(1);
}

TEST_F(RunContinuationTest, DamagedFilesAreRefusedAndLeftAsTheyAre) {
  RunOnce(std::nullopt, expected.Requests.size() / 2);
  const std::string journal = ReadFileBytes(JournalPath());
  const std::string results = ReadFileBytes(ResultsPath());
  struct Case {
    const char* name;
    std::string journal;
    std::string results;
  };
  std::string flipped = journal;
  flipped[flipped.find('\n') + 4] ^= 0x01;
  std::string bad_row = results;
  bad_row.insert(bad_row.rfind("\r\n\"") + 2, "junk\r\n");
  const std::vector<Case> cases = {{"journal", flipped, results}, {"results", journal, bad_row}};
  for (const Case& c : cases) {
    WriteFileBytes(JournalPath(), c.journal);
    WriteFileBytes(ResultsPath(), c.results);
    const std::size_t requests_before = site.Paths().size();
    const auto unfinished = engine::FindUnfinishedRun(Folder());
    ASSERT_TRUE(unfinished.has_value()) << c.name;
    ASSERT_TRUE(unfinished->Damage.has_value()) << c.name;
    EXPECT_NE(unfinished->Damage->find("поврежден"), std::string::npos) << *unfinished->Damage;

    RunOnce(ContinueRequest(), 0);
    EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Failed) << c.name;
    EXPECT_NE(window.events->EndMessage().find("поврежден"), std::string::npos)
        << window.events->EndMessage();
    EXPECT_EQ(site.Paths().size(), requests_before) << c.name;
    EXPECT_EQ(ReadFileBytes(JournalPath()), c.journal) << c.name;
    EXPECT_EQ(ReadFileBytes(ResultsPath()), c.results) << c.name;
  }
}

TEST_F(RunContinuationTest, ASetAsideRunIsNotOfferedAgainAndKeepsItsFiles) {
  RunOnce(std::nullopt, expected.Requests.size() / 2);
  const std::string results = ReadFileBytes(ResultsPath());
  ASSERT_TRUE(engine::FindUnfinishedRun(Folder()).has_value());
  engine::SetAsideUnfinishedRun(Folder(), "data" + std::to_string(kStartTick) + ".tab");
  EXPECT_FALSE(engine::FindUnfinishedRun(Folder()).has_value());
  EXPECT_EQ(ReadFileBytes(ResultsPath()), results);
  // A new run takes new names: a journal alone holds its number too.
  WriteFileBytes(Folder() + "data7.journal", "");
  EXPECT_EQ(output::FreeRunFileNames(Folder(), 7, 7).ResultsFileName, "data8.tab");
}

}  // namespace
}  // namespace mirava::testing
