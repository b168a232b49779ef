// The worker in proxy mode. Fake sites stand in for proxies where only the rotation and the
// failure rules matter (a plain-HTTP proxy request reaches them in absolute form); Debian's
// tinyproxy checks that credentials and CONNECT tunnels work with a real proxy.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_client.h"
#include "engine/proxy_health.h"
#include "engine/scraping_thread.h"
#include "tests/engine/worker_fixture.h"
#include "tests/support/dead_proxies.h"
#include "tests/support/fake_site.h"
#include "tests/support/tinyproxy.h"

namespace mirava::testing::worker {
namespace {

std::string Base64(std::string_view text) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned value = (static_cast<unsigned char>(text[i]) << 16) |
                           (static_cast<unsigned char>(text[i + 1]) << 8) |
                           static_cast<unsigned char>(text[i + 2]);
    encoded += {kAlphabet[(value >> 18) & 63], kAlphabet[(value >> 12) & 63],
                kAlphabet[(value >> 6) & 63], kAlphabet[value & 63]};
  }
  if (i + 1 == text.size()) {
    const unsigned value = static_cast<unsigned char>(text[i]) << 16;
    encoded += {kAlphabet[(value >> 18) & 63], kAlphabet[(value >> 12) & 63], '=', '='};
  } else if (i + 2 == text.size()) {
    const unsigned value = (static_cast<unsigned char>(text[i]) << 16) |
                           (static_cast<unsigned char>(text[i + 1]) << 8);
    encoded += {kAlphabet[(value >> 18) & 63], kAlphabet[(value >> 12) & 63],
                kAlphabet[(value >> 6) & 63], '='};
  }
  return encoded;
}

std::string Endpoint(const FakeSite& proxy) {
  return "127.0.0.1:" + std::to_string(proxy.Port());
}

class ProxyModeTest : public WorkerTest {
 protected:
  void UseProxies(std::vector<std::string> entries) {
    services_->Proxies = std::make_shared<const engine::ProxyList>(std::move(entries));
  }

  std::unique_ptr<engine::TScrapingThread> MakeProxiedWorker(const std::string& url,
                                                             const std::string& proxy) {
    auto worker = MakeWorker(url);
    worker->UseProxy = true;
    worker->proxy = proxy;
    // Pacing would hold a direct request for a long time; proxied ones never wait.
    worker->RequestInterval = 0xFFFFFFF0u;
    pacing_->LastRequestTick.store(clock_->TickCount() - 5);
    return worker;
  }

  std::string ProxyLine(const FakeSite& proxy, const std::string& message) const {
    return std::string(kStamp) + " (" + Endpoint(proxy) + "): " + message;
  }
};

TEST_F(ProxyModeTest, EveryFailedAttemptMovesToTheNextProxy) {
  FakeSite first, second, third;
  FakeSite site;  // never reached directly
  first.SetFallback(FakeResponse::Error(500));
  second.SetFallback(FakeResponse::Error(404));
  third.SetFallback(FakeResponse::Page("via third"));
  const std::string password_spec = "se:cret%41";
  UseProxies({"u:" + password_spec + "@" + Endpoint(first),
              "u:" + password_spec + "@" + Endpoint(second),
              "u:" + password_spec + "@" + Endpoint(third)});
  const std::string url = site.Url("/msk/metro/park/");
  auto worker = MakeProxiedWorker(url, "u:" + password_spec + "@" + Endpoint(first));
  RunToEnd(*worker);

  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(worker->html, "via third");
  EXPECT_EQ(worker->url, url) << "a 404 through a proxy is only a 'retry'";
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       ProxyLine(first, "Запускаем " + url),
                       ProxyLine(first, "Ответ сайта для " + url + ": ERROR_retry"),
                       ProxyLine(second, "Запускаем " + url),
                       ProxyLine(second, "Ответ сайта для " + url + ": ERROR_retry"),
                       ProxyLine(third, "Запускаем " + url),
                   }));
  EXPECT_EQ(site.RequestCount(), 0u);
  for (const FakeSite* proxy : {&first, &second, &third}) {
    const auto requests = proxy->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, url);
    // User name and password reach the proxy unchanged, ":" and "%" included.
    EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "Basic " + Base64("u:" + password_spec));
  }
  // Neither pacing nor a pause: the clock never slept. A success marks the last request.
  EXPECT_TRUE(clock_->Sleeps().empty());
  EXPECT_EQ(pacing_->LastRequestTick.load(), clock_->TickCount());
}

