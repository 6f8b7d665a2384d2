// The socket pieces that are the same on every system, shared by the POSIX
// and the Windows sockets. Internal to platform/.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace quillo::sockets {

using Clock = std::chrono::steady_clock;

// The moment a wait of `timeoutSeconds` gives up; max() stands for "never".
Clock::time_point DeadlineAfter(int timeoutSeconds);

SocketAddress FromSockaddr(const sockaddr* sa, size_t length);

ConnectResult Failed(ConnectStatus status, int error);

// `text` as a dotted IPv4 address (which needs no resolver), with `port`.
bool ParseDottedIPv4(const std::string& text, int port, SocketAddress& out);

// The IPv4 and IPv6 stream addresses the resolver gives for `host`.
std::vector<SocketAddress> StreamAddresses(const std::string& host, int port);

}  // namespace quillo::sockets
