// Whole runs through a proxy list with dead entries: real tinyproxy processes beside a refusing
// port, a silent listener and proxies that answer 407 and 502. The run finishes the directory,
// the dead entries are set aside after a few attempts, and the log never shows a credential.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/proxy_health.h"
#include "tests/engine/scraper_fixture.h"
#include "tests/support/dead_proxies.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"
#include "tests/support/tinyproxy.h"

namespace mirava::testing {
namespace {

constexpr std::chrono::minutes kLongRunTimeout{5};
constexpr const char* kUser = "proxyuser";
constexpr const char* kPassword = "pw-s3cret";

class ProxyHealthRunTest : public ScraperTest {
 protected:
  void SelectAll(const FakeDirectory& directory, const FakeSite& site) {
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      window.AddCity(directory.Cities()[city].Name, directory.CityValue(site.Origin(), city), true);
    }
    for (const DirectoryCategory& category : directory.Categories()) {
      window.AddCategory(category.Name, category.Path, true);
    }
  }

  void WriteProxyFile(const std::vector<std::string>& entries) {
    std::ofstream file(Folder() + "proxy.txt", std::ios::binary);
    for (const std::string& entry : entries) {
      file << entry << "\r\n";
    }
  }

  // The address of every row of the results file, with how often it was written.
  std::map<std::string, int> RowsByAddress() const {
    std::map<std::string, int> rows;
    std::ifstream file(ResultsPath(), std::ios::binary);
    std::string line;
    std::getline(file, line);  // the header
    while (std::getline(file, line)) {
      ++rows[line.substr(1, line.find('"', 1) - 1)];
    }
    return rows;
  }

  void ExpectEveryOrganizationOnce(const FakeDirectory& directory, const FakeSite& site) {
    std::map<std::string, int> expected;
    for (const DirectoryOrganization& organization : directory.Organizations()) {
      expected[site.Url(organization.Path)] = 1;
    }
    EXPECT_EQ(RowsByAddress(), expected);
  }

  long long RequestsThrough(const std::string& entry) const {
    const auto records = rotation->Health.Records();
    const auto found = records.find(entry);
    return found == records.end() ? 0 : found->second.Requests;
  }

  static std::string Local(int port) { return "127.0.0.1:" + std::to_string(port); }
};

TEST_F(ProxyHealthRunTest, DeadEntriesAreSetAsideAndTheDemoDirectoryIsFinished) {
  if (!TinyProxy::Available()) {
    GTEST_SKIP() << TinyProxy::kProgram << " is not installed";
  }
  FakeDirectory directory({.Seed = 5, .Size = DirectorySize::Demo});
  FakeSite site;
  directory.Attach(site);
  SelectAll(directory, site);

  TinyProxy first(kUser, kPassword, {});
  TinyProxy second(kUser, kPassword, {});
  TinyProxy third(kUser, kPassword, {});
  RefusingPort refusing;
  SilentListener silent;
  FakeSite asks_credentials;
  asks_credentials.SetFallback(FakeResponse::Error(407));
  FakeSite bad_gateway;
  bad_gateway.SetFallback(FakeResponse::Error(502));
  const std::string credentials = std::string(kUser) + ":" + kPassword;
  const std::string field_credentials = std::string(";") + kUser + ";" + kPassword;
  const std::vector<std::string> dead = {
      credentials + "@" + Local(refusing.Port()),
      Local(silent.Port()) + field_credentials,
      credentials + "@" + Local(asks_credentials.Port()),
      "http://" + credentials + "@" + Local(bad_gateway.Port()),
  };
  WriteProxyFile({credentials + "@" + Local(first.Port()), dead[0],
                  Local(second.Port()) + field_credentials, dead[1],
                  "http://" + credentials + "@" + Local(third.Port()), dead[2],
                  credentials + "@" + Local(first.Port()) + " ", dead[3],
                  Local(second.Port()) + " " + kUser + " " + kPassword,
                  credentials + "@" + Local(third.Port()) + "\t"});
  window.SetUseProxy(true);
  constexpr int kWorkers = 8;
  window.SetLimit(kWorkers);
  engine::RunEnvironment environment = Environment();
  environment.Fetch.MaxAttempts = 50;
  // The silent listener costs its time-out in real time; the cool-downs run on the fake clock.
  environment.Fetch.ConnectTimeout = std::chrono::milliseconds(300);
  environment.Fetch.ReadTimeout = std::chrono::milliseconds(300);

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitUntilGone(run, kLongRunTimeout));