TEST_F(ProxyModeTest, RateLimitDoesNotPauseButRefusalStillDoes) {
  FakeSite first, second, third, site;
  first.SetFallback(FakeResponse::Error(429));
  second.SetFallback(FakeResponse::Error(403));
  third.SetFallback(FakeResponse::Page("ok"));
  UseProxies({"@" + Endpoint(first), "@" + Endpoint(second), "@" + Endpoint(third)});
  auto worker = MakeProxiedWorker(site.Url("/page"), "@" + Endpoint(first));
  RunToEnd(*worker);

  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(CountLines("Делаем паузу"), 0u);
  EXPECT_EQ(CountLines("ERROR_retry"), 2u);
  // The status code still decides the refusal pause.
  EXPECT_EQ(clock_->Sleeps(), std::vector<std::uint32_t>{400});
  EXPECT_EQ(first.RequestCount(), 1u);
  EXPECT_EQ(second.RequestCount(), 1u);
  EXPECT_EQ(third.RequestCount(), 1u);
}

TEST_F(ProxyModeTest, NotFoundThroughAProxyIsRetriedFiftyTimes) {
  FakeSite proxy, site;
  UseProxies({"@" + Endpoint(proxy)});
  const std::string url = site.Url("/msk/metro/park/");
  auto worker = MakeProxiedWorker(url, "@" + Endpoint(proxy));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
  EXPECT_EQ(worker->statusText, "ERROR_retry");
  EXPECT_EQ(worker->url, url);
  EXPECT_EQ(proxy.RequestCount(), 50u);
}

TEST_F(ProxyModeTest, NotFoundFromTwoDifferentProxiesRewritesOrGivesUpAsDirectly) {
  struct Case {
    std::string start;
    std::vector<std::string> requested;  // by the three proxies in turn
    bool fetched;
  };
  const std::vector<Case> cases = {
      {"/msk/metro/park/", {"/msk/metro/park/", "/msk/metro/park/", "/msk/rayon/park/"}, true},
      {"/msk/type/kafe/", {"/msk/type/kafe/", "/msk/type/kafe/", "/msk/type-kafe/"}, true},
      {"/msk/kafe/", {"/msk/kafe/", "/msk/kafe/"}, false},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.start);
    ClearLog();
    FakeSite first, second, third, site;
    for (FakeSite* proxy : {&first, &second, &third}) {
      proxy->Serve("/msk/rayon/park/", FakeResponse::Page("district"));
      proxy->Serve("/msk/type-kafe/", FakeResponse::Page("kafe"));
    }
    UseProxies({"@" + Endpoint(first), "@" + Endpoint(second), "@" + Endpoint(third)});
    services_->Rotation = std::make_shared<engine::ProxyRotation>();
    const std::string url = site.Url(item.start);
    auto worker = MakeProxiedWorker(url, "@" + Endpoint(first));
    RunToEnd(*worker);

    std::vector<std::string> requested;
    for (const FakeSite* proxy : {&first, &second, &third}) {
      for (const auto& request : proxy->Requests()) {
        requested.push_back(request.Path);
      }
    }
    EXPECT_EQ(requested, item.requested);
    EXPECT_EQ(worker->url, site.Url(item.requested.back()));
    EXPECT_EQ(worker->result,
              item.fetched ? engine::FetchOutcome::Fetched : engine::FetchOutcome::Failed);
    // The first proxy's 404 is only a retry; the second one's is the direct mode's line.
    const std::vector<std::string> expected_start = {
        ProxyLine(first, "Запускаем " + url),
        ProxyLine(first, "Ответ сайта для " + url + ": ERROR_retry"),
        ProxyLine(second, "Запускаем " + url),
        ProxyLine(second, "Ответ сайта для " + url + ": ERROR_HTTP/1.1 404 Not Found"),
    };
    const auto log = Log();
    ASSERT_GE(log.size(), expected_start.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4), expected_start);
    EXPECT_EQ(log.size(), item.fetched ? 5u : 4u);
    ForgetFinished();
  }
}

