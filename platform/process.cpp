#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/output.h"

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

int SpawnAndWait(char* const argv[], bool searchPath) {
  FlushOut();
  SpawnAttributes attributes;
  ForegroundChild foreground;
  pid_t pid = 0;
  int rc = searchPath ? posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv, environ)
                      : posix_spawn(&pid, argv[0], nullptr, attributes.get(), argv, environ);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  // posix_spawnp reports an unknown program as exit status 127 from the child.
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

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
