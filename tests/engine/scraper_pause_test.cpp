// Pause, resume, stop, and the report of run errors with its automatic pause.
#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/engine/scraper_fixture.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;

constexpr const char* kNowhere = "http://127.0.0.1:1";

// Makes the run's progress announcements number `failing` (counted from 1) throw `message`.
void FailProgress(EventRecorder& events, std::set<int> failing, std::string message) {
  auto count = std::make_shared<int>(0);
  events.FailEvents([=](const std::string& event) -> std::optional<std::string> {
    if (event.starts_with("progress ") && failing.contains(++*count)) {
      return message;
    }
    return std::nullopt;
  });
}

bool IsHeld(const std::weak_ptr<engine::TScraper>& run) {
  auto alive = run.lock();
  return alive && alive->IsHeld();
}

class ScraperPauseTest : public ScraperTest {
 protected:
  void AddJobs(int count) {
    for (int i = 0; i < count; ++i) {
      window.AddCity("c" + std::to_string(i), std::string(kNowhere) + "/c" + std::to_string(i),
                     true);
    }
    window.AddCategory("x", std::string("/x"), true);
  }
  int Harvested() const { return CountLines(": " + std::string(kNowhere) + "/c"); }
};

TEST_F(ScraperPauseTest, PauseHoldsTheRunUntilResumed) {
  AddJobs(3);
  auto run = StartRun(Environment(), {}, [](engine::TScraper& scraper) { scraper.Pause(); });
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  EXPECT_TRUE(Holds(run, [](auto& r) { return r.IsPaused(); }));
  // Held before its first iteration: no worker started, no loop sleep taken.
  EXPECT_THAT(clock->Sleeps(), ::testing::IsEmpty());
  EXPECT_EQ(CountLines("Запускаем http"), 0);

  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(Harvested(), 3);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

TEST_F(ScraperPauseTest, PauseDuringTheCrawlStopsHarvestingUntilResumed) {
  AddJobs(40);
  window.SetLimit(4);
  auto run = StartRun();
  ASSERT_TRUE(WaitFor([&] { return Harvested() >= 5; }));
  With(run, [](engine::TScraper& scraper) { scraper.Pause(); });
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  const int harvested = Harvested();
  const std::size_t sleeps = clock->Sleeps().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Harvested(), harvested);
  EXPECT_EQ(clock->Sleeps().size(), sleeps);

  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(Harvested(), 40);
}

TEST_F(ScraperPauseTest, IterationErrorsAreReportedAndPauseTheRunEachTime) {
  AddJobs(2);
  // The first two harvests fail at their progress; the worker stays finished and is harvested
  // again on a later turn.
  FailProgress(*window.events, {1, 2}, "сбой");

  auto run = StartRun();
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  EXPECT_EQ(CountLines("Включаем паузу на 30 секунд"), 1);
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });

  ASSERT_TRUE(WaitFor([&] { return CountLines("Включаем паузу") == 2 && IsHeld(run); }));
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));

  std::vector<std::string> reports;
  for (const auto& line : window.Log()) {
    if (line == Line("Ошибка: сбой") || line == Line("Включаем паузу на 30 секунд") ||
        line == Line("Сбор данных завершен")) {
      reports.push_back(line.substr(line.find(": ") + 2));
    }
  }
  EXPECT_THAT(reports, ElementsAre("Ошибка: сбой", "Включаем паузу на 30 секунд", "Ошибка: сбой",
                                   "Включаем паузу на 30 секунд", "Сбор данных завершен"));
  // Workers started by the failed iterations were still harvested.
  EXPECT_EQ(Harvested(), 2);
}

