// Running an external program on a file: the program starts in the file's
// directory, and the previous current directory is restored afterwards.
#pragma once

#include <string>

namespace quillo {

// Saves the current directory and makes `directory` current. Returns 1 when
// the change succeeded, 0 otherwise (the program then runs wherever it is).
// There is one saved location; calls do not nest.
int EnterDirectory(const std::string& directory);

// Makes the directory saved by EnterDirectory current again.
void LeaveDirectory();

// Runs the editor of the settings on `path`, with the file's directory as the
// current directory: "<editor> <path>" through /bin/sh, the path quoted so
// that it reaches the editor as one argument. Returns the editor's exit
// status, or -1 when no editor is set or the shell could not be started.
int EditFile(const std::string& path);

// The command line EditFile runs for `path` (the path made absolute first,
// since the command runs in the file's own directory).
std::string EditorCommandLine(const std::string& path);

// `path` as seen from any directory: relative paths get the current
// directory in front.
std::string AbsolutePath(const std::string& path);

}  // namespace quillo
