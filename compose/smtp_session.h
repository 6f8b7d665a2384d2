// The opening of an SMTP conversation past the greeting: HELO, or for TLS
// and authentication EHLO, STARTTLS and AUTH; and the reading of replies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "encoding/encoded_words.h"
#include "net/transport.h"

namespace quillo {

struct SmtpReply {
  bool ok = false;                  // every line came and carried the expected code
  std::string last;                 // the last line read, without CR LF
  std::vector<std::string> texts;   // each line's text after the code and its separator
};

// Reads one reply, continuation lines ("250-...") included, and judges it
// against `code`. A missing line counts as a refusal.
SmtpReply ReadSmtpReply(const char* code);

// ReadSmtpReply(code).ok.
bool ReplyIs(const char* code);

// Sends QUIT, reads one reply line without judging it, and closes.
void QuitAndClose();

// With SMTPtls=tls: the handshake right after connecting, before the
// greeting. True when done or not wanted; on failure the connection has been
// closed and why said.
bool SecureSmtpAtOnce(const std::string& host);

// After the greeting: HELO when neither TLS nor authentication is set, else
// EHLO, STARTTLS with a fresh EHLO (SMTPtls=starttls), and AUTH (SMTPauth)
// with `secret`, the password or the OAuth2 access token. True when the
// server is ready for MAIL FROM; on failure the conversation has been ended
// and why said. `server` is where the connection went (OAUTHBEARER names
// it); with `extensions` EHLO is sent whatever the settings, and the
// extension lines of its last reply are left there.
bool OpenSmtpSession(const HostPort& server, const std::string& localHostName, const std::string& secret,
                     std::vector<std::string>* extensions = nullptr);

}  // namespace quillo
