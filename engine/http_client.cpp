#include "engine/http_client.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "engine/platform/system_certificates.h"

namespace mirava::engine {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:109.0) Gecko/20100101 Firefox/115.0";
constexpr const char* kAcceptHeader = "Accept: text/html, */*";
constexpr const char* kAcceptEncoding = "gzip, deflate";

X509_STORE* NewStoreWithFlags() {
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr) {
    throw std::runtime_error("Не удалось создать хранилище сертификатов");
  }
  // The flags libcurl would otherwise set on every handshake, from every thread, on this
  // shared store: set once here while nobody else sees it.
  X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  return store;
}

CURLcode InstallTrustStore(CURL*, void* ssl_ctx, void* user) {
  auto* store = static_cast<X509_STORE*>(user);
  // The context takes a reference of its own and frees it with the context.
  X509_STORE_up_ref(store);
  SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(ssl_ctx), store);
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

namespace {

// The codes of a TLS handshake or certificate that failed.
bool IsTlsFailure(int curl_code) {
  switch (static_cast<CURLcode>(curl_code)) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<output::Failure> FailureOfCurlCode(int curl_code, bool through_proxy,
                                                 long proxy_status) {
  using output::Failure;
  if (through_proxy && proxy_status == 407) {
    return Failure::ProxyCredentials;
  }
  if (IsTlsFailure(curl_code)) {
    return Failure::TlsFailed;
  }
  switch (static_cast<CURLcode>(curl_code)) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return Failure::HostNotFound;
    case CURLE_COULDNT_CONNECT:
      // With a proxy the only connection libcurl makes is the one to the proxy.
      return through_proxy ? Failure::ProxyFailed : Failure::ConnectFailed;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
      return Failure::ProxyFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return Failure::TimedOut;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Failure::BadAddress;
    default:
      return std::nullopt;
  }
}

FailureKind FailureKindOfCurlCode(int curl_code, bool through_proxy, long proxy_status,
                                  bool response_began) {
  if (through_proxy && proxy_status >= 300) {
    // The tunnel was refused: the proxy answered, the site was never reached.
    return proxy_status == 401 || proxy_status == 407 ? FailureKind::ProxyCredentials
                                                      : FailureKind::ProxyStatus;
  }
  if (IsTlsFailure(curl_code)) {
    return FailureKind::TlsFailed;
  }
  switch (static_cast<CURLcode>(curl_code)) {
    case CURLE_OK:
      return FailureKind::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return FailureKind::ConnectFailed;
    case CURLE_PROXY:
      return FailureKind::ProxyStatus;
    case CURLE_GOT_NOTHING:
      return FailureKind::ClosedWithoutResponse;
    case CURLE_FILESIZE_EXCEEDED:
      return FailureKind::BodyTooLarge;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
      return response_began ? FailureKind::ClosedDuringResponse
                            : FailureKind::TimedOutBeforeResponse;
    default:
      return response_began ? FailureKind::ClosedDuringResponse : FailureKind::Other;
  }
}

FailureKind FailureKindOfStatus(long status, bool through_proxy) {
  if (through_proxy) {
    // Only a proxy asks for proxy credentials, and a forwarding proxy says with 502 and 504 that
    // it got nothing usable from the site; every other status is taken as the site's.
    if (status == 407) {
      return FailureKind::ProxyCredentials;
    }
    if (status == 502 || status == 504) {
      return FailureKind::ProxyStatus;
    }
  }
  return FailureKind::SiteStatus;
}

std::string BodyTooLargeText(std::size_t max_body_bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  if (max_body_bytes >= kMiB && max_body_bytes % kMiB == 0) {
    return "Ответ сайта больше " + std::to_string(max_body_bytes / kMiB) + " МБ";
  }
  return "Ответ сайта больше " + std::to_string(max_body_bytes) + " байт";
}

TlsTrustStore::TlsTrustStore(x509_store_st* store) : store_(store) {}

TlsTrustStore::~TlsTrustStore() {
  X509_STORE_free(store_);
}

std::shared_ptr<const TlsTrustStore> TlsTrustStore::FromFile(const std::string& ca_file) {
  X509_STORE* store = NewStoreWithFlags();
  if (!platform::LoadPemFile(store, ca_file)) {
    X509_STORE_free(store);
    throw std::runtime_error("Не удалось загрузить сертификаты из файла " + ca_file);
  }
  return std::shared_ptr<const TlsTrustStore>(new TlsTrustStore(store));
}

std::shared_ptr<const TlsTrustStore> TlsTrustStore::System() {
  static std::once_flag once;
  static std::shared_ptr<const TlsTrustStore> system;
  std::call_once(once, [] {
    X509_STORE* store = NewStoreWithFlags();
    platform::LoadSystemCertificates(store);
    system.reset(new TlsTrustStore(store));
  });
  return system;
}

// What one transfer (one response) sees; the callbacks write it.
struct Transfer {
  std::string* body = nullptr;
  std::size_t max_body_bytes = 0;
  std::chrono::milliseconds read_timeout{0};
  std::string status_line;
  bool connected = false;
  bool too_large = false;
  bool timed_out = false;
  curl_off_t last_received = 0;
  std::chrono::steady_clock::time_point last_activity;

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
    SetOption(easy, CURLOPT_SSL_CTX_DATA, static_cast<void*>(trust->Store()));
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
    return CURL_PREREQFUNC_OK;
  }

  static int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(user);
    // Bytes as they arrive, before decoding: a compressed body is capped too.
    if (received > static_cast<curl_off_t>(transfer.max_body_bytes)) {
      transfer.too_large = true;
      return 1;
    }
    if (received != transfer.last_received) {
      transfer.last_received = received;
      transfer.Touch();
    }
    if (transfer.connected &&
        std::chrono::steady_clock::now() - transfer.last_activity >= transfer.read_timeout) {
      transfer.timed_out = true;
      return 1;
    }
    return 0;
  }

  // One request and its one response, no redirect followed.
  CURLcode Perform(const std::string& url, std::string& body) {
    transfer = Transfer{};
    transfer.body = &body;
    transfer.max_body_bytes = options.MaxBodyBytes;
    transfer.read_timeout = std::chrono::milliseconds(options.ReadTimeoutMs);
    transfer.Touch();
    error[0] = '\0';
    SetOption(easy, CURLOPT_URL, url.c_str());

    CURLMcode added = curl_multi_add_handle(multi, easy);
    if (added != CURLM_OK) {
      throw std::runtime_error(std::string("Ошибка HTTP-клиента: ") + curl_multi_strerror(added));
    }
    // Wake often enough to notice a read time-out close to its moment.
    const int poll_ms =
        static_cast<int>(std::clamp<std::uint32_t>(options.ReadTimeoutMs / 10, 10, 1000));
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running != 0) {
      CURLMcode code = curl_multi_perform(multi, &running);
      if (code == CURLM_OK && running != 0) {
        code = curl_multi_poll(multi, nullptr, 0, poll_ms, nullptr);
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
      return std::string(output::FailureText(output::Failure::TimedOut));
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
      return std::string(output::FailureText(*failure));
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
  std::string target = url;
  for (int redirects = 0;; ++redirects) {
    body.clear();
    const CURLcode code = impl.Perform(target, body);
    result.StatusCode = impl.StatusCode();
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
