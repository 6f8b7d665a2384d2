// Running a command the user types on a message, and an interactive shell in
// a folder.
#pragma once

#include <string>

namespace quillo {

// Asks for a command ("command:", at most 60 characters) and runs
// "<command> <path>" through /bin/sh in the file's directory, echoing the
// command line first. An empty answer, Escape or the end of input runs
// nothing: with no command the shell would try to run the message itself.
void RunCommandOnFile(const std::string& path);

// The command line RunCommandOnFile runs for `command` on `path` (the path
// made absolute and quoted for /bin/sh).
std::string FileCommandLine(const std::string& command, const std::string& path);

// Starts the program named by SHELL, without a command, in the folder
// `folderPath` and waits for it. Without SHELL it says so and starts nothing.
void RunShell(const std::string& folderPath);

}  // namespace quillo
