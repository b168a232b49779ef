#pragma once
// The worker's HTTP client on libcurl: one easy handle with the request profile of the directory
// site (HTTP/1.1, TLS 1.2, fixed headers, gzip/deflate decoding, cookies kept for the handle's
// life, redirects followed by hand), verified against a shared certificate store.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/fetch_failure.h"
#include "engine/fetch_failure_codes.h"
#include "engine/proxy_list.h"
#include "engine/run_timings.h"
#include "engine/tls_trust_store.h"

namespace mirava::engine {

// Initialises libcurl for the process. Call it before any client is created; safe to call again
// and from several threads.
void InitHttpGlobally();

struct HttpClientOptions {
  std::uint32_t ConnectTimeoutMs = TickMs(timings::kConnectTimeout);
  // Instead of ConnectTimeoutMs while requests go through a proxy: the connection to the proxy,
  // its tunnel and the TLS handshake through it.
  std::uint32_t ProxyConnectTimeoutMs = TickMs(timings::kProxyConnectTimeout);
  // The request fails when no byte has moved for this long once connected.
  std::uint32_t ReadTimeoutMs = TickMs(timings::kReadTimeout);
  // While requests go through a proxy: from the request sent (after any tunnel) to the first
  // byte of the answer. The read time-out applies once the answer has begun.
  std::uint32_t ProxyFirstByteTimeoutMs = TickMs(timings::kProxyFirstByteTimeout);
  // The owner's stop request: set while a request is under way, it breaks the request off within
  // timings::kStopPoll (HttpResult::Stopped); a request begun after it was set gets
  // timings::kStoppedRequestGrace first. Null: never.
  const std::atomic<bool>* StopFlag = nullptr;
  // Null: the system's CA bundle.
  std::shared_ptr<const TlsTrustStore> TrustStore;
  // A body larger than this, as received or decoded, fails the request.
  std::size_t MaxBodyBytes = timings::kMaxBodyBytes;
  // Redirects followed in a row; the next redirect response is taken as the final response.
  int MaxRedirects = 14;
};

struct HttpResult {
  bool Ok = false;
  // Why the request failed: the status line as received for an error status (may be empty when
  // the server sent none), else a text of the client's own.
  std::string FailureText;
  // The status code of the response that ended the request; 0 when none arrived.
  long StatusCode = 0;
  FailureKind Kind = FailureKind::None;
  // Broken off because the stop flag was set: a failure of nobody's, with no text.
  bool Stopped = false;
};

class HttpClient {
 public:
  // `referer` is sent with every request of this client. Throws std::runtime_error when libcurl
  // cannot make a handle.
  HttpClient(HttpClientOptions options, std::string referer);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Requests go through this HTTP proxy from now on; an empty host means directly.
  void SetProxy(const ProxySettings& proxy);

  // GET `url`, following redirects; on success `body` holds the final response's decoded body.
  // Only a 2xx response, or a redirect response past the limit, succeeds.
  HttpResult Get(const std::string& url, std::string& body);

  // Drops the connection and its unread input: the next request opens a new one. A failed
  // request does this by itself.
  void DropConnection();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace mirava::engine
