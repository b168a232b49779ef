// Whole crawls of the invented directory through TScraper, real workers and HTTP on 127.0.0.1:
// one worker against the small directory, compared byte for byte with what the directory
// expects; then many workers in proxy mode against the demo directory, with refusals, rate
// limits and compressed bodies, checked organization by organization.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "tests/engine/scraper_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

namespace mirava::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

// The demo crawl fetches some 500 pages; sanitizer builds need their time.
constexpr std::chrono::minutes kLongRunTimeout{5};

class CrawlEndToEndTest : public ScraperTest {
 protected:
  // Selects every city and every category of the directory; returns the job addresses.
  std::vector<std::string> SelectAll(const FakeDirectory& directory, const FakeSite& site) {
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      window.AddCity(directory.Cities()[city].Name, directory.CityValue(site.Origin(), city), true);
    }
    for (const DirectoryCategory& category : directory.Categories()) {
      window.AddCategory(category.Name, category.Path, true);
    }
    std::vector<std::string> jobs;
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      for (std::size_t category = 0; category < directory.Categories().size(); ++category) {
        jobs.push_back(directory.JobAddress(site.Origin(), city, category));
      }
    }
    return jobs;
  }

  // Log messages without their time stamp that start with `prefix`.
  std::vector<std::string> LoggedMessages(const std::string& prefix) const {
    std::vector<std::string> messages;
    const std::string stamp = std::string(kStamp) + ": ";
    for (const std::string& line : window.Log()) {
      if (line.rfind(stamp + prefix, 0) == 0) {
        messages.push_back(line.substr(stamp.size()));
      }
    }
    return messages;
  }
};

TEST_F(CrawlEndToEndTest, OneWorkerWritesTheSmallDirectoryByteForByte) {
  FakeDirectory directory({.Seed = 7, .Size = DirectorySize::Small, .PageBytes = 2000});
  FakeSite site;
  directory.Attach(site);
  const std::vector<std::string> jobs = SelectAll(directory, site);
  const ExpectedCrawl expected = directory.ExpectCrawl(site.Origin(), jobs);

  auto run = StartRun();
  ASSERT_TRUE(WaitUntilGone(run, kLongRunTimeout));

  std::string file = "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";
  for (const std::string& row : expected.Rows) {
    file += row + "\r\n";
  }
  EXPECT_EQ(ReadFileBytes(ResultsPath()), file);
  // Job addresses, hubs (the district hub behind its redirect), later pages and organization
  // pages, each fetched once, in queue order.
  EXPECT_EQ(site.Paths(), expected.Requests);
  EXPECT_EQ(LoggedMessages("В категории "), expected.CategoryLogs);
  EXPECT_EQ(directory.Organizations().size(), expected.Rows.size());

  // Every queued address was harvested: the redirect's target is no address of the run.
  std::size_t redirects = 0;
  for (const ServedResponse& served : directory.Served()) {
    redirects += served.Status == 301 ? 1 : 0;
  }
  EXPECT_EQ(redirects, 1u);
  const std::size_t queued = expected.Requests.size() - redirects;
  const std::string done = std::to_string(queued);
  EXPECT_THAT(progress->Hints(), Contains(done + " из " + done + ", осталось 0"));
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
  EXPECT_EQ(
      CountLines("Файл сформирован, в нем " + std::to_string(expected.Rows.size() + 1) + " строк"),
      1);

  EXPECT_THAT(OpenedWorkbooks(), ElementsAre(WorkbookPath()));
  EXPECT_EQ(ReadFileBytes(WorkbookPath()).substr(0, 2), "PK");
  const std::string last_line = Line("Работа завершена, лог записан в " + LogPath()) + "\r\n";
  const std::string log = ReadLogAsUtf8(LogPath());
  ASSERT_GE(log.size(), last_line.size());
  EXPECT_EQ(log.substr(log.size() - last_line.size()), last_line);
  EXPECT_EQ(log.rfind(Line("Начинаем работу по заданному списку") + "\r\n", 0), 0u);
}

