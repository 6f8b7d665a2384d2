// The private directory of one run for its temporary files. The `tmp`
// directory is shared with other users and other runs: a fixed name there
// could be planted in advance (a symbolic link, a FIFO, a file of someone
// else's) or taken by a second run at the same moment. Each run therefore
// makes its own directory there, mode 0700, and uses its fixed names inside
// it; the directory goes with the run, also when a signal ends it.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Why `base` cannot hold a private directory: "" when it can. A base that is
// not a directory, is writable by others without the sticky bit (anyone
// could rename the private directory away and put their own in its place),
// or belongs to another user (who may do the same) is refused.
std::string TemporaryBaseProblem(const std::string& base);

// Checks `base` and makes the run's directory in it, removed by
// CloseRunDirectory, at exit, or when SIGINT, SIGTERM, SIGHUP or SIGQUIT end
// the process. False with `why` set when `base` is refused or the directory
// cannot be made. A directory already open is closed first.
[[nodiscard]] bool OpenRunDirectory(const std::string& base, std::string& why);

// Removes the directory and every file in it.
void CloseRunDirectory();

// The open run directory; "" when none is open.
std::string RunDirectory();

// "<run directory>/<name>"; "" when no run directory is open, so that nothing
// falls back to the shared directory.
std::string TemporaryPath(std::string_view name);

}  // namespace quillo
