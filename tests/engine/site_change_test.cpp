// A run that notices when the site stops looking like the directory: a redesign of the
// organization pages or a robot check served with status 200 holds the run after a number of
// unrecognised pages in a row, while ordinary directories (empty rubrics, organizations without
// a name or an address) never do. Also the site check and the field coverage at a run's end.
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "engine/recognition_watch.h"
#include "output/field_coverage.h"
#include "tests/engine/scraper_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"
#include "tests/support/site_pages.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

TEST(RecognitionWatch, AlarmsAtTheLimitInARowAndStartsAfresh) {
  engine::RecognitionWatch watch(3);
  EXPECT_FALSE(watch.Count(false, true, "u1"));
  EXPECT_FALSE(watch.Count(false, true, "u2"));
  EXPECT_FALSE(watch.Count(true, true, "u3"));  // a recognised page breaks the row
  EXPECT_FALSE(watch.Count(false, false, "u4"));
  EXPECT_FALSE(watch.Count(false, true, "u5"));
  const auto alarm = watch.Count(false, true, "u6");
  ASSERT_TRUE(alarm);
  EXPECT_EQ(*alarm,
            "Страницы сайта перестали распознаваться: 3 подряд (страниц организаций 2, страниц "
            "списков 1), последняя: u6. Возможно, сайт изменил страницы или показывает проверку "
            "«я не робот».");
  // After the alarm the operator may let the run go on: it takes as many again.
  EXPECT_FALSE(watch.Count(false, true, "u7"));
  EXPECT_FALSE(watch.Count(false, true, "u8"));
  EXPECT_TRUE(watch.Count(false, true, "u9"));
  EXPECT_EQ(watch.Recognised(), 1);
  EXPECT_EQ(watch.Unrecognised(), 8);

  // Redesigned organization pages between listings that are still recognised.
  engine::RecognitionWatch kinds(3);
  EXPECT_FALSE(kinds.Count(false, true, "o1"));
  EXPECT_FALSE(kinds.Count(true, false, "l1"));
  EXPECT_FALSE(kinds.Count(false, true, "o2"));
  EXPECT_FALSE(kinds.Count(true, false, "l2"));
  EXPECT_THAT(kinds.Count(false, true, "o3").value_or(""),
              HasSubstr("3 подряд (страницы организаций), последняя: o3"));
  // A recognised organization page breaks the organizations' row.
  EXPECT_FALSE(kinds.Count(false, true, "o4"));
  EXPECT_FALSE(kinds.Count(true, true, "o5"));
  EXPECT_FALSE(kinds.Count(false, true, "o6"));
  EXPECT_FALSE(kinds.Count(false, true, "o7"));

  engine::RecognitionWatch off(0);
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(off.Count(false, true, "u"));
  }
  EXPECT_EQ(engine::UnrecognisedPagesText(20, 20, "a"),
            "Страницы сайта перестали распознаваться: 20 подряд (страницы организаций), "
            "последняя: a. Возможно, сайт изменил страницы или показывает проверку «я не робот».");
  EXPECT_THAT(engine::UnrecognisedPagesText(20, 0, "a"),
              HasSubstr("(страницы списков организаций)"));
}

class SiteChangeTest : public ScraperTest {
 protected:
  void SelectAll(const FakeDirectory& directory, const FakeSite& site) {
    window.SelectAllOf(directory, site.Origin());
  }

  // A check of the whole directory's first job, on a site that changed after `changed_after`
  // organization pages; returns the site's request paths once the check has ended.
  std::vector<std::string> Check(std::optional<int> changed_after) {
    FakeDirectory directory(
        {.Seed = 7, .Size = DirectorySize::Demo, .ChangedAfter = changed_after});
    FakeSite site;
    directory.Attach(site);
    SelectAll(directory, site);
    engine::RunRequest request = Request();
    request.CheckOnly = true;
    auto run = StartRun(Environment(), request);
    EXPECT_TRUE(WaitUntilGone(run));
    job_ = directory.JobAddress(site.Origin(), 0, 0);
    std::vector<std::string> urls;
    for (const std::string& path : site.Paths()) {
      urls.push_back(site.Url(path));
    }
    return urls;
  }

  std::string job_;

  std::size_t ChangedResponses(const FakeDirectory& directory) const {
    std::size_t changed = 0;
    for (const ServedResponse& served : directory.Served()) {
      changed += served.Changed ? 1 : 0;
    }
    return changed;
  }

  // Rows in the results file, the header not counted.
  std::size_t Rows() const {
    const std::string bytes = ReadFileBytes(ResultsPath());
    std::size_t lines = 0;
    for (std::size_t at = bytes.find("\r\n"); at != std::string::npos;
         at = bytes.find("\r\n", at + 2)) {
      ++lines;
    }
    return lines == 0 ? 0 : lines - 1;
  }