TEST_F(ProxyModeTest, EntrySetAsideIsPassedOverAndWaitedForOnlyWhenAllAre) {
  for (const bool all_set_aside : {false, true}) {
    SCOPED_TRACE(all_set_aside ? "all set aside" : "one set aside");
    ClearLog();
    FakeSite first, second, site;
    first.SetFallback(FakeResponse::Page("via first"));
    second.SetFallback(FakeResponse::Page("via second"));
    const std::string first_entry = "@" + Endpoint(first);
    const std::string second_entry = "@" + Endpoint(second);
    UseProxies({first_entry, second_entry});
    services_->Rotation = std::make_shared<engine::ProxyRotation>();
    engine::ProxyHealth& health = services_->Rotation->Health;
    // Set aside a moment ago, as other workers' failures would have done.
    for (int i = 0; i < 3; ++i) {
      health.Record(first_entry, engine::FailureKind::ConnectFailed, clock_->TickCount());
      if (all_set_aside) {
        health.Record(second_entry, engine::FailureKind::ConnectFailed, clock_->TickCount() + 5);
      }
    }
    const std::size_t sleeps_before = clock_->Sleeps().size();
    auto worker = MakeProxiedWorker(site.Url("/page"), first_entry);
    RunToEnd(*worker);

    EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
    if (all_set_aside) {
      // The one that comes back first, after its cool-down, announced.
      EXPECT_EQ(worker->html, "via first");
      EXPECT_EQ(CountLines("Все прокси отложены, ждём 60 с"), 1u);
      EXPECT_EQ(CountLines("Прокси " + Endpoint(first) + " снова в работе"), 1u);
      EXPECT_GT(clock_->Sleeps().size(), sleeps_before);
    } else {
      EXPECT_EQ(worker->html, "via second");
      EXPECT_EQ(first.RequestCount(), 0u);
      EXPECT_EQ(CountLines("Все прокси отложены"), 0u);
      EXPECT_EQ(clock_->Sleeps().size(), sleeps_before);
    }
    ForgetFinished();
  }
}

TEST_F(ProxyModeTest, ClosedConnectionIsRepeatedAtOnceWithinTheAttempt) {
  FakeSite first, second, site;
  first.ServeSequence("/page", {FakeResponse::Close(), FakeResponse::Page("second try")});
  UseProxies({"@" + Endpoint(first), "@" + Endpoint(second)});
  auto worker = MakeProxiedWorker(site.Url("/page"), "@" + Endpoint(first));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(worker->html, "second try");
  EXPECT_EQ(CountLines("Запускаем"), 1u);
  EXPECT_EQ(first.RequestCount(), 2u);
  EXPECT_EQ(second.RequestCount(), 0u);
}

TEST_F(ProxyModeTest, FailedRepeatKeepsItsOwnTextButOneProxysNotFoundRewritesNothing) {
  FakeSite first, second, site;
  first.ServeSequence("/msk/metro/park/", {FakeResponse::Close(), FakeResponse::Error(404)});
  second.SetFallback(FakeResponse::Page("station"));
  UseProxies({"@" + Endpoint(first), "@" + Endpoint(second)});
  auto worker = MakeProxiedWorker(site.Url("/msk/metro/park/"), "@" + Endpoint(first));
  RunToEnd(*worker);

  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(CountLines("ERROR_HTTP/1.1 404 Not Found"), 1u);
  // One proxy's 404 may be the proxy's own: the next proxy gets the same address.
  EXPECT_EQ(worker->url, site.Url("/msk/metro/park/"));
  ASSERT_EQ(second.RequestCount(), 1u);
  EXPECT_EQ(second.Requests()[0].Path, "/msk/metro/park/");
}

