#pragma once
// The worker's HTTP client on libcurl: one easy handle with the request profile of the directory
// site (HTTP/1.1, TLS 1.2, fixed headers, gzip/deflate decoding, cookies kept for the handle's
// life, redirects followed by hand), and a read-only certificate store shared by all handles.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/fetch_failure.h"
#include "engine/proxy_list.h"
#include "engine/run_timings.h"
#include "output/failure_texts.h"

struct x509_store_st;  // OpenSSL's X509_STORE

namespace mirava::engine {

// Initialises libcurl for the process. Call it before any client is created; safe to call again
// and from several threads.
void InitHttpGlobally();

// A certificate store built once and shared read-only by every handshake of every client, so a
// thousand workers do not each parse the CA bundle.
class TlsTrustStore {
 public:
  // The CA certificates of a PEM file; throws std::runtime_error when none can be read.
  static std::shared_ptr<const TlsTrustStore> FromFile(const std::string& ca_file);
  // The system's CA bundle, built on first use and kept for the process.
  static std::shared_ptr<const TlsTrustStore> System();

  ~TlsTrustStore();
  TlsTrustStore(const TlsTrustStore&) = delete;
  TlsTrustStore& operator=(const TlsTrustStore&) = delete;

  x509_store_st* Store() const { return store_; }

 private:
  explicit TlsTrustStore(x509_store_st* store);
  x509_store_st* store_;
};

struct HttpClientOptions {
  std::uint32_t ConnectTimeoutMs = TickMs(timings::kConnectTimeout);
  // Instead of ConnectTimeoutMs while requests go through a proxy: the connection to the proxy,
  // its tunnel and the TLS handshake through it.
  std::uint32_t ProxyConnectTimeoutMs = TickMs(timings::kProxyConnectTimeout);
  // The request fails when no byte has moved for this long once connected.
  std::uint32_t ReadTimeoutMs = TickMs(timings::kReadTimeout);
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
};

// The text of FailureKind::ClosedWithoutResponse, which the worker repeats at once.
inline constexpr const char* kClosedGracefullyText = "Connection Closed Gracefully.";

// What the failure table says about a libcurl result code, if it knows it. `through_proxy`: the
// request went to a proxy; `proxy_status`: the proxy's answer to a tunnel request (0 for none).
std::optional<output::Failure> FailureOfCurlCode(int curl_code, bool through_proxy,
                                                 long proxy_status);
// The kind of a failed transfer. `response_began`: a status line had arrived; `proxy_status`
// as above.
FailureKind FailureKindOfCurlCode(int curl_code, bool through_proxy, long proxy_status,
                                  bool response_began);
// The kind of a final response with an error status `status`.
FailureKind FailureKindOfStatus(long status, bool through_proxy);
// "Ответ сайта больше 64 МБ" for the default cap.
std::string BodyTooLargeText(std::size_t max_body_bytes);

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
