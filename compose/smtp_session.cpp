#include "compose/smtp_session.h"

#include "console/line_input.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr int kMaxReplyLines = 100;
constexpr const char* kMask = "****";

std::string WithoutLineEnd(std::string_view line) { return std::string(WithoutLineEnds(line)); }

// Sends a line that carries credentials: the log shows `shown` in its place.
void SendSecret(const std::string& shown, const std::string& line) {
  LogLine("S:" + shown);
  LogSwitch(false);
  NetSendLine("%s\r\n", line.c_str());
  LogSwitch(true);
}

bool SecureSmtp(const std::string& host) {
  std::string reason;
  if (NetStartTls(host, reason)) return true;
  PrintErr("SMTPserver(%s) TLS error!(%s)\a\n", GetSettings().SMTPserver.c_str(), SanitizeForConsole(reason).c_str());
  NetClose();
  return false;
}

// EHLO; the extension lines of its reply into `extensions`.
bool Ehlo(const std::string& localHostName, std::vector<std::string>& extensions) {
  NetSendLine("EHLO %s\r\n", localHostName.c_str());
  SmtpReply reply = ReadSmtpReply("250");
  if (!reply.ok) return false;
  // The first line greets; the others name one extension each.
  extensions.assign(reply.texts.begin() + 1, reply.texts.end());
  return true;
}

// The extension line whose first word is `keyword`, or nullptr.
const std::string* Extension(const std::vector<std::string>& extensions, std::string_view keyword) {
  for (const std::string& line : extensions) {
    if (EqualsIgnoreCase(std::string_view(line).substr(0, line.find(' ')), keyword)) return &line;
  }
  return nullptr;
}

bool OffersAuth(const std::vector<std::string>& extensions, std::string_view mechanism) {
  const std::string* auth = Extension(extensions, "AUTH");
  if (!auth) return false;
  std::string_view rest(*auth);
  for (size_t start = rest.find(' '); start != std::string_view::npos;) {
    rest.remove_prefix(start + 1);
    size_t end = rest.find(' ');
    if (EqualsIgnoreCase(rest.substr(0, end), mechanism)) return true;
    start = end;
  }
  return false;
}

bool StartTlsUpgrade(const std::string& host, const std::string& localHostName, std::vector<std::string>& extensions) {
  const Settings& s = GetSettings();
  if (!Extension(extensions, "STARTTLS")) {
    PrintErr("SMTPserver(%s) does not offer STARTTLS!\a\n", s.SMTPserver.c_str());
    QuitAndClose();
    return false;
  }
  NetSendLine("STARTTLS\r\n");
  SmtpReply reply = ReadSmtpReply("220");
  if (!reply.ok) {
    PrintErr("SMTP error!(STARTTLS)[%s]\a\n", SanitizeForConsole(reply.last).c_str());
    QuitAndClose();
    return false;
  }
  if (!SecureSmtp(host)) return false;
  // What the server said before TLS counts no more; it is asked again.
  if (!Ehlo(localHostName, extensions)) {
    WriteErr("SMTP error!(EHLO)\a\n");
    QuitAndClose();
    return false;
  }
  return true;
}

// AUTH PLAIN or AUTH LOGIN. The reply that ended it in `reply`.
bool Authenticate(SmtpAuth mechanism, SmtpReply& reply) {
  const std::string& user = SmtpLoginName();
  const std::string& password = SmtpPassword();
  if (mechanism == SmtpAuth::kPlain) {
    SendSecret("AUTH PLAIN " + std::string(kMask),
               "AUTH PLAIN " + EncodeBase64(std::string(1, '\0') + user + '\0' + password));
    reply = ReadSmtpReply("235");
    return reply.ok;
  }
  NetSendLine("AUTH LOGIN\r\n");
  reply = ReadSmtpReply("334");
  if (!reply.ok) return false;
  SendSecret(kMask, EncodeBase64(user));
  reply = ReadSmtpReply("334");
  if (!reply.ok) return false;
  SendSecret(kMask, EncodeBase64(password));
  reply = ReadSmtpReply("235");
  return reply.ok;
}

bool LogIn(const std::vector<std::string>& extensions) {
  const Settings& s = GetSettings();
  const char* mechanism = s.SMTPauth == SmtpAuth::kPlain ? "PLAIN" : "LOGIN";
  if (!OffersAuth(extensions, mechanism)) {
    PrintErr("SMTPserver(%s) does not offer AUTH %s!\a\n", s.SMTPserver.c_str(), mechanism);
    QuitAndClose();
    return false;
  }
  SmtpReply reply;
  if (Authenticate(s.SMTPauth, reply)) return true;
  PrintErr("SMTP Login error!(%s)[%s]\a\n", SmtpLoginName().c_str(), SanitizeForConsole(reply.last).c_str());
  QuitAndClose();
  return false;
}

}  // namespace

SmtpReply ReadSmtpReply(const char* code) {
  SmtpReply reply;
  std::string line;
  // A server that never ends its reply is not waited for without end.
  for (int lines = 0; lines < kMaxReplyLines; ++lines) {
    const int n = NetRecvLine(line);
    reply.last = WithoutLineEnd(line);
    if (n <= 0 || line.compare(0, 3, code) != 0) return reply;
    reply.texts.push_back(reply.last.size() > 4 ? reply.last.substr(4) : std::string());
    if (line.size() < 4 || line[3] != '-') {
      reply.ok = true;
      return reply;
    }
  }
  return reply;
}

bool ReplyIs(const char* code) { return ReadSmtpReply(code).ok; }

void QuitAndClose() {
  std::string line;
  NetSendLine("QUIT\r\n");
  NetRecvLine(line);
  NetClose();
}

void AskSmtpPasswordIfNeeded() {
  Settings& s = GetSettings();
  if (s.SMTPauth == SmtpAuth::kNone || !SmtpPassword().empty()) return;
  PrintOut("Login Host & Name : %s(%s)\n", s.SMTPserver.c_str(), SmtpLoginName().c_str());
  WriteOut("Password:");
  const bool popAccount = s.SMTPLogin.empty();
  std::string& field = popAccount ? s.passwd : s.SMTPpasswd;
  field.clear();
  LineInput(field, (popAccount ? cap::kPasswd : cap::kSMTPpasswd) - 1, ' ', true);
}

bool SecureSmtpAtOnce(const std::string& host) {
  return GetSettings().SMTPtls != TlsMode::kImplicit || SecureSmtp(host);
}

bool OpenSmtpSession(const std::string& host, const std::string& localHostName) {
  const Settings& s = GetSettings();
  if (s.SMTPtls == TlsMode::kNone && s.SMTPauth == SmtpAuth::kNone) {
    NetSendLine("HELO %s\r\n", localHostName.c_str());
    if (ReplyIs("250")) return true;
    WriteErr("SMTP error!(HELO)\a\n");
    QuitAndClose();
    return false;
  }
  std::vector<std::string> extensions;
  if (!Ehlo(localHostName, extensions)) {
    WriteErr("SMTP error!(EHLO)\a\n");
    QuitAndClose();
    return false;
  }
  if (s.SMTPtls == TlsMode::kStartTls && !StartTlsUpgrade(host, localHostName, extensions)) return false;
  return s.SMTPauth == SmtpAuth::kNone || LogIn(extensions);
}

}  // namespace quillo
