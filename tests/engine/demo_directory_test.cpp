// The invented directory itself: its pages read back, through the real page readers, as the
// model expects; every address the readers queue exists; refusals and rate limits hit only a
// path's first request; the same seed gives the same directory; the change options turn it into a
// redesigned site or a robot check, and back.
#include <deque>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/page_analysis.h"
#include "tests/support/fake_directory.h"

namespace mirava::testing {
namespace {

using ::testing::Contains;
using ::testing::SizeIs;

constexpr const char* kOrigin = "http://127.0.0.1:8080";

RecordedRequest Request(const std::string& path, const std::string& accept_encoding = "") {
  RecordedRequest request;
  request.Method = "GET";
  request.Path = path;
  request.Target = path;
  if (!accept_encoding.empty()) {
    request.Headers.emplace_back("Accept-Encoding", accept_encoding);
  }
  return request;
}

std::vector<std::string> AllJobs(const FakeDirectory& directory) {
  std::vector<std::string> jobs;
  for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
    for (std::size_t category = 0; category < directory.Categories().size(); ++category) {
      jobs.push_back(directory.JobAddress(kOrigin, city, category));
    }
  }
  return jobs;
}

// A queue and visited list like a run's, without threads or HTTP.
class QueueSink : public analysis::IPageSink {
 public:
  explicit QueueSink(const std::vector<std::string>& jobs) : queue(jobs.begin(), jobs.end()) {
    for (const std::string& job : jobs) {
      visited_.insert(job);
    }
  }
  bool EnqueuePage(const std::string& url) override {
    if (!visited_.insert(url).second) {
      return false;
    }
    queue.push_back(url);
    return true;
  }
  void AppendRow(const std::string& row) override { Rows.push_back(row); }
  void Log(const std::string& text) override { Logs.push_back(text); }

  std::deque<std::string> queue;
  std::vector<std::string> Rows;
  std::vector<std::string> Logs;

