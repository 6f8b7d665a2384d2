#include "compose/smtp_session.h"

#include "encoding/encoded_words.h"
#include "encoding/sasl.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr int kMaxReplyLines = 100;
constexpr const char* kMask = "****";

std::string WithoutLineEnd(std::string_view line) { return std::string(WithoutLineEnds(line)); }

bool SecureSmtp(const std::string& host) { return NetSecureOrClose("SMTPserver", GetSettings().SMTPserver, host); }

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

// The longest AUTH command with its initial response that goes out as one
// line (the SMTP command line limit); a longer one waits for the "334".
constexpr size_t kLongestAuthLine = 510;

// A "334" challenge of a refused OAuth2 token: the mechanism's
// acknowledgement ends the exchange, whose last reply then replaces
// `reply`. The challenge decoded, for the user.
std::string AnswerErrorChallenge(std::string_view mechanism, SmtpReply& reply) {
  const std::string text = SaslChallengeText(reply.last.size() > 4 ? reply.last.substr(4) : std::string());
  NetSendLine("%s\r\n", EncodeBase64(SaslErrorAcknowledgement(mechanism)).c_str());
  reply = ReadSmtpReply("235");
  return text;
}

// AUTH with a mechanism of one client message (PLAIN, XOAUTH2,
// OAUTHBEARER): with the initial response when the line stays short, else
// after the server's "334".
bool AuthenticateOnce(std::string_view mechanism, const std::string& message, SmtpReply& reply,
                      std::string& challenge) {
  const std::string command = "AUTH " + std::string(mechanism);
  const std::string response = EncodeBase64(message);
  if (command.size() + 1 + response.size() <= kLongestAuthLine) {
    NetSendSecretLine(command + " " + kMask, command + " " + response);
  } else {
    NetSendLine("%s\r\n", command.c_str());
    reply = ReadSmtpReply("334");
    if (!reply.ok) return false;
    NetSendSecretLine(kMask, response);
  }
  reply = ReadSmtpReply("235");
  if (reply.ok) return true;
  if (reply.last.starts_with("334")) challenge = AnswerErrorChallenge(mechanism, reply);
  return false;
}

bool AuthenticateLogin(const std::string& user, const std::string& password, SmtpReply& reply) {
  NetSendLine("AUTH LOGIN\r\n");
  reply = ReadSmtpReply("334");
  if (!reply.ok) return false;
  NetSendSecretLine(kMask, EncodeBase64(user));
  reply = ReadSmtpReply("334");
  if (!reply.ok) return false;
  NetSendSecretLine(kMask, EncodeBase64(password));
  reply = ReadSmtpReply("235");
  return reply.ok;
}

bool LogIn(const std::vector<std::string>& extensions, const HostPort& server, const std::string& secret) {
  const Settings& s = GetSettings();
  const char* mechanism = SaslName(s.SMTPauth);
  if (!OffersAuth(extensions, mechanism)) {
    PrintErr("SMTPserver(%s) does not offer AUTH %s!\a\n", s.SMTPserver.c_str(), mechanism);
    QuitAndClose();
    return false;
  }
  SmtpReply reply;
  std::string challenge;
  bool accepted = false;
  if (s.SMTPauth == SmtpAuth::kLogin) {
    accepted = AuthenticateLogin(SmtpLoginName(), secret, reply);
  } else {
    const SaslCredentials credentials{SmtpLoginName(), secret, server.host, server.port};
    accepted = AuthenticateOnce(mechanism, *SaslClientMessage(mechanism, credentials), reply, challenge);
  }
  if (accepted) return true;
  PrintErr("SMTP Login error!(%s)[%s]\a\n", SanitizeForConsole(SmtpLoginName()).c_str(),
           SanitizeForConsole(reply.last).c_str());
  if (!challenge.empty()) PrintErr("SMTPserver said: %s\n", SanitizeForConsole(challenge).c_str());
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

bool SecureSmtpAtOnce(const std::string& host) {
  return GetSettings().SMTPtls != TlsMode::kImplicit || SecureSmtp(host);
}

bool OpenSmtpSession(const HostPort& server, const std::string& localHostName, const std::string& secret,
                     std::vector<std::string>* extensionsOut) {
  const Settings& s = GetSettings();
  if (s.SMTPtls == TlsMode::kNone && s.SMTPauth == SmtpAuth::kNone && !extensionsOut) {
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
  if (s.SMTPtls == TlsMode::kStartTls && !StartTlsUpgrade(server.host, localHostName, extensions)) return false;
  if (extensionsOut) *extensionsOut = extensions;
  return s.SMTPauth == SmtpAuth::kNone || LogIn(extensions, server, secret);
}

}  // namespace quillo
