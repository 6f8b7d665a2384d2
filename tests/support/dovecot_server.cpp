#include "tests/support/dovecot_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDovecotProgram = "/usr/sbin/dovecot";
constexpr int kLaunchAttempts = 5;
constexpr int kStartWaitMs = 10000;
constexpr int kStopWaitMs = 5000;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteAll(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return static_cast<bool>(out);
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A blocking POP3 client connection with bounded waits.
class Pop3Client {
 public:
  explicit Pop3Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) Close();
  }
  ~Pop3Client() { Close(); }
  Pop3Client(const Pop3Client&) = delete;
  Pop3Client& operator=(const Pop3Client&) = delete;

  bool Connected() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // One line without CR LF; nothing on time-out or close.
  std::optional<std::string> Line() {
    for (;;) {
      size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
      }
      char chunk[4096];
      ssize_t n = fd_ < 0 ? -1 : ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Sends a command and tells whether the reply is positive.
  bool Command(const std::string& command) {
    std::string line = command + "\r\n";
    if (fd_ < 0 || ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
      return false;
    auto reply = Line();
    return reply && !reply->empty() && (*reply)[0] == '+';
  }
  // The rest of a multi-line response, unstuffed, with CR LF line ends.
  std::optional<std::string> MultiLine() {
    std::string out;
    for (;;) {
      auto line = Line();
      if (!line) return std::nullopt;
      if (*line == ".") return out;
      out += (line->size() >= 2 && (*line)[0] == '.' ? line->substr(1) : *line) + "\r\n";
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

// Waits for the greeting of a server at `port`.
bool Greets(int port) {
  Pop3Client client(port);
  if (!client.Connected()) return false;
  auto greeting = client.Line();
  return greeting && greeting->rfind("+OK", 0) == 0;
}

bool Exited(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

bool DovecotInstalled() { return ::access(kDovecotProgram, X_OK) == 0; }

DovecotServer::DovecotServer(const DovecotTls& tls, const DovecotOauth& oauth) : tls_(tls), oauth_(oauth) {
  if (!DovecotInstalled()) {
    error_ = "dovecot is not installed";
    return;
  }
  if (Prepare()) Launch();
}

DovecotServer::~DovecotServer() {
  Stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
}

bool DovecotServer::Prepare() {
  char pattern[] = "/tmp/quillo-dovecot-XXXXXX";
  if (!::mkdtemp(pattern)) {
    error_ = "cannot make a temporary directory";
    return false;
  }
  dir_ = pattern;
  // The mail processes run as another user, who must reach the maildir.
  ::chmod(dir_.c_str(), 0755);
  if (::geteuid() == 0) {
    // Dovecot serves no mail as root: the mail processes run as nobody.
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) {
      error_ = "no user nobody";
      return false;
    }
    mailUid_ = nobody->pw_uid;
    mailGid_ = nobody->pw_gid;
  } else {
    mailUid_ = ::getuid();
    mailGid_ = ::getgid();
  }
  std::error_code ec;
  for (const char* sub : {"run", "state", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp"}) {
    fs::create_directories(dir_ + "/" + sub, ec);
    if (ec) {
      error_ = "cannot create " + std::string(sub);
      return false;
    }
  }
  for (const char* sub : {"home", "home/Maildir", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp"}) {
    if (::chown((dir_ + "/" + sub).c_str(), mailUid_, mailGid_) != 0 && ::geteuid() == 0) {
      error_ = "cannot hand the maildir over";
      return false;
    }
  }
  return WriteAll(dir_ + "/passwd", std::string(kUser) + ":{PLAIN}" + kPassword + "::::::\n");
}

std::string DovecotServer::SslText() const {
  if (tls_.certFile.empty()) return "ssl = no\n";
  return "ssl = required\nssl_cert = <" + tls_.certFile + "\nssl_key = <" + tls_.keyFile +
         "\nssl_min_protocol = TLSv1.2\n";
}

std::string DovecotServer::AuthText() const {
  const std::string passwords = "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " + dir_ + "/passwd\n}\n";
  if (oauth_.introspectionUrl.empty()) return "auth_mechanisms = plain\n" + passwords;
  WriteAll(dir_ + "/oauth2.conf", "introspection_mode = post\nintrospection_url = " + oauth_.introspectionUrl +
                                       "\nusername_attribute = username\nactive_attribute = active\n"
                                       "active_value = true\n");
  return "auth_mechanisms = plain xoauth2 oauthbearer\n" + passwords +
         "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + dir_ + "/oauth2.conf\n}\n";
}

std::string DovecotServer::ConfigText() const {
  const bool root = ::geteuid() == 0;
  std::string internalUser = "dovecot", loginUser = "dovenull", internalGroup = "dovecot";
  if (!root) {
    // Without root nothing can change hands: every process runs as we do.
    const passwd* me = ::getpwuid(::getuid());
    const group* mine = ::getgrgid(::getgid());
    internalUser = loginUser = me ? me->pw_name : "nobody";
    internalGroup = mine ? mine->gr_name : "nogroup";
  }
  std::ostringstream c;
  c << "base_dir = " << dir_ << "/run\n"
    << "state_dir = " << dir_ << "/state\n"
    << "log_path = " << dir_ << "/dovecot.log\n"
    << "protocols = pop3\n"
    << "listen = 127.0.0.1\n"
    << SslText()
    << "disable_plaintext_auth = no\n"
    << AuthText()
    // Wrong passwords are answered at once.
    << "auth_failure_delay = 0\n"
    << "mail_location = maildir:" << dir_ << "/home/Maildir\n"
    << "first_valid_uid = 1\n"
    << "default_internal_user = " << internalUser << "\n"
    << "default_login_user = " << loginUser << "\n"
    << "default_internal_group = " << internalGroup << "\n"
    << "pop3_logout_format = top=%t/%p, retr=%r/%b, del=%d/%m, size=%s\n"
    << "service pop3-login {\n"
    << "  inet_listener pop3 {\n"
    << "    address = 127.0.0.1\n"
    << "    port = " << port_ << "\n"
    << "  }\n"
    << (tls_.certFile.empty() ? std::string()
                              : "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " +
                                    std::to_string(tlsPort_) + "\n    ssl = yes\n  }\n")
    << (root ? "" : "  chroot =\n")
    << "}\n"
    << (root ? "service auth {\n  user = root\n}\n"
             : "service anvil {\n  chroot =\n}\nservice auth-worker {\n  user = $default_internal_user\n}\n")
    << "userdb {\n  driver = static\n  args = uid=" << mailUid_ << " gid=" << mailGid_ << " home=" << dir_
    << "/home\n}\n";
  return c.str();
}

bool DovecotServer::Launch() {
  const std::string config = dir_ + "/dovecot.conf";
  const std::string output = dir_ + "/stdout.log";
  for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
    // The port is free now; should another program take it first, the
    // server ends at once and the next attempt picks another.
    port_ = UnusedLocalPort();
    if (!tls_.certFile.empty()) {
      do tlsPort_ = UnusedLocalPort();
      while (tlsPort_ == port_);
    }
    if (!WriteAll(config, ConfigText())) {
      error_ = "cannot write the configuration";
      return false;
    }
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
      error_ = "fork failed";
      return false;
    }
    if (pid == 0) {
      ::setpgid(0, 0);
      // Should the test process die without its destructors, so does the server.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(1);
      int in = ::open("/dev/null", O_RDONLY);
      int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execl(kDovecotProgram, "dovecot", "-F", "-c", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::setpgid(pid, pid);
    pid_ = pid;
    for (int waited = 0; waited < Scaled(kStartWaitMs); waited += 50) {
      if (Exited(pid)) {
        pid_ = -1;
        break;
      }
      if (Greets(port_)) return true;
      SleepMs(50);
    }
    if (pid_ > 0) Stop();
    error_ = "dovecot did not start: " + ReadAll(output) + Log();
  }
  return false;
}

void DovecotServer::Stop() {
  if (pid_ <= 0) return;
  const pid_t group = pid_;
  ::kill(pid_, SIGTERM);
  bool exited = false;
  for (int waited = 0; waited < kStopWaitMs && !exited; waited += 20) {
    exited = Exited(pid_);
    if (!exited) SleepMs(20);
  }
  if (!exited) {
    ::kill(-group, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  // The master takes its children along; whatever of its group lingers goes now.
  ::kill(-group, SIGKILL);
}

bool DovecotServer::AddMessage(const std::string& content) {
  std::string text;
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    text += content[i];
  }
  // Names in delivery order: the server numbers new mail by name.
  ++delivered_;
  const std::string name = std::to_string(1700000000 + delivered_) + ".M" + std::to_string(delivered_) + "P1.quillo";
  const std::string tmp = dir_ + "/home/Maildir/tmp/" + name;
  if (!WriteAll(tmp, text)) return false;
  ::chown(tmp.c_str(), mailUid_, mailGid_);
  return ::rename(tmp.c_str(), (dir_ + "/home/Maildir/new/" + name).c_str()) == 0;
}

bool DovecotServer::RemoveMessageContaining(const std::string& needle) {
  for (const char* sub : {"/home/Maildir/new", "/home/Maildir/cur"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_ + sub, ec)) {
      if (!entry.is_regular_file()) continue;
      if (ReadAll(entry.path()).find(needle) == std::string::npos) continue;
      return fs::remove(entry.path(), ec);
    }
  }
  return false;
}

std::optional<std::vector<std::string>> DovecotServer::Messages() const {
  Pop3Client client(port_);
  if (!client.Connected() || !client.Line()) return std::nullopt;
  if (!client.Command(std::string("USER ") + kUser) || !client.Command(std::string("PASS ") + kPassword))
    return std::nullopt;
  if (!client.Command("LIST")) return std::nullopt;
  auto listing = client.MultiLine();
  if (!listing) return std::nullopt;
  std::vector<std::string> messages;
  std::istringstream lines(*listing);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string number = line.substr(0, line.find(' '));
    if (!client.Command("RETR " + number)) return std::nullopt;
    auto message = client.MultiLine();
    if (!message) return std::nullopt;
    messages.push_back(*message);
  }
  client.Command("QUIT");
  return messages;
}

std::string DovecotServer::Log() const { return dir_.empty() ? std::string() : ReadAll(dir_ + "/dovecot.log"); }

std::vector<DovecotServer::Session> DovecotServer::Sessions(size_t count, int timeoutMs) const {
  static const std::regex kLoggedOut(R"(pop3\(.*Logged out top=(\d+)/\d+, retr=(\d+)/\d+, del=(\d+)/)");
  std::vector<Session> sessions;
  for (int waited = 0;; waited += 50) {
    sessions.clear();
    std::istringstream log(Log());
    std::string line;
    std::smatch m;
    while (std::getline(log, line)) {
      if (std::regex_search(line, m, kLoggedOut))
        sessions.push_back({std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])});
    }
    if (sessions.size() >= count || waited >= Scaled(timeoutMs)) return sessions;
    SleepMs(50);
  }
}

}  // namespace quillo::test