 private:
  std::set<std::string> visited_;
};

// Walks the directory as one worker would, reading every page with the page readers.
ExpectedCrawl ReadThrough(FakeDirectory& directory, const std::vector<std::string>& jobs) {
  const std::string origin = kOrigin;
  QueueSink sink(jobs);
  analysis::CategoryByUrl category_by_url;
  ExpectedCrawl crawl;
  while (!sink.queue.empty()) {
    const std::string address = sink.queue.front();
    sink.queue.pop_front();
    std::string path = address.substr(origin.size());
    crawl.Requests.push_back(path);
    FakeResponse response = directory.Respond(origin, Request(path));
    if (response.Status == 301) {
      path = response.Headers.back().second.substr(origin.size());
      crawl.Requests.push_back(path);
      response = directory.Respond(origin, Request(path));
    }
    EXPECT_EQ(response.Status, 200) << path;
    analysis::AnalyzePage(response.Body, address, category_by_url, sink);
  }
  crawl.Rows = sink.Rows;
  crawl.CategoryLogs = sink.Logs;
  return crawl;
}

TEST(FakeDirectoryTest, PagesReadBackAsTheModelExpects) {
  for (const DirectorySize size : {DirectorySize::Small, DirectorySize::Demo}) {
    SCOPED_TRACE(size == DirectorySize::Small ? "small" : "demo");
    FakeDirectory directory({.Seed = 3, .Size = size, .PageBytes = 3000});
    const std::vector<std::string> jobs = AllJobs(directory);

    const ExpectedCrawl expected = directory.ExpectCrawl(kOrigin, jobs);
    const ExpectedCrawl read = ReadThrough(directory, jobs);

    EXPECT_EQ(read.Requests, expected.Requests);
    EXPECT_EQ(read.CategoryLogs, expected.CategoryLogs);
    ASSERT_EQ(read.Rows, expected.Rows);
    // Every organization is reached, each once.
    EXPECT_THAT(read.Rows, SizeIs(directory.Organizations().size()));
  }
}

TEST(FakeDirectoryTest, DemoDirectoryHasEveryKindOfPage) {
  FakeDirectory directory({.Seed = 1, .Size = DirectorySize::Demo});
  const std::string origin = kOrigin;
  EXPECT_THAT(directory.Cities(), SizeIs(3));
  EXPECT_THAT(directory.Categories(), SizeIs(5));
  EXPECT_GE(directory.Organizations().size(), 300u);

  const ExpectedCrawl crawl = directory.ExpectCrawl(origin, AllJobs(directory));
  const std::set<std::string> requested(crawl.Requests.begin(), crawl.Requests.end());
  const auto has = [&](const std::string& part, const std::string& other) {
    for (const std::string& path : crawl.Requests) {
      if (path.find(part) != std::string::npos && path.find(other) != std::string::npos) {
        return true;
      }
    }
    return false;
  };
  // The big category: 34 pages, a metro hub with stations, and the district walk.
  EXPECT_THAT(requested, Contains("/novosibirsk/autoservice/type/avtoservisy/page-34/"));
  EXPECT_THAT(requested, Contains("/novosibirsk/autoservice/type/avtoservisy/metro/"));
  EXPECT_THAT(requested, Contains("/barnaul/autoservice/type/avtoservisy/rayon/"));
  EXPECT_TRUE(has("/metro/ploshchad-lenina/", ""));
  EXPECT_TRUE(has("/metro/", "/page-2/"));
  EXPECT_TRUE(has("/rayon/tsentralnyy/", ""));
  EXPECT_TRUE(has("/rayon/", "/page-2/"));
  // A small category long enough for a second page.
  bool small_second_page = false;
  for (const std::string& path : crawl.Requests) {
    small_second_page |=
        path.find("page-2/") != std::string::npos && path.find("avtoservisy") == std::string::npos;
  }
  EXPECT_TRUE(small_second_page);

  // A city without metro sends the metro address on to its district hub.
  FakeResponse redirect =
      directory.Respond(origin, Request("/barnaul/autoservice/type/avtoservisy/metro/"));
  EXPECT_EQ(redirect.Status, 301);
  EXPECT_THAT(redirect.Headers,
              Contains(std::pair<std::string, std::string>(
                  "Location", origin + "/barnaul/autoservice/type/avtoservisy/rayon/")));
  EXPECT_EQ(directory.Respond(origin, Request("/barnaul/nothing/")).Status, 404);

  // Organizations listed under more than one category, and card links with a query.
  int shared = 0;
  for (const DirectoryOrganization& organization : directory.Organizations()) {
    shared += organization.ListedUnder.size() > 1 ? 1 : 0;
  }
  EXPECT_GT(shared, 20);
  const std::string listing =
      directory.Respond(origin, Request("/kazan/autoservice/type/avtoservisy/")).Body;
  EXPECT_NE(listing.find("/?from=catalog&amp;page=1\""), std::string::npos);
}

TEST(FakeDirectoryTest, FailuresHitOnlyTheFirstRequestOfAPath) {
  FakeDirectory directory({.Seed = 5,
                           .Size = DirectorySize::Small,
                           .RefusedPercent = 20,
                           .RateLimitedPercent = 20,
                           .CompressedPercent = 50});
  const ExpectedCrawl crawl = directory.ExpectCrawl(kOrigin, AllJobs(directory));
  int refused = 0;
  int limited = 0;
  int compressed = 0;
  for (const std::string& path : crawl.Requests) {
    const FakeResponse first = directory.Respond(kOrigin, Request(path, "gzip, deflate"));
    refused += first.Status == 403 ? 1 : 0;
    limited += first.Status == 429 ? 1 : 0;
    const FakeResponse second = directory.Respond(kOrigin, Request(path, "gzip, deflate"));
    EXPECT_TRUE(second.Status == 200 || second.Status == 301) << path;
    compressed += second.ContentEncoding != FakeResponse::Encoding::Identity ? 1 : 0;
    // A client that does not accept compression never gets it.
    EXPECT_EQ(directory.Respond(kOrigin, Request(path)).ContentEncoding,
              FakeResponse::Encoding::Identity);
  }
  const int pages = static_cast<int>(crawl.Requests.size());
  EXPECT_GT(refused, pages / 10);
  EXPECT_GT(limited, pages / 10);
  EXPECT_LT(refused + limited, pages * 6 / 10);
  EXPECT_GT(compressed, pages / 4);
  EXPECT_THAT(directory.Served(), SizeIs(3 * crawl.Requests.size()));
}

TEST(FakeDirectoryTest, TheSeedFixesTheDirectory) {
  const auto first_page = [](std::uint32_t seed) {
    FakeDirectory directory({.Seed = seed, .Size = DirectorySize::Small});
    const DirectoryOrganization& organization = directory.Organizations().front();
    return directory.Respond(kOrigin, Request(organization.Path)).Body +
           directory.Respond(kOrigin, Request("/barnaul/autoservice/type/avtoservisy/")).Body;
  };
  EXPECT_EQ(first_page(9), first_page(9));
  EXPECT_NE(first_page(9), first_page(10));
}

// What the page readers make of one response: the rows and log lines they give.
QueueSink ReadPage(FakeDirectory& directory, const std::string& path) {
  const FakeResponse response = directory.Respond(kOrigin, Request(path));
  EXPECT_EQ(response.Status, 200) << path;
  QueueSink sink({});
  analysis::CategoryByUrl category_by_url;
  analysis::AnalyzePage(response.Body, kOrigin + path, category_by_url, sink);
  return sink;
}

std::string NormalRow(const DirectoryOrganization& organization) {
  return analysis::FormatRow(ExpectedRow(organization.Data, kOrigin + organization.Path, ""));
}

// The row of a page on which the reader finds nothing but the marker.
std::string BlankRow(const DirectoryOrganization& organization) {
  analysis::OrganizationRow row;
  row[analysis::kLinkColumn] = kOrigin + organization.Path;
  return analysis::FormatRow(row);
}

TEST(FakeDirectoryTest, AfterTheChangeOrganizationPagesKeepOnlyTheMarker) {
  FakeDirectory directory(
      {.Seed = 4, .Size = DirectorySize::Small, .PageBytes = 3000, .ChangedAfter = 2});
  FakeDirectory unchanged({.Seed = 4, .Size = DirectorySize::Small, .PageBytes = 3000});
  const std::vector<DirectoryOrganization>& organizations = directory.Organizations();
  const std::string listing = "/barnaul/autoservice/type/chip-tuning/";

  // Listings neither count nor change; organization pages count over all paths.
  struct Step {
    std::string Path;
    std::string Row;  // empty: not an organization page
  };
  const std::vector<Step> steps = {
      {organizations[0].Path, NormalRow(organizations[0])},
      {listing, ""},
      {organizations[1].Path, NormalRow(organizations[1])},
      {organizations[2].Path, BlankRow(organizations[2])},
      {listing, ""},
      {organizations[0].Path, BlankRow(organizations[0])},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Path);
    const QueueSink read = ReadPage(directory, step.Path);
    if (step.Row.empty()) {
      EXPECT_EQ(directory.Respond(kOrigin, Request(step.Path)).Body,
                unchanged.Respond(kOrigin, Request(step.Path)).Body);
    } else {
      EXPECT_THAT(read.Rows, ::testing::ElementsAre(step.Row));
    }
  }
  int changed = 0;
  for (const ServedResponse& served : directory.Served()) {
    changed += served.Changed ? 1 : 0;
  }
  EXPECT_EQ(changed, 2);

