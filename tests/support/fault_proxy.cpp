#include "tests/support/fault_proxy.h"

#include "tests/support/harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace quillo::test {

namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

bool SendAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

FaultProxy::FaultProxy(int serverPort, CutRule rule, int limitMs)
    : rule_(std::move(rule)), serverPort_(serverPort), limitMs_(limitMs) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(listenFd_, 4) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    throw std::runtime_error("fault proxy: cannot listen");
  }
  port_ = ntohs(sin.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

FaultProxy::~FaultProxy() {
  Finish();
  if (listenFd_ >= 0) ::close(listenFd_);
}

void FaultProxy::Finish() {
  if (thread_.joinable()) thread_.join();
}

bool FaultProxy::Cut() {
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  return cut_;
}

std::vector<std::string> FaultProxy::ClientLines() {
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void FaultProxy::Serve() {
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(limitMs_));
  pollfd p{listenFd_, POLLIN, 0};
  if (::poll(&p, 1, LeftMs(deadline)) <= 0) return;
  int client = ::accept(listenFd_, nullptr, nullptr);
  if (client < 0) return;
  int server = ConnectLoopback(serverPort_);
  if (server >= 0) {
    Relay(client, server);
    ::close(server);
  }
  ::close(client);
}

void FaultProxy::Relay(int client, int server) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(limitMs_));
  bool armed = false;
  size_t budget = rule_.bytes;
  std::string pending;  // client bytes not yet passed on: an unfinished line
  auto cut = [&] {
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mutex_);
    cut_ = true;
  };
  // Passes the client's bytes on; false once the cut is made.
  auto passClientText = [&]() -> bool {
    for (;;) {
      if (armed && rule_.at == CutRule::At::kInClientText) {
        const size_t n = std::min(budget, pending.size());
        SendAll(server, pending.data(), n);
        pending.erase(0, n);
        budget -= n;
        if (budget == 0) {
          cut();
          return false;
        }
        return true;
      }
      const size_t lf = pending.find('\n');
      if (lf == std::string::npos) return true;
      const std::string line = pending.substr(0, lf + 1);
      pending.erase(0, lf + 1);
      const std::string text = WithoutLineEnd(line);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(text);
      }
      if (!armed && text == rule_.line) {
        armed = true;
        if (rule_.at == CutRule::At::kInsteadOfLine) {
          cut();
          return false;
        }
      }
      SendAll(server, line.data(), line.size());
    }
  };
  char buf[65536];
  while (LeftMs(deadline) > 0) {
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(fds, 2, std::min(LeftMs(deadline), 100)) <= 0) continue;
    if (fds[1].revents) {
      ssize_t n = ::recv(server, buf, sizeof buf, 0);
      if (n <= 0) return;
      size_t pass = static_cast<size_t>(n);
      const bool cutting = armed && rule_.at == CutRule::At::kInReply && pass > budget;
      if (armed && rule_.at == CutRule::At::kInReply) {
        pass = std::min(pass, budget);
        budget -= pass;
      }
      SendAll(client, buf, pass);
      if (cutting) {
        cut();
        return;
      }
    }
    if (fds[0].revents) {
      ssize_t n = ::recv(client, buf, sizeof buf, 0);
      if (n <= 0) {
        SendAll(server, pending.data(), pending.size());
        return;
      }
      pending.append(buf, static_cast<size_t>(n));
      if (!passClientText()) return;
    }
  }
}

}  // namespace quillo::test
