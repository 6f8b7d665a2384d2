#include "compose/smtp.h"

#include <optional>

#include "compose/message_lines.h"
#include "compose/outbox.h"
#include "compose/prepare_send.h"
#include "compose/smtp_session.h"
#include "compose/wire_form.h"
#include "console/credentials.h"
#include "encoding/jis.h"
#include "platform/output.h"
#include "platform/run_directory.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr int kSmtpPort = 25;
constexpr size_t kHostNameBytes = 80;
constexpr int kSmtpsPort = 465;

// Reads one reply line without judging it; false when none came.
bool AnyReply() {
  std::string line;
  return NetRecvLine(line) > 0;
}

// Progress on the console: a dot for each line of header and text, and one
// for every hundred lines of attached files.
constexpr size_t kAttachmentLinesPerDot = 100;

// Sends `wire` line by line, a leading "." doubled; false when a line has no
// CR LF (the message is built so that none lacks it).
void SendWireLines(const OutgoingMessage& message) {
  size_t lines = 0;
  for (size_t pos = 0; pos < message.wire.size();) {
    size_t end = message.wire.find("\r\n", pos);
    end = end == std::string::npos ? message.wire.size() : end + 2;
    const std::string_view line(message.wire.data() + pos, end - pos);
    if (pos < message.textEnd || ++lines % kAttachmentLinesPerDot == 0) WriteOut(".");
    NetSendBuffered("%s%.*s", line.starts_with(".") ? "." : "", static_cast<int>(line.size()), line.data());
    pos = end;
  }
}

}  // namespace

HostPort SmtpEndpoint(int defaultPort) {
  const Settings& s = GetSettings();
  HostPort endpoint = SplitHostPort(s.SMTPserver, defaultPort);
  if (s.smtpServerGiven == 0) endpoint.port = defaultPort;
  return endpoint;
}

std::string EnvelopeSender() {
  const Settings& s = GetSettings();
  return s.smtpServerGiven ? s.mailto : s.POPLogin;
}

std::string SendFilePath() { return TemporaryPath("tmp.txt"); }

int TransmitMessage(const OutgoingMessage& message) {
  LogLine("Mail file Sending...");
  LogSwitch(false);
  SendWireLines(message);
  NetFlushBuffered();
  // The message ends with its own CR LF.
  NetSendLine(".\r\n");
  WriteOut("\n");
  LogSwitch(true);
  return ReplyIs("250") ? 1 : 0;
}

int SmtpTransaction(const RecipientList& recipients, const OutgoingMessage& message) {
  NetSendLine("MAIL FROM:<%s>\r\n", EnvelopeSender().c_str());
  if (!ReplyIs("250")) {
    WriteErr("SMTP error!(MAIL FROM:)\a\n");
    return 0;
  }
  for (size_t i = 0; i < recipients.addresses.size(); ++i) {
    const char* address = recipients.addresses[i].c_str();
    NetSendLine("RCPT TO:<%s>\r\n", address);
    if (!ReplyIs("250")) {
      PrintOut("SMTP error!(RCPT TO:<%s>)\a\n", address);
    } else {
      PrintOut("Sending %zu : <%s>\n", i, address);
    }
  }
  NetSendLine("DATA\r\n");
  if (!ReplyIs("354")) {
    WriteErr("SMTP error!(DATA)\a\n");
    return 0;
  }
  if (TransmitMessage(message) == 1) return 1;
  WriteErr("SMTP error!(DATA[MailBody])\x81I\a\n");
  return 0;
}

bool OpenSmtpConnection(const std::string& secret, std::string& localHostName, std::vector<std::string>* extensions) {
  const Settings& s = GetSettings();
  int port = GetService("smtp", "tcp");
  if (port < 0) port = kSmtpPort;
  if (s.SMTPtls == TlsMode::kImplicit) port = kSmtpsPort;
  if (NetHostName(localHostName, kHostNameBytes + 1) < 0) {
    WriteErr("myhostname getting error!\a\n");
    return false;
  }
  const HostPort server = SmtpEndpoint(port);
  if (NetOpen(server.host, server.port) != 1) {
    // Without the key the POP3 server's setting names another port.
    const std::string tried = s.smtpServerGiven ? s.SMTPserver : JoinHostPort(server);
    PrintErr("SMTPserver(%s) connect error!\a\n", tried.c_str());
    return false;
  }
  if (!SecureSmtpAtOnce(server.host)) return false;
  if (!ReplyIs("220")) {
    PrintErr("SMTPserver(%s) responce error!\a\n", s.SMTPserver.c_str());
    NetClose();
    return false;
  }
  PrintOut("Login SMTPserver(%s)\n", s.SMTPserver.c_str());
  return OpenSmtpSession(server, localHostName, secret, extensions);
}

// TLS asked for in a build without it; false after saying so.
bool SmtpTlsUsable() {
  const TlsMode tls = GetSettings().SMTPtls;
  return tls == TlsMode::kNone || NetTlsUsable(std::string("SMTPtls=") + TlsModeName(tls));
}

ServerCheck CheckSmtpServer(const std::string& secret) {
  ServerCheck check;
  check.loginAsked = GetSettings().SMTPauth != SmtpAuth::kNone;
  std::string localHostName;
  const bool ready = SmtpTlsUsable() && OpenSmtpConnection(secret, localHostName, &check.capabilities);
  NoteConnection(check);
  if (!ready) return check;
  check.loggedIn = true;
  QuitAndClose();
  return check;
}

int DeliverMessage(const std::string& path, std::string& localHostName) {
  if (NetHostName(localHostName, kHostNameBytes + 1) < 0) {
    WriteErr("myhostname getting error!\a\n");
    return 0;
  }
  const WireStamp stamp = StampNow(localHostName);
  RecipientList recipients;
  const std::string id = FormatMessageId(stamp.seed, MessageIdDomain(GetSettings().mailto, localHostName));
  if (PrepareSendFile(path, SendFilePath(), recipients, id) <= 0) return 0;
  // Sending the draft as typed would bypass the check: stop instead.
  if (CopyFile(SendFilePath(), path) != 0) {
    PrintErr("the mail stays in the outbox(%s)!\a\n", path.c_str());
    return 0;
  }

  const Settings& s = GetSettings();
  if (!SmtpTlsUsable()) return 0;
  // Everything the message needs is read before the connection: a missing
  // file stops the send with nothing said to the server.
  OutgoingMessage message;
  if (BuildOutgoingMessage(path, stamp, message) == 0) return 0;
  std::optional<std::string> secret = std::string();
  if (s.SMTPauth != SmtpAuth::kNone) secret = ObtainSecret(Account::kSmtp);
  if (!secret || !OpenSmtpConnection(*secret, localHostName)) return 0;
  if (SmtpTransaction(recipients, message) == 1) FileSentMessage(path, "inbox", message.filed);
  NetSendLine("QUIT\r\n");
  if (!AnyReply()) WriteErr("SMTP error!(QUIT)\a\n");
  NetClose();
  return 1;
}

}  // namespace quillo
