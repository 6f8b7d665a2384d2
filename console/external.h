// Running an external program on a file: the program starts in the file's
// directory (WorkingDirectoryScope), and the previous current directory is
// restored afterwards.
#pragma once

#include <string>

namespace quillo {

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
