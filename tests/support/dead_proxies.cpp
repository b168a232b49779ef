#include "tests/support/dead_proxies.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace mirava::testing {

namespace {

// A TCP socket bound to a free port of 127.0.0.1; its port in `port`.
int BoundSocket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    close(fd);
    throw std::runtime_error(std::string("bind: ") + std::strerror(error));
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

RefusingPort::RefusingPort() {
  fd_ = BoundSocket(port_);
}

RefusingPort::~RefusingPort() {
  close(fd_);
}

SilentListener::SilentListener() {
  fd_ = BoundSocket(port_);
  if (listen(fd_, 64) != 0) {
    close(fd_);
    throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  }
}

SilentListener::~SilentListener() {
  close(fd_);
}

UnreachableListener::UnreachableListener() {
  fd_ = BoundSocket(port_);
  if (listen(fd_, 0) != 0) {
    close(fd_);
    throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  }
  // Fill the accept queue; the connection that does not complete within a moment shows that
  // the next ones will not either.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  for (int i = 0; i < 16; ++i) {
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (filler < 0) {
      break;
    }
    fillers_.push_back(filler);
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    pollfd wait{filler, POLLOUT, 0};
    if (poll(&wait, 1, 200) == 0) {
      break;  // this one hangs: the queue is full
    }
  }
}

UnreachableListener::~UnreachableListener() {
  for (const int filler : fillers_) {
    close(filler);
  }
  close(fd_);
}

}  // namespace mirava::testing
