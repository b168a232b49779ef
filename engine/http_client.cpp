#include "engine/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace mirava::engine {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:109.0) Gecko/20100101 Firefox/115.0";
constexpr const char* kAcceptHeader = "Accept: text/html, */*";
constexpr const char* kAcceptEncoding = "gzip, deflate";

CURLcode InstallTrustStore(CURL*, void* ssl_ctx, void* user) {
  static_cast<const TlsTrustStore*>(user)->InstallInto(static_cast<ssl_ctx_st*>(ssl_ctx));
  return CURLE_OK;
}

template <typename Value>
void SetOption(CURL* easy, CURLoption option, Value value) {
  const CURLcode code = curl_easy_setopt(easy, option, value);
  if (code != CURLE_OK) {
    throw std::runtime_error(std::string("Ошибка настройки HTTP-клиента: ") +
                             curl_easy_strerror(code));
  }
}

std::string PercentEncoded(CURL* easy, const std::string& text) {
  char* escaped = curl_easy_escape(easy, text.data(), static_cast<int>(text.size()));
  if (escaped == nullptr) {
    throw std::runtime_error("Ошибка настройки HTTP-клиента: нет памяти");
  }
  std::string result(escaped);
  curl_free(escaped);
  return result;
}

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  return line;
}

}  // namespace

void InitHttpGlobally() {
  static std::once_flag once;
  std::call_once(once, [] {
    const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (code != CURLE_OK) {
      throw std::runtime_error(std::string("Не удалось запустить HTTP-клиент: ") +
                               curl_easy_strerror(code));
    }
  });
}

// What one transfer (one response) sees; the callbacks write it.
struct Transfer {
  std::string* body = nullptr;
  std::size_t max_body_bytes = 0;
  std::chrono::milliseconds read_timeout{0};
  // Through a proxy: the bound from connected to the answer's first byte; 0 for none.
  std::chrono::milliseconds first_byte_timeout{0};
  const std::atomic<bool>* stop = nullptr;
  std::string status_line;
  bool connected = false;
  bool answered = false;  // a byte of the answer has arrived
  bool too_large = false;
  bool timed_out = false;
  bool stopped = false;
  curl_off_t last_received = 0;
  std::chrono::steady_clock::time_point connected_at;
  std::chrono::steady_clock::time_point last_activity;
  std::chrono::steady_clock::time_point stop_honoured_from;

  bool StopRequested() const { return stop != nullptr && stop->load(); }

  void Touch() { last_activity = std::chrono::steady_clock::now(); }
};

struct HttpClient::Impl {
  HttpClientOptions options;
  std::string referer;
  std::shared_ptr<const TlsTrustStore> trust;
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  char error[CURL_ERROR_SIZE] = {};
  Transfer transfer;
  std::string proxy_url;
  std::string proxy_user;
  std::string proxy_password;

  ~Impl() {
    if (multi != nullptr) {
      curl_multi_cleanup(multi);
    }
    if (easy != nullptr) {
      curl_easy_cleanup(easy);
    }
    curl_slist_free_all(headers);
  }

