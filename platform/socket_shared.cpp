#include "platform/socket_shared.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#endif

#include <cstdint>
#include <cstring>

namespace quillo::sockets {

Clock::time_point DeadlineAfter(int timeoutSeconds) {
  if (timeoutSeconds <= 0) return Clock::time_point::max();
  return Clock::now() + std::chrono::seconds(timeoutSeconds);
}

SocketAddress FromSockaddr(const sockaddr* sa, size_t length) {
  SocketAddress out;
  out.family = sa->sa_family;
  out.length = static_cast<unsigned>(length);
  std::memcpy(out.bytes.data(), sa, length);
  return out;
}

ConnectResult Failed(ConnectStatus status, int error) {
  ConnectResult r;
  r.status = status;
  r.error = error;
  return r;
}

bool ParseDottedIPv4(const std::string& text, int port, SocketAddress& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  sockaddr_in sin{};
  if (::inet_pton(AF_INET, text.c_str(), &sin.sin_addr) != 1) return false;
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  out = FromSockaddr(reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  return true;
}

std::vector<SocketAddress> StreamAddresses(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  std::vector<SocketAddress> found;
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) return found;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    found.push_back(FromSockaddr(ai->ai_addr, ai->ai_addrlen));
  }
  ::freeaddrinfo(list);
  return found;
}

}  // namespace quillo::sockets
