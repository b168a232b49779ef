#include "tests/support/tinyproxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace mirava::testing {

namespace {

// A port nobody listens on right now; the proxy binds it a moment later, so a start can still
// lose a race and is retried.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

bool TinyProxy::Available() {
  return access(kProgram, X_OK) == 0;
}

TinyProxy::TinyProxy(std::string user, std::string password, std::vector<int> connect_ports) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/mirava-tinyproxy-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    throw std::runtime_error("tinyproxy: no temporary folder");
  }
  folder_ = folder;
  for (int tries = 0; tries < 5; ++tries) {
    if (TryStart(user, password, connect_ports)) {
      return;
    }
  }
  std::string log = LogText();
  std::filesystem::remove_all(folder_);
  throw std::runtime_error("tinyproxy did not start: " + log);
}

bool TinyProxy::TryStart(const std::string& user, const std::string& password,
                         const std::vector<int>& connect_ports) {
  port_ = FreePort();
  const std::string config = folder_ + "/tinyproxy.conf";
  {
    std::ofstream out(config, std::ios::trunc);
    out << "Port " << port_ << "\n"
        << "Listen 127.0.0.1\n"
        << "Timeout 30\n"
        << "MaxClients 64\n"
        << "Allow 127.0.0.1\n"
        << "BasicAuth " << user << " " << password << "\n"
        << "LogFile \"" << folder_ << "/tinyproxy.log\"\n"
        << "PidFile \"" << folder_ << "/tinyproxy.pid\"\n"
        << "LogLevel Connect\n";
    for (const int connect_port : connect_ports) {
      out << "ConnectPort " << connect_port << "\n";
    }
  }
  std::string foreground = "-d";
  std::string config_flag = "-c";
  std::string config_path = config;
  std::string program_name = kProgram;
  char* argv[] = {program_name.data(), foreground.data(), config_flag.data(), config_path.data(),
                  nullptr};
  if (posix_spawn(&pid_, kProgram, nullptr, nullptr, argv, environ) != 0) {
    pid_ = -1;
    throw std::runtime_error(std::string("tinyproxy: cannot start ") + kProgram);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;  // it ended: most likely the port was taken meanwhile
      return false;
    }
    if (Accepts(port_)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  StopProcess();
  return false;
}

void TinyProxy::StopProcess() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

TinyProxy::~TinyProxy() {
  StopProcess();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string TinyProxy::LogText() const {
  std::ifstream in(folder_ + "/tinyproxy.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace mirava::testing