TEST_F(ProxyModeTest, EmptyProxyGoesDirectlyWithoutPacing) {
  FakeSite site;
  site.Serve("/page", FakeResponse::Page("direct"));
  auto worker = MakeProxiedWorker(site.Url("/page"), "");
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(site.Requests().at(0).Target, "/page");
  EXPECT_EQ(Log(),
            std::vector<std::string>{std::string(kStamp) + ": Запускаем " + site.Url("/page")});
  EXPECT_TRUE(clock_->Sleeps().empty());
}

TEST_F(ProxyModeTest, EveryFormOfEntryCarriesItsCredentials) {
  FakeSite proxy, site;
  proxy.SetFallback(FakeResponse::Page("ok"));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"alice:wonder@" + Endpoint(proxy), "alice:wonder"},
      {"http://alice:wonder@" + Endpoint(proxy), "alice:wonder"},
      {Endpoint(proxy) + ";alice;wonder", "alice:wonder"},
  };
  for (const auto& [entry, credentials] : cases) {
    SCOPED_TRACE(entry);
    auto worker = MakeProxiedWorker(site.Url("/page"), entry);
    RunToEnd(*worker);
    EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
    EXPECT_EQ(proxy.Requests().back().Header("Proxy-Authorization"),
              "Basic " + Base64(credentials));
    for (const auto& line : Log()) {
      EXPECT_EQ(line.find("wonder"), std::string::npos) << "a password in the log: " << line;
    }
    ForgetFinished();
  }
}

// A stop breaks off a proxied transfer in any phase, charges the proxy nothing and gives back the
// trial the worker held.
TEST_F(ProxyModeTest, RealTimeStopBreaksOffAProxiedTransferWithoutChargingTheProxy) {
  FakeSite silent_proxy;  // takes the request, answers nothing
  silent_proxy.SetFallback(FakeResponse::Silence(std::chrono::seconds(40)));
  SilentListener no_tunnel;       // a tunnel request that is never answered
  UnreachableListener blackhole;  // a connection that never completes
  FakeSite plain_site;
  FakeSite secure_site(TestCertificates::Shared());
  struct Case {
    const char* name;
    std::string entry;
    std::string url;
  };
  const Case cases[] = {
      {"waiting for the answer", "u:p@" + Endpoint(silent_proxy), plain_site.Url("/page")},
      {"waiting for the tunnel", "u:p@127.0.0.1:" + std::to_string(no_tunnel.Port()),
       secure_site.Url("/page")},
      {"connecting", "u:p@127.0.0.1:" + std::to_string(blackhole.Port()), plain_site.Url("/page")},
  };
  Fetch().ConnectTimeout = std::chrono::seconds(30);
  Fetch().ProxyConnectTimeout = std::chrono::seconds(30);
  Fetch().ProxyFirstByteTimeout = std::chrono::seconds(30);
  Fetch().ReadTimeout = std::chrono::seconds(30);
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    ClearLog();
    UseProxies({item.entry});
    services_->Rotation = std::make_shared<engine::ProxyRotation>();
    engine::ProxyHealth& health = services_->Rotation->Health;
    // Back from a cool-down that has just ended: this worker's request is the entry's trial.
    for (int i = 0; i < 3; ++i) {
      health.Record(item.entry, engine::FailureKind::ConnectFailed, clock_->TickCount() - 60'000);
    }
    auto worker = MakeProxiedWorker(item.url, item.entry);
    worker->Start();
    ASSERT_TRUE(WaitFor([&] { return CountLines("Запускаем") == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well into the transfer
    const auto stopped_at = std::chrono::steady_clock::now();
    worker->Stop();
    ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }, std::chrono::seconds(60)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, std::chrono::seconds(5));
    EXPECT_EQ(worker->result, engine::FetchOutcome::Stopped);
    EXPECT_EQ(CountLines("Ответ сайта"), 0u);
    EXPECT_EQ(health.Records().at(item.entry).Requests, 3) << "the broken-off request counted";
    EXPECT_TRUE(health.TakeTurn(item.entry, clock_->TickCount()).Trial)
        << "the trial was not given back";
    worker.reset();
    ForgetFinished();
  }
}

TEST_F(ProxyModeTest, RealTimeProxyThatNeverAnswersIsLeftAfterTheFirstByteTimeOutAndSetAside) {
  SilentListener silent;
  FakeSite live, site;
  live.SetFallback(FakeResponse::Page("via live"));
  const std::string silent_entry = "u:p@127.0.0.1:" + std::to_string(silent.Port());
  Fetch().ReadTimeout = std::chrono::seconds(30);
  Fetch().ProxyFirstByteTimeout = std::chrono::milliseconds(300);
  Fetch().MaxAttempts = 3;
  UseProxies({silent_entry});
  auto worker = MakeProxiedWorker(site.Url("/page"), silent_entry);
  const auto start = std::chrono::steady_clock::now();
  RunToEnd(*worker);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15))
      << "three attempts waited for the read time-out";
  EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
  const engine::ProxyRecord record = services_->Rotation->Health.Records().at(silent_entry);
  EXPECT_EQ(record.Failures[static_cast<std::size_t>(engine::FailureKind::TimedOutBeforeResponse)],
            3);
  EXPECT_EQ(CountLines("Прокси 127.0.0.1:" + std::to_string(silent.Port()) +
                       " отложен на 1 минуту: нет ответа в отведённое время, ошибок подряд: 3"),
            1u);

  // The next worker handed it goes through the live proxy and leaves it alone.
  ForgetFinished();
  UseProxies({silent_entry, "u:p@" + Endpoint(live)});
  auto next = MakeProxiedWorker(site.Url("/page"), silent_entry);
  RunToEnd(*next);
  EXPECT_EQ(next->html, "via live");
  EXPECT_EQ(services_->Rotation->Health.Records().at(silent_entry).Requests, 3);
}

