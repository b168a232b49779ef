#pragma once
// Debian's tinyproxy as a real HTTP proxy for tests: started in the foreground on a free port of
// 127.0.0.1 with Basic authentication, from a configuration in a temporary folder; stopped and
// cleaned up on destruction.
#include <sys/types.h>
#include <string>
#include <vector>

namespace mirava::testing {

class TinyProxy {
 public:
  static constexpr const char* kProgram = "/usr/bin/tinyproxy";
  static bool Available();

  // `connect_ports`: the ports a CONNECT tunnel may reach. Throws std::runtime_error when the
  // proxy does not come up.
  TinyProxy(std::string user, std::string password, std::vector<int> connect_ports);
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  int Port() const { return port_; }
  // What the proxy logged so far (its connections and requests).
  std::string LogText() const;

 private:
  bool TryStart(const std::string& user, const std::string& password,
                const std::vector<int>& connect_ports);
  void StopProcess();

  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace mirava::testing
