#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/socket_shared.h"

namespace quillo {

const char* const kSocketLayerName = "POSIX";

using namespace sockets;

static_assert(sizeof(SocketAddress{}.bytes) >= sizeof(sockaddr_storage));

bool CanCreateStreamSocket() {
  SocketHandle probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return probe.Valid();
}

void SocketHandle::Close() {
  if (fd_ != kNoSocket) ::close(fd_);
  fd_ = kNoSocket;
}

namespace {

int MillisecondsLeft(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  // Round up so that a wait never ends a fraction of a millisecond early.
  return left >= INT_MAX ? INT_MAX : static_cast<int>(left) + 1;
}

// Waits until `fd` reports one of `events`. 1 when it does, 0 at the
// deadline, -1 on error (errno set).
int WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int ms = MillisecondsLeft(deadline);
    int n = ::poll(&p, 1, ms);
    if (n > 0) return 1;
    if (n == 0) {
      if (ms == 0 || Clock::now() >= deadline) return 0;
      continue;
    }
    if (errno != EINTR) return -1;
  }
}

bool SetBlocking(int fd, bool blocking) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

bool DottedIPv4Address(const std::string& text, int port, SocketAddress& out) {
  return sockets::ParseDottedIPv4(text, port, out);
}

std::vector<SocketAddress> ResolveStreamHost(const std::string& host, int port) {
  return sockets::StreamAddresses(host, port);
}

ConnectResult ConnectStream(const SocketAddress& address, int timeoutSeconds) {
  SocketHandle sock(::socket(address.family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock.Valid()) return Failed(ConnectStatus::kSocketFailed, errno);
  // A non-blocking connect is the only way to bound the wait for the peer.
  if (!SetBlocking(sock.Fd(), false)) return Failed(ConnectStatus::kConnectFailed, errno);

  sockaddr_storage ss{};
  std::memcpy(&ss, address.bytes.data(), address.length);
  int rc = ::connect(sock.Fd(), reinterpret_cast<const sockaddr*>(&ss), static_cast<socklen_t>(address.length));
  if (rc != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return Failed(ConnectStatus::kConnectFailed, errno);
    int ready = WaitFor(sock.Fd(), POLLOUT, DeadlineAfter(timeoutSeconds));
    if (ready == 0) return Failed(ConnectStatus::kTimedOut, ETIMEDOUT);
    if (ready < 0) return Failed(ConnectStatus::kConnectFailed, errno);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(sock.Fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) return Failed(ConnectStatus::kConnectFailed, err);
  }
  if (!SetBlocking(sock.Fd(), true)) return Failed(ConnectStatus::kConnectFailed, errno);

  ConnectResult r;
  r.status = ConnectStatus::kConnected;
  r.socket = std::move(sock);
  return r;
}

bool SetNoDelay(const SocketHandle& socket) {
  int on = 1;
  return ::setsockopt(socket.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

long ReceiveSome(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) {
  if (!socket.Valid()) {
    errno = EBADF;
    return kSocketFailed;
  }
  // Bytes already waiting are taken without asking first (a reply of many
  // pieces is mostly there already); the wait, and its deadline, only begin
  // when there is nothing yet.
  std::optional<Clock::time_point> deadline;
  for (;;) {
    ssize_t n = ::recv(socket.Fd(), buffer, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kSocketFailed;
    if (!deadline) deadline = DeadlineAfter(timeoutSeconds);
    int ready = WaitFor(socket.Fd(), POLLIN, *deadline);
    if (ready == 0) return kSocketTimedOut;
    if (ready < 0) return kSocketFailed;
  }
}

long SendAll(const SocketHandle& socket, std::string_view data, int timeoutSeconds) {
  if (!socket.Valid()) {
    errno = EBADF;
    return kSocketFailed;
  }
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(socket.Fd(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kSocketFailed;
    // The connection's send queue is full: wait (bounded) until it drains.
    int ready = WaitFor(socket.Fd(), POLLOUT, DeadlineAfter(timeoutSeconds));
    if (ready == 0) return kSocketTimedOut;
    if (ready < 0) return kSocketFailed;
  }
  return static_cast<long>(sent);
}

int LocalHostName(std::string& name) {
  char buffer[256] = {};
  name.clear();
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return -1;
  name = buffer;
  return 0;
}

std::string AddressText(const SocketAddress& address) {
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(address.bytes.data()), address.length, host, sizeof host, port,
                  sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {};
  return std::string(host) + " port " + port;
}

}  // namespace quillo
