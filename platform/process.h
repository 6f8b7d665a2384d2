// Environment, child programs and process-wide set-up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillo {

// Process set-up done once at start: a broken connection or a full file-size
// limit must show up as a failed call, not end the program.
void InitProcess();

std::optional<std::string> GetEnv(const char* name);

// The shell the user works in, for a session of their own: $SHELL, or
// %COMSPEC% on Windows; nothing when none is named.
std::optional<std::string> UserShell();

// The user's own directory for this program's settings, with a trailing
// separator: $XDG_CONFIG_HOME/quillo/ (~/.config/quillo/ by default), or
// %APPDATA%\quillo\ on Windows; "" when the environment names none.
std::string UserSettingsDirectory();

// False only when no process `pid` runs any more (this one counts as running).
bool ProcessRunning(long pid);

// Quotes `text` as one argument for the shell of RunCommandLine.
std::string ShellQuote(std::string_view text);

// Runs a command line through /bin/sh -c and waits for it. Returns its exit
// status, or -1 when it could not be started.
int RunCommandLine(const std::string& commandLine);

// What a command printed as its first line, and how it ended.
struct CommandLineOutput {
  bool started = false;  // false: /bin/sh could not be started
  bool exited = false;   // false: ended by a signal (`status` is the signal)
  int status = -1;       // exit status, or the signal that ended it
  bool tooLong = false;  // the first line ran past the limit (`line` is then empty)
  std::string line;      // without its line end (LF, or CR LF)
};

// Runs a command line through /bin/sh -c and keeps the first line of its
// standard output, which goes through a pipe, never a file; standard input
// and standard error stay the user's, so that the command can ask and tell.
// The first line may have at most `longest` bytes; the rest of the output
// is read and dropped.
CommandLineOutput RunCommandForLine(const std::string& commandLine, size_t longest);

// Starts `program` without arguments (looked up on PATH) and waits for it.
// Returns its exit status, or -1 when it could not be started.
int RunProgram(const std::string& program);

}  // namespace quillo
