#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/output.h"
#include "platform/socket_shared.h"

namespace quillo {

const char* const kSocketLayerName = "WinSock";

using namespace sockets;

static_assert(sizeof(SocketAddress{}.bytes) >= sizeof(sockaddr_storage));
static_assert(sizeof(NativeSocket) >= sizeof(SOCKET));

namespace {

// Winsock is started once, on first use; a system without it says so once.
bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) == 0) return true;
    WriteErr("Not find WinSock!\n");
    return false;
  }();
  return ready;
}

// The errno value of a Winsock error, so that the messages are those of
// every other system.
int ErrnoOf(int wsaError) {
  switch (wsaError) {
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    case WSAECONNRESET: return ECONNRESET;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAENETDOWN: return ENETDOWN;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
    case WSAEACCES: return EACCES;
    case WSAEMFILE: return EMFILE;
    case WSAENOBUFS: return ENOBUFS;
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAENOTCONN: return ENOTCONN;
    case WSAESHUTDOWN: return EPIPE;
    case WSAEINTR: return EINTR;
    case WSAENOTSOCK: return EBADF;
    default: return EIO;
  }
}

int LastErrno() { return ErrnoOf(::WSAGetLastError()); }

SOCKET Native(const SocketHandle& socket) { return static_cast<SOCKET>(socket.Fd()); }

// A socket of this process only: no child program inherits it.
SOCKET NewStreamSocket(int family) {
  return ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

// Waits until the socket can be read (or written, or its connect failed).
// 1 when it can, 0 at the deadline, -1 on error (errno set).
int WaitFor(SOCKET s, bool forWriting, Clock::time_point deadline) {
  for (;;) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{};
    timeval* wait = nullptr;
    if (deadline != Clock::time_point::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
      if (left <= 0) return 0;
      const long long bounded = left > 3600LL * 1000000 ? 3600LL * 1000000 : left;
      tv.tv_sec = static_cast<long>(bounded / 1000000);
      tv.tv_usec = static_cast<long>(bounded % 1000000);
      wait = &tv;
    }
    const int n = forWriting ? ::select(0, nullptr, &ready, &failed, wait) : ::select(0, &ready, nullptr, &failed, wait);
    if (n > 0) return 1;
    if (n == 0) {
      if (Clock::now() >= deadline) return 0;
      continue;
    }
    errno = LastErrno();
    return -1;
  }
}

bool SetBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

}  // namespace

bool CanCreateStreamSocket() {
  if (!WinsockReady()) return false;
  SocketHandle probe(NewStreamSocket(AF_INET));
  return probe.Valid();
}

void SocketHandle::Close() {
  if (fd_ != kNoSocket) ::closesocket(static_cast<SOCKET>(fd_));
  fd_ = kNoSocket;
}

bool DottedIPv4Address(const std::string& text, int port, SocketAddress& out) {
  return WinsockReady() && sockets::ParseDottedIPv4(text, port, out);
}

std::vector<SocketAddress> ResolveStreamHost(const std::string& host, int port) {
  if (!WinsockReady()) return {};
  return sockets::StreamAddresses(host, port);
}

ConnectResult ConnectStream(const SocketAddress& address, int timeoutSeconds) {
  if (!WinsockReady()) return Failed(ConnectStatus::kSocketFailed, EAFNOSUPPORT);
  SocketHandle sock(NewStreamSocket(address.family));
  if (!sock.Valid()) return Failed(ConnectStatus::kSocketFailed, LastErrno());
  const SOCKET s = Native(sock);
  // A non-blocking connect is the only way to bound the wait for the peer.
  if (!SetBlocking(s, false)) return Failed(ConnectStatus::kConnectFailed, LastErrno());
  sockaddr_storage ss{};
  std::memcpy(&ss, address.bytes.data(), address.length);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&ss), static_cast<int>(address.length)) != 0) {
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) return Failed(ConnectStatus::kConnectFailed, ErrnoOf(error));
    const int ready = WaitFor(s, true, DeadlineAfter(timeoutSeconds));
    if (ready == 0) return Failed(ConnectStatus::kTimedOut, ETIMEDOUT);
    if (ready < 0) return Failed(ConnectStatus::kConnectFailed, errno);
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) err = ::WSAGetLastError();
    if (err != 0) return Failed(ConnectStatus::kConnectFailed, ErrnoOf(err));
  }
  ConnectResult r;
  r.status = ConnectStatus::kConnected;
  r.socket = std::move(sock);
  return r;
}

bool SetNoDelay(const SocketHandle& socket) {
  BOOL on = TRUE;
  return ::setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

// The socket stays non-blocking after the connect: each call below tries
// first and waits (bounded) only when nothing can be done yet.
long ReceiveSome(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) {
  if (!socket.Valid()) {
    errno = EBADF;
    return kSocketFailed;
  }
  const int want = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  std::optional<Clock::time_point> deadline;
  for (;;) {
    const int n = ::recv(Native(socket), buffer, want, 0);
    if (n >= 0) return n;
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
      errno = ErrnoOf(error);
      return kSocketFailed;
    }
    if (!deadline) deadline = DeadlineAfter(timeoutSeconds);
    const int ready = WaitFor(Native(socket), false, *deadline);
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
    const size_t left = data.size() - sent;
    const int chunk = left > (1u << 20) ? (1 << 20) : static_cast<int>(left);
    const int n = ::send(Native(socket), data.data() + sent, chunk, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    const int error = ::WSAGetLastError();
    if (n < 0 && error != WSAEWOULDBLOCK) {
      errno = ErrnoOf(error);
      return kSocketFailed;
    }
    const int ready = WaitFor(Native(socket), true, DeadlineAfter(timeoutSeconds));
    if (ready == 0) return kSocketTimedOut;
    if (ready < 0) return kSocketFailed;
  }
  return static_cast<long>(sent);
}

int LocalHostName(std::string& name) {
  char buffer[256] = {};
  name.clear();
  if (!WinsockReady() || ::gethostname(buffer, sizeof buffer - 1) != 0) return -1;
  name = buffer;
  return 0;
}

std::string AddressText(const SocketAddress& address) {
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (!WinsockReady() || ::getnameinfo(reinterpret_cast<const sockaddr*>(address.bytes.data()),
                                       static_cast<socklen_t>(address.length), host, sizeof host, port, sizeof port,
                                       NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return {};
  }
  return std::string(host) + " port " + port;
}

}  // namespace quillo
