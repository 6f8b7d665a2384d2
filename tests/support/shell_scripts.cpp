#include "tests/support/shell_scripts.h"

#include <filesystem>

namespace quillo::test {

bool TestingWindowsBuild() {
  const std::string& program = ProgramUnderTest();
  return program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

std::string ProgramPath(const std::string& path) {
  if (!TestingWindowsBuild() || path.empty() || path[0] != '/') return path;
  // wine's drive Z: is the root of the Unix file system.
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string ShellQuoted(const std::string& text) {
  const char quote = TestingWindowsBuild() ? '"' : '\'';
  return quote + text + quote;
}

std::string ShellForm(const std::string& sh, const std::string& cmd) { return TestingWindowsBuild() ? cmd : sh; }

std::string PrintFileCommand(const std::string& path) {
  return ShellForm("cat ", "type ") + ShellQuoted(ProgramPath(path));
}

std::string ShellLineEnd() { return TestingWindowsBuild() ? "\r\n" : "\n"; }

std::string WriteScript(const Sandbox& box, const std::string& relative, const std::string& sh, const std::string& cmd) {
  std::string name = relative;
  std::string body = "#!/bin/sh\n" + sh;
  if (TestingWindowsBuild()) {
    name += ".cmd";
    body = "@echo off\r\n";
    for (char c : cmd) {
      if (c == '\n') body += '\r';
      body += c;
    }
  }
  box.WriteFile(name, body);
  std::filesystem::permissions(box.Path(name), std::filesystem::perms::owner_all);
  return ProgramPath(box.Path(name));
}

Env WithSearchDirectory(Env env, const std::string& dir) {
  // wine takes its search path from its own settings and WINEPATH, not PATH.
  if (TestingWindowsBuild()) env["WINEPATH"] = ProgramPath(dir);
  const auto path = env.find("PATH");
  env["PATH"] = dir + ":" + (path != env.end() ? path->second : std::string("/usr/bin:/bin"));
  return env;
}

}  // namespace quillo::test