// The pause after an error lifts itself once its time has passed on the run's clock, with the
// line of a resume; a resume of the operator before that, or a pause of his, takes its place.
TEST_F(ScraperPauseTest, ThePauseAfterAnErrorLiftsItselfUnlessTheOperatorActsFirst) {
  AddJobs(4);
  FailProgress(*window.events, {1, 2, 3}, "сбой");
  const auto resumes = [&] { return CountLines("Отключаем паузу, продолжаем работу"); };
  const auto reports = [&] { return CountLines("Включаем паузу на 30 секунд"); };
  auto run = StartRun();

  // Left alone: it lifts itself, once.
  ASSERT_TRUE(WaitFor([&] { return reports() == 1 && IsHeld(run); }));
  clock->Advance(kAutoPauseMs - 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(IsHeld(run));
  EXPECT_EQ(resumes(), 0);
  clock->Advance(1);
  ASSERT_TRUE(WaitFor([&] { return resumes() == 1; }));

  // Resumed by the operator first: his resume is the only one.
  ASSERT_TRUE(WaitFor([&] { return reports() == 2 && IsHeld(run); }));
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitFor([&] { return resumes() == 2; }));

  // Paused by the operator meanwhile: the pause is his now and does not lift itself.
  ASSERT_TRUE(WaitFor([&] { return reports() == 3 && IsHeld(run); }));
  With(run, [](engine::TScraper& scraper) { scraper.Pause(); });
  clock->Advance(2 * kAutoPauseMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(IsHeld(run));
  EXPECT_EQ(resumes(), 2);
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(resumes(), 3);
  EXPECT_EQ(Harvested(), 4);
}

// A worker that is given up before it starts must not stay on RunningList, where it would never
// hand itself over and the run would never end.
TEST_F(ScraperPauseTest, WorkerGivenUpBeforeItsStartLeavesNothingBehind) {
  AddJobs(2);
  engine::RunEnvironment environment = Environment();
  auto starts = std::make_shared<std::atomic<int>>(0);
  environment.BeforeWorkerStart = [starts] {
    if (starts->fetch_add(1) == 0) {
      throw std::runtime_error("поток не запущен");
    }
  };

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  EXPECT_EQ(CountLines("Ошибка: поток не запущен"), 1);
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));

  // The address the failed iteration took is not queued again.
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/c0/x: "), 0);
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/c1/x: "), 1);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

TEST_F(ScraperPauseTest, StopEndsAnAutomaticPauseWithoutTheOutcomeLine) {
  AddJobs(2);
  FailProgress(*window.events, {1}, "сбой");

  auto run = StartRun();
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  With(run, [](engine::TScraper& scraper) { scraper.Stop(); });
  ASSERT_TRUE(WaitUntilGone(run));

  EXPECT_EQ(CountLines("Сбор данных завершен"), 0);
  EXPECT_EQ(CountLines("Запускаем формирование файла Excel..."), 1);
  EXPECT_EQ(window.Events().back(), "enable Cats");
}

struct ReportCase {
  const char* name;
  std::string message;
  std::string shown;
};

class ScraperErrorReportTest : public ScraperTest,
                               public ::testing::WithParamInterface<ReportCase> {};

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) {
    text += piece;
  }
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ScraperErrorReportTest,
    ::testing::Values(ReportCase{"Short", "нет связи", "нет связи"}, ReportCase{"Empty", "", ""},
                      ReportCase{"LongerThan200Units", Repeat("ж", 250), Repeat("ж", 200)},
                      // The 200th unit would be the first half of a pair: the pair is left out.
                      ReportCase{"PairAtTheCut", Repeat("a", 199) + "\U0001F600b",
                                 Repeat("a", 199)},
                      ReportCase{"PairInside", Repeat("a", 198) + "\U0001F600b",
                                 Repeat("a", 198) + "\U0001F600"}),
    [](const auto& info) { return std::string(info.param.name); });

// An error while the job list is built (its line about skipped placeholders is refused): the
// report and its pause, then the outcome and the finish.
TEST_P(ScraperErrorReportTest, RunErrorShowsAtMost200UnitsOfTheMessage) {
  window.AddCity("Список", std::nullopt, true);
  window.AddCategory("x", std::string("/x"), true);
  const std::string message = GetParam().message;
  window.events->FailEvents([message](const std::string& event) -> std::optional<std::string> {
    if (event.find("без адреса пропущены") != std::string::npos) {
      return message;
    }
    return std::nullopt;
  });

  auto run = StartRun();
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));

  const std::vector<std::string> log = window.Log();
  ASSERT_GE(log.size(), 9u);
  EXPECT_EQ(log[3], Line("Ошибка: " + GetParam().shown));
  EXPECT_EQ(log[4], Line("Включаем паузу на 30 секунд"));
  EXPECT_EQ(log[5], Line("Отключаем паузу, продолжаем работу"));
  EXPECT_EQ(log[6], Line("Заполнено: строк нет"));
  EXPECT_EQ(log[7], Line("Сбор данных завершен"));
  EXPECT_EQ(log[8], Line("Запускаем формирование файла Excel..."));
}

}  // namespace
}  // namespace mirava::testing