  // Waits until the run holds for the alarm and its pages in flight have come in; returns the
  // requests the site had by then.
  std::size_t WaitForTheHold(const std::weak_ptr<engine::TScraper>& run, const FakeSite& site) {
    EXPECT_TRUE(WaitFor([&] { return !window.events->Alarms().empty(); }, kRunTimeout));
    EXPECT_TRUE(
        WaitFor([&] { return Holds(run, [](const auto& r) { return r.IsHeld(); }); }, kRunTimeout));
    // The workers that were in flight finish their one page and wait to be harvested.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return site.RequestCount();
  }

  static constexpr int kThreads = 3;
};

TEST_F(SiteChangeTest, RedesignedOrganizationPagesHoldTheRunUntilTheOperatorDecides) {
  FakeDirectory directory({.Seed = 7, .Size = DirectorySize::Demo, .ChangedAfter = 10});
  FakeSite site;
  directory.Attach(site);
  SelectAll(directory, site);
  window.SetLimit(kThreads);

  auto run = StartRun();
  const std::size_t requests = WaitForTheHold(run, site);
  const std::size_t rows = Rows();
  // At most the limit and the pages that were in flight: the running workers, and the ones that
  // had finished but waited for their harvest (the pool counts only the running ones).
  EXPECT_LE(ChangedResponses(directory), static_cast<std::size_t>(20 + 2 * kThreads));
  EXPECT_GE(ChangedResponses(directory), 20u);

  // Held: nothing is sent and nothing is written until the operator decides.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(site.RequestCount(), requests);
  EXPECT_EQ(Rows(), rows);
  ASSERT_THAT(window.events->Alarms(), SizeIs(1));
  EXPECT_THAT(window.events->Alarms()[0],
              HasSubstr("Страницы сайта перестали распознаваться: 20 подряд (страницы "
                        "организаций), последняя: " +
                        site.Origin() + "/org/"));
  EXPECT_EQ(CountLines("Страницы сайта перестали распознаваться: 20 подряд"), 1);
  EXPECT_TRUE(Holds(run, [](const auto& r) { return r.IsPaused(); }));

  With(run, [](engine::TScraper& r) { r.Stop(); });
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Stopped);
  EXPECT_EQ(CountLines("Работа прервана, ее можно продолжить с места остановки"), 1);
  EXPECT_EQ(Rows(), rows);
}

TEST_F(SiteChangeTest, ARobotCheckHoldsTheRunAndAResumeAfterTheSiteRecoveredFinishesIt) {
  FakeDirectory directory({.Seed = 7, .Size = DirectorySize::Demo, .RobotCheckAfter = 12});
  FakeSite site;
  directory.Attach(site);
  SelectAll(directory, site);
  window.SetLimit(kThreads);

  auto run = StartRun();
  const std::size_t requests = WaitForTheHold(run, site);
  EXPECT_LE(ChangedResponses(directory), static_cast<std::size_t>(20 + 2 * kThreads));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(site.RequestCount(), requests);

  directory.BackToNormal();
  With(run, [](engine::TScraper& r) { r.Resume(); });
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Complete);
  EXPECT_THAT(window.events->Alarms(), SizeIs(1));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

TEST_F(SiteChangeTest, TheLimitZeroNeverHolds) {
  FakeDirectory directory({.Seed = 7, .Size = DirectorySize::Demo, .ChangedAfter = 0});
  FakeSite site;
  directory.Attach(site);
  SelectAll(directory, site);
  window.SetLimit(kThreads);
  engine::RunRequest request = Request();
  request.UnrecognisedPagesLimit = 0;

  auto run = StartRun(Environment(), request);
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Complete);
  EXPECT_THAT(window.events->Alarms(), IsEmpty());
  EXPECT_EQ(Rows(), directory.Organizations().size());
}

// Thirty rubrics of small cities with no organization at all: every listing says "0".
TEST_F(SiteChangeTest, EmptyRubricsNeverHold) {
  FakeSite site;
  ListingPageData empty;
  empty.Heading = "Организации";
  empty.Breadcrumb = "Рубрика";
  site.SetFallback(FakeResponse::Page(ListingPage(empty, {3000, 5})));
  for (int city = 0; city < 6; ++city) {
    window.AddCity("город" + std::to_string(city), site.Url("/c" + std::to_string(city) + "/"),
                   true);
  }
  for (int category = 0; category < 5; ++category) {
    window.AddCategory("рубрика" + std::to_string(category), "k" + std::to_string(category) + "/",
                       true);
  }
  window.SetLimit(4);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run));
  EXPECT_EQ(site.RequestCount(), 30u);
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Complete);
  EXPECT_THAT(window.events->Alarms(), IsEmpty());
}

