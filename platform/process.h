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

// False only when no process `pid` runs any more (this one counts as running).
bool ProcessRunning(long pid);

// Quotes `text` as one argument for /bin/sh.
std::string ShellQuote(std::string_view text);

// Runs a command line through /bin/sh -c and waits for it. Returns its exit
// status, or -1 when it could not be started.
int RunCommandLine(const std::string& commandLine);

// Starts `program` without arguments (looked up on PATH) and waits for it.
// Returns its exit status, or -1 when it could not be started.
int RunProgram(const std::string& program);

}  // namespace quillo
