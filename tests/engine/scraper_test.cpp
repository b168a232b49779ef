// The coordinator's set-up, job list, finish and lifetime, with workers that fail at once
// (nothing listens on 127.0.0.1 port 1).
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "tests/engine/scraper_fixture.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kNowhere = "http://127.0.0.1:1";

std::string HeaderOnlyFile() {
  return "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";
}

TEST_F(ScraperTest, StopBeforeTheFirstIterationFinishesOnAHeaderOnlyFile) {
  window.AddCity("Москва", std::string(kNowhere) + "/moskva", true);
  window.AddCategory("Кафе", std::string("/kafe/"), true);

  // Paused before it starts, the run sets up and then stands still before its first iteration.
  auto run = StartRun(Environment(), {}, [](engine::TScraper& scraper) { scraper.Pause(); });
  ASSERT_TRUE(WaitFor([&] { return Holds(run, [](auto& r) { return r.IsHeld(); }); }));
  EXPECT_EQ(CountLines("Запускаем"), 0);
  With(run, [](engine::TScraper& scraper) { scraper.Stop(); });
  ASSERT_TRUE(WaitUntilGone(run));

  EXPECT_THAT(window.Events(),
              ElementsAre("clear log", "disable Start", "disable Cities", "disable Cats",
                          "enable Start", "enable Cities", "enable Cats"));
  EXPECT_THAT(
      window.Log(),
      ElementsAre(
          Line("Начинаем работу по заданному списку"), Line("Начинаем работу..."),
          Line("Данные будут записываться в файл " + ResultsPath()), Line("Останавливаем работу"),
          Line("Заполнено: строк нет"),
          Line("Работа прервана, ее можно продолжить с места остановки: файл " + ResultsPath()),
          Line("Запускаем формирование файла Excel..."), Line("Файл сформирован, в нем 1 строк"),
          Line("Открываем файл с результатами " + WorkbookPath()),
          Line("Работа завершена, лог записан в " + LogPath())));
  EXPECT_EQ(ReadFileBytes(ResultsPath()), HeaderOnlyFile());
  EXPECT_TRUE(std::filesystem::exists(WorkbookPath()));
  EXPECT_THAT(OpenedWorkbooks(), ElementsAre(WorkbookPath()));
  // The saved log ends with the line that names it.
  EXPECT_THAT(ReadLogAsUtf8(LogPath()),
              ::testing::EndsWith("Работа завершена, лог записан в " + LogPath() + "\r\n"));
  EXPECT_EQ(window.ProgressHint(), "0 из 1, осталось 1");
  EXPECT_TRUE(window.StartEnabled());
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Stopped);
}

TEST_F(ScraperTest, EarlierRunsFilesAreNeverReplacedTheNextFreeNumbersAreTaken) {
  // The tick count starts again after a reboot, so a new run can meet an old run's numbers.
  const std::string tick = std::to_string(kStartTick);
  const std::string next = std::to_string(kStartTick + 1);
  const std::string free_results = Folder() + "data" + std::to_string(kStartTick + 2) + ".tab";
  const std::string free_workbook = Folder() + "data" + std::to_string(kStartTick + 2) + ".xlsx";
  const std::string free_log = Folder() + "log" + next + ".txt";
  const std::vector<std::string> earlier = {"data" + tick + ".tab", "data" + next + ".xlsx",
                                            "log" + tick + ".txt"};
  for (const std::string& name : earlier) {
    std::ofstream(Folder() + name, std::ios::binary) << "earlier run: " << name;
  }
  window.AddCity("Москва", std::string(kNowhere) + "/moskva", true);
  window.AddCategory("Кафе", std::string("/kafe/"), true);

  auto run = StartRun(Environment(), {}, [](engine::TScraper& scraper) { scraper.Pause(); });
  ASSERT_TRUE(WaitFor([&] { return Holds(run, [](auto& r) { return r.IsHeld(); }); }));
  With(run, [](engine::TScraper& scraper) { scraper.Stop(); });
  ASSERT_TRUE(WaitUntilGone(run));

  for (const std::string& name : earlier) {
    EXPECT_EQ(ReadFileBytes(Folder() + name), "earlier run: " + name);
  }
  EXPECT_EQ(CountLines("Данные будут записываться в файл " + free_results), 1);
  EXPECT_EQ(ReadFileBytes(free_results), HeaderOnlyFile());
  EXPECT_THAT(OpenedWorkbooks(), ElementsAre(free_workbook));
  EXPECT_THAT(ReadLogAsUtf8(free_log),
              ::testing::EndsWith("Работа завершена, лог записан в " + free_log + "\r\n"));
}