  directory.BackToNormal();
  EXPECT_THAT(ReadPage(directory, organizations[2].Path).Rows,
              ::testing::ElementsAre(NormalRow(organizations[2])));

  // From the first page on, no value of any organization is found, though across the directory
  // every column has values on the usual pages.
  FakeDirectory changed_site(
      {.Seed = 4, .Size = DirectorySize::Small, .PageBytes = 3000, .ChangedAfter = 0});
  std::set<std::size_t> columns_with_values;
  for (const DirectoryOrganization& organization : changed_site.Organizations()) {
    const analysis::OrganizationRow usual = ExpectedRow(organization.Data, "", "");
    for (std::size_t column = analysis::kOrganizationColumn; column < usual.size(); ++column) {
      if (!usual[column].empty()) {
        columns_with_values.insert(column);
      }
    }
    EXPECT_THAT(ReadPage(changed_site, organization.Path).Rows,
                ::testing::ElementsAre(BlankRow(organization)))
        << organization.Path;
  }
  EXPECT_THAT(columns_with_values, SizeIs(analysis::kColumnCount - analysis::kOrganizationColumn));
}

bool IsRobotCheck(const FakeResponse& response) {
  for (const std::string_view marker :
       {analysis::kOrganizationMarker, std::string_view("class=\"ranges\""),
        std::string_view("minicard-item__info"), std::string_view("<h1 ")}) {
    if (response.Body.find(marker) != std::string::npos) {
      return false;
    }
  }
  return response.Status == 200 &&
         response.Body.find("Подтвердите, что вы не робот") != std::string::npos;
}

