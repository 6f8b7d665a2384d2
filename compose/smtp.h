// Delivering one outbox file in one SMTP conversation.
#pragma once

#include <string>

#include "net/transport.h"

namespace quillo {

// Where the mail goes: the SMTPserver setting ("host" or "host:port", port 25
// by default, 465 with SMTPtls=tls). Without an SMTPserver key the POP3 server's host is used, on
// the SMTP port, not on the POP3 port its setting may name.
HostPort SmtpEndpoint(int defaultPort);

// The envelope sender: mailto when the settings file names an SMTP server,
// else the POP3 login name.
std::string EnvelopeSender();

// The path of the send file, "tmp.txt" in the run's private directory.
std::string SendFilePath();

// Checks the outbox file, replaces it with its cleaned form and holds one
// SMTP conversation for it, secured and logged in to as SMTPtls and SMTPauth
// ask; a message the server accepted is filed into "inbox". `localHostName`
// receives this machine's name for HELO (EHLO). Returns 1 when the
// conversation was held (whatever the server made of the message), 0 when
// the check, the connection, TLS, the greeting, HELO (EHLO) or AUTH failed.
int DeliverMessage(const std::string& path, std::string& localHostName);

// MAIL FROM, one RCPT TO per recipient, DATA and the message. Returns 1 when
// the server accepted the message, 0 when it refused a step, and -1 when the
// file could not be read after DATA: the conversation cannot go on then (no
// terminating dot, no QUIT) and the caller only closes the connection.
int SmtpTransaction(const std::string& path, int count);

// Sends the outbox file as message data and the terminating dot. Returns 1
// when the end of data was answered with 250, 0 when not, and -1 when the
// file could not be read (then nothing ends the data).
int TransmitMessage(const std::string& path);

}  // namespace quillo
