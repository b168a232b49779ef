// Runs whose workers fetch from the fake site: analysis of fetched pages, the end test against
// many fast workers, a stop that does not wait for workers stuck in a request, and a run started
// while the previous one still waits for its stopped workers.
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "tests/engine/scraper_fixture.h"
#include "tests/support/fake_site.h"
#include "tests/support/site_pages.h"

namespace mirava::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Bom() {
  return "\xEF\xBB\xBF";
}

class ScraperFetchTest : public ScraperTest {
 protected:
  std::unique_ptr<FakeSite> site = std::make_unique<FakeSite>();
};

TEST_F(ScraperFetchTest, ListingPageLeadsToOneRowPerOrganization) {
  const OrganizationPageData first = SampleOrganization(1);
  const OrganizationPageData second = SampleOrganization(2);
  ListingPageData listing;
  listing.Heading = "Кафе";
  listing.CountText = "2";
  listing.Breadcrumb = "Кафе";
  listing.CardLinks = {site->Url("/org/1/"), site->Url("/org/2/")};
  site->Serve("/moskva/kafe/", FakeResponse::Page(ListingPage(listing)));
  site->Serve("/org/1/", FakeResponse::Page(OrganizationPage(first)));
  site->Serve("/org/2/", FakeResponse::Page(OrganizationPage(second)));
  window.AddCity("Москва", site->Url("/moskva"), true);
  window.AddCategory("Кафе", std::string("/kafe/"), true);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run));

  const std::string category = ExpectedCategoryName(listing);
  EXPECT_EQ(ReadFileBytes(ResultsPath()),
            Bom() + analysis::HeaderLine() + "\r\n" +
                analysis::FormatRow(ExpectedRow(first, site->Url("/org/1/"), category)) + "\r\n" +
                analysis::FormatRow(ExpectedRow(second, site->Url("/org/2/"), category)) + "\r\n");
  EXPECT_EQ(CountLines(site->Url("/org/1/") + ": успешно"), 1);
  EXPECT_THAT(progress->Hints(), Contains("3 из 3, осталось 0"));
  EXPECT_EQ(CountLines("Файл сформирован, в нем 3 строк"), 1);
}

// A ticked box with no usable proxy (ticked during a run, or a front end that did not check)
// never sends from the operator's own address: the run waits, says so once, and goes on
// directly only once the box is cleared.
TEST_F(ScraperFetchTest, TickedBoxWithoutUsableProxyHoldsTheRunInsteadOfGoingDirect) {
  site->Serve("/moskva/kafe/", FakeResponse::Page("<html></html>"));
  std::ofstream(Folder() + "proxy.txt", std::ios::binary) << "\r\n127.0.0.1\r\n";
  window.AddCity("Москва", site->Url("/moskva"), true);
  window.AddCategory("Кафе", std::string("/kafe/"), true);
  window.SetUseProxy(true);

  auto run = StartRun();
  const std::string held = "Прокси включены, но годных прокси в proxy.txt при старте не было";
  ASSERT_TRUE(WaitFor([&] { return CountLines(held) == 1; }));
  const std::size_t sleeps = clock->Sleeps().size();
  ASSERT_TRUE(WaitFor([&] { return clock->Sleeps().size() > sleeps + 20; }));
  EXPECT_EQ(site->RequestCount(), 0u);
  EXPECT_EQ(CountLines(held), 1) << "said once, not at every turn of the loop";

  With(run, [](engine::TScraper& scraper) { scraper.SetUseProxy(false); });
  ASSERT_TRUE(WaitUntilGone(run));
  ASSERT_EQ(site->RequestCount(), 1u);
  EXPECT_EQ(site->Requests()[0].Target, "/moskva/kafe/");
  EXPECT_EQ(CountLines("пропущены строки"), 0) << "proxies were never used";
}

// What the run hands to analysis, and what analysis hands back.
struct Analysed {
  std::mutex mutex;
  std::vector<std::string> pages;  // url + " " + html
  std::vector<bool> enqueued;
};

TEST_F(ScraperFetchTest, OnlyFetchedPagesAreAnalysedAndAnalysisErrorsDoNotPause) {
  site->Serve("/a", FakeResponse::Page("A"));
  site->Serve("/b", FakeResponse::Page("B"));
  site->Serve("/c", FakeResponse::Page("C"));
  window.AddCity("site", site->Url(""), true);
  window.AddCategory("a", std::string("/a"), true);
  window.AddCategory("b", std::string("/b"), true);

  auto analysed = std::make_shared<Analysed>();
  engine::RunEnvironment environment = Environment();
  const std::string c = site->Url("/c");
  const std::string missing = site->Url("/missing");
  const std::string a = site->Url("/a");
  const std::string upper_c = site->Url("/C");  // the same address as far as the run can tell
  environment.AnalyzePage = [=](std::string_view page, const std::string& url,
                                analysis::CategoryByUrl&, analysis::IPageSink& sink) {
    std::lock_guard<std::mutex> guard(analysed->mutex);
    analysed->pages.push_back(url + " " + std::string(page));
    if (page == "A") {
      for (const std::string& link : {c, upper_c, a, missing}) {
        analysed->enqueued.push_back(sink.EnqueuePage(link));
      }
    } else if (page == "B") {
      throw std::runtime_error("сломано");
    } else if (page == "C") {
      sink.AppendRow("\"c\"");
    }
  };

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitUntilGone(run));

  {
    std::lock_guard<std::mutex> guard(analysed->mutex);
    // The page that was not found is harvested but not analysed.
    EXPECT_THAT(analysed->pages, ElementsAre(a + " A", site->Url("/b") + " B", c + " C"));
    EXPECT_THAT(analysed->enqueued, ElementsAre(true, false, false, true));
  }
  EXPECT_EQ(CountLines(": " + missing + ": ERROR_"), 1);
  EXPECT_EQ(CountLines("Ошибка при обработке данных для " + site->Url("/b") + ": сломано"), 1);
  EXPECT_EQ(CountLines("Включаем паузу"), 0);
  EXPECT_EQ(ReadFileBytes(ResultsPath()), Bom() + analysis::HeaderLine() + "\r\n\"c\"\r\n");
  EXPECT_THAT(progress->Hints(), Contains("4 из 4, осталось 0"));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

