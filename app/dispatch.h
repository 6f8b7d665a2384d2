// The one way into every mail job, for the command line and the folder menu.
#pragma once

#include <string>

namespace quillo {

// Runs the job named by `word` (compared ignoring case). Returns 1 when the
// word named a command (also when it was refused), 0 otherwise.
int Dispatch(const std::string& word);

}  // namespace quillo
