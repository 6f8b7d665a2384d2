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

int SpawnAndWait(char* const argv[], bool searchPath) {
  FlushOut();
  pid_t pid = 0;
  int rc = searchPath ? posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ)
                      : posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) {
    // posix_spawnp reports an unknown program as exit status 127 from the child.
    return WEXITSTATUS(status);
  }
  return -1;
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
