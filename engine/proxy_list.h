#pragma once
// proxy.txt, the rotation through it, and the reading of one proxy specification.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace mirava::engine {

// Every line of proxy.txt, unchanged, blank lines included.
using ProxyList = std::vector<std::string>;

// A missing file gives an empty list; a file that exists but cannot be read throws
// std::runtime_error with the system's reason.
ProxyList LoadProxyList(const std::string& path);

// Process-wide position of the entry handed out last; never reset, so the rotation goes on
// from run to run.
struct ProxyRotation {
  std::atomic<int> ProxyIndex{0};
};

// The next entry of the rotation (advanced atomically), or nothing for an empty list.
std::optional<std::string> NextProxy(const ProxyList& list, ProxyRotation& rotation);

// The proxy settings of one worker's HTTP client; an empty host means a direct connection.
struct ProxySettings {
  std::string Host;
  int Port = 0;
  std::string UserName;
  std::string Password;
};

// Sets `settings` from one specification: "[scheme//]user:password@host:port" or
// "host:port;user;password" (or blanks in place of the semicolons). Settings a specification does
// not touch keep their values.
void ApplyProxy(ProxySettings& settings, const std::string& specification);

}  // namespace mirava::engine