TEST(FakeDirectoryTest, TheRobotCheckAnswersEveryRequestAfterItsCount) {
  FakeDirectory reference({.Seed = 6});
  const std::string organization = reference.Organizations().front().Path;
  const std::string listing = "/barnaul/autoservice/type/chip-tuning/";
  const std::string hub = "/barnaul/autoservice/type/avtoservisy/rayon/";
  const std::string missing = "/barnaul/nothing/";

  struct Step {
    std::string Path;
    int Status;  // of a usual response; 0: the robot check
  };
  struct Case {
    const char* Name;
    DirectoryOptions Options;
    std::vector<Step> Steps;
  };
  const std::vector<Case> cases = {
      {"from the first page", {.Seed = 6, .RobotCheckAfter = 0}, {{listing, 0}, {missing, 0}}},
      {"after one page",
       {.Seed = 6, .RobotCheckAfter = 1},
       {{listing, 200}, {organization, 0}, {hub, 0}, {missing, 0}}},
      // Only pages count: neither a refusal nor a missing page.
      {"after two pages",
       {.Seed = 6, .RefusedPercent = 100, .RobotCheckAfter = 2},
       {{listing, 403},
        {missing, 404},
        {listing, 200},
        {organization, 403},
        {organization, 200},
        {listing, 0}}},
      {"before an earlier change",
       {.Seed = 6, .ChangedAfter = 0, .RobotCheckAfter = 0},
       {{organization, 0}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Name);
    FakeDirectory directory(test.Options);
    int checks = 0;
    for (const Step& step : test.Steps) {
      SCOPED_TRACE(step.Path);
      const FakeResponse response = directory.Respond(kOrigin, Request(step.Path));
      if (step.Status == 0) {
        EXPECT_TRUE(IsRobotCheck(response));
        ++checks;
      } else {
        EXPECT_EQ(response.Status, step.Status);
        EXPECT_FALSE(IsRobotCheck(response));
      }
    }
    int changed = 0;
    for (const ServedResponse& served : directory.Served()) {
      changed += served.Changed ? 1 : 0;
    }
    EXPECT_EQ(changed, checks);

    // Recovered: the usual pages again, read as before.
    directory.BackToNormal();
    EXPECT_THAT(ReadPage(directory, organization).Rows,
                ::testing::ElementsAre(NormalRow(directory.Organizations().front())));
    EXPECT_EQ(directory.Respond(kOrigin, Request(listing)).Body,
              reference.Respond(kOrigin, Request(listing)).Body);
    EXPECT_EQ(directory.Respond(kOrigin, Request(missing)).Status, 404);
  }
}

}  // namespace
}  // namespace mirava::testing
