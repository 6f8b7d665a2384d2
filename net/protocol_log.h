// The protocol log: every command and reply line echoed on standard output.
#pragma once

#include <string_view>

#include "platform/output.h"

namespace quillo {

// Turns the log on or off for the running job (off while a password or a
// message text passes).
void LogSwitch(bool on);

// Prints one entry, its trailing CR and LF removed, its control bytes shown
// as '?' (SanitizeForConsole) and one LF added. Prints
// nothing while the log is switched off or the Logdisp setting is non-zero.
void LogLine(std::string_view text);

// Formats one entry and prints it through LogLine.
void LogPrintf(const char* fmt, ...) QUILLO_PRINTF_FORMAT(1, 2);

}  // namespace quillo
