// How long the client spends on a proxy that does not work (on Linux sockets: the dead proxies
// rely on the Linux backlog's dropped handshakes; proxy mode is tested on Linux only).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "engine/http_client.h"
#include "tests/support/dead_proxies.h"
#include "tests/support/fake_site.h"

namespace mirava::engine {
namespace {

TEST(DeadProxyConnectTest, ProxyThatNeverCompletesTheHandshakeCostsTheProxyConnectTimeOut) {
  testing::UnreachableListener blackhole;
  testing::SilentListener silent;  // takes the connection, never answers the tunnel request
  testing::RefusingPort refusing;
  InitHttpGlobally();
  HttpClientOptions options;
  options.ConnectTimeoutMs = 20000;
  options.ReadTimeoutMs = 20000;
  options.ProxyConnectTimeoutMs = 300;
  const std::pair<int, FailureKind> cases[] = {
      {blackhole.Port(), FailureKind::TimedOutBeforeResponse},
      {silent.Port(), FailureKind::TimedOutBeforeResponse},
      {refusing.Port(), FailureKind::ConnectFailed},
  };
  for (const auto& [port, kind] : cases) {
    SCOPED_TRACE(port);
    HttpClient client(options, "https://example.invalid/");
    client.SetProxy({"127.0.0.1", port, "", ""});
    std::string body;
    const auto start = std::chrono::steady_clock::now();
    const HttpResult result = client.Get("https://example.invalid/", body);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Kind, kind) << result.FailureText;
    EXPECT_LT(elapsed, std::chrono::seconds(10)) << "not the proxy's connect time-out";
  }
}

// A proxy that takes the request and never answers must not cost the read time-out on every
// turn: through a proxy the first byte of the answer has its own bound. Once the answer has
// begun, and on direct requests, only the read time-out applies.
TEST(DeadProxyConnectTest, ProxyThatTakesTheRequestAndNeverAnswersCostsTheFirstByteTimeOut) {
  using testing::FakeResponse;
  using testing::FakeSite;
  testing::SilentListener silent;
  FakeSite late_proxy;  // answers, but only after the bound
  late_proxy.SetFallback(FakeResponse::Silence(std::chrono::milliseconds(3000)));
  FakeSite slow_body_proxy;  // answers at once, then pauses in the body
  FakeResponse slow_body = FakeResponse::Page(std::string(10000, 'b'));
  slow_body.StallMidBody = std::chrono::milliseconds(1000);
  slow_body_proxy.SetFallback(slow_body);
  FakeSite site;  // direct: a first byte after a second is fine
  site.SetFallback(FakeResponse::Silence(std::chrono::milliseconds(1000)));
  InitHttpGlobally();
  HttpClientOptions options;
  options.ConnectTimeoutMs = 20000;
  options.ProxyConnectTimeoutMs = 20000;
  options.ReadTimeoutMs = 20000;
  options.ProxyFirstByteTimeoutMs = 300;
  struct Row {
    const char* name;
    int proxy_port;  // 0: direct
    bool ok;
    FailureKind kind;
  };
  const Row rows[] = {
      {"accepts, never answers", silent.Port(), false, FailureKind::TimedOutBeforeResponse},
      {"answers after the bound", late_proxy.Port(), false, FailureKind::TimedOutBeforeResponse},
      {"answers at once, slow body", slow_body_proxy.Port(), true, FailureKind::None},
      {"direct, slow first byte", 0, true, FailureKind::None},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpClient client(options, site.Url("/page"));
    if (row.proxy_port != 0) {
      client.SetProxy({"127.0.0.1", row.proxy_port, "", ""});
    }
    std::string body;
    const auto start = std::chrono::steady_clock::now();
    const HttpResult result = client.Get(site.Url("/page"), body);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.Ok, row.ok) << result.FailureText;
    EXPECT_EQ(result.Kind, row.kind) << result.FailureText;
    if (!row.ok) {
      EXPECT_TRUE(IsProxyFault(result.Kind));
      EXPECT_EQ(result.FailureText, platform::FailureText(platform::Failure::TimedOut));
      EXPECT_GE(elapsed, std::chrono::milliseconds(300));
      EXPECT_LT(elapsed, std::chrono::seconds(10)) << "not the first byte's time-out";
    }
  }
}

}  // namespace
}  // namespace mirava::engine
