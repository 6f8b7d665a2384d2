#include "tests/support/smtp_server.h"

#include "tests/support/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillo::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPython = "/usr/bin/python3";
// The server ends by itself after this many seconds, should a test process
// die without stopping it.
constexpr int kServerLifetimeSeconds = 150;

std::string ReadAll(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Waits up to `ms` for `pid` to end; true when it has ended (and was reaped).
bool WaitForExit(pid_t pid, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pid_t r = waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    if (Clock::now() >= deadline) return false;
    usleep(20 * 1000);
  }
}

int LeftMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

namespace {

// The script's arguments after DIR and LIFETIME.
std::vector<std::string> OptionArguments(const SmtpCaptureOptions& options) {
  std::vector<std::string> args;
  if (options.tls != SmtpCaptureOptions::Tls::kNone) {
    args.push_back(options.tls == SmtpCaptureOptions::Tls::kStartTls ? "--starttls" : "--tls");
    args.push_back(options.certFile);
    args.push_back(options.keyFile);
  }
  if (!options.user.empty()) {
    args.push_back("--auth");
    args.push_back(options.user);
    args.push_back(options.password);
  }
  if (!options.oauthUser.empty()) {
    args.push_back("--oauth");
    args.push_back(options.oauthUser);
    args.push_back(options.oauthToken);
  }
  return args;
}

}  // namespace

SmtpCaptureServer::SmtpCaptureServer(const SmtpCaptureOptions& options) {
  std::string tmpl = (fs::temp_directory_path() / "quillo-smtp-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  const std::string script = std::string(QUILLO_SOURCE_DIR) + "/tests/support/smtp_capture.py";
  const std::string log = dir_ + "/log";
  std::vector<std::string> args{kPython, script, dir_, std::to_string(Scaled(kServerLifetimeSeconds))};
  for (std::string& arg : OptionArguments(options)) args.push_back(std::move(arg));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = open("/dev/null", O_RDONLY);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    if (null >= 0) dup2(null, 0);
    execv(kPython, argv.data());
    _exit(127);
  }
  const auto deadline = Clock::now() + std::chrono::seconds(Scaled(10));
  while (Clock::now() < deadline) {
    std::string text = ReadAll(dir_ + "/port");
    if (!text.empty()) {
      port_ = std::atoi(text.c_str());
      break;
    }
    if (WaitForExit(pid_, 0)) {
      pid_ = -1;  // it ended before listening: see Log()
      break;
    }
    usleep(20 * 1000);
  }
}

SmtpCaptureServer::~SmtpCaptureServer() {
  Stop();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

void SmtpCaptureServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!WaitForExit(pid_, 3000)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

std::string SmtpCaptureServer::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<CapturedMessage> SmtpCaptureServer::Messages() const {
  std::vector<CapturedMessage> out;
  for (int n = 0;; ++n) {
    const fs::path env = fs::path(dir_) / (std::to_string(n) + ".env");
    if (!fs::exists(env)) break;
    CapturedMessage m;
    std::istringstream lines(ReadAll(env));
    std::getline(lines, m.mailFrom);
    for (std::string rcpt; std::getline(lines, rcpt);) m.rcptTo.push_back(rcpt);
    m.wire = ReadAll(fs::path(dir_) / (std::to_string(n) + ".wire"));
    std::istringstream session(ReadAll(fs::path(dir_) / (std::to_string(n) + ".session")));
    for (std::string line; std::getline(session, line);) {
      if (line == "tls=1") m.secured = true;
      if (line.starts_with("login=")) m.login = line.substr(6);
      if (line.starts_with("sni=")) m.sni = line.substr(4);
    }
    out.push_back(std::move(m));
  }
  return out;
}

std::string SmtpCaptureServer::Log() const { return ReadAll(fs::path(dir_) / "log"); }

ScriptedSmtpServer::ScriptedSmtpServer(SmtpScript script, int limitMs) : script_(std::move(script)), limitMs_(limitMs) {
  listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&sin), len) != 0 || listen(listenFd_, 4) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    throw std::runtime_error("scripted SMTP server: cannot listen");
  }
  port_ = ntohs(sin.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
  Finish();
  if (listenFd_ >= 0) close(listenFd_);
}