TEST_F(ProxyModeTest, EntryBackFromItsCoolDownGetsOneTrialWhileTheOthersPassItOver) {
  FakeSite failing, live, site;
  FakeResponse slow_bad_gateway = FakeResponse::Error(502);
  slow_bad_gateway.Delay = std::chrono::milliseconds(1000);  // every worker asks meanwhile
  failing.SetFallback(slow_bad_gateway);
  live.SetFallback(FakeResponse::Page("via live"));
  const std::string failing_entry = "@" + Endpoint(failing);
  UseProxies({failing_entry, "@" + Endpoint(live)});
  engine::ProxyHealth& health = services_->Rotation->Health;
  for (int i = 0; i < 3; ++i) {
    health.Record(failing_entry, engine::FailureKind::ProxyStatus, clock_->TickCount() - 60'000);
  }
  std::vector<std::unique_ptr<engine::TScrapingThread>> workers;
  for (int i = 0; i < 4; ++i) {
    workers.push_back(MakeProxiedWorker(site.Url("/page"), failing_entry));
  }
  for (auto& worker : workers) {
    worker->Start();
  }
  for (auto& worker : workers) {
    ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }));
    EXPECT_EQ(worker->html, "via live");
  }
  EXPECT_EQ(failing.RequestCount(), 1u) << "more than the one trial request";
  EXPECT_EQ(CountLines("Прокси " + Endpoint(failing) + " снова в работе"), 1u);
  EXPECT_EQ(
      CountLines("Прокси " + Endpoint(failing) + " отложен на 2 минуты: прокси отвечает ошибкой"),
      1u);
  EXPECT_EQ(live.RequestCount(), 4u);
}

class TinyProxyTest : public ProxyModeTest {
 protected:
  void SetUp() override {
    if (!TinyProxy::Available()) {
      GTEST_SKIP() << TinyProxy::kProgram << " is not installed";
    }
  }
};

