#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/first_line.h"
#include "platform/output.h"
#include "platform/strings.h"

extern char** environ;

namespace quillo {

void InitProcess() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

std::optional<std::string> GetEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

std::optional<std::string> UserShell() { return GetEnv("SHELL"); }

std::string UserSettingsDirectory() {
  auto xdg = GetEnv("XDG_CONFIG_HOME");
  if (xdg && !xdg->empty()) return WithoutTrailingSeparator(*xdg) + "/quillo/";
  if (auto home = GetEnv("HOME"); home && !home->empty()) return WithoutTrailingSeparator(*home) + "/.config/quillo/";
  return {};
}

bool ProcessRunning(long pid) {
  if (pid <= 0 || pid != static_cast<pid_t>(pid)) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

namespace {

// While a child runs in the foreground, Ctrl+C belongs to it: the terminal
// sends the signal to both, and only the child should end (as system(3) does).
class ForegroundChild {
 public:
  ForegroundChild() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &oldInt_);
    sigaction(SIGQUIT, &ignore, &oldQuit_);
  }
  ~ForegroundChild() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGQUIT, &oldQuit_, nullptr);
  }
  ForegroundChild(const ForegroundChild&) = delete;
  ForegroundChild& operator=(const ForegroundChild&) = delete;

 private:
  struct sigaction oldInt_ {}, oldQuit_ {};
};

// The child starts with the signals this program ignores for itself back at
// their defaults.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attr_);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGQUIT, SIGPIPE, SIGXFSZ}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// The raw wait status of `pid`, or nothing when it cannot be waited for.
std::optional<int> WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  return status;
}

int SpawnAndWait(char* const argv[], bool searchPath) {
  FlushOut();
  SpawnAttributes attributes;
  ForegroundChild foreground;
  pid_t pid = 0;
  int rc = searchPath ? posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv, environ)
                      : posix_spawn(&pid, argv[0], nullptr, attributes.get(), argv, environ);
  if (rc != 0) return -1;
  const std::optional<int> status = WaitFor(pid);
  // posix_spawnp reports an unknown program as exit status 127 from the child.
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// Both ends of a pipe, closed on leaving; the read end is kept from every
// other child.
class Pipe {
 public:
  Pipe() {
    if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    if (fds_[0] >= 0) fcntl(fds_[0], F_SETFD, FD_CLOEXEC);
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool Ok() const { return fds_[0] >= 0; }
  int Read() const { return fds_[0]; }
  int Write() const { return fds_[1]; }
  void CloseRead() { CloseEnd(fds_[0]); }
  void CloseWrite() { CloseEnd(fds_[1]); }

 private:
  static void CloseEnd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int fds_[2];
};

// Reads the first line of `fd` into `out` and drains the rest.
void ReadFirstLine(int fd, size_t longest, CommandLineOutput& out) {
  ReadFirstLineFrom(
      [fd](char* chunk, size_t size) -> long {
        for (;;) {
          const ssize_t n = read(fd, chunk, size);
          if (n < 0 && errno == EINTR) continue;
          return static_cast<long>(n);
        }
      },
      longest, out);
}

}  // namespace

CommandLineOutput RunCommandForLine(const std::string& commandLine, size_t longest) {
  CommandLineOutput out;
  FlushOut();
  Pipe output;
  if (!output.Ok()) return out;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output.Write(), STDOUT_FILENO);
  SpawnAttributes attributes;
  ForegroundChild foreground;
  std::string sh = "/bin/sh", dashC = "-c", cmd = commandLine;
  char* argv[] = {sh.data(), dashC.data(), cmd.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, attributes.get(), argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  output.CloseWrite();
  if (rc != 0) return out;
  out.started = true;
  ReadFirstLine(output.Read(), longest, out);
  // A command still writing gets a broken pipe instead of a reader.
  output.CloseRead();
  const std::optional<int> status = WaitFor(pid);
  if (!status) return out;
  out.exited = WIFEXITED(*status);
  out.status = out.exited ? WEXITSTATUS(*status) : (WIFSIGNALED(*status) ? WTERMSIG(*status) : -1);
  return out;
}

int RunCommandLine(const std::string& commandLine) {
  std::string sh = "/bin/sh", dashC = "-c", cmd = commandLine;
  char* argv[] = {sh.data(), dashC.data(), cmd.data(), nullptr};
  return SpawnAndWait(argv, false);
}

int RunProgram(const std::string& program) {
  std::string prog = program;
  char* argv[] = {prog.data(), nullptr};
  return SpawnAndWait(argv, true);
}

}  // namespace quillo
