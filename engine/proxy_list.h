#pragma once
// proxy.txt, the rotation through it, and the reading of one proxy entry.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/proxy_health.h"

namespace mirava::engine {

// Every line of proxy.txt, unchanged, blank lines included.
using ProxyList = std::vector<std::string>;

// Lines end at CR LF, LF or CR; a final line break adds no entry; a UTF-8 byte-order mark is
// dropped. A missing file (or a folder in its place) gives an empty list; a file that exists but
// cannot be read throws std::runtime_error with the system's reason.
ProxyList LoadProxyList(const std::string& path);

// The entries a run may use and the line numbers (from 1) of those it may not.
struct UsableProxies {
  ProxyList Entries;
  std::vector<std::size_t> SkippedLines;
};

// True when `entry` alone names a proxy: a host and a port from 1 to 65535 in one of the forms
// ApplyProxy reads. A blank line, a line without a host or a port out of range would otherwise
// send the request from the operator's own address.
bool IsUsableProxyEntry(const std::string& entry);

// The usable entries of `lines`, in file order, and the line numbers of the others.
UsableProxies SelectUsableProxies(const ProxyList& lines);

// The one log line about skipped lines of proxy.txt: their count and numbers, never their text
// (a line may hold a password). Empty when nothing was skipped.
std::string SkippedProxyLinesText(const std::vector<std::size_t>& skipped_lines);

// Why proxy.txt at `path` cannot serve a run through proxies, in Russian, as the middle of a
// sentence: it is missing, unreadable, empty or holds no usable entry. Nothing when it holds at
// least one usable entry.
std::optional<std::string> ProxyFileProblem(const std::string& path);

// The forms of a proxy.txt line, for the operator's messages.
inline constexpr const char* kProxyFormats =
    "(host:port, user:password@host:port или host:port;user;password)";

// Why a run with the proxy box ticked must not start, in Russian, with what to do about it:
// proxy.txt at `path` is missing, unreadable, empty or holds no usable entry. Nothing when it
// holds at least one usable entry. For every front end's start action.
std::optional<std::string> ProxyModeStartProblem(const std::string& path);

// Process-wide position of the entry handed out last; never reset, so the rotation goes on
// from run to run.
struct ProxyRotation {
  std::atomic<int> ProxyIndex{0};
  // How every entry has fared; the rotation skips entries set aside.
  ProxyHealth Health;
};

// The next entry of the rotation (advanced atomically: callers at the same moment get different
// positions), or nothing for an empty list, which leaves the position alone. From a fresh
// rotation the first entry handed out is the second line; the first line follows the last.
std::optional<std::string> NextProxy(const ProxyList& list, ProxyRotation& rotation);

// The next entry of the rotation that is not set aside, as NextProxy would give it when every
// entry is healthy. When every entry is set aside: the one whose cool-down ends first, with the
// time until then, so a run waits rather than stalls or goes direct.
struct ProxyTurn {
  std::string Entry;
  std::uint32_t WaitMs = 0;
};
std::optional<ProxyTurn> NextUsableProxy(const ProxyList& list, ProxyRotation& rotation,
                                         std::uint32_t now);

// The proxy settings of one worker's HTTP client; an empty host means a direct connection.
struct ProxySettings {
  std::string Host;
  int Port = 0;
  std::string UserName;
  std::string Password;
};

// Sets `settings` from one entry: "[scheme//]user:password@host:port" (the address follows the
// last "@", so the credentials may hold any character) or "[scheme//]host:port;user;password"
// (blanks may stand for the semicolons; fields may be double-quoted; a line that starts with a
// host and port followed by two fields is this form whatever the fields hold), or a bare
// "[scheme//]host:port", which clears the credentials. An empty entry clears everything.
// Settings an entry does not touch keep their values: the credentials when the user name is
// empty, and everything when an entry has neither "@" nor one or three fields. A port that is not
// plain decimal digits within int range reads as 0.
void ApplyProxy(ProxySettings& settings, const std::string& entry);

}  // namespace mirava::engine
