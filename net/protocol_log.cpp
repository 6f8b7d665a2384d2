#include "net/protocol_log.h"

#include <cstdarg>
#include <string>

#include "net/transport.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/settings.h"

namespace quillo {

namespace {
bool LogEnabled() { return GetNetSession().logOn && GetSettings().Logdisp == 0; }
}  // namespace

void LogSwitch(bool on) { GetNetSession().logOn = on; }

void LogLine(std::string_view text) {
  if (!LogEnabled()) return;
  text = WithoutLineEnds(text);
  // Entries carry the server's words and the settings' text; neither may
  // steer the terminal.
  std::string entry = SanitizeForConsole(text);
  entry += '\n';
  WriteOut(entry);
}

void LogPrintf(const char* fmt, ...) {
  if (!LogEnabled()) return;
  va_list args;
  va_start(args, fmt);
  std::string entry = FormatV(fmt, args);
  va_end(args);
  LogLine(entry);
}

}  // namespace quillo