std::string ScriptedSmtpServer::Address() const { return "127.0.0.1:" + std::to_string(port_); }

void ScriptedSmtpServer::Finish() {
  if (thread_.joinable()) thread_.join();
}

std::vector<std::string> ScriptedSmtpServer::Commands() {
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::string ScriptedSmtpServer::Data() {
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  return data_;
}

bool ScriptedSmtpServer::ClosedInData() {
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  return closedInData_;
}

namespace {

// One accepted connection of the scripted server.
class Conversation {
 public:
  Conversation(int fd, Clock::time_point deadline) : fd_(fd), deadline_(deadline) {}
  ~Conversation() { close(fd_); }

  // Sends `reply` with CR LF; false (nothing sent) for an empty reply.
  bool Reply(const std::string& reply) {
    if (reply.empty()) return false;
    std::string line = reply + "\r\n";
    return send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  }

  // Reads more bytes into `in`; false when the peer closed or time ran out.
  bool Receive(std::string& in) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, LeftMs(deadline_)) <= 0) return false;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
    return true;
  }

 private:
  int fd_;
  Clock::time_point deadline_;
};

bool StartsWithCommand(const std::string& line, const char* verb) { return strncasecmp(line.c_str(), verb, 4) == 0; }

}  // namespace

void ScriptedSmtpServer::Serve() {
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(limitMs_));
  pollfd p{listenFd_, POLLIN, 0};
  if (poll(&p, 1, LeftMs(deadline)) <= 0) return;
  int fd = accept(listenFd_, nullptr, nullptr);
  if (fd < 0) return;
  Conversation talk(fd, deadline);
  for (const std::string& line : script_.greeting) {
    if (!talk.Reply(line)) return;
  }
  std::string in;
  bool inData = false;
  size_t rcptCount = 0;
  for (;;) {
    if (inData) {
      const bool ended = in == ".\r\n" || (in.size() >= 5 && in.compare(in.size() - 5, 5, "\r\n.\r\n") == 0);
      if (ended) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          data_ = in;
        }
        in.clear();
        inData = false;
        if (!talk.Reply(script_.endOfData)) return;
        continue;
      }
      if (!talk.Receive(in)) {
        std::lock_guard<std::mutex> lock(mutex_);
        data_ = in;
        closedInData_ = true;
        return;
      }
      continue;
    }
    size_t end = in.find("\r\n");
    if (end == std::string::npos) {
      if (!talk.Receive(in)) return;
      continue;
    }
    const std::string line = in.substr(0, end);
    in.erase(0, end + 2);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(line);
    }
    std::string reply = "500 unknown command";
    if (StartsWithCommand(line, "HELO")) {
      reply = script_.helo;
    } else if (StartsWithCommand(line, "EHLO")) {
      reply = script_.ehlo;
    } else if (StartsWithCommand(line, "AUTH")) {
      reply = script_.auth;
    } else if (StartsWithCommand(line, "MAIL")) {
      reply = script_.mailFrom;
    } else if (StartsWithCommand(line, "RCPT")) {
      reply = rcptCount < script_.rcpt.size() ? script_.rcpt[rcptCount] : script_.rcptDefault;
      ++rcptCount;
    } else if (StartsWithCommand(line, "DATA")) {
      if (script_.onData) script_.onData();
      reply = script_.data;
      inData = reply.starts_with("354");
    } else if (StartsWithCommand(line, "QUIT")) {
      talk.Reply(script_.quit);
      return;
    }
    if (!talk.Reply(reply)) return;
  }
}

std::string DeliveredForm(const std::string& wire) {
  const std::string data = wire.size() >= 3 ? wire.substr(0, wire.size() - 3) : "";
  std::string out;
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find("\r\n", pos);
    end = end == std::string::npos ? data.size() : end + 2;
    std::string line = data.substr(pos, end - pos);
    if (line.starts_with(".")) line.erase(0, 1);
    out += line;
    pos = end;
  }
  return out;
}

}  // namespace quillo::test