TEST_F(ScraperTest, JobsAreQueuedCityByCityInListOrder) {
  window.AddCity("A", std::string(kNowhere) + "/a", true);
  window.AddCity("B", std::string(kNowhere) + "/b", false);
  window.AddCity("C", std::string(kNowhere) + "/c", true);
  window.AddCategory("x", std::string("/x"), true);
  window.AddCategory("y", std::string("/y"), false);
  window.AddCategory("z", std::string("/z"), true);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run));

  // With one worker at a time, pages are harvested in queue order.
  std::vector<std::string> harvested;
  for (const auto& line : window.Log()) {
    const auto at = line.find(": " + std::string(kNowhere));
    if (at != std::string::npos && line.find("Запускаем") == std::string::npos &&
        line.find("Ответ сайта") == std::string::npos) {
      harvested.push_back(line.substr(at + 2, line.find(": ", at + 2) - at - 2));
    }
  }
  const std::string n = kNowhere;
  EXPECT_THAT(harvested, ElementsAre(n + "/a/x", n + "/a/z", n + "/c/x", n + "/c/z"));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Complete);
  EXPECT_EQ(progress->Hints().back(), "0 из 4, осталось 4");
  EXPECT_THAT(progress->Hints(), ::testing::Contains("4 из 4, осталось 0"));
}

TEST_F(ScraperTest, TwoPairsGivingOneAddressAreFetchedTwiceButCountedOnce) {
  window.AddCity("A", std::string(kNowhere) + "/a/", true);
  window.AddCity("A again", std::string(kNowhere) + "/A/", true);
  window.AddCategory("x", std::string("x"), true);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run));

  // Equal but for letter case: both fetched as written, one counted, the bar held full.
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/a/x: "), 1);
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/A/x: "), 1);
  EXPECT_THAT(progress->Hints(),
              ElementsAre("1 из 1, осталось 0", "1 из 1, осталось 0", "0 из 1, осталось 1"));
}

TEST_F(ScraperTest, BlankAddressIsDroppedWithoutWorkerLineOrProgress) {
  window.AddCity("blank", std::string(" \t"), true);
  window.AddCity("A", std::string(kNowhere) + "/a", true);
  window.AddCategory("blank", std::string(" "), true);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run));

  // Taken as queued, not trimmed.
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/a : "), 1);
  EXPECT_EQ(CountLines("Запускаем  "), 0);
  // Counted when queued, never harvested.
  EXPECT_THAT(progress->Hints(), ElementsAre("1 из 2, осталось 1", "0 из 2, осталось 2"));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

TEST_F(ScraperTest, PlaceholderWithoutValueIsSkippedWithOneLine) {
  window.AddCity("Список", std::nullopt, true);
  window.AddCity("Городов", std::nullopt, true);
  window.AddCategory("категория1", std::nullopt, true);
  window.AddCategory("2", std::string("/2"), true);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run));

  EXPECT_EQ(CountLines("Выбранные пункты списка без адреса пропущены"), 1);
  EXPECT_EQ(CountLines("Запускаем"), 1);  // only the export's line: no worker ran
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
  EXPECT_THAT(progress->Hints(), ElementsAre("0 из 0, осталось 0"));
  EXPECT_EQ(ReadFileBytes(ResultsPath()), HeaderOnlyFile());
}

