// Loopback peers that never answer HTTP, for the failure paths of the clients: a port
// that refuses connections, and a listener that leaves them unanswered.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace marrowind::test {

namespace detail {

// A loopback socket bound to a port of the system's choosing; throws when it cannot.
inline int BoundLoopbackSocket(sockaddr_in& a) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  a = sockaddr_in{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot bind a loopback port");
  }
  return fd;
}

}  // namespace detail

// Bound but not listening: connecting is refused at once, and no other test can take
// the port while it is held.
class RefusingPort {
 public:
  RefusingPort() {
    sockaddr_in a;
    fd_ = detail::BoundLoopbackSocket(a);
    port_ = ntohs(a.sin_port);
  }
  ~RefusingPort() { close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A listener whose accept queue is full: the system drops further connection attempts
// without answering, as with a host that is down.
class SilentListener {
 public:
  SilentListener() {
    sockaddr_in a;
    fd_ = detail::BoundLoopbackSocket(a);
    listen(fd_, 0);
    port_ = ntohs(a.sin_port);
    for (int i = 0; i < 2; ++i) {
      int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
      fillers_.push_back(c);
    }
    // The first filler fills the queue once its handshake is done; the second is
    // already dropped. Wait for that rather than for a fixed time.
    pollfd first{.fd = fillers_[0], .events = POLLOUT, .revents = 0};
    poll(&first, 1, 5000);
  }
  ~SilentListener() {
    for (int c : fillers_) close(c);
    close(fd_);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace marrowind::test