TEST_F(TinyProxyTest, CredentialsInEveryFormReachTheSiteThroughTheProxy) {
  FakeSite site;
  site.Serve("/moskva/kafe/", FakeResponse::Page("through the proxy"));
  TinyProxy proxy("mirava", "s3cret", {});
  const std::string endpoint = "127.0.0.1:" + std::to_string(proxy.Port());
  for (const std::string& entry : {"mirava:s3cret@" + endpoint, "http://mirava:s3cret@" + endpoint,
                                   endpoint + ";mirava;s3cret"}) {
    SCOPED_TRACE(entry);
    auto worker = MakeProxiedWorker(site.Url("/moskva/kafe/"), entry);
    RunToEnd(*worker);
    EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched) << worker->statusText;
    EXPECT_EQ(worker->html, "through the proxy");
    const auto via = site.Requests().back().Header("Via");
    ASSERT_TRUE(via.has_value()) << "the request did not pass the proxy";
    EXPECT_NE(via->find("tinyproxy"), std::string::npos);
    ForgetFinished();
  }
}

TEST_F(TinyProxyTest, WrongOrMissingCredentialsAreRefused) {
  FakeSite site;
  site.Serve("/page", FakeResponse::Page("secret page"));
  TinyProxy proxy("mirava", "s3cret", {});
  engine::HttpClientOptions options;
  options.ConnectTimeoutMs = 5000;
  options.ReadTimeoutMs = 10000;
  // This proxy answers a wrong password with 401 and missing credentials with 407.
  const std::vector<std::pair<engine::ProxySettings, long>> cases = {
      {{"127.0.0.1", proxy.Port(), "mirava", "wrong"}, 401},
      {{"127.0.0.1", proxy.Port(), "", ""}, 407},
  };
  for (const auto& [settings, status] : cases) {
    SCOPED_TRACE(status);
    engine::HttpClient client(options, site.Url("/page"));
    client.SetProxy(settings);
    std::string body;
    const engine::HttpResult result = client.Get(site.Url("/page"), body);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.StatusCode, status);
    EXPECT_NE(result.FailureText.find(std::to_string(status)), std::string::npos)
        << result.FailureText;
  }
  EXPECT_EQ(site.RequestCount(), 0u);

  // The worker sees it as a failed proxied request.
  auto worker = MakeProxiedWorker(site.Url("/page"),
                                  "mirava:wrong@127.0.0.1:" + std::to_string(proxy.Port()));
  Fetch().MaxAttempts = 2;
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
  EXPECT_EQ(worker->statusText, "ERROR_retry");
  EXPECT_EQ(site.RequestCount(), 0u);
}

TEST_F(TinyProxyTest, HttpsPageIsTunnelledWithConnect) {
  FakeSite site(TestCertificates::Shared());
  site.Serve("/page", FakeResponse::Page("tunnelled"));
  TinyProxy proxy("mirava", "s3cret", {site.Port()});
  const std::string endpoint = "127.0.0.1:" + std::to_string(proxy.Port());

  auto worker = MakeProxiedWorker(site.Url("/page"), "mirava:s3cret@" + endpoint);
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched) << worker->statusText;
  EXPECT_EQ(worker->html, "tunnelled");
  ASSERT_EQ(site.RequestCount(), 1u);
  EXPECT_EQ(site.Requests()[0].TlsVersion, "TLSv1.2");
  EXPECT_NE(proxy.LogText().find("CONNECT 127.0.0.1:" + std::to_string(site.Port())),
            std::string::npos)
      << proxy.LogText();

  engine::HttpClientOptions options;
  options.ConnectTimeoutMs = 5000;
  options.ReadTimeoutMs = 10000;
  options.TrustStore = engine::TlsTrustStore::FromFile(TestCertificates::Shared().CaFile);
  engine::HttpClient client(options, site.Url("/page"));
  client.SetProxy({"127.0.0.1", proxy.Port(), "mirava", "wrong"});
  std::string body;
  const engine::HttpResult refused = client.Get(site.Url("/page"), body);
  EXPECT_FALSE(refused.Ok);
  EXPECT_EQ(refused.StatusCode, 401) << "the refused tunnel's code";
  EXPECT_FALSE(refused.FailureText.empty());
  EXPECT_EQ(site.RequestCount(), 1u);
}

}  // namespace
}  // namespace mirava::testing::worker
