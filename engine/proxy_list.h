#pragma once
// proxy.txt, the rotation through it, and the reading of one proxy entry.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace mirava::engine {

// Every line of proxy.txt, unchanged, blank lines included.
using ProxyList = std::vector<std::string>;

// Lines end at CR LF, LF or CR; a final line break adds no entry; a UTF-8 byte-order mark is
// dropped. A missing file (or a folder in its place) gives an empty list; a file that exists but
// cannot be read throws std::runtime_error with the system's reason.
ProxyList LoadProxyList(const std::string& path);

// Process-wide position of the entry handed out last; never reset, so the rotation goes on
// from run to run.
struct ProxyRotation {
  std::atomic<int> ProxyIndex{0};
};

// The next entry of the rotation (advanced atomically: callers at the same moment get different
// positions), or nothing for an empty list, which leaves the position alone. From a fresh
// rotation the first entry handed out is the second line; the first line follows the last.
std::optional<std::string> NextProxy(const ProxyList& list, ProxyRotation& rotation);

// The proxy settings of one worker's HTTP client; an empty host means a direct connection.
struct ProxySettings {
  std::string Host;
  int Port = 0;
  std::string UserName;
  std::string Password;
};

// Sets `settings` from one entry: "[scheme//]user:password@host:port" or
// "[scheme//]host:port;user;password" (blanks may stand for the semicolons; fields may be
// double-quoted). An empty entry clears everything. Settings an entry does not
// touch keep their values: the credentials when the user name is empty, and everything when an
// entry has neither "@" nor three fields (a bare "host:port" included). A port that is not plain
// decimal digits within int range reads as 0.
void ApplyProxy(ProxySettings& settings, const std::string& entry);

}  // namespace mirava::engine
