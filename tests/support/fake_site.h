#pragma once
// A scriptable web server on 127.0.0.1 for tests: plain HTTP or HTTPS (with the test CA), an
// ephemeral port read back after start, scripted responses per path or per request, and a record
// of every request as the server received it.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace mirava::testing {

struct TestCertificates;
namespace site_socket {
class Listener;
}

struct RecordedRequest {
  int Number = 0;      // 1 for the first request the server received
  int Connection = 0;  // 1 for the first connection it accepted
  std::string Method;
  std::string Target;  // as in the request line
  std::string Path;    // Target with an absolute form's scheme and host removed
  std::string Version;
  std::vector<std::pair<std::string, std::string>> Headers;  // in the order received
  std::string TlsVersion;                                    // "TLSv1.2", ...; empty on plain HTTP

  // The first header of that name, letter case ignored.
  std::optional<std::string> Header(std::string_view name) const;
};

struct FakeResponse {
  enum class Encoding { Identity, Gzip, Deflate };

  int Status = 200;
  std::string Reason;  // empty: the usual phrase for Status
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  Encoding ContentEncoding = Encoding::Identity;  // Body is encoded and labelled so
  // Silence before anything is sent; ends early when the client goes away or the site stops.
  std::chrono::milliseconds Delay{0};
  // Silence after the header and the first half of the body.
  std::chrono::milliseconds StallMidBody{0};
  // The header at once, then the body one byte at a time this far apart: never silent for long.
  std::chrono::milliseconds DripEvery{0};
  bool CloseWithoutResponse = false;  // read the request, then close the connection
  bool CloseAfter = false;            // "Connection: close", then close
  bool CloseDelimited = false;        // no Content-Length: the body ends when the site closes

  static FakeResponse Page(std::string body);
  static FakeResponse Error(int status, std::string reason = "");
  static FakeResponse Redirect(std::string location, int status = 302);
  static FakeResponse Close();
  static FakeResponse Silence(std::chrono::milliseconds delay);
};

// The usual reason phrase ("Not Found" for 404).
std::string StandardReason(int status);
// Body encoders, for tests that check decoding.
std::string GzipEncode(std::string_view data);
std::string DeflateEncode(std::string_view data);

class FakeSite {
 public:
  // Plain HTTP.
  FakeSite();
  // Plain HTTP on this port of 127.0.0.1; 0 takes any free one.
  explicit FakeSite(int port);
  // HTTPS with this server certificate (TLS 1.2 and 1.3 accepted).
  explicit FakeSite(const TestCertificates& certificates);
  ~FakeSite();
  FakeSite(const FakeSite&) = delete;
  FakeSite& operator=(const FakeSite&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" or "https://..."
  std::string Origin() const;
  std::string Url(std::string_view path) const { return Origin() + std::string(path); }

  // Every request for `path` (path and query, as received) gets `response`.
  void Serve(const std::string& path, FakeResponse response);
  // The n-th request for `path` gets the n-th response; the last one repeats.
  void ServeSequence(const std::string& path, std::vector<FakeResponse> responses);
  // Asked first for every request; nothing means: use the scripted paths. Runs on the site's
  // connection threads, several at once when clients are.
  using Handler = std::function<std::optional<FakeResponse>(const RecordedRequest&)>;
  void SetHandler(Handler handler);
  // For paths nobody scripted; 404 Not Found unless set.
  void SetFallback(FakeResponse response);

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  std::vector<std::string> Paths() const;
  // Waits until at least `count` requests have arrived; false on time-out.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
  int ConnectionCount() const;

 private:
  struct Connection;
  void Listen(int port);
  void AcceptLoop();
  void ServeConnection(Connection& connection);
  FakeResponse Choose(const RecordedRequest& request);
  bool WaitQuietly(std::intptr_t fd, std::chrono::milliseconds duration);

  struct TlsContext;
  std::unique_ptr<TlsContext> tls_;
  std::unique_ptr<site_socket::Listener> listener_;
  int port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  bool stopping_ = false;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, std::vector<FakeResponse>> scripts_;
  std::map<std::string, std::size_t> served_;
  Handler handler_;
  FakeResponse fallback_;
  int connections_ = 0;
  std::vector<std::unique_ptr<Connection>> open_;
  std::thread acceptor_;
};

}  // namespace mirava::testing
