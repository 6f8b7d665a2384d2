// Faults for the end-to-end tests: a full disk, seen as a file-size limit or
// as a small file system of its own, and a look at what a folder holds.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace quillo::test {

// While it lives, no file this process or a program it starts writes may
// grow beyond `bytes`, and going beyond is a failed write, not a signal.
// Servers started before it are not limited.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, savedHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  struct rlimit saved_ {};
  sighandler_t savedHandler_ = SIG_DFL;
};

// The names of the message files ("*.txt" in any letter case) in a
// directory of the sandbox, sorted.
inline std::vector<std::string> MessageNames(const Sandbox& box, const std::string& dir) {
  std::vector<std::string> names;
  for (const std::string& name : box.List(dir)) {
    if (name.size() > 4) {
      std::string ext = name.substr(name.size() - 4);
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (ext == ".txt") names.push_back(name);
    }
  }
  return names;
}

// The contents of the message files in a directory of the sandbox, sorted.
inline std::vector<std::string> MessageContents(const Sandbox& box, const std::string& dir) {
  std::vector<std::string> contents;
  for (const std::string& name : MessageNames(box, dir)) contents.push_back(box.ReadFile(dir + "/" + name));
  std::sort(contents.begin(), contents.end());
  return contents;
}

// Whether two sets of messages are the same, byte for byte; a difference
// is told by sizes and first lines (messages may be large).
inline ::testing::AssertionResult SameMessages(std::vector<std::string> actual, std::vector<std::string> expected) {
  std::sort(actual.begin(), actual.end());
  std::sort(expected.begin(), expected.end());
  if (actual == expected) return ::testing::AssertionSuccess();
  auto describe = [](const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& t : texts) {
      out += "\n  " + std::to_string(t.size()) + " bytes: " + t.substr(0, std::min(t.find('\n'), size_t{60}));
    }
    return out.empty() ? std::string("\n  (none)") : out;
  };
  return ::testing::AssertionFailure() << "found:" << describe(actual) << "\nexpected:" << describe(expected);
}

inline std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Starts quillo with `args` in the sandbox, `input` on its standard input
// (at most a pipe's buffer), its output thrown away. The caller waits for it.
inline pid_t Spawn(const Sandbox& box, const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv = ProgramCommand(args);
  std::vector<std::string> envs;
  for (const auto& [k, v] : BaseEnv(box.dir())) envs.push_back(k + "=" + v);
  int in[2];
  if (pipe(in) != 0) return -1;
  const pid_t pid = fork();
  if (pid != 0) {
    close(in[0]);
    if (pid > 0 && !input.empty() && write(in[1], input.data(), input.size()) < 0) kill(pid, SIGKILL);
    close(in[1]);
    return pid;
  }
  std::vector<char*> cargv, cenv;
  for (std::string& a : argv) cargv.push_back(a.data());
  for (std::string& e : envs) cenv.push_back(e.data());
  cargv.push_back(nullptr);
  cenv.push_back(nullptr);
  const int null = open("/dev/null", O_RDWR);
  dup2(in[0], 0);
  dup2(null, 1);
  dup2(null, 2);
  if (chdir(box.dir().c_str()) != 0) _exit(126);
  execve(argv[0].c_str(), cargv.data(), cenv.data());
  _exit(127);
}

// Waits until the sandbox directory `dir` holds at least `entries` entries
// of any kind (or the program has ended, or 20 s have passed), then kills
// the program with SIGKILL and reaps it.
inline void KillWhenReached(pid_t pid, const Sandbox& box, const std::string& dir, size_t entries) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline && box.List(dir).size() < entries &&
         waitpid(pid, nullptr, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// The program run with its mailbox on a file system of `kilobytes` of its
// own (a tmpfs in a private mount namespace), so that writes there fail
// with "no space" while the tmp directory elsewhere still takes files. The
// sandbox's "seed" directory is copied onto the small file system first;
// afterwards what the run left there is copied to "after". The settings
// must name "<sandbox>/mbox" as the mailbox.
class SmallDisk {
 public:
  // False when this system allows no private mount (no unshare, no rights).
  static bool Usable() {
    static const bool usable = [] {
      Sandbox probe;
      probe.MakeDir("m");
      RunResult r = RunProgram(Unshare(), UnshareArgs({"/bin/sh", "-c", "mount -t tmpfs -o size=64k none m"}),
                               probe.dir(), BaseEnv(probe.dir()), "", 10);
      return r.exitCode == 0;
    }();
    return usable;
  }

  static RunResult Run(const Sandbox& box, int kilobytes, const std::vector<std::string>& args,
                       const std::string& input = "") {
    box.MakeDir("seed");
    box.MakeDir("mbox");
    box.MakeDir("after");
    const std::string script = "mount -t tmpfs -o size=" + std::to_string(kilobytes) +
                               "k none mbox && cp -a seed/. mbox/ || exit 99\n"
                               "\"$@\"; rc=$?\n"
                               "cp -a mbox/. after/; exit $rc\n";
    std::vector<std::string> inner{"/bin/sh", "-c", script, "sh"};
    const std::vector<std::string> program = ProgramCommand(args);
    inner.insert(inner.end(), program.begin(), program.end());
    return RunProgram(Unshare(), UnshareArgs(inner), box.dir(), BaseEnv(box.dir()), input, 30);
  }

 private:
  static std::string Unshare() { return "/usr/bin/unshare"; }
  // Root needs a mount namespace only; anyone else maps itself to root in a
  // user namespace of its own first.
  static std::vector<std::string> UnshareArgs(std::vector<std::string> command) {
    std::vector<std::string> args{geteuid() == 0 ? "-m" : "-rm", "--"};
    args.insert(args.end(), command.begin(), command.end());
    return args;
  }
};

}  // namespace quillo::test