TEST_F(SiteChangeTest, TheCheckReadsTheFirstListingAndFiveOrganizationsAndWritesNothing) {
  // The first job's listing, then the first organizations of its first page.
  const std::vector<std::string> urls = Check(std::nullopt);
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::Complete);
  ASSERT_EQ(urls.size(), 6u);
  EXPECT_EQ(urls[0], job_);
  for (std::size_t i = 1; i < urls.size(); ++i) {
    EXPECT_THAT(urls[i], HasSubstr("/org/"));
  }
  EXPECT_EQ(CountLines("Проверка: "), 6);
  EXPECT_EQ(CountLines("— список организаций, распознан"), 1);
  EXPECT_EQ(CountLines("— страница организации, распознана; найдено: Организация, Адрес"), 5);
  EXPECT_EQ(CountLines("Проверка пройдена: распознаны все страницы (6)"), 1);
  EXPECT_THAT(window.events->Alarms(), IsEmpty());
  EXPECT_TRUE(std::filesystem::is_empty(Folder())) << "a check leaves no file";
}

TEST_F(SiteChangeTest, TheCheckOfAChangedSiteFailsAndNamesWhatItMissed) {
  EXPECT_THAT(Check(0), SizeIs(6));
  EXPECT_EQ(window.events->Outcome(), engine::RunOutcome::PagesUnrecognised);
  EXPECT_EQ(CountLines("— страница организации, не распознана: нет ни названия, ни адреса"), 5);
  EXPECT_EQ(CountLines("Проверка не пройдена: не распознаны 5 из 6 страниц"), 1);
  EXPECT_EQ(CountLines("ни на одной странице организации не найдено: Организация, Адрес, Город, "
                       "Телефон"),
            1);
  EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}

// Ten organizations, `phones` of them with a phone.
void ServeDirectoryWithPhones(FakeSite& site, int phones) {
  ListingPageData listing;
  listing.Breadcrumb = "Кафе";
  listing.CountText = "10";
  for (int i = 0; i < 10; ++i) {
    const std::string path = "/org/" + std::to_string(i) + "/";
    listing.CardLinks.push_back(site.Url(path));
    OrganizationPageData data = SampleOrganization(static_cast<std::uint32_t>(i));
    if (i >= phones) {
      data.Phones.clear();
    } else if (data.Phones.empty()) {
      data.Phones.push_back("+7 900 000-00-0" + std::to_string(i));
    }
    site.Serve(path, FakeResponse::Page(OrganizationPage(data)));
  }
  site.Serve("/city/kafe/", FakeResponse::Page(ListingPage(listing)));
}

TEST_F(SiteChangeTest, EveryRunLogsItsCoverageAndWarnsWhenAValueStoppedBeingFound) {
  window.SetLimit(2);
  {
    FakeSite site;
    ServeDirectoryWithPhones(site, 9);
    window.AddCity("город", site.Url("/city/"), true);
    window.AddCategory("Кафе", std::string("kafe/"), true);
    auto run = StartRun();
    ASSERT_TRUE(WaitUntilGone(run));
  }
  const std::vector<std::string> first = window.Log();
  const auto complete = std::find_if(first.begin(), first.end(), [](const std::string& line) {
    return line.find("Сбор данных завершен") != std::string::npos;
  });
  ASSERT_NE(complete, first.end());
  ASSERT_NE(complete, first.begin());
  EXPECT_THAT(*(complete - 1), HasSubstr("Заполнено: Ссылка 100%, Имя рубрики 100%, "
                                         "Организация 100%, Адрес 100%"));
  EXPECT_THAT(*(complete - 1), HasSubstr("Телефон 90%"));
  EXPECT_EQ(CountLines("Внимание: значение"), 0);

  window.events->ClearLog();
  window.ClearCities();
  {
    FakeSite site;
    ServeDirectoryWithPhones(site, 0);
    window.AddCity("город", site.Url("/city/"), true);
    auto run = StartRun();
    ASSERT_TRUE(WaitUntilGone(run));
  }
  EXPECT_EQ(CountLines("Телефон 0%"), 1);
  EXPECT_EQ(CountLines("Внимание: значение «Телефон» найдено в 0% строк, а в прошлой завершенной "
                       "работе (data" +
                       std::to_string(kStartTick) + ".tab) в 90%."),
            1);
  EXPECT_EQ(CountLines("Внимание: значение"), 1);
}

}  // namespace
}  // namespace mirava::testing
