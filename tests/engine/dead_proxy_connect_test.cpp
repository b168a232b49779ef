// How long the client spends on a proxy that does not work (on Linux sockets: the dead proxies
// rely on the Linux backlog's dropped handshakes; proxy mode is tested on Linux only).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "engine/http_client.h"
#include "tests/support/dead_proxies.h"

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

}  // namespace
}  // namespace mirava::engine
