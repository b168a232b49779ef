#pragma once
// Proxies that do not work, on 127.0.0.1, for the tests and the benchmark of the proxies'
// health: a port that refuses connections, a listener that never answers, and one whose
// handshake never completes. Proxies that answer with an error status are FakeSites with a
// fallback response (407, 502).
#include <string>
#include <vector>

namespace mirava::testing {

// A port bound but not listening: every connection is refused at once.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A listening port whose connections are never accepted: the system completes the handshake,
// takes the request and nothing ever answers.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A listener whose backlog is full, so the handshake of a new connection never completes (the
// system drops its SYN): what a blackholed proxy costs a client.
class UnreachableListener {
 public:
  UnreachableListener();
  ~UnreachableListener();
  UnreachableListener(const UnreachableListener&) = delete;
  UnreachableListener& operator=(const UnreachableListener&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace mirava::testing