TEST_F(ScraperTest, ResultsFileThatCannotBeCreatedIsReportedAndTheWindowFreed) {
  window.AddCity("A", std::string(kNowhere) + "/a", true);
  window.AddCategory("x", std::string("/x"), true);
  engine::RunRequest request = Request();
  request.Folder = Folder() + "missing/";

  auto run = StartRun(Environment(), request);
  ASSERT_TRUE(WaitUntilGone(run));

  const std::vector<std::string> log = window.Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], Line("Данные будут записываться в файл " + Folder() + "missing/data" +
                         std::to_string(kStartTick) + ".tab"));
  EXPECT_THAT(log[3], ::testing::StartsWith(Line("Ошибка: ")));
  EXPECT_GT(log[3].size(), Line("Ошибка: ").size());
  EXPECT_THAT(window.Events(),
              ElementsAre("clear log", "disable Start", "disable Cities", "disable Cats",
                          "enable Start", "enable Cities", "enable Cats"));
  EXPECT_THAT(OpenedWorkbooks(), IsEmpty());
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Failed);
}

TEST_F(ScraperTest, RefusedRequestMutexEndsTheRunUnreported) {
  window.AddCity("A", std::string(kNowhere) + "/a", true);
  window.AddCategory("x", std::string("/x"), true);
  engine::RunEnvironment environment = Environment();
  environment.RequestMutexName = "no-such-folder/lock";

  std::weak_ptr<engine::TScraper> run = StartRun(environment);
  ASSERT_TRUE(WaitUntilGone(run));

  EXPECT_THAT(window.Log(), IsEmpty());
  EXPECT_THAT(window.Events(), IsEmpty());
  EXPECT_TRUE(window.StartEnabled());
  // Only the end is announced, with the reason for a front end that shows it.
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Failed);
  EXPECT_FALSE(window.events->EndMessage().empty());
}

TEST_F(ScraperTest, ExportFailureIsOneErrorLineThatEndsTheLogFile) {
  window.AddCity("A", std::string(kNowhere) + "/a", true);
  window.AddCategory("x", std::string("/x"), true);
  // A folder in the workbook's place cannot be written over. Made once the run has named its
  // files, since a run never picks a name that is taken.
  auto run = StartRun(Environment(), {}, [](engine::TScraper& scraper) { scraper.Pause(); });
  ASSERT_TRUE(WaitFor([&] { return Holds(run, [](auto& r) { return r.IsHeld(); }); }));
  std::filesystem::create_directories(WorkbookPath());
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));

  const std::vector<std::string> log = window.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], Line("Запускаем формирование файла Excel..."));
  EXPECT_THAT(log.back(), ::testing::StartsWith(Line("Ошибка: ")));
  // The log is written as the run goes: it holds every line, the error the last.
  EXPECT_THAT(ReadLogAsUtf8(LogPath()), ::testing::EndsWith(log.back() + "\r\n"));
  EXPECT_THAT(OpenedWorkbooks(), IsEmpty());
  EXPECT_EQ(window.Events().back(), "enable Cats");
}

TEST_F(ScraperTest, EndedRunIgnoresPauseResumeAndStop) {
  window.AddCity("A", std::string(kNowhere) + "/a", true);
  window.AddCategory("x", std::string("/x"), true);
  std::shared_ptr<engine::TScraper> kept;
  auto run = StartRun(Environment(), {},
                      [&](engine::TScraper& scraper) { kept = scraper.shared_from_this(); });
  ASSERT_TRUE(WaitFor([&] { return kept->HasEnded(); }));

  kept->Pause();
  EXPECT_FALSE(kept->IsPaused());
  kept->Stop();
  EXPECT_FALSE(kept->IsPaused());
  // Whoever still holds the run last frees it; its thread is long done with it.
  kept.reset();
  EXPECT_TRUE(WaitUntilGone(run));
}

}  // namespace
}  // namespace mirava::testing
