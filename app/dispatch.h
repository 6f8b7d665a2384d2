// The one way into every mail job, for the command line and the folder menu.
#pragma once

#include <string>

namespace quillo {

// Runs the job named by `word` (compared ignoring case). Returns 1 when the
// word named a command (also when it was refused), 0 otherwise, and
// kDispatchFailed when a job a script relies on (showing or saving a message
// file) failed: the command line ends with status 1 then. A move whose target
// folder the user did not choose ends the process with status 1.
constexpr int kDispatchFailed = 2;
int Dispatch(const std::string& word);

// The local host name handed to drafting and sending, which fill it before
// each SMTP greeting (at most 80 bytes).
constexpr size_t kLocalHostNameCapacity = 81;
std::string& LocalHostName();

}  // namespace quillo