TEST_F(CrawlEndToEndTest, ManyWorkersFindEveryOrganizationOfTheDemoDirectoryOnce) {
  FakeDirectory directory({.Seed = 11,
                           .Size = DirectorySize::Demo,
                           .RefusedPercent = 6,
                           .RateLimitedPercent = 6,
                           .CompressedPercent = 60});
  FakeSite site;
  directory.Attach(site);
  SelectAll(directory, site);
  // Proxies on: the site stands in for the proxies too (it answers a proxy's absolute-form
  // requests), so a 429 makes no pause. Unusable lines are skipped and named by number only.
  const std::string proxy = "127.0.0.1:" + std::to_string(site.Port());
  std::ofstream(Folder() + "proxy.txt", std::ios::binary)
      << "one:pw@" << proxy << "\r\n\r\ntwo:pw@" << proxy << "\r\n"
      << "127.0.0.1\r\nthree:pw@" << proxy << "\r\n";
  window.SetUseProxy(true);
  window.SetLimit(8);
  engine::RunEnvironment environment = Environment();
  environment.Fetch.MaxAttempts = 5;

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitUntilGone(run, kLongRunTimeout));

  std::map<std::string, const DirectoryOrganization*> by_url;
  for (const DirectoryOrganization& organization : directory.Organizations()) {
    by_url[site.Url(organization.Path)] = &organization;
  }
  const std::string file = ReadFileBytes(ResultsPath());
  const std::string head = "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";
  ASSERT_EQ(file.substr(0, head.size()), head);
  std::map<std::string, int> seen;
  std::size_t start = head.size();
  while (start < file.size()) {
    const std::size_t end = file.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "the last row has no line break";
    const std::string row = file.substr(start, end - start);
    start = end + 2;
    // The first two values hold no quote or TAB: the address and the category name.
    const std::size_t url_end = row.find("\"\t\"");
    const std::size_t category_end = row.find("\"\t\"", url_end + 3);
    ASSERT_NE(category_end, std::string::npos) << row;
    const std::string url = row.substr(1, url_end - 1);
    const std::string category = row.substr(url_end + 3, category_end - url_end - 3);
    ++seen[url];
    const auto organization = by_url.find(url);
    ASSERT_NE(organization, by_url.end()) << row;
    // Threads decide which listing reaches an organization first; any of them may name it.
    EXPECT_THAT(organization->second->ListedUnder, Contains(category)) << row;
    EXPECT_EQ(row, analysis::FormatRow(ExpectedRow(organization->second->Data, url, category)));
  }
  for (const auto& [url, organization] : by_url) {
    EXPECT_EQ(seen[url], 1) << url;
  }
  EXPECT_EQ(seen.size(), by_url.size());

  // The failures really happened, and every page got through in the end.
  int refused = 0;
  int limited = 0;
  int gzip = 0;
  int deflate = 0;
  for (const ServedResponse& served : directory.Served()) {
    refused += served.Status == 403 ? 1 : 0;
    limited += served.Status == 429 ? 1 : 0;
    gzip += served.Encoding == FakeResponse::Encoding::Gzip ? 1 : 0;
    deflate += served.Encoding == FakeResponse::Encoding::Deflate ? 1 : 0;
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(limited, 0);
  EXPECT_GT(gzip, 0);
  EXPECT_GT(deflate, 0);
  EXPECT_EQ(CountLines("Ответ сайта для "), refused + limited);
  EXPECT_EQ(CountLines("Делаем паузу"), 0);
  EXPECT_EQ(CountLines("В файле proxy.txt пропущены строки без адреса или порта прокси: 2 "
                       "(номера строк: 2, 4)"),
            1);
  for (const RecordedRequest& request : site.Requests()) {
    ASSERT_EQ(request.Target.rfind("http://", 0), 0u)
        << "a request went direct: " << request.Target;
  }
  const std::string harvest_failure_prefix = Line(site.Origin());
  int failed_pages = 0;
  for (const std::string& line : window.Log()) {
    failed_pages +=
        line.rfind(harvest_failure_prefix, 0) == 0 && line.find(": ERROR_") != std::string::npos
            ? 1
            : 0;
  }
  EXPECT_EQ(failed_pages, 0);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
  EXPECT_TRUE(std::filesystem::exists(LogPath()));
}

}  // namespace
}  // namespace mirava::testing
