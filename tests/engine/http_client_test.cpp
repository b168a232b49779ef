#include "engine/http_client.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_site.h"
#include "tests/support/test_certificates.h"

namespace mirava::engine {
namespace {

using testing::FakeResponse;
using testing::FakeSite;
using testing::TestCertificates;

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:109.0) Gecko/20100101 Firefox/115.0";

HttpClientOptions QuickOptions() {
  HttpClientOptions options;
  options.ConnectTimeoutMs = 5000;
  options.ReadTimeoutMs = 5000;
  options.TrustStore = TlsTrustStore::FromFile(TestCertificates::Shared().CaFile);
  return options;
}

std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(42);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(generator() & 0xFF);
  }
  return bytes;
}

class HttpClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitHttpGlobally(); }
};

TEST_F(HttpClientTest, SendsTheRequestProfileOverHttpAndHttps) {
  FakeSite plain;
  FakeSite secure(TestCertificates::Shared());
  for (FakeSite* site : {&plain, &secure}) {
    SCOPED_TRACE(site->Origin());
    site->Serve("/moskva/kafe/", FakeResponse::Page("<html>страница</html>"));
    HttpClient client(QuickOptions(), site->Url("/moskva/kafe/"));
    std::string body;
    const HttpResult result = client.Get(site->Url("/moskva/kafe/"), body);

    ASSERT_TRUE(result.Ok) << result.FailureText;
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_EQ(body, "<html>страница</html>");
    const auto requests = site->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Target, "/moskva/kafe/");
    EXPECT_EQ(request.Version, "HTTP/1.1");
    EXPECT_EQ(request.Header("Accept"), "text/html, */*");
    EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate");
    EXPECT_EQ(request.Header("User-Agent"), kUserAgent);
    EXPECT_EQ(request.Header("Referer"), site->Url("/moskva/kafe/"));
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(site->Port()));
    EXPECT_EQ(request.TlsVersion, site == &secure ? "TLSv1.2" : "");
  }
}

TEST_F(HttpClientTest, RefererStaysTheAddressTheClientWasMadeFor) {
  FakeSite site;
  site.Serve("/first", FakeResponse::Redirect("/second"));
  site.Serve("/second", FakeResponse::Page("ok"));
  site.Serve("/third", FakeResponse::Page("ok"));
  HttpClient client(QuickOptions(), site.Url("/first"));
  std::string body;
  ASSERT_TRUE(client.Get(site.Url("/first"), body).Ok);
  ASSERT_TRUE(client.Get(site.Url("/third"), body).Ok);
  for (const auto& request : site.Requests()) {
    EXPECT_EQ(request.Header("Referer"), site.Url("/first")) << request.Path;
  }
}

TEST_F(HttpClientTest, ErrorStatusFailsWithTheStatusLineAsReceived) {
  struct Case {
    int status;
    std::string reason;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {404, "", "HTTP/1.1 404 Not Found"},
      {500, "", "HTTP/1.1 500 Internal Server Error"},
      {403, "", "HTTP/1.1 403 Forbidden"},
      {429, "Slow Down Please", "HTTP/1.1 429 Slow Down Please"},
      {304, "", "HTTP/1.1 304 Not Modified"},  // a 3xx without Location is no redirect
  };
  FakeSite site;
  HttpClient client(QuickOptions(), site.Url("/"));
  for (const Case& item : cases) {
    SCOPED_TRACE(item.expected);
    FakeResponse response = FakeResponse::Error(item.status, item.reason);
    if (item.status == 304) {
      response.Body.clear();
    }
    site.Serve("/page", response);
    std::string body = "left over";
    const HttpResult result = client.Get(site.Url("/page"), body);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.FailureText, item.expected);
    EXPECT_EQ(result.StatusCode, item.status);
    EXPECT_EQ(body, "");
  }
}

