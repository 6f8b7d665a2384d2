#include "compose/smtp.h"

#include "compose/message_lines.h"
#include "compose/outbox.h"
#include "compose/prepare_send.h"
#include "compose/smtp_session.h"
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

// The wire form of one piece of a line: JIS, a leading "." doubled at the
// start of a line, CR LF at the real end of the line.
std::string WirePiece(const LinePiece& piece) {
  std::string jis = SjisToJis(piece.text);
  std::string out;
  if (piece.lineStart && !jis.empty() && jis[0] == '.') out += '.';
  out += jis;
  if (piece.lineEnd && !out.empty() && out.back() == '\n') {
    out.pop_back();
    out += "\r\n";
  }
  return out;
}

// Which header lines stay off the wire: Bcc and X-Mailer lines, and the
// continuation lines of a Bcc line.
class HeaderFilter {
 public:
  // Called for the first piece of each header line; true to leave it out.
  bool Skip(std::string_view line) {
    if (StartsWithIgnoreCase(line, "Bcc:")) {
      afterBcc_ = true;
      return true;
    }
    if (afterBcc_ && IsContinuationLine(line)) return true;
    afterBcc_ = false;
    return StartsWithIgnoreCase(line, "X-Mailer:");
  }

 private:
  bool afterBcc_ = false;
};

// Sends the pieces of `file` as message data, without the terminator. False
// when the file could not be read to its end.
bool SendMessageText(InputFile& file) {
  PieceReader reader(file);
  HeaderFilter filter;
  bool inHeader = true;
  bool firstBodyLine = false;
  bool skipping = false;
  LinePiece piece;
  while (reader.Next(piece)) {
    WriteOut(".");
    if (piece.lineStart) {
      skipping = false;
      if (inHeader && IsHeaderEnd(piece.text)) {
        inHeader = false;
        firstBodyLine = true;
        NetSendBuffered("%s\r\n", FormatXMailer().c_str());
        skipping = true;  // the separator line itself never goes out
      } else if (inHeader) {
        skipping = filter.Skip(piece.text);
      } else if (firstBodyLine) {
        // Drafts begin their body with an empty line, which then parts header
        // and body on the wire. A body that begins with text gets one, so its
        // first line is not taken for a header line.
        firstBodyLine = false;
        if (piece.text != "\n") NetSendBuffered("\r\n");
      }
    }
    if (skipping) continue;
    NetSendBuffered("%s", WirePiece(piece).c_str());
  }
  return !file.HadError();
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

int TransmitMessage(const std::string& path) {
  InputFile file(path);
  if (!file.IsOpen()) {
    PrintErr("TMP file(%s) read error!\a\n", path.c_str());
    return -1;
  }
  LogLine("Mail file Sending...");
  LogSwitch(false);
  const bool whole = SendMessageText(file);
  file.Close();
  if (!whole) {
    // A cut message must not be ended with the dot: the server would deliver it.
    WriteOut("\n");
    LogSwitch(true);
    PrintErr("TMP file(%s) read error!\a\n", path.c_str());
    return -1;
  }
  NetFlushBuffered();
  NetSendLine("\r\n.\r\n");
  WriteOut("\n");
  LogSwitch(true);
  return ReplyIs("250") ? 1 : 0;
}

int SmtpTransaction(const std::string& path, int count) {
  NetSendLine("MAIL FROM:<%s>\r\n", EnvelopeSender().c_str());
  if (!ReplyIs("250")) {
    WriteErr("SMTP error!(MAIL FROM:)\a\n");
    return 0;
  }
  const RecipientList& list = GetRecipientList();
  for (int i = 0; i < count && i < static_cast<int>(list.addresses.size()); ++i) {
    const char* address = list.addresses[static_cast<size_t>(i)].c_str();
    NetSendLine("RCPT TO:<%s>\r\n", address);
    if (!ReplyIs("250")) {
      PrintOut("SMTP error!(RCPT TO:<%s>)\a\n", address);
    } else {
      PrintOut("Sending %d : <%s>\n", i, address);
    }
  }
  NetSendLine("DATA\r\n");
  if (!ReplyIs("354")) {
    WriteErr("SMTP error!(DATA)\a\n");
    return 0;
  }
  int sent = TransmitMessage(path);
  if (sent == 1) return 1;
  WriteErr("SMTP error!(DATA[MailBody])\x81I\a\n");
  return sent;
}

int DeliverMessage(const std::string& path, std::string& localHostName) {
  const int count = PrepareSendFile(path, SendFilePath());
  if (count <= 0) return 0;
  CopyFile(SendFilePath(), path);

  const Settings& s = GetSettings();
  if (s.SMTPtls != TlsMode::kNone && !NetTlsUsable(std::string("SMTPtls=") + TlsModeName(s.SMTPtls))) return 0;
  AskSmtpPasswordIfNeeded();
  int port = GetService("smtp", "tcp");
  if (port < 0) port = kSmtpPort;
  if (s.SMTPtls == TlsMode::kImplicit) port = kSmtpsPort;
  if (NetHostName(localHostName, kHostNameBytes + 1) < 0) {
    WriteErr("myhostname getting error!\a\n");
    return 0;
  }
  const HostPort server = SmtpEndpoint(port);
  if (NetOpen(server.host, server.port) != 1) {
    // Without the key the POP3 server's setting names another port.
    const std::string tried = s.smtpServerGiven ? s.SMTPserver : JoinHostPort(server);
    PrintErr("SMTPserver(%s) connect error!\a\n", tried.c_str());
    return 0;
  }
  if (!SecureSmtpAtOnce(server.host)) return 0;
  if (!ReplyIs("220")) {
    PrintErr("SMTPserver(%s) responce error!\a\n", s.SMTPserver.c_str());
    NetClose();
    return 0;
  }
  PrintOut("Login SMTPserver(%s)\n", s.SMTPserver.c_str());

  if (!OpenSmtpSession(server.host, localHostName)) return 0;
  const int accepted = SmtpTransaction(path, count);
  if (accepted == 1) FileSentMessage(path, "inbox");
  if (accepted >= 0) {
    NetSendLine("QUIT\r\n");
    if (!AnyReply()) WriteErr("SMTP error!(QUIT)\a\n");
  }
  NetClose();
  return 1;
}

}  // namespace quillo
