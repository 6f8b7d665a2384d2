#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"

namespace quillo {
namespace {

// Runs `body` in a forked child so a signal that should not reach this
// process cannot end the test run; returns the child's exit status or -signal.
int InChild(int (*body)()) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(ProcessSignals, CtrlCDuringAChildEndsOnlyTheChild) {
  // The terminal sends SIGINT to the whole foreground group: here the child
  // sends it to its parent and to itself.
  int status = InChild([] {
    InitProcess();
    int rc = RunCommandLine("kill -INT $PPID; kill -INT $$; sleep 5; exit 3");
    return rc == -1 ? 42 : 1;  // the shell itself was ended by the signal
  });
  EXPECT_EQ(status, 42);
}

TEST(ProcessSignals, ChildrenStartWithDefaultSignals) {
  // This program ignores SIGPIPE and SIGXFSZ for itself; a child must not
  // inherit that (a pipeline in the pager command would never end).
  int status = InChild([] {
    InitProcess();
    return RunCommandLine("kill -PIPE $$; exit 0") == -1 ? 42 : 1;
  });
  EXPECT_EQ(status, 42);
}

}  // namespace
}  // namespace quillo