TEST_F(HttpClientTest, FollowsFourteenRedirectsAndTakesTheFifteenthAsThePage) {
  FakeSite site;
  // /r1 -> /r2 -> ... ; each redirect response carries its own body.
  for (int i = 1; i <= 20; ++i) {
    FakeResponse hop = FakeResponse::Redirect("/r" + std::to_string(i + 1));
    hop.Body = "redirect body " + std::to_string(i);
    site.Serve("/r" + std::to_string(i), hop);
  }
  site.Serve("/r15", FakeResponse::Page("final page"));
  HttpClient client(QuickOptions(), site.Url("/r1"));
  std::string body;
  HttpResult result = client.Get(site.Url("/r1"), body);
  ASSERT_TRUE(result.Ok) << result.FailureText;
  EXPECT_EQ(body, "final page");
  EXPECT_EQ(site.RequestCount(), 15u);

  // One redirect more: the fifteenth response is itself a redirect and ends the request.
  FakeResponse hop = FakeResponse::Redirect("/r16");
  hop.Body = "redirect body 15";
  site.Serve("/r15", hop);
  result = client.Get(site.Url("/r1"), body);
  ASSERT_TRUE(result.Ok) << result.FailureText;
  EXPECT_EQ(result.StatusCode, 302);
  EXPECT_EQ(body, "redirect body 15");
  EXPECT_EQ(site.RequestCount(), 30u);
  EXPECT_EQ(site.Paths().back(), "/r15");
}

TEST_F(HttpClientTest, RedirectToAnotherSchemeIsRefused) {
  FakeSite site;
  site.Serve("/start", FakeResponse::Redirect("file:///etc/passwd"));
  HttpClient client(QuickOptions(), site.Url("/start"));
  std::string body;
  const HttpResult result = client.Get(site.Url("/start"), body);
  EXPECT_FALSE(result.Ok);
  EXPECT_FALSE(result.FailureText.empty());
  EXPECT_EQ(body, "");
}

TEST_F(HttpClientTest, KeepsCookiesAcrossRedirectsAndLaterRequests) {
  FakeSite site;
  FakeResponse set_cookie = FakeResponse::Redirect("/landing");
  set_cookie.Headers.emplace_back("Set-Cookie", "session=abc123; Path=/");
  site.Serve("/login", set_cookie);
  site.Serve("/landing", FakeResponse::Error(500));
  site.Serve("/later", FakeResponse::Page("ok"));
  HttpClient client(QuickOptions(), site.Url("/login"));
  std::string body;
  EXPECT_FALSE(client.Get(site.Url("/login"), body).Ok);
  EXPECT_TRUE(client.Get(site.Url("/later"), body).Ok);

  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Header("Cookie"), std::nullopt);
  EXPECT_EQ(requests[1].Header("Cookie"), "session=abc123");
  EXPECT_EQ(requests[2].Header("Cookie"), "session=abc123");

  // A new client starts without cookies.
  HttpClient fresh(QuickOptions(), site.Url("/later"));
  EXPECT_TRUE(fresh.Get(site.Url("/later"), body).Ok);
  EXPECT_EQ(site.Requests().back().Header("Cookie"), std::nullopt);
}

TEST_F(HttpClientTest, DecodesGzipAndDeflateBodies) {
  const std::string page = "<html>" + std::string(5000, 'x') + "Кафе</html>";
  for (auto encoding : {FakeResponse::Encoding::Gzip, FakeResponse::Encoding::Deflate}) {
    FakeSite site;
    FakeResponse response = FakeResponse::Page(page);
    response.ContentEncoding = encoding;
    site.Serve("/page", response);
    HttpClient client(QuickOptions(), site.Url("/page"));
    std::string body;
    const HttpResult result = client.Get(site.Url("/page"), body);
    ASSERT_TRUE(result.Ok) << result.FailureText;
    EXPECT_EQ(body, page);
  }
}

TEST_F(HttpClientTest, EmptyBodyIsASuccess) {
  FakeSite site;
  site.Serve("/empty", FakeResponse::Page(""));
  HttpClient client(QuickOptions(), site.Url("/empty"));
  std::string body = "stale";
  EXPECT_TRUE(client.Get(site.Url("/empty"), body).Ok);
  EXPECT_EQ(body, "");
}

