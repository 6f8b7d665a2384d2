#include "tests/support/harness.h"

#include "platform/keys.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillo::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

Sandbox::Sandbox() {
  std::string tmpl = (fs::temp_directory_path() / "quillo-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
}

Sandbox::~Sandbox() {
  std::error_code ec;
  // Make everything writable again (tests may have made parts read-only).
  for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(dir_, ec);
}

void Sandbox::WriteFile(const std::string& relative, const std::string& content) const {
  fs::path p = Path(relative);
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f << content;
}

std::string Sandbox::ReadFile(const std::string& relative) const {
  std::ifstream f(Path(relative), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool Sandbox::Exists(const std::string& relative) const { return fs::exists(Path(relative)); }

void Sandbox::MakeDir(const std::string& relative) const { fs::create_directories(Path(relative)); }

std::vector<std::string> Sandbox::List(const std::string& relative) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(Path(relative), ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void Sandbox::WriteIni(const std::string& extra) const {
  WriteFile("quillo.ini", "mailbox=" + Path("mbox") + "\ntmp=" + Path("tmp") +
                              "\nPOPserver=127.0.0.1\nPOPLogin=user\nmailto=user@example.com\n" + extra);
}

void Sandbox::MakeMailbox() const {
  for (const char* d : {"mbox/inbox", "mbox/outbox", "mbox/trash", "tmp"}) MakeDir(d);
}

int ParseTimeScale(const char* text) {
  constexpr int kMost = 100;
  if (!text || !*text) return 1;
  int value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return 1;
    value = std::min(kMost, value * 10 + (*p - '0'));
  }
  return std::max(1, value);
}

int TimeScale() {
  static const int scale = ParseTimeScale(std::getenv("QUILLO_TIME_SCALE"));
  return scale;
}

int Scaled(int amount) {
  return static_cast<int>(std::min<long long>(INT_MAX, static_cast<long long>(amount) * TimeScale()));
}

Env BaseEnv(const std::string& home) {
  return {{"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"HOME", home}, {"LC_ALL", "C"}, {"TZ", "UTC"}};
}

const std::string& ProgramUnderTest() {
  static const std::string program = [] {
    const char* other = std::getenv("QUILLO_PROGRAM");
    return std::string(other && *other ? other : QUILLO_BINARY);
  }();
  return program;
}

std::vector<std::string> ProgramCommand(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ProgramUnderTest()};
  argv.insert(argv.end(), args.begin(), args.end());
  // QUILLO_WRAPPER (for example "valgrind --error-exitcode=99") runs the
  // program under another one; the shell splits its words and execs it, so
  // the process started is the one a signal reaches.
  const char* wrapper = getenv("QUILLO_WRAPPER");
  if (wrapper && *wrapper) {
    argv.insert(argv.begin(), {"/bin/sh", "-c", std::string("exec ") + wrapper + " \"$@\"", "quillo-wrapper"});
  }
  return argv;
}

RunResult Sandbox::Run(const std::vector<std::string>& args, const std::string& input, const Env& env,
                       int timeoutSeconds) const {
  Env full = BaseEnv(dir_);
  for (const auto& [k, v] : env) full[k] = v;
  return RunProgram(ProgramUnderTest(), args, dir_, full, input, timeoutSeconds);
}

namespace {

std::vector<std::string> EnvStrings(const Env& env) {
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

[[noreturn]] void ExecChild(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                            const Env& env) {
  if (chdir(cwd.c_str()) != 0) _exit(126);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  if (program == ProgramUnderTest()) argv = ProgramCommand(args);
  std::vector<std::string> envs = EnvStrings(env);
  auto cargv = CStrings(argv);
  auto cenv = CStrings(envs);
  signal(SIGPIPE, SIG_DFL);
  execve(argv[0].c_str(), cargv.data(), cenv.data());
  _exit(127);
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                     const Env& env, const std::string& input, int timeoutSeconds) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
  // A program that ends without reading all its input must fail the write
  // below (EPIPE), not kill the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    ExecChild(program, args, cwd, env);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  SetNonBlocking(inPipe[1]);
  SetNonBlocking(outPipe[0]);
  SetNonBlocking(errPipe[0]);

  RunResult result;
  size_t written = 0;
  int inFd = inPipe[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  bool outOpen = true, errOpen = true;
  const auto deadline = Clock::now() + std::chrono::seconds(Scaled(timeoutSeconds));
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                     {errOpen ? errPipe[0] : -1, POLLIN, 0},
                     {inFd, POLLOUT, 0}};
    poll(fds, 3, static_cast<int>(std::min<long long>(left, 200)));
    char buf[65536];
    if (fds[0].revents) {
      ssize_t n = read(outPipe[0], buf, sizeof buf);
      if (n > 0) result.out.append(buf, static_cast<size_t>(n));
      else if (n == 0 || errno != EAGAIN) outOpen = false;
    }
    if (fds[1].revents) {
      ssize_t n = read(errPipe[0], buf, sizeof buf);
      if (n > 0) result.err.append(buf, static_cast<size_t>(n));
      else if (n == 0 || errno != EAGAIN) errOpen = false;
    }
    if (inFd >= 0 && fds[2].revents) {
      ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) written = input.size();
      if (written >= input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

bool Sandbox::RunKilledAfter(const std::vector<std::string>& args, int killAfterMs, const Env& env) const {
  Env full = BaseEnv(dir_);
  for (const auto& [k, v] : env) full[k] = v;
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null, fd);
    if (null > 2) close(null);
    ExecChild(ProgramUnderTest(), args, dir_, full);
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(killAfterMs);
  int status = 0;
  while (Clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    usleep(1000);
  }
  const bool ran = waitpid(pid, &status, WNOHANG) == 0;
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return ran;
}

PtySession::PtySession(const Sandbox& box, const std::vector<std::string>& args, const Env& env) {
  Env full = BaseEnv(box.dir());
  full["TERM"] = "xterm";
  for (const auto& [k, v] : env) full[k] = v;
  struct winsize ws {};
  ws.ws_row = 25;
  ws.ws_col = 80;
  pid_ = forkpty(&master_, nullptr, nullptr, &ws);
  if (pid_ < 0) throw std::runtime_error("forkpty failed");
  if (pid_ == 0) ExecChild(ProgramUnderTest(), args, box.dir(), full);
  SetNonBlocking(master_);
}

PtySession::~PtySession() {
  if (!exited_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

void PtySession::Pump(int timeoutMs) {
  pollfd p{master_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return;
  char buf[4096];
  for (;;) {
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    output_.append(buf, static_cast<size_t>(n));
  }
}

bool PtySession::WaitFor(const std::string& text, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
  for (;;) {
    auto pos = output_.find(text, matched_);
    if (pos != std::string::npos) {
      matched_ = pos + text.size();
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    Pump(static_cast<int>(std::min<long long>(left, 100)));
  }
}

void PtySession::Send(const std::string& keys) {
  size_t done = 0;
  while (done < keys.size()) {
    ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (errno != EAGAIN) break;
    else Pump(10);
  }
}

void PtySession::Signal(int sig) {
  if (!exited_ && pid_ > 0) kill(pid_, sig);
}

int PtySession::Finish(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
  while (!exited_) {
    Pump(50);
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      Pump(0);
      break;
    }
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      exited_ = true;
      status_ = -1;
    }
  }
  return status_;
}

}  // namespace quillo::test

namespace quillo::test {

PtyCallResult PtyCall(const std::function<int()>& body, const std::string& keys, int timeoutMs) {
  int master = -1;
  struct winsize ws {};
  ws.ws_row = 25;
  ws.ws_col = 80;
  std::fflush(stdout);
  pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid < 0) throw std::runtime_error("forkpty failed");
  if (pid == 0) {
    // Keys may arrive before the program switches to raw mode for its first
    // key: the terminal must neither echo them nor turn Ctrl+C into a signal.
    struct termios t {};
    tcgetattr(0, &t);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ISIG | ICANON);
    t.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
    tcsetattr(0, TCSANOW, &t);
    int rc = body();
    std::fflush(stdout);
    _exit(rc & 0xFF);
  }
  SetNonBlocking(master);
  PtyCallResult out;
  size_t sent = 0;
  int status = 0;
  bool exited = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
  const auto start = Clock::now();
  while (Clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    poll(&p, 1, 20);
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) out.output.append(buf, static_cast<size_t>(n));
    if (sent < keys.size() && Clock::now() - start > std::chrono::milliseconds(100)) {
      ssize_t w = write(master, keys.data() + sent, 1);  // one key at a time, as typed
      if (w > 0) sent += static_cast<size_t>(w);
    }
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
    if (exited) {
      // What the child wrote last may still be on its way through the terminal.
      pollfd last{master, POLLIN, 0};
      while (poll(&last, 1, 50) > 0 && (n = read(master, buf, sizeof buf)) > 0)
        out.output.append(buf, static_cast<size_t>(n));
      break;
    }
  }
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    int code = WEXITSTATUS(status);
    out.result = code > 127 ? code - 256 : code;
  }
  close(master);
  return out;
}

std::string WithPipedKeys(const std::string& keys, const std::function<void()>& body) {
  char inName[] = "/tmp/quillo-keys-XXXXXX";
  char outName[] = "/tmp/quillo-out-XXXXXX";
  int inFd = mkstemp(inName);
  int outFd = mkstemp(outName);
  if (write(inFd, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) throw std::runtime_error("write");
  lseek(inFd, 0, SEEK_SET);
  std::fflush(stdout);
  int savedIn = dup(0), savedOut = dup(1);
  dup2(inFd, 0);
  dup2(outFd, 1);
  ResetConsoleKeys();
  body();
  ResetConsoleKeys();
  std::fflush(stdout);
  dup2(savedIn, 0);
  dup2(savedOut, 1);
  close(savedIn);
  close(savedOut);
  close(inFd);
  close(outFd);
  std::ifstream f(outName, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  unlink(inName);
  unlink(outName);
  return ss.str();
}

}  // namespace quillo::test
