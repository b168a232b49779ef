#pragma once
// How the HTTP client reads a failed request: libcurl's result codes and error statuses, as the
// text the operator reads and as the kind every decision reads.
#include <cstddef>
#include <optional>
#include <string>

#include "engine/fetch_failure.h"
#include "platform/failure_texts.h"

namespace mirava::engine {

// The text of FailureKind::ClosedWithoutResponse, which the worker repeats at once.
inline constexpr const char* kClosedGracefullyText = "Connection Closed Gracefully.";

// What the failure table says about a libcurl result code, if it knows it. `through_proxy`: the
// request went to a proxy; `proxy_status`: the proxy's answer to a tunnel request (0 for none).
std::optional<platform::Failure> FailureOfCurlCode(int curl_code, bool through_proxy,
                                                   long proxy_status);
// The kind of a failed transfer. `response_began`: a status line had arrived; `proxy_status`
// as above.
FailureKind FailureKindOfCurlCode(int curl_code, bool through_proxy, long proxy_status,
                                  bool response_began);
// The kind of a final response with an error status `status`.
FailureKind FailureKindOfStatus(long status, bool through_proxy);
// "Ответ сайта больше 64 МБ" for the default cap.
std::string BodyTooLargeText(std::size_t max_body_bytes);

}  // namespace mirava::engine