TEST_F(HttpClientTest, ConnectionClosedWithoutResponseSaysGracefully) {
  FakeSite plain;
  FakeSite secure(TestCertificates::Shared());
  for (FakeSite* site : {&plain, &secure}) {
    SCOPED_TRACE(site->Origin());
    site->ServeSequence("/page", {FakeResponse::Close(), FakeResponse::Page("ok")});
    HttpClient client(QuickOptions(), site->Url("/page"));
    std::string body;
    const HttpResult result = client.Get(site->Url("/page"), body);
    EXPECT_FALSE(result.Ok);
    EXPECT_NE(result.FailureText.find("Gracefully"), std::string::npos) << result.FailureText;
    EXPECT_EQ(result.StatusCode, 0);
    // libcurl did not quietly send it again.
    EXPECT_EQ(site->RequestCount(), 1u);
    EXPECT_TRUE(client.Get(site->Url("/page"), body).Ok);
  }
}

TEST_F(HttpClientTest, EveryRequestAfterAFailureOpensANewConnection) {
  FakeSite site;
  site.ServeSequence(
      "/page", {FakeResponse::Error(500), FakeResponse::Error(503), FakeResponse::Page("ok")});
  site.Serve("/next", FakeResponse::Page("ok"));
  HttpClient client(QuickOptions(), site.Url("/page"));
  std::string body;
  EXPECT_FALSE(client.Get(site.Url("/page"), body).Ok);
  EXPECT_FALSE(client.Get(site.Url("/page"), body).Ok);
  EXPECT_TRUE(client.Get(site.Url("/page"), body).Ok);
  // After a success the connection may be kept.
  EXPECT_TRUE(client.Get(site.Url("/next"), body).Ok);
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].Connection, 1);
  EXPECT_EQ(requests[1].Connection, 2);
  EXPECT_EQ(requests[2].Connection, 3);
  EXPECT_EQ(requests[3].Connection, 3);
}

TEST_F(HttpClientTest, ReadTimeOutEndsASilentResponse) {
  FakeSite site;
  FakeResponse stall_mid_body = FakeResponse::Page(std::string(10000, 'a'));
  stall_mid_body.StallMidBody = std::chrono::seconds(20);
  site.Serve("/silent", FakeResponse::Silence(std::chrono::seconds(20)));
  site.Serve("/stalls", stall_mid_body);
  HttpClientOptions options = QuickOptions();
  options.ReadTimeoutMs = 300;
  HttpClient client(options, site.Url("/silent"));
  for (const char* path : {"/silent", "/stalls"}) {
    SCOPED_TRACE(path);
    std::string body;
    const auto start = std::chrono::steady_clock::now();
    const HttpResult result = client.Get(site.Url(path), body);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.FailureText, platform::FailureText(platform::Failure::TimedOut));
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
  }
}

TEST_F(HttpClientTest, SlowButSteadyResponseIsNoTimeOut) {
  FakeSite site;
  FakeResponse slow = FakeResponse::Page("late but fine");
  slow.Delay = std::chrono::milliseconds(150);
  site.Serve("/slow", slow);
  HttpClientOptions options = QuickOptions();
  options.ReadTimeoutMs = 2000;
  HttpClient client(options, site.Url("/slow"));
  std::string body;
  EXPECT_TRUE(client.Get(site.Url("/slow"), body).Ok);
  EXPECT_EQ(body, "late but fine");
}

