#include "tests/support/scripted_pop_server.h"

#include "tests/support/harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace quillo::test {

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool SendAllBytes(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Lines(const std::string& message) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < message.size()) {
    size_t end = message.find("\r\n", pos);
    if (end == std::string::npos) end = message.size();
    lines.push_back(message.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string Stuffed(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (!line.empty() && line[0] == '.' ? "." : "") + line + "\r\n";
  return out + ".\r\n";
}

int ListenOnLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(sin.sin_port);
  return fd;
}

}  // namespace

int UnusedLocalPort() {
  int port = 0;
  int fd = ListenOnLoopback(port);
  if (fd >= 0) ::close(fd);
  return port;
}

ScriptedPopServer::ScriptedPopServer(std::vector<std::string> messages, std::string password)
    : messages_(std::move(messages)), password_(std::move(password)) {
  for (std::string& m : messages_) {
    if (m.size() < 2 || m.compare(m.size() - 2, 2, "\r\n") != 0) m += "\r\n";
  }
}

ScriptedPopServer::~ScriptedPopServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

void ScriptedPopServer::Override(const std::string& command, Reply reply) { overrides_[command] = std::move(reply); }

bool ScriptedPopServer::Start(int lifetimeSeconds) {
  listenFd_ = ListenOnLoopback(port_);
  if (listenFd_ < 0) return false;
  thread_ = std::thread([this, lifetime = Scaled(lifetimeSeconds)] { Serve(lifetime); });
  return true;
}

std::vector<std::string> ScriptedPopServer::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

int ScriptedPopServer::CountCommands(const std::string& word) const {
  int n = 0;
  for (const std::string& c : Commands()) {
    if (Upper(c.substr(0, c.find(' '))) == word) ++n;
  }
  return n;
}

std::vector<int> ScriptedPopServer::Expunged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return expunged_;
}

void ScriptedPopServer::Serve(int lifetimeSeconds) {
  const long long deadline = NowMs() + lifetimeSeconds * 1000LL;
  while (!stop_ && NowMs() < deadline) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    Converse(fd, deadline);
    ::close(fd);
  }
}

void ScriptedPopServer::SendEndlessly(int fd, const std::string& bytes, long long deadlineMs) const {
  size_t done = 0;  // of the copy being sent, so that copies never interleave
  while (!stop_ && NowMs() < deadlineMs) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
    if (n > 0) done = (done + static_cast<size_t>(n)) % bytes.size();
  }
}

void ScriptedPopServer::Converse(int fd, long long deadlineMs) {
  deadlineMs_ = deadlineMs;
  if (greeting_.empty() || !SendAllBytes(fd, greeting_)) return;
  if (!greetingRepeat_.empty()) {
    SendEndlessly(fd, greetingRepeat_, deadlineMs);
    return;
  }
  std::vector<bool> deleted(messages_.size(), false);
  bool silent = false;
  std::string pending;
  while (!stop_ && NowMs() < deadlineMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    pending.append(buf, static_cast<size_t>(n));
    size_t lf;
    while ((lf = pending.find('\n')) != std::string::npos) {
      std::string command = pending.substr(0, lf);
      pending.erase(0, lf + 1);
      if (!command.empty() && command.back() == '\r') command.pop_back();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(command);
      }
      if (silent) continue;
      if (!Answer(fd, command, silent, deleted)) return;
    }
  }
}

bool ScriptedPopServer::Live(long number, const std::vector<bool>& deleted) const {
  return number >= 1 && static_cast<size_t>(number) <= messages_.size() && !deleted[static_cast<size_t>(number - 1)];
}

std::string ScriptedPopServer::Listing(const std::vector<bool>& deleted) const {
  std::string out = "+OK scan listing follows\r\n";
  for (size_t i = 0; i < messages_.size(); ++i) {
    if (!deleted[i]) out += std::to_string(i + 1) + " " + std::to_string(messages_[i].size()) + "\r\n";
  }
  return out + ".\r\n";
}

std::string ScriptedPopServer::Body(size_t index, int topLines) const {
  std::vector<std::string> lines = Lines(messages_[index]);
  if (topLines >= 0) {
    auto blank = std::find(lines.begin(), lines.end(), std::string());
    size_t keep = static_cast<size_t>(blank - lines.begin());
    if (blank != lines.end()) keep += 1 + static_cast<size_t>(topLines);
    lines.resize(std::min(keep, lines.size()));
  }
  return Stuffed(lines);
}

bool ScriptedPopServer::Answer(int fd, const std::string& command, bool& silent, std::vector<bool>& deleted) {
  const std::string word = Upper(command.substr(0, command.find(' ')));
  auto reply = overrides_.find(command);
  if (reply == overrides_.end()) reply = overrides_.find(word);
  if (reply != overrides_.end()) {
    SendAllBytes(fd, reply->second.bytes);
    if (!reply->second.repeat.empty()) {
      SendEndlessly(fd, reply->second.repeat, deadlineMs_);
      return false;
    }
    if (reply->second.then == Reply::Then::kSilence) silent = true;
    return reply->second.then != Reply::Then::kClose;
  }
  const std::string arg = command.find(' ') == std::string::npos ? "" : command.substr(command.find(' ') + 1);
  const long number = std::strtol(arg.c_str(), nullptr, 10);
  std::string out;
  if (word == "USER") {
    out = "+OK\r\n";
  } else if (word == "PASS") {
    out = arg == password_ ? "+OK logged in\r\n" : "-ERR authentication failed\r\n";
  } else if (word == "STAT") {
    size_t count = 0, total = 0;
    for (size_t i = 0; i < messages_.size(); ++i) {
      if (!deleted[i]) ++count, total += messages_[i].size();
    }
    out = "+OK " + std::to_string(count) + " " + std::to_string(total) + "\r\n";
  } else if (word == "LIST") {
    out = Listing(deleted);
  } else if (word == "TOP" && Live(number, deleted)) {
    int lines = std::atoi(arg.substr(arg.find(' ') + 1).c_str());
    out = "+OK\r\n" + Body(static_cast<size_t>(number - 1), lines);
  } else if (word == "RETR" && Live(number, deleted)) {
    out = "+OK " + std::to_string(messages_[static_cast<size_t>(number - 1)].size()) + " octets\r\n" +
          Body(static_cast<size_t>(number - 1), -1);
  } else if (word == "DELE" && Live(number, deleted)) {
    deleted[static_cast<size_t>(number - 1)] = true;
    out = "+OK deleted\r\n";
  } else if (word == "QUIT") {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> kept;
    for (size_t i = 0; i < messages_.size(); ++i) {
      if (deleted[i]) expunged_.push_back(static_cast<int>(i) + 1);
      else kept.push_back(messages_[i]);
    }
    messages_ = std::move(kept);
    SendAllBytes(fd, "+OK bye\r\n");
    return false;
  } else {
    out = "-ERR no such message\r\n";
  }
  return SendAllBytes(fd, out);
}

}  // namespace quillo::test
