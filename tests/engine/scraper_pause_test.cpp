// Pause, resume, stop, and the report of run errors with its automatic pause.
#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/engine/scraper_fixture.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;

constexpr const char* kNowhere = "http://127.0.0.1:1";

// The thread-count editor, failing on the calls it is told to.
class FailingLimitEdit final : public engine::ISpinEditView {
 public:
  FailingLimitEdit(int value, std::set<int> failing_calls, std::string message)
      : value_(value), failing_calls_(std::move(failing_calls)), message_(std::move(message)) {}
  int Value() const override {
    if (failing_calls_.contains(++calls_)) {
      throw std::runtime_error(message_);
    }
    return value_;
  }

 private:
  int value_;
  std::set<int> failing_calls_;
  std::string message_;
  mutable std::atomic<int> calls_{0};
};

// A city list whose values cannot be read.
class FailingList final : public engine::IListBoxView {
 public:
  explicit FailingList(std::string message) : message_(std::move(message)) {}
  int Count() const override { return 1; }
  bool IsSelected(int) const override { return true; }
  std::optional<std::string> Value(int) const override { throw std::runtime_error(message_); }
  void SetEnabled(bool) override {}

 private:
  std::string message_;
};

// A proxy check box that cannot be read the first time.
class FailingCheckBox final : public engine::ICheckBoxView {
 public:
  bool IsChecked() const override {
    if (++calls_ == 1) {
      throw std::runtime_error("флажок недоступен");
    }
    return false;
  }

 private:
  mutable std::atomic<int> calls_{0};
};

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
  engine::WindowControls controls = Controls();
  // The first reading is the one before the loop; the next two follow worker starts.
  controls.LimitEdit = std::make_shared<FailingLimitEdit>(1, std::set<int>{2, 3}, "сбой");

  auto run = StartRun(Environment(), controls);
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  EXPECT_EQ(CountLines("Включаем паузу на 30 секунд"), 1);
  EXPECT_THAT(window.TimerArms(), ElementsAre(kAutoPauseMs));
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });

  ASSERT_TRUE(WaitFor([&] { return CountLines("Включаем паузу") == 2 && IsHeld(run); }));
  EXPECT_THAT(window.TimerArms(), ElementsAre(kAutoPauseMs, kAutoPauseMs));
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

// A worker that is given up before it starts must not stay on RunningList, where it would never
// hand itself over and the run would never end.
TEST_F(ScraperPauseTest, WorkerGivenUpBeforeItsStartLeavesNothingBehind) {
  AddJobs(2);
  engine::WindowControls controls = Controls();
  controls.UseProxyCheckBox = std::make_shared<FailingCheckBox>();

  auto run = StartRun(Environment(), controls);
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  EXPECT_EQ(CountLines("Ошибка: флажок недоступен"), 1);
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));

  // The address the failed iteration took is not queued again.
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/c0/x: "), 0);
  EXPECT_EQ(CountLines(": " + std::string(kNowhere) + "/c1/x: "), 1);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

TEST_F(ScraperPauseTest, StopEndsAnAutomaticPauseWithoutTheOutcomeLine) {
  AddJobs(2);
  engine::WindowControls controls = Controls();
  controls.LimitEdit = std::make_shared<FailingLimitEdit>(1, std::set<int>{2}, "сбой");

  auto run = StartRun(Environment(), controls);
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

// An error while the job list is built: the report and its pause, then the outcome and the finish.
TEST_P(ScraperErrorReportTest, RunErrorShowsAtMost200UnitsOfTheMessage) {
  window.AddCategory("x", std::string("/x"), true);
  engine::WindowControls controls = Controls();
  controls.CitiesListBox = std::make_shared<FailingList>(GetParam().message);

  auto run = StartRun(Environment(), controls);
  ASSERT_TRUE(WaitFor([&] { return IsHeld(run); }));
  With(run, [](engine::TScraper& scraper) { scraper.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));

  const std::vector<std::string> log = window.Log();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[3], Line("Ошибка: " + GetParam().shown));
  EXPECT_EQ(log[4], Line("Включаем паузу на 30 секунд"));
  EXPECT_EQ(log[5], Line("Сбор данных завершен"));
  EXPECT_EQ(log[6], Line("Запускаем формирование файла Excel..."));
  EXPECT_THAT(window.TimerArms(), ElementsAre(kAutoPauseMs));
}

}  // namespace
}  // namespace mirava::testing
