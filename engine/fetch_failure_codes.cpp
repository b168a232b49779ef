#include "engine/fetch_failure_codes.h"

#include <curl/curl.h>

#include <algorithm>
#include <iterator>

namespace mirava::engine {

namespace {

using platform::Failure;

// What one libcurl result code means. A code the table does not hold has libcurl's own text and
// is Other, or ClosedDuringResponse once a response had begun.
struct CurlCodeMeaning {
  CURLcode Code;
  std::optional<Failure> Text;          // directly
  std::optional<Failure> TextViaProxy;  // through a proxy
  FailureKind Kind;                     // before a status line arrived
  FailureKind KindOnceResponseBegan;
};

constexpr std::optional<Failure> kOwnText = std::nullopt;  // libcurl's text

// With a proxy the only connection libcurl makes is the one to the proxy, so a connection that
// failed is the proxy's failure.
constexpr CurlCodeMeaning kCurlCodes[] = {
    {CURLE_OK, kOwnText, kOwnText, FailureKind::None, FailureKind::None},
    {CURLE_COULDNT_RESOLVE_HOST, Failure::HostNotFound, Failure::HostNotFound,
     FailureKind::ConnectFailed, FailureKind::ConnectFailed},
    {CURLE_COULDNT_RESOLVE_PROXY, Failure::ProxyFailed, Failure::ProxyFailed,
     FailureKind::ConnectFailed, FailureKind::ConnectFailed},
    {CURLE_COULDNT_CONNECT, Failure::ConnectFailed, Failure::ProxyFailed,
     FailureKind::ConnectFailed, FailureKind::ConnectFailed},
    {CURLE_PROXY, Failure::ProxyFailed, Failure::ProxyFailed, FailureKind::ProxyStatus,
     FailureKind::ProxyStatus},
    {CURLE_GOT_NOTHING, kOwnText, kOwnText, FailureKind::ClosedWithoutResponse,
     FailureKind::ClosedWithoutResponse},
    {CURLE_FILESIZE_EXCEEDED, kOwnText, kOwnText, FailureKind::BodyTooLarge,
     FailureKind::BodyTooLarge},
    {CURLE_OPERATION_TIMEDOUT, Failure::TimedOut, Failure::TimedOut,
     FailureKind::TimedOutBeforeResponse, FailureKind::ClosedDuringResponse},
    {CURLE_ABORTED_BY_CALLBACK, kOwnText, kOwnText, FailureKind::TimedOutBeforeResponse,
     FailureKind::ClosedDuringResponse},
    {CURLE_URL_MALFORMAT, Failure::BadAddress, Failure::BadAddress, FailureKind::Other,
     FailureKind::ClosedDuringResponse},
    {CURLE_UNSUPPORTED_PROTOCOL, Failure::BadAddress, Failure::BadAddress, FailureKind::Other,
     FailureKind::ClosedDuringResponse},
    // A TLS handshake or certificate that failed.
    {CURLE_SSL_CONNECT_ERROR, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_PEER_FAILED_VERIFICATION, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_SSL_CERTPROBLEM, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_SSL_CIPHER, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_SSL_CACERT_BADFILE, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_SSL_ISSUER_ERROR, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_SSL_INVALIDCERTSTATUS, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, Failure::TlsFailed, Failure::TlsFailed, FailureKind::TlsFailed,
     FailureKind::TlsFailed},
};

const CurlCodeMeaning* MeaningOf(int curl_code) {
  const auto found = std::find_if(std::begin(kCurlCodes), std::end(kCurlCodes),
                                  [curl_code](const CurlCodeMeaning& meaning) {
                                    return static_cast<int>(meaning.Code) == curl_code;
                                  });
  return found == std::end(kCurlCodes) ? nullptr : found;
}

}  // namespace

std::optional<platform::Failure> FailureOfCurlCode(int curl_code, bool through_proxy,
                                                   long proxy_status) {
  if (through_proxy && proxy_status == 407) {
    return Failure::ProxyCredentials;
  }
  const CurlCodeMeaning* meaning = MeaningOf(curl_code);
  if (meaning == nullptr) {
    return std::nullopt;
  }
  return through_proxy ? meaning->TextViaProxy : meaning->Text;
}

FailureKind FailureKindOfCurlCode(int curl_code, bool through_proxy, long proxy_status,
                                  bool response_began) {
  if (through_proxy && proxy_status >= 300) {
    // The tunnel was refused: the proxy answered, the site was never reached.
    return proxy_status == 401 || proxy_status == 407 ? FailureKind::ProxyCredentials
                                                      : FailureKind::ProxyStatus;
  }
  const CurlCodeMeaning* meaning = MeaningOf(curl_code);
  if (meaning == nullptr) {
    return response_began ? FailureKind::ClosedDuringResponse : FailureKind::Other;
  }
  return response_began ? meaning->KindOnceResponseBegan : meaning->Kind;
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

}  // namespace mirava::engine
