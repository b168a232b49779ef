#pragma once
// What kind of failure ended a request: the worker's failure rules and the proxies' health decide
// by it, never by the failure's text.
#include <cstddef>

namespace mirava::engine {

enum class FailureKind {
  None,                    // the request succeeded
  ConnectFailed,           // no connection (to the proxy, when there is one), or no such host
  ProxyCredentials,        // the proxy asked for credentials or refused the ones given
  ProxyStatus,             // the proxy refused the tunnel with a status of its own
  TimedOutBeforeResponse,  // nothing of a response arrived in time
  ClosedWithoutResponse,   // the other side closed before answering
  ClosedDuringResponse,    // a response began, then the connection broke or went silent
  SiteStatus,              // the site answered with an error status (HttpResult::StatusCode)
  TlsFailed,
  BodyTooLarge,
  Other,
};

inline constexpr std::size_t kFailureKindCount = static_cast<std::size_t>(FailureKind::Other) + 1;

// True for the failures of the proxy itself, which count towards setting it aside; the site's
// refusals and broken responses say nothing about the proxy.
inline bool IsProxyFault(FailureKind kind) {
  switch (kind) {
    case FailureKind::ConnectFailed:
    case FailureKind::ProxyCredentials:
    case FailureKind::ProxyStatus:
    case FailureKind::TimedOutBeforeResponse:
      return true;
    default:
      return false;
  }
}

}  // namespace mirava::engine
