#pragma once
// The engine's request profile on a bare libcurl handle, for the benchmarks that measure what a
// handle costs without the engine's client around it: HTTP/1.1, TLS 1.2 only, gzip and deflate,
// cookies kept, the body read and dropped.
#include <curl/curl.h>

#include <cstddef>
#include <string>

namespace mirava::bench {

inline std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

inline CURL* NewProfiledHandle(const std::string& url) {
  CURL* easy = curl_easy_init();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(
      easy, CURLOPT_SSLVERSION,
      static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &DiscardBody);
  return easy;
}

}  // namespace mirava::bench
