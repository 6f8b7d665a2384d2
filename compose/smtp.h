// Delivering one outbox file in one SMTP conversation.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compose/prepare_send.h"
#include "compose/wire_form.h"
#include "net/server_check.h"
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

// Checks the outbox file, replaces it with its cleaned form, builds the
// message from it and its attached files, and holds one SMTP conversation
// for it, secured and logged in to as SMTPtls and SMTPauth
// ask; a message the server accepted is filed into "inbox". `localHostName`
// receives this machine's name for HELO (EHLO). Returns 1 when the
// conversation was held (whatever the server made of the message), 0 when
// the check, the rewrite of the outbox file, reading an attached file, the connection, TLS, the greeting, HELO (EHLO) or AUTH failed.
int DeliverMessage(const std::string& path, std::string& localHostName);

// Connects to the SMTP server, secures the connection and logs in as
// SMTPtls and SMTPauth ask, with `secret` (the password or access token).
// True when the server waits for MAIL FROM; on failure the connection has
// been closed and why said. `localHostName` receives the name sent with
// HELO (EHLO); with `extensions`, EHLO is sent and its extension lines are
// left there.
bool OpenSmtpConnection(const std::string& secret, std::string& localHostName,
                        std::vector<std::string>* extensions = nullptr);

// Connects and logs in as a send job does, then QUIT: no mail is sent.
ServerCheck CheckSmtpServer(const std::string& secret);

// MAIL FROM, one RCPT TO per recipient, DATA and the message. Returns 1 when
// the server accepted the message, 0 when it refused a step.
int SmtpTransaction(const RecipientList& recipients, const OutgoingMessage& message);

// Sends the message data, each line ending in CR LF and a leading "."
// doubled, then the terminating ".\r\n". 1 when the end of data was answered
// with 250, else 0.
int TransmitMessage(const OutgoingMessage& message);

}  // namespace quillo
