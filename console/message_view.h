// A received message as its reader sees it: a short header (or the whole
// one), the text of its parts decoded, a line for each attachment.
#pragma once

#include <string>

#include "mime/message.h"

namespace quillo {

// The header the view shows: `headers` of the settings (short or all).
HeaderMode ViewHeaderMode();

// Shows the view of the message file at `path`: in the built-in pager, or
// in the external pager of the settings from a private temporary file that
// is removed afterwards. Nothing is shown when the file cannot be read.
void ShowMessage(const std::string& path);

// Writes the view to standard output without paging, in the console's
// character set. 0, or 1 (after saying so) when the file cannot be read.
int PrintMessage(const std::string& path);

}  // namespace quillo