TEST_F(HttpClientTest, BodyOverTheCapFailsTheRequest) {
  constexpr std::size_t kCap = 4096;
  struct Case {
    const char* name;
    FakeResponse response;
  };
  FakeResponse plain = FakeResponse::Page(std::string(kCap + 1, 'p'));
  FakeResponse zipped = FakeResponse::Page(std::string(100 * kCap, 'z'));  // small compressed
  zipped.ContentEncoding = FakeResponse::Encoding::Gzip;
  FakeResponse unannounced = plain;  // no Content-Length to refuse it up front
  unannounced.CloseDelimited = true;
  // Exactly the cap once decoded, a little more as sent.
  FakeResponse noise = FakeResponse::Page(RandomBytes(kCap));
  noise.ContentEncoding = FakeResponse::Encoding::Deflate;
  noise.CloseDelimited = true;
  const std::vector<Case> cases = {{"identity", plain},
                                   {"identity without length", unannounced},
                                   {"gzip", zipped},
                                   {"deflate", noise}};

  FakeSite site;
  HttpClientOptions options = QuickOptions();
  options.MaxBodyBytes = kCap;
  HttpClient client(options, site.Url("/big"));
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    site.Serve("/big", item.response);
    std::string body;
    const HttpResult result = client.Get(site.Url("/big"), body);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.FailureText, "Ответ сайта больше 4096 байт");
    EXPECT_EQ(body, "");
  }
  site.Serve("/big", FakeResponse::Page(std::string(kCap, 'e')));
  std::string body;
  EXPECT_TRUE(client.Get(site.Url("/big"), body).Ok) << "a body of exactly the cap is fine";
  EXPECT_EQ(body.size(), kCap);
}

TEST_F(HttpClientTest, BodyTooLargeTextNamesTheCap) {
  EXPECT_EQ(BodyTooLargeText(64u * 1024 * 1024), "Ответ сайта больше 64 МБ");
  EXPECT_EQ(BodyTooLargeText(1000), "Ответ сайта больше 1000 байт");
}

TEST_F(HttpClientTest, VerifiesTheServerCertificate) {
  FakeSite site(TestCertificates::Shared());
  site.Serve("/page", FakeResponse::Page("secret"));

  HttpClientOptions other = QuickOptions();
  other.TrustStore = TlsTrustStore::FromFile(TestCertificates::Other().CaFile);
  HttpClient untrusting(other, site.Url("/page"));
  std::string body;
  const HttpResult rejected = untrusting.Get(site.Url("/page"), body);
  EXPECT_FALSE(rejected.Ok);
  EXPECT_EQ(rejected.FailureText, platform::FailureText(platform::Failure::TlsFailed));
  EXPECT_EQ(site.RequestCount(), 0u);

  // The same store serves several clients, one after the other and side by side.
  const auto shared = TlsTrustStore::FromFile(TestCertificates::Shared().CaFile);
  HttpClientOptions options = QuickOptions();
  options.TrustStore = shared;
  HttpClient first(options, site.Url("/page"));
  HttpClient second(options, site.Url("/page"));
  EXPECT_TRUE(first.Get(site.Url("/page"), body).Ok);
  EXPECT_TRUE(second.Get(site.Url("/page"), body).Ok);
  EXPECT_EQ(body, "secret");
}

