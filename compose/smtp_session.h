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

// Asks for the SMTP password when authentication is wanted and neither
// SMTPpasswd nor passwd holds one. The answer stays for the rest of the run
// (in passwd when the SMTP login is the POP3 one).
void AskSmtpPasswordIfNeeded();

// With SMTPtls=tls: the handshake right after connecting, before the
// greeting. True when done or not wanted; on failure the connection has been
// closed and why said.
bool SecureSmtpAtOnce(const std::string& host);

// After the greeting: HELO when neither TLS nor authentication is set, else
// EHLO, STARTTLS with a fresh EHLO (SMTPtls=starttls), and AUTH (SMTPauth).
// True when the server is ready for MAIL FROM; on failure the conversation
// has been ended and why said.
bool OpenSmtpSession(const std::string& host, const std::string& localHostName);

}  // namespace quillo
