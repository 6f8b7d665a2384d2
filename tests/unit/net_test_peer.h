// The far end of the connection for the transport tests: a listener on
// 127.0.0.1 with an ephemeral port, and the accepted connection. The
// transport's connect completes through the listen queue, so a test can open
// the connection first and accept it afterwards, all on one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

namespace quillo::nettest {

// One accepted connection, closed on destruction.
class PeerConn {
 public:
  explicit PeerConn(int fd = -1) : fd_(fd) {}
  ~PeerConn() { Close(); }
  PeerConn(PeerConn&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  PeerConn& operator=(PeerConn&& o) noexcept {
    if (this != &o) {
      Close();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  PeerConn(const PeerConn&) = delete;
  PeerConn& operator=(const PeerConn&) = delete;

  bool Valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool Send(std::string_view bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Everything that arrives until nothing more comes for `quietMs`, or the
  // peer closes, or `limitMs` passes.
  std::string ReadUntilQuiet(int quietMs = 200, int limitMs = 3000) const {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, quietMs) <= 0) break;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int fd_;
};

class Listener {
 public:
  explicit Listener(int backlog = 8) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
      Close();
      return;
    }
    port_ = ntohs(sin.sin_port);
  }
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return port_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // The next queued connection, waiting at most `waitMs` for it.
  PeerConn Accept(int waitMs = 2000) const {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&p, 1, waitMs) <= 0) return PeerConn();
    return PeerConn(::accept(fd_, nullptr, nullptr));
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (it was bound and released).
inline int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  ::bind(fd, reinterpret_cast<sockaddr*>(&sin), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  ::close(fd);
  return ntohs(sin.sin_port);
}

}  // namespace quillo::nettest
