// TCP sockets (IPv4 and IPv6), blocking from the caller's view, with optional
// time-outs. Time-outs are in seconds; 0 (or less) waits for ever.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// True when an IPv4 stream socket can be created at all.
bool CanCreateStreamSocket();

// The socket layer's name as the X-Mailer line gives it ("WinSock" on
// Windows).
extern const char* const kSocketLayerName;

// A socket as the system names it: a descriptor, or on Windows a SOCKET
// handle (as wide as a pointer).
#ifdef _WIN32
using NativeSocket = unsigned long long;
inline constexpr NativeSocket kNoSocket = ~0ull;
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
#endif

// Owns one socket and closes it when replaced or destroyed.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(NativeSocket fd) : fd_(fd) {}
  ~SocketHandle() { Close(); }
  SocketHandle(SocketHandle&& other) noexcept : fd_(other.Release()) {}
  SocketHandle& operator=(SocketHandle&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.Release();
    }
    return *this;
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  bool Valid() const { return fd_ != kNoSocket; }
  NativeSocket Fd() const { return fd_; }
  NativeSocket Release() {
    const NativeSocket fd = fd_;
    fd_ = kNoSocket;
    return fd;
  }
  void Close();

 private:
  NativeSocket fd_ = kNoSocket;
};

// One resolved endpoint (address family, address and port), kept opaque so
// that callers need no system headers.
struct SocketAddress {
  int family = 0;
  unsigned length = 0;
  alignas(8) std::array<unsigned char, 128> bytes{};
};

// The IPv4 endpoint of `text` with `port` when `text` is a dotted IPv4 address
// as a whole and begins with a digit; false otherwise.
bool DottedIPv4Address(const std::string& text, int port, SocketAddress& out);

// All stream endpoints of `host` with `port`, IPv4 and IPv6, in the resolver's
// order. Empty when the name cannot be resolved.
std::vector<SocketAddress> ResolveStreamHost(const std::string& host, int port);

// The numeric address and port of `address` ("192.0.2.1 port 110",
// "2001:db8::1 port 995"); "" when it cannot be written.
std::string AddressText(const SocketAddress& address);

enum class ConnectStatus { kConnected, kSocketFailed, kConnectFailed, kTimedOut };

struct ConnectResult {
  ConnectStatus status = ConnectStatus::kConnectFailed;
  int error = 0;  // errno of the failed call
  SocketHandle socket;
};

// Creates a stream socket for `address` and connects it, waiting at most
// `timeoutSeconds` for the connection.
ConnectResult ConnectStream(const SocketAddress& address, int timeoutSeconds);

// Turns off the small-packet delay so that each command leaves at once.
bool SetNoDelay(const SocketHandle& socket);

// Results below zero of ReceiveSome and SendAll.
constexpr long kSocketFailed = -1;
constexpr long kSocketTimedOut = -2;

// Waits at most `timeoutSeconds` for bytes and receives up to `size` of them.
// Returns the count, 0 when the peer closed the connection, kSocketFailed or
// kSocketTimedOut.
long ReceiveSome(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds);

// Sends every byte of `data`, waiting at most `timeoutSeconds` each time the
// connection cannot take more. Never raises SIGPIPE. Returns data.size(),
// kSocketFailed or kSocketTimedOut.
long SendAll(const SocketHandle& socket, std::string_view data, int timeoutSeconds);

// The name of this machine: 0 and the name, or -1 (name left empty).
int LocalHostName(std::string& name);

}  // namespace quillo