  ExpectEveryOrganizationOnce(directory, site);
  for (const RecordedRequest& request : site.Requests()) {
    ASSERT_TRUE(request.Header("Via").has_value()) << "a request went direct: " << request.Target;
  }
  for (const std::string& entry : dead) {
    SCOPED_TRACE(entry);
    const std::string host = engine::ProxyDisplayName(entry);
    EXPECT_GE(CountLines("Прокси " + host + " отложен на 1 минуту: "), 1);
    // Three faults, then at most what the other workers had already under way when it was set
    // aside, again after each return; a refused port fails too fast to gather more than a few.
    const int returns = CountLines("Прокси " + host + " снова в работе");
    EXPECT_LE(RequestsThrough(entry), 3 + kWorkers * (1 + returns)) << returns << " returns";
  }
  EXPECT_EQ(CountLines(Local(refusing.Port()) + " отложен на 1 минуту: не удаётся подключиться"),
            1);
  EXPECT_EQ(CountLines(Local(silent.Port()) + " отложен на 1 минуту: нет ответа"), 1);
  EXPECT_EQ(CountLines(Local(asks_credentials.Port()) +
                       " отложен на 1 минуту: прокси не принимает логин и пароль"),
            1);
  EXPECT_EQ(CountLines(Local(bad_gateway.Port()) + " отложен на 1 минуту: прокси отвечает ошибкой"),
            1);

  const std::vector<std::string> log = window.Log();
  const auto complete = std::find(log.begin(), log.end(), Line("Сбор данных завершен"));
  ASSERT_NE(complete, log.end());
  ASSERT_GE(complete - log.begin(), 2);
  EXPECT_EQ((complete - 1)->rfind(Line("Заполнено: "), 0), 0u) << *(complete - 1);
  EXPECT_EQ((complete - 2)->rfind(Line("Прокси: использовано 10, работают "), 0), 0u)
      << *(complete - 2);
  // Neither the user name nor the password, anywhere: pane and log file.
  const std::string log_file = ReadFileBytes(LogPath());
  for (const std::string& secret : {std::string(kUser), std::string(kPassword)}) {
    EXPECT_EQ(log_file.find(secret), std::string::npos) << secret;
    for (const std::string& line : log) {
      ASSERT_EQ(line.find(secret), std::string::npos) << line;
    }
  }
}

TEST_F(ProxyHealthRunTest, EveryProxyDeadForAWhileTheRunWaitsAndCompletes) {
  FakeDirectory directory({.Seed = 3, .Size = DirectorySize::Small});
  FakeSite site;
  SelectAll(directory, site);
  // The site stands in for both proxies (it answers absolute-form requests) and answers 502, as
  // a proxy without its upstream does, for the first ten minutes of the fake clock.
  const std::uint32_t recovery = kStartTick + 10 * 60 * 1000;
  auto fake_clock = clock;
  site.SetHandler([&directory, &site, fake_clock, recovery](const RecordedRequest& request) {
    if (static_cast<std::int32_t>(fake_clock->TickCount() - recovery) < 0) {
      return std::optional<FakeResponse>(FakeResponse::Error(502));
    }
    return std::optional<FakeResponse>(directory.Respond(site.Origin(), request));
  });
  WriteProxyFile({"a:1@" + Local(site.Port()), "b:2@" + Local(site.Port())});
  window.SetUseProxy(true);
  window.SetLimit(2);
  engine::RunEnvironment environment = Environment();
  environment.Fetch.MaxAttempts = 50;

  auto run = StartRun(environment);
  ASSERT_TRUE(WaitUntilGone(run, kLongRunTimeout));

  ExpectEveryOrganizationOnce(directory, site);
  for (const RecordedRequest& request : site.Requests()) {
    ASSERT_EQ(request.Target.rfind("http://", 0), 0u) << "a request went direct";
  }
  EXPECT_GE(CountLines("Все прокси отложены, ждём "), 1);
  EXPECT_GE(CountLines("снова в работе"), 1);
  EXPECT_EQ(CountLines("Прокси: использовано 2, работают 2, отложено 0"), 1);
  EXPECT_EQ(CountLines("Сбор данных завершен"), 1);
}

}  // namespace
}  // namespace mirava::testing
