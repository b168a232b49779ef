// proxy.txt: every line is one entry without its line break, the rotation hands the entries out
// in turn, and reading any entry leaves settings that make sense (a port within 0..65535 or the
// previous settings kept). Every line also stands as credentials around a known address: the
// log names the proxy by that address whatever the credentials hold.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/proxy_health.h"
#include "engine/proxy_list.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace mirava::engine;

std::vector<std::string> RefLines(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
        ++i;
      }
      lines.push_back(line);
      line.clear();
      open = false;
    } else {
      line += bytes[i];
      open = true;
    }
  }
  if (open) {
    lines.push_back(line);
  }
  return lines;
}

bool HoldsFieldSeparator(std::string_view text) {
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (c == ';' || (code >= 1 && code <= 32)) {
      return true;
    }
  }
  return false;
}

// `secret` as the password of both line forms around one address.
void CheckCredentialsStayOutOfTheName(const std::string& secret) {
  const std::string address = "127.0.0.1:8080";
  // Without separators the credentials form can only be read one way.
  if (!HoldsFieldSeparator(secret)) {
    const std::string line = "user:" + secret + "@" + address;
    FUZZ_CHECK(ProxyDisplayName(line) == address);
    ProxySettings settings;
    ApplyProxy(settings, line);
    if (!secret.starts_with("//")) {
      FUZZ_CHECK(settings.UserName == "user" && settings.Password == secret);
    }
  }
  // A password of blanks alone leaves two fields: no proxy, and no name either.
  const std::string fields = address + ";user;" + secret;
  const std::string name = ProxyDisplayName(fields);
  FUZZ_CHECK(name == address || name.empty());
}

const std::string& ProxyFile() {
  static const std::string path = [] {
    char pattern[] = "/tmp/mirava-fuzz-proxy-XXXXXX";
    const int fd = mkstemp(pattern);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    return std::string(pattern);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream file(ProxyFile(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const ProxyList list = LoadProxyList(ProxyFile());
  FUZZ_CHECK(list == RefLines(bytes));

  ProxyRotation rotation;
  for (std::size_t turn = 0; turn < list.size() + 1; ++turn) {
    const std::optional<std::string> entry = NextProxy(list, rotation);
    FUZZ_CHECK(entry.has_value() == !list.empty());
    if (entry) {
      FUZZ_CHECK(*entry == list[(turn + 1) % list.size()]);
    }
  }

  ProxySettings settings;
  for (const std::string& entry : list) {
    const ProxySettings before = settings;
    ApplyProxy(settings, entry);
    FUZZ_CHECK(settings.Port >= 0);
    FUZZ_CHECK(settings.Host.find_first_of("\r\n") == std::string::npos);
    // A host never holds "@": whatever does belongs to the credentials.
    FUZZ_CHECK(settings.Host.find('@') == std::string::npos);
    if (entry.empty()) {
      FUZZ_CHECK(settings.Host.empty() && settings.Port == 0 && settings.UserName.empty() &&
                 settings.Password.empty());
    }
    (void)before;
    CheckCredentialsStayOutOfTheName(entry);
  }
  return 0;
}
