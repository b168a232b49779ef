#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "tests/support/fake_site_socket.h"

namespace mirava::testing::site_socket {
namespace {

void ThrowSocketError(const char* what) {
  throw std::system_error(WSAGetLastError(), std::system_category(), what);
}

// Winsock needs its start-up once per process; it stays up until the process ends.
void StartWinsock() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
      throw std::system_error(WSAGetLastError(), std::system_category(), "WSAStartup");
    }
  });
}

SOCKET Native(Socket socket) {
  return static_cast<SOCKET>(socket);
}

// Whether the socket has something to read (data, an orderly close or an error) within `limit`.
bool Readable(SOCKET socket, std::chrono::milliseconds limit) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait{static_cast<long>(limit.count() / 1000), static_cast<long>(limit.count() % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &wait) != 0;
}

}  // namespace

// Winsock cannot wait on a pipe beside a socket, so the wait looks at the wake-up flag between
// short waits on the listening socket.
struct Listener::State {
  SOCKET socket = INVALID_SOCKET;
  std::atomic<bool> woken{false};

  ~State() {
    if (socket != INVALID_SOCKET) {
      closesocket(socket);
    }
  }
};

Listener::Listener(int port) : state_(std::make_unique<State>()) {
  StartWinsock();
  state_->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (state_->socket == INVALID_SOCKET) {
    ThrowSocketError("socket");
  }
  // Not SO_REUSEADDR: on Windows it lets a second listener take a port already in use.
  const BOOL on = TRUE;
  setsockopt(state_->socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
             sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  if (bind(state_->socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowSocketError("bind");
  }
  if (listen(state_->socket, SOMAXCONN) != 0) {
    ThrowSocketError("listen");
  }
  int length = sizeof address;
  getsockname(state_->socket, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() = default;

bool Listener::WaitForConnection() {
  while (!state_->woken.load()) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(state_->socket, &readable);
    timeval wait{0, 20 * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) {
      return false;
    }
    if (ready > 0) {
      return !state_->woken.load();
    }
  }
  return false;
}

Socket Listener::Accept() {
  const SOCKET accepted = accept(state_->socket, nullptr, nullptr);
  if (accepted == INVALID_SOCKET) {
    return kNoSocket;
  }
  // Each response goes out in one write; without this, a keep-alive connection waits for the
  // peer's delayed acknowledgement before every response.
  const BOOL on = TRUE;
  setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return static_cast<Socket>(accepted);
}

void Listener::Wake() {
  state_->woken.store(true);
}

std::size_t Receive(Socket socket, char* buffer, std::size_t size) {
  const int read = recv(Native(socket), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
  return read > 0 ? static_cast<std::size_t>(read) : 0;
}

std::size_t Send(Socket socket, const char* data, std::size_t size) {
  const int written =
      send(Native(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
  return written > 0 ? static_cast<std::size_t>(written) : 0;
}

void ShutDown(Socket socket) {
  shutdown(Native(socket), SD_BOTH);
}

void Close(Socket socket) {
  closesocket(Native(socket));
}

bool PeerHangsUpWithin(Socket socket, std::chrono::milliseconds limit) {
  const auto start = std::chrono::steady_clock::now();
  if (!Readable(Native(socket), limit)) {
    return false;
  }
  // Readable: an orderly close or an error reads as nothing; data (the next request, sent
  // early) is left for later, and the wait lasts its whole time, as a quiet one would.
  char byte;
  if (recv(Native(socket), &byte, 1, MSG_PEEK) <= 0) {
    return true;
  }
  std::this_thread::sleep_for(limit - (std::chrono::steady_clock::now() - start));
  return false;
}

}  // namespace mirava::testing::site_socket
