#pragma once
// The few socket calls the fake site makes, so that it runs on Linux sockets and on Winsock
// alike. Sockets are plain handles: the fake site owns them and closes them itself.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace mirava::testing::site_socket {

// An int descriptor on Linux, a SOCKET on Windows; both fit.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A listening socket on 127.0.0.1 and a way to wake the thread that waits on it.
class Listener {
 public:
  // Port 0 takes any free one. Throws std::system_error.
  explicit Listener(int port);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return port_; }
  // Waits for a connection to accept: false once Wake was called or the wait failed.
  bool WaitForConnection();
  // kNoSocket when the accept failed.
  Socket Accept();
  // Ends WaitForConnection, now or at its next call; callable from any thread.
  void Wake();

 private:
  struct State;
  std::unique_ptr<State> state_;
  int port_ = 0;
};

// Some bytes; 0 when the peer closed or the read failed.
std::size_t Receive(Socket socket, char* buffer, std::size_t size);
// Bytes written, or 0 when the write failed; never raises a signal.
std::size_t Send(Socket socket, const char* data, std::size_t size);
// No more reads or writes either way; wakes a thread waiting on the socket.
void ShutDown(Socket socket);
void Close(Socket socket);
// Waits up to `limit` and tells whether the peer hung up (or the socket failed) meanwhile.
bool PeerHangsUpWithin(Socket socket, std::chrono::milliseconds limit);

}  // namespace mirava::testing::site_socket
