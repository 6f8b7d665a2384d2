// What `quillo --check` finds out about one server, and how it is shown.
#pragma once

#include <string>
#include <vector>

#include "platform/tls.h"

namespace quillo {

struct ServerCheck {
  std::string address;      // "127.0.0.1 port 995"; "" when no connection was made
  std::string tls;          // version and cipher; "" without TLS
  TlsCertificate certificate;
  std::vector<std::string> capabilities;  // CAPA lines, or EHLO extension lines
  bool loggedIn = false;
  bool loginAsked = true;   // false: the settings ask for no login (SMTPauth=none)
  int messages = -1;        // the POP3 message count; -1 when not known
};

// Fills in where the last connection went and how it was secured (kept
// after it has been closed).
void NoteConnection(ServerCheck& check);

// The report for one server: `title` ("POP3"), `setting` (the server as the
// settings give it) and what was found.
void PrintServerCheck(const char* title, const std::string& setting, const ServerCheck& check);

}  // namespace quillo
