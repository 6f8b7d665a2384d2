// Runs the real quillo binary in a private directory with a controlled
// environment, feeding keys on standard input or through a pseudo-terminal.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quillo::test {

struct RunResult {
  int exitCode = -1;  // -1 when killed or timed out
  bool timedOut = false;
  std::string out;
  std::string err;
};

using Env = std::map<std::string, std::string>;

// A fresh temporary directory, removed with everything in it at the end.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& relative) const { return dir_ + "/" + relative; }

  void WriteFile(const std::string& relative, const std::string& content) const;
  std::string ReadFile(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  void MakeDir(const std::string& relative) const;
  // Names in a directory, sorted.
  std::vector<std::string> List(const std::string& relative) const;

  // Writes quillo.ini: mailbox=<dir>/mbox, tmp=<dir>/tmp, POPserver, POPLogin
  // and mailto set, then `extra` lines as given.
  void WriteIni(const std::string& extra = "") const;
  // Creates mbox/{inbox,outbox,trash} and tmp/.
  void MakeMailbox() const;

  // Runs quillo with `args` in this directory. The environment holds only
  // PATH, HOME (this directory), LC_ALL=C and TZ=UTC, plus `env`.
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "", const Env& env = {},
                int timeoutSeconds = 30) const;
  // Runs quillo as Run does, with no input and its output dropped, and
  // kills it (SIGKILL) `killAfterMs` milliseconds after its start unless it
  // ended first. True when the kill came while it still ran.
  bool RunKilledAfter(const std::vector<std::string>& args, int killAfterMs, const Env& env = {}) const;

 private:
  std::string dir_;
};

// Runs a program with `args` in `cwd` with exactly the environment `env`,
// writing `input` to its standard input.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                     const Env& env, const std::string& input, int timeoutSeconds);

// The environment Sandbox::Run starts from.
Env BaseEnv(const std::string& home);

// The program the tests run: QUILLO_PROGRAM when set (another build of it,
// such as the Windows quillo.exe run through QUILLO_WRAPPER="wine"), the
// program of this build otherwise.
const std::string& ProgramUnderTest();
// The command line that runs ProgramUnderTest() with `args`, under
// QUILLO_WRAPPER when that is set. Every way the tests start the program
// goes through it, so a wrapped run tests the wrapped build throughout.
std::vector<std::string> ProgramCommand(const std::vector<std::string>& args);

// How many times longer every wait of the harness and of the test servers
// lasts: QUILLO_TIME_SCALE, a whole number from 1 to 100 (1 when unset or
// not a number). Set it when each run of the program goes under a slow
// wrapper (QUILLO_WRAPPER), so that slowness alone fails no test.
int TimeScale();
// `amount` (of any unit) stretched by TimeScale().
int Scaled(int amount);
// TimeScale() for the value `text` of QUILLO_TIME_SCALE (nullptr: unset).
int ParseTimeScale(const char* text);

// quillo on a pseudo-terminal, driven screen by screen.
class PtySession {
 public:
  PtySession(const Sandbox& box, const std::vector<std::string>& args, const Env& env = {});
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Waits until `text` has appeared in the output after the last match;
  // false after `timeoutMs` (stretched by TimeScale(), as are all the
  // harness's time-outs).
  bool WaitFor(const std::string& text, int timeoutMs = 5000);
  void Send(const std::string& keys);
  // Sends `sig` to the program (while it still runs).
  void Signal(int sig);
  // Waits for the program to end; its exit status, or -1 (then it is killed).
  int Finish(int timeoutMs = 5000);
  // Everything the terminal showed so far.
  const std::string& Output() const { return output_; }

 private:
  void Pump(int timeoutMs);
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
  size_t matched_ = 0;
  int status_ = -1;
  bool exited_ = false;
};

// Runs `body` in a child process whose standard input and output are a fresh
// pseudo-terminal, typing `keys` once the child is running. Returns what the
// terminal showed and the child's result (body's return value, or -1).
struct PtyCallResult {
  std::string output;
  int result = -1;
};
PtyCallResult PtyCall(const std::function<int()>& body, const std::string& keys, int timeoutMs = 5000);

// Runs `body` in this process with standard input fed from `keys` through a
// pipe and standard output captured. Returns the captured output.
std::string WithPipedKeys(const std::string& keys, const std::function<void()>& body);

}  // namespace quillo::test