  void NewMulti() {
    if (multi != nullptr) {
      curl_multi_cleanup(multi);
    }
    multi = curl_multi_init();
    if (multi == nullptr) {
      throw std::runtime_error("Не удалось создать HTTP-клиент");
    }
    // The handle never needs more than the connection of its current request.
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L);
  }

  void Configure() {
    SetOption(easy, CURLOPT_NOSIGNAL, 1L);
    SetOption(easy, CURLOPT_ERRORBUFFER, error);
    SetOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    SetOption(easy, CURLOPT_USERAGENT, kUserAgent);
    SetOption(easy, CURLOPT_REFERER, referer.c_str());
    headers = curl_slist_append(nullptr, kAcceptHeader);
    if (headers == nullptr) {
      throw std::runtime_error("Не удалось создать HTTP-клиент");
    }
    SetOption(easy, CURLOPT_HTTPHEADER, headers);
    // Through this option libcurl both sends the header and decodes the body.
    SetOption(easy, CURLOPT_ACCEPT_ENCODING, kAcceptEncoding);
    // Cookie engine on, nothing read from or written to disk.
    SetOption(easy, CURLOPT_COOKIEFILE, "");
    SetOption(easy, CURLOPT_FOLLOWLOCATION, 0L);
    SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.ConnectTimeoutMs));
    SetOption(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.MaxBodyBytes));
    // Never a proxy from the environment; only what SetProxy gives.
    SetOption(easy, CURLOPT_PROXY, "");
    SetOption(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    SetOption(easy, CURLOPT_SSLVERSION,
              static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                  static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
    SetOption(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    SetOption(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    SetOption(easy, CURLOPT_SSL_CTX_FUNCTION, &InstallTrustStore);
    // The callback reads the store only.
    SetOption(easy, CURLOPT_SSL_CTX_DATA, const_cast<void*>(static_cast<const void*>(trust.get())));
    // Built-in defaults would be loaded into the shared store on every handshake.
    SetOption(easy, CURLOPT_CAINFO, static_cast<char*>(nullptr));
    SetOption(easy, CURLOPT_CAPATH, static_cast<char*>(nullptr));

    SetOption(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    SetOption(easy, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
    SetOption(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    SetOption(easy, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
    SetOption(easy, CURLOPT_PREREQFUNCTION, &OnConnected);
    SetOption(easy, CURLOPT_PREREQDATA, static_cast<void*>(&transfer));
    SetOption(easy, CURLOPT_NOPROGRESS, 0L);
    SetOption(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    SetOption(easy, CURLOPT_XFERINFODATA, static_cast<void*>(&transfer));
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    transfer.Touch();
    transfer.answered = true;
    const std::string_view line(data, length);
    // Every response of the transfer (1xx included) starts a new block; the last one counts.
    if (line.substr(0, 5) == "HTTP/") {
      transfer.status_line = WithoutLineEnd(line);
    }
    return length;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    transfer.Touch();
    transfer.answered = true;
    if (length > transfer.max_body_bytes - transfer.body->size()) {
      transfer.too_large = true;
      return 0;  // a short count fails the transfer
    }
    transfer.body->append(data, length);
    return length;
  }

  static int OnConnected(void* user, char*, char*, int, int) {
    auto& transfer = *static_cast<Transfer*>(user);
    // Connecting (TLS and proxy tunnel included) is bounded by the connect time-out; the read
    // time-out starts here.
    transfer.connected = true;
    transfer.Touch();
    transfer.connected_at = transfer.last_activity;
    return CURL_PREREQFUNC_OK;
  }

  static int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(user);
    // libcurl calls this on every wake of the loop, while connecting and tunnelling too.
    if (transfer.StopRequested() &&
        std::chrono::steady_clock::now() >= transfer.stop_honoured_from) {
      transfer.stopped = true;
      return 1;
    }
    // Bytes as they arrive, before decoding: a compressed body is capped too.
    if (received > static_cast<curl_off_t>(transfer.max_body_bytes)) {
      transfer.too_large = true;
      return 1;
    }
    if (received != transfer.last_received) {
      transfer.last_received = received;
      transfer.Touch();
    }
    if (!transfer.connected) {
      return 0;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - transfer.last_activity >= transfer.read_timeout) {
      transfer.timed_out = true;
      return 1;
    }
    // A proxy that took the request and stays silent fails like one that takes no connection.
    if (!transfer.answered && transfer.first_byte_timeout.count() > 0 &&
        now - transfer.connected_at >= transfer.first_byte_timeout) {
      transfer.timed_out = true;
      return 1;
    }
    return 0;
  }

  // One request and its one response, no redirect followed. A stop counts from
  // `honour_stop_from` on.
  CURLcode Perform(const std::string& url, std::string& body,
                   std::chrono::steady_clock::time_point honour_stop_from) {
    transfer = Transfer{};
    transfer.body = &body;
    transfer.max_body_bytes = options.MaxBodyBytes;
    transfer.read_timeout = std::chrono::milliseconds(options.ReadTimeoutMs);
    std::uint32_t soonest_timeout = options.ReadTimeoutMs;
    if (!proxy_url.empty()) {
      transfer.first_byte_timeout = std::chrono::milliseconds(options.ProxyFirstByteTimeoutMs);
      soonest_timeout = std::min(soonest_timeout, options.ProxyFirstByteTimeoutMs);
    }
    transfer.stop = options.StopFlag;
    transfer.stop_honoured_from = honour_stop_from;
    transfer.Touch();
    error[0] = '\0';
    SetOption(easy, CURLOPT_URL, url.c_str());

    CURLMcode added = curl_multi_add_handle(multi, easy);
    if (added != CURLM_OK) {
      throw std::runtime_error(std::string("Ошибка HTTP-клиента: ") + curl_multi_strerror(added));
    }
    // Wake often enough to notice a time-out close to its moment, and a stop within its poll.
    std::uint32_t poll_ms = std::clamp<std::uint32_t>(soonest_timeout / 10, 10, 1000);
    if (transfer.stop != nullptr) {
      poll_ms = std::min(poll_ms, std::max<std::uint32_t>(TickMs(timings::kStopPoll), 10));
    }
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running != 0) {
      CURLMcode code = curl_multi_perform(multi, &running);
      if (code == CURLM_OK && running != 0) {
        code = curl_multi_poll(multi, nullptr, 0, static_cast<int>(poll_ms), nullptr);
      }
      if (code != CURLM_OK) {
        curl_multi_remove_handle(multi, easy);
        throw std::runtime_error(std::string("Ошибка HTTP-клиента: ") + curl_multi_strerror(code));
      }
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
      }
    }
    curl_multi_remove_handle(multi, easy);
    return result;
  }

  std::string FailureText(CURLcode code) const {
    if (transfer.timed_out) {
      return std::string(platform::FailureText(platform::Failure::TimedOut));
    }
    if (transfer.too_large || code == CURLE_FILESIZE_EXCEEDED) {
      return BodyTooLargeText(options.MaxBodyBytes);
    }
    if (code == CURLE_GOT_NOTHING) {
      return kClosedGracefullyText;
    }
    long proxy_status = 0;
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &proxy_status);
    if (const auto failure = FailureOfCurlCode(code, !proxy_url.empty(), proxy_status)) {
      return std::string(platform::FailureText(*failure));
    }
    if (error[0] != '\0') {
      return error;
    }
    return curl_easy_strerror(code);
  }

  FailureKind KindOf(CURLcode code) const {
    const bool response_began = !transfer.status_line.empty();
    if (transfer.too_large) {
      return FailureKind::BodyTooLarge;
    }
    if (transfer.timed_out) {
      return response_began ? FailureKind::ClosedDuringResponse
                            : FailureKind::TimedOutBeforeResponse;
    }
    long proxy_status = 0;
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &proxy_status);
    return FailureKindOfCurlCode(code, !proxy_url.empty(), proxy_status, response_began);
  }

  long StatusCode() const {
    long code = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
    if (code == 0) {
      // A proxy that refused the tunnel.
      curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &code);
    }
    return code;
  }
};

HttpClient::HttpClient(HttpClientOptions options, std::string referer)
    : impl_(std::make_unique<Impl>()) {
  InitHttpGlobally();
  impl_->options = std::move(options);
  impl_->referer = std::move(referer);
  impl_->trust = impl_->options.TrustStore ? impl_->options.TrustStore : TlsTrustStore::System();
  impl_->easy = curl_easy_init();
  if (impl_->easy == nullptr) {
    throw std::runtime_error("Не удалось создать HTTP-клиент");
  }
  impl_->NewMulti();
  impl_->Configure();
}

HttpClient::~HttpClient() = default;

void HttpClient::SetProxy(const ProxySettings& proxy) {
  std::string url;
  if (!proxy.Host.empty()) {
    url = "http://" + proxy.Host + ":" + std::to_string(proxy.Port);
  }
  if (url == impl_->proxy_url && proxy.UserName == impl_->proxy_user &&
      proxy.Password == impl_->proxy_password) {
    return;
  }
  CURL* easy = impl_->easy;
  SetOption(easy, CURLOPT_PROXY, url.c_str());
  const std::uint32_t connect_timeout =
      url.empty() ? impl_->options.ConnectTimeoutMs : impl_->options.ProxyConnectTimeoutMs;
  SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout));
  if (proxy.UserName.empty()) {
    SetOption(easy, CURLOPT_PROXYUSERNAME, static_cast<char*>(nullptr));
    SetOption(easy, CURLOPT_PROXYPASSWORD, static_cast<char*>(nullptr));
  } else {
    // Separate options keep a ":" in either; libcurl still percent-decodes both, so they go in
    // percent-encoded to arrive exactly as written.
    SetOption(easy, CURLOPT_PROXYUSERNAME, PercentEncoded(easy, proxy.UserName).c_str());
    SetOption(easy, CURLOPT_PROXYPASSWORD, PercentEncoded(easy, proxy.Password).c_str());
  }
  impl_->proxy_url = std::move(url);
  impl_->proxy_user = proxy.UserName;
  impl_->proxy_password = proxy.Password;
  // A connection to the previous proxy (or to the site) must not carry the next request.
  DropConnection();
}