TEST_F(HttpClientTest, ClientsOnManyThreadsShareOneStore) {
  FakeSite site(TestCertificates::Shared());
  site.Serve("/page", FakeResponse::Page("shared"));
  const HttpClientOptions options = QuickOptions();
  std::atomic<int> fetched{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      HttpClient client(options, site.Url("/page"));
      std::string body;
      if (client.Get(site.Url("/page"), body).Ok && body == "shared") {
        ++fetched;
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(fetched.load(), 8);
}

TEST_F(HttpClientTest, TrustStoreFromAFileWithoutCertificatesThrows) {
  EXPECT_THROW(TlsTrustStore::FromFile("/nonexistent/ca.pem"), std::runtime_error);
  EXPECT_THROW(TlsTrustStore::FromFile("/dev/null"), std::runtime_error);
  EXPECT_NE(TlsTrustStore::System(), nullptr);
  EXPECT_EQ(TlsTrustStore::System(), TlsTrustStore::System());
}

TEST_F(HttpClientTest, CommonFailuresReadInRussian) {
  int closed_port = 0;
  {
    FakeSite gone;
    closed_port = gone.Port();
  }
  const std::string closed = "127.0.0.1:" + std::to_string(closed_port);
  struct Row {
    const char* name;
    std::string url;
    std::string proxy_host;  // empty: direct
    platform::Failure expected;
  };
  const Row rows[] = {
      {"refused connection", "http://" + closed + "/page", "", platform::Failure::ConnectFailed},
      {"refusing proxy", "http://127.0.0.1:9/page", "127.0.0.1", platform::Failure::ProxyFailed},
      {"malformed address", "http://[broken/page", "", platform::Failure::BadAddress},
      {"address of another kind", "ftp://127.0.0.1/page", "", platform::Failure::BadAddress},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpClient client(QuickOptions(), "http://127.0.0.1/");
    if (!row.proxy_host.empty()) {
      client.SetProxy({row.proxy_host, closed_port, "", ""});
    }
    std::string body;
    const HttpResult result = client.Get(row.url, body);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.FailureText, platform::FailureText(row.expected));
    EXPECT_EQ(result.StatusCode, 0);
  }
}

TEST(FailureKindTest, ProxyFaultsAreToldFromTheSitesFailures) {
  struct CurlRow {
    int curl_code;
    bool through_proxy;
    long proxy_status;
    bool response_began;
    FailureKind expected;
  };
  const CurlRow curl_rows[] = {
      {CURLE_COULDNT_CONNECT, true, 0, false, FailureKind::ConnectFailed},
      {CURLE_COULDNT_RESOLVE_PROXY, true, 0, false, FailureKind::ConnectFailed},
      {CURLE_COULDNT_CONNECT, true, 407, false, FailureKind::ProxyCredentials},
      {CURLE_RECV_ERROR, true, 401, false, FailureKind::ProxyCredentials},
      {CURLE_COULDNT_CONNECT, true, 502, false, FailureKind::ProxyStatus},
      {CURLE_PROXY, true, 0, false, FailureKind::ProxyStatus},
      {CURLE_OPERATION_TIMEDOUT, true, 0, false, FailureKind::TimedOutBeforeResponse},
      {CURLE_OPERATION_TIMEDOUT, true, 0, true, FailureKind::ClosedDuringResponse},
      {CURLE_GOT_NOTHING, true, 0, false, FailureKind::ClosedWithoutResponse},
      {CURLE_PARTIAL_FILE, true, 0, true, FailureKind::ClosedDuringResponse},
      {CURLE_RECV_ERROR, false, 0, false, FailureKind::Other},
      {CURLE_PEER_FAILED_VERIFICATION, false, 0, false, FailureKind::TlsFailed},
  };
  for (const CurlRow& row : curl_rows) {
    EXPECT_EQ(FailureKindOfCurlCode(row.curl_code, row.through_proxy, row.proxy_status,
                                    row.response_began),
              row.expected)
        << "libcurl code " << row.curl_code << ", proxy status " << row.proxy_status;
  }
  struct StatusRow {
    long status;
    bool through_proxy;
    FailureKind expected;
  };
  const StatusRow status_rows[] = {
      {407, true, FailureKind::ProxyCredentials}, {502, true, FailureKind::ProxyStatus},
      {504, true, FailureKind::ProxyStatus},      {502, false, FailureKind::SiteStatus},
      {403, true, FailureKind::SiteStatus},       {404, true, FailureKind::SiteStatus},
      {429, true, FailureKind::SiteStatus},       {503, true, FailureKind::SiteStatus},
  };
  for (const StatusRow& row : status_rows) {
    EXPECT_EQ(FailureKindOfStatus(row.status, row.through_proxy), row.expected)
        << row.status << (row.through_proxy ? " through a proxy" : " directly");
  }
  for (const FailureKind kind : {FailureKind::SiteStatus, FailureKind::ClosedDuringResponse,
                                 FailureKind::ClosedWithoutResponse, FailureKind::Other}) {
    EXPECT_FALSE(IsProxyFault(kind));
  }
}

TEST_F(HttpClientTest, FailuresCarryTheirKind) {
  FakeSite site;
  site.Serve("/missing", FakeResponse::Error(404));
  site.Serve("/closes", FakeResponse::Close());
  site.Serve("/silent", FakeResponse::Silence(std::chrono::seconds(20)));
  FakeResponse stall_mid_body = FakeResponse::Page(std::string(10000, 'a'));
  stall_mid_body.StallMidBody = std::chrono::seconds(20);
  site.Serve("/stalls", stall_mid_body);
  HttpClientOptions options = QuickOptions();
  options.ReadTimeoutMs = 300;
  const std::pair<const char*, FailureKind> cases[] = {
      {"/missing", FailureKind::SiteStatus},
      {"/closes", FailureKind::ClosedWithoutResponse},
      {"/silent", FailureKind::TimedOutBeforeResponse},
      {"/stalls", FailureKind::ClosedDuringResponse},
  };
  for (const auto& [path, kind] : cases) {
    SCOPED_TRACE(path);
    HttpClient client(options, site.Url(path));
    std::string body;
    const HttpResult result = client.Get(site.Url(path), body);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Kind, kind);
  }
}

