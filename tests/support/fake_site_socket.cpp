#include "tests/support/fake_site_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace mirava::testing::site_socket {
namespace {

void ThrowSystemError(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

struct Listener::State {
  int fd = -1;
  int wake_pipe[2] = {-1, -1};

  ~State() {
    for (const int descriptor : {fd, wake_pipe[0], wake_pipe[1]}) {
      if (descriptor >= 0) {
        close(descriptor);
      }
    }
  }
};

Listener::Listener(int port) : state_(std::make_unique<State>()) {
  // A client that goes away while the site writes must not end the test process.
  signal(SIGPIPE, SIG_IGN);
  if (pipe2(state_->wake_pipe, O_CLOEXEC) != 0) {
    ThrowSystemError("pipe");
  }
  state_->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (state_->fd < 0) {
    ThrowSystemError("socket");
  }
  const int on = 1;
  setsockopt(state_->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (bind(state_->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowSystemError("bind");
  }
  if (listen(state_->fd, 1024) != 0) {
    ThrowSystemError("listen");
  }
  socklen_t length = sizeof address;
  getsockname(state_->fd, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() = default;

bool Listener::WaitForConnection() {
  for (;;) {
    pollfd fds[2] = {{state_->fd, POLLIN, 0}, {state_->wake_pipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    return (fds[1].revents & POLLIN) == 0;
  }
}

Socket Listener::Accept() {
  const int fd = accept4(state_->fd, nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kNoSocket : fd;
}

void Listener::Wake() {
  const char wake = 'x';
  [[maybe_unused]] const ssize_t ignored = write(state_->wake_pipe[1], &wake, 1);
}

std::size_t Receive(Socket socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t read = recv(static_cast<int>(socket), buffer, size, 0);
    if (read < 0 && errno == EINTR) {
      continue;
    }
    return read > 0 ? static_cast<std::size_t>(read) : 0;
  }
}

std::size_t Send(Socket socket, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t written = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    return written > 0 ? static_cast<std::size_t>(written) : 0;
  }
}

void ShutDown(Socket socket) {
  shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void Close(Socket socket) {
  close(static_cast<int>(socket));
}

bool PeerHangsUpWithin(Socket socket, std::chrono::milliseconds limit) {
  pollfd watched{static_cast<int>(socket), POLLRDHUP, 0};
  const int ready = poll(&watched, 1, static_cast<int>(limit.count()));
  return ready > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace mirava::testing::site_socket
