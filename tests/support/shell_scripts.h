// Commands and scripts for the program's shell, in the form of the build
// under test: sh for the POSIX build, cmd.exe for the Windows build (a .exe
// run under wine through QUILLO_WRAPPER), which also sees every path as
// Windows spells it.
#pragma once

#include <string>

#include "tests/support/harness.h"

namespace quillo::test {

// True when the program under test is the Windows build.
bool TestingWindowsBuild();

// An absolute path as the Windows build sees it under wine ("Z:\tmp\x");
// as it is for the POSIX build.
std::string ProgramPath(const std::string& path);

// The argument quoted as the program quotes it for its shell.
std::string ShellQuoted(const std::string& text);

// `sh` for the POSIX build, `cmd` for the Windows build.
std::string ShellForm(const std::string& sh, const std::string& cmd);

// A command line that prints the file at `path` as it is.
std::string PrintFileCommand(const std::string& path);

// How the lines of the shell's own output end: "\r\n" from cmd.exe.
std::string ShellLineEnd();

// Writes an executable script: `sh` as `relative` for the POSIX build, or
// `cmd` as `relative`.cmd with CR LF lines for the Windows build. Returns
// the script's name for the program (ProgramPath of what was written).
std::string WriteScript(const Sandbox& box, const std::string& relative, const std::string& sh, const std::string& cmd);

// `env` with `dir` first where the program's shell looks for commands.
Env WithSearchDirectory(Env env, const std::string& dir);

}  // namespace quillo::test