TEST(FailureTextTest, TheTableCoversTheCommonFailuresInRussian) {
  using platform::Failure;
  struct Row {
    int curl_code;
    bool through_proxy;
    long proxy_status;
    std::optional<Failure> expected;
  };
  const Row rows[] = {
      {CURLE_COULDNT_RESOLVE_HOST, false, 0, Failure::HostNotFound},
      {CURLE_COULDNT_CONNECT, false, 0, Failure::ConnectFailed},
      {CURLE_COULDNT_CONNECT, true, 0, Failure::ProxyFailed},
      {CURLE_COULDNT_RESOLVE_PROXY, true, 0, Failure::ProxyFailed},
      {CURLE_PROXY, true, 0, Failure::ProxyFailed},
      {CURLE_PROXY, true, 407, Failure::ProxyCredentials},
      {CURLE_RECV_ERROR, true, 407, Failure::ProxyCredentials},
      {CURLE_OPERATION_TIMEDOUT, false, 0, Failure::TimedOut},
      {CURLE_SSL_CONNECT_ERROR, false, 0, Failure::TlsFailed},
      {CURLE_PEER_FAILED_VERIFICATION, false, 0, Failure::TlsFailed},
      {CURLE_URL_MALFORMAT, false, 0, Failure::BadAddress},
      {CURLE_UNSUPPORTED_PROTOCOL, false, 0, Failure::BadAddress},
      {CURLE_RECV_ERROR, false, 0, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FailureOfCurlCode(row.curl_code, row.through_proxy, row.proxy_status), row.expected)
        << "libcurl code " << row.curl_code;
  }

  struct ErrnoRow {
    int error;
    const char* text;
  };
  const ErrnoRow errno_rows[] = {
      {ENOSPC, "Нет места на диске"},
#ifdef EDQUOT  // not in every C library (mingw's has none)
      {EDQUOT, "Нет места на диске"},
#endif
      {EROFS, "Папка доступна только для чтения"},
      {EACCES, "Нет прав доступа к файлу или папке"},
      {EPERM, "Нет прав доступа к файлу или папке"},
  };
  for (const ErrnoRow& row : errno_rows) {
    EXPECT_EQ(platform::SystemErrorText(row.error), row.text) << std::strerror(row.error);
  }
  EXPECT_EQ(platform::SystemErrorText(ENOENT), std::strerror(ENOENT))
      << "the rest as the system says";

  // Every kind has a Russian text, and none of them could set off a rule that reads the text.
  for (const Failure failure :
       {Failure::HostNotFound, Failure::ConnectFailed, Failure::TimedOut, Failure::TlsFailed,
        Failure::ProxyFailed, Failure::ProxyCredentials, Failure::BadAddress, Failure::DiskFull,
        Failure::ReadOnlyFolder, Failure::NoPermission}) {
    const std::string text(platform::FailureText(failure));
    ASSERT_FALSE(text.empty());
    EXPECT_GE(static_cast<unsigned char>(text[0]), 0xD0u) << text << ": not Cyrillic";
    for (const char* rule_text : {"403 Forbidden", "Not Found", "Gracefully", "retry", "ERROR"}) {
      EXPECT_EQ(text.find(rule_text), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace mirava::engine