HttpResult HttpClient::Get(const std::string& url, std::string& body) {
  Impl& impl = *impl_;
  HttpResult result;
  auto honour_stop_from = std::chrono::steady_clock::now();
  if (impl.options.StopFlag != nullptr && impl.options.StopFlag->load()) {
    // A request sent after the stop (it had won its pacing turn) still gets its answer if that
    // comes soon.
    honour_stop_from += timings::kStoppedRequestGrace;
  }
  std::string target = url;
  for (int redirects = 0;; ++redirects) {
    body.clear();
    const CURLcode code = impl.Perform(target, body, honour_stop_from);
    result.StatusCode = impl.StatusCode();
    if (code != CURLE_OK && impl.transfer.stopped) {
      result.Stopped = true;
      break;
    }
    if (code != CURLE_OK) {
      result.FailureText = impl.FailureText(code);
      result.Kind = impl.KindOf(code);
      break;
    }
    const long status = result.StatusCode;
    if (status >= 200 && status < 300) {
      result.Ok = true;
      return result;
    }
    if (status >= 300 && status < 400) {
      char* location = nullptr;
      curl_easy_getinfo(impl.easy, CURLINFO_REDIRECT_URL, &location);
      if (location != nullptr) {
        if (redirects >= impl.options.MaxRedirects) {
          // Past the limit the redirect response itself is the page.
          result.Ok = true;
          return result;
        }
        target = location;
        continue;
      }
    }
    result.FailureText = impl.transfer.status_line;
    result.Kind = FailureKindOfStatus(status, !impl.proxy_url.empty());
    break;
  }
  body.clear();
  DropConnection();
  return result;
}

void HttpClient::DropConnection() {
  // Closing the multi handle closes its cached connection and whatever it had not read; the
  // cookies live in the easy handle and stay.
  impl_->NewMulti();
}

}  // namespace mirava::engine
