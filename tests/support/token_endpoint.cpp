#include "tests/support/token_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "tests/support/harness.h"

namespace quillo::test {

namespace {

constexpr size_t kMostRequestBytes = 1 << 20;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The request's head and body, read within `deadlineMs`; "" on failure.
std::string ReadRequest(int fd, long long deadlineMs) {
  std::string request;
  size_t wanted = std::string::npos;
  while (NowMs() < deadlineMs && request.size() < kMostRequestBytes) {
    const size_t headEnd = request.find("\r\n\r\n");
    if (headEnd != std::string::npos && wanted == std::string::npos) {
      const size_t length = request.find("Content-Length:");
      wanted = headEnd + 4 + (length == std::string::npos ? 0 : std::strtoul(request.c_str() + length + 15, nullptr, 10));
    }
    if (request.size() >= wanted) return request;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char chunk[8192];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return request;
    request.append(chunk, static_cast<size_t>(n));
  }
  return request;
}

}  // namespace

TokenEndpoint::TokenEndpoint(std::string user, std::string token, int lifetimeSeconds)
    : user_(std::move(user)), token_(std::move(token)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listenFd_ < 0) return;
  int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || ::listen(listenFd_, 8) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
    return;
  port_ = ntohs(sin.sin_port);
  thread_ = std::thread([this, lifetimeSeconds] { Serve(Scaled(lifetimeSeconds)); });
}

TokenEndpoint::~TokenEndpoint() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

void TokenEndpoint::Serve(int lifetimeSeconds) {
  const long long deadline = NowMs() + lifetimeSeconds * 1000LL;
  while (!stop_ && NowMs() < deadline) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    Answer(fd);
    ::close(fd);
  }
}

void TokenEndpoint::Answer(int fd) {
  const std::string request = ReadRequest(fd, NowMs() + 5000);
  ++requests_;
  const size_t bodyStart = request.find("\r\n\r\n");
  const std::string body = bodyStart == std::string::npos ? "" : request.substr(bodyStart + 4);
  // Dovecot adds its (empty) client credentials after the token.
  const std::string field = "token=" + token_;
  const bool known = body == field || body.starts_with(field + "&") ||
                     request.find("Authorization: Bearer " + token_ + "\r\n") != std::string::npos;
  if (known) ++accepted_;
  const std::string json = known ? R"({"active":true,"username":")" + user_ + "\"}" : R"({"active":false})";
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                            std::to_string(json.size()) + "\r\nConnection: close\r\n\r\n" + json;
  ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

}  // namespace quillo::test