// A worker moves itself from one list to the other under the lock; an end test that looked at
// the lists separately could end the run while a page is still on its way.
TEST_F(ScraperFetchTest, ManyFastWorkersAreAllHarvestedBeforeTheRunEnds) {
  constexpr int kPages = 200;
  site->SetFallback(FakeResponse::Page("x"));
  for (int i = 0; i < kPages / 10; ++i) {
    window.AddCity("c" + std::to_string(i), site->Url("/c" + std::to_string(i)), true);
  }
  for (int i = 0; i < 10; ++i) {
    window.AddCategory("k" + std::to_string(i), "/k" + std::to_string(i), true);
  }
  window.SetLimit(50);
  engine::RunEnvironment environment = Environment();
  environment.AnalyzePage = [](std::string_view, const std::string&, analysis::CategoryByUrl&,
                               analysis::IPageSink&) {};

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitUntilGone(run));

  EXPECT_EQ(CountLines(": успешно"), kPages);
  EXPECT_EQ(site->RequestCount(), static_cast<std::size_t>(kPages));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
  EXPECT_THAT(progress->Hints(), Contains("200 из 200, осталось 0"));
}

TEST_F(ScraperFetchTest, StopDoesNotWaitForWorkersStuckInARequest) {
  site->SetFallback(FakeResponse::Silence(std::chrono::minutes(5)));
  window.AddCity("site", site->Url(""), true);
  window.AddCategory("a", std::string("/a"), true);
  window.AddCategory("b", std::string("/b"), true);
  window.AddCategory("c", std::string("/c"), true);
  window.SetLimit(3);
  engine::RunEnvironment environment = Environment();
  environment.Fetch.ReadTimeout = std::chrono::milliseconds(5 * 60 * 1000);

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitFor([&] { return CountLines("Запускаем http") == 3; }));
  // Direct requests take turns: only the worker whose request reached the site is stuck in it;
  // a stop before that would let every worker leave at once and free the run early.
  ASSERT_TRUE(WaitFor([&] { return site->RequestCount() == 1; }));
  With(run, [](engine::TScraper& scraper) { scraper.Stop(); });
  ASSERT_TRUE(WaitFor([&] { return window.StartEnabled(); }));

  // The window is free again while the stopped workers still wait for the site.
  EXPECT_TRUE(Holds(run, [](auto& r) { return r.HasEnded(); }));
  EXPECT_EQ(CountLines(": ERROR_"), 0);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 0);
  EXPECT_EQ(CountLines("Работа завершена, лог записан в "), 1);
  EXPECT_EQ(ReadFileBytes(ResultsPath()), Bom() + analysis::HeaderLine() + "\r\n");

  // Once the site goes away the workers end, and the run frees itself.
  site.reset();
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 0);
}

// A stop breaks a transfer off within a fraction of a second, so whether the first run has freed
// itself by the time the second starts is a matter of timing; the second run must not care.
TEST_F(ScraperFetchTest, NextRunWorksWhileThePreviousOneIsStillEnding) {
  FakeSite quick;
  quick.SetFallback(FakeResponse::Page("x"));
  site->SetFallback(FakeResponse::Silence(std::chrono::minutes(5)));
  window.AddCity("slow", site->Url(""), true);
  window.AddCategory("a", std::string("/a"), true);
  engine::RunEnvironment first_environment = Environment();
  first_environment.Fetch.ReadTimeout = std::chrono::milliseconds(5 * 60 * 1000);
  first_environment.RequestMutexName = OtherMutexName("first");

  auto first = StartRun(first_environment);
  ASSERT_TRUE(WaitFor([&] { return site->RequestCount() == 1; }));
  With(first, [](engine::TScraper& scraper) { scraper.Stop(); });
  ASSERT_TRUE(WaitFor([&] { return window.StartEnabled(); }));

  window.ClearCities();
  window.AddCity("quick", quick.Url(""), true);
  clock->Advance(1000);  // new file names
  auto second = StartRun();
  ASSERT_TRUE(WaitUntilGone(second));
  EXPECT_EQ(CountLines(quick.Url("/a") + ": успешно"), 1);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
  EXPECT_TRUE(WaitUntilGone(first));
}

}  // namespace
}  // namespace mirava::testing
