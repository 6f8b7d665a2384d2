#include "pop/conversation.h"

#include <string_view>

#include "net/transport.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/pop_commands.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr int kDefaultPop3Port = 110;
constexpr int kDefaultPop3sPort = 995;
// A capability list longer than this is not a server worth waiting for.
constexpr int kMaxCapabilityLines = 200;

// Secures the connection; on failure says why and closes it.
bool SecurePop(const std::string& host) {
  std::string reason;
  if (NetStartTls(host, reason)) return true;
  // The reason may quote the server's certificate.
  PrintErr("POPserver(%s) TLS error!(%s)\a\n", GetSettings().POPserver.c_str(), SanitizeForConsole(reason).c_str());
  NetClose();
  return false;
}

// CAPA: true when the server lists STLS. The whole list is read, so that
// the next reply is the next command's.
bool OffersStls() {
  std::string line;
  NetSendLine("CAPA\r\n");
  if (!PopReadReply(line)) return false;
  bool offered = false;
  for (int lines = 0; lines < kMaxCapabilityLines; ++lines) {
    if (NetRecvWholeLine(line) <= 0) return false;
    std::string_view word = WithoutLineEnds(line);
    if (word == ".") return offered;
    word = word.substr(0, word.find(' '));
    if (EqualsIgnoreCase(word, "STLS")) offered = true;
  }
  return false;
}

// STLS (only to a server that offers it) and the handshake. On failure the
// conversation has been ended and why said.
bool UpgradePop(const std::string& host) {
  const Settings& settings = GetSettings();
  if (!OffersStls()) {
    PrintErr("POPserver(%s) does not offer STLS!\a\n", settings.POPserver.c_str());
    PopQuit();
    return false;
  }
  std::string reply;
  NetSendLine("STLS\r\n");
  if (!PopReadReply(reply)) {
    PrintErr("POP Protcol error!(STLS)[%s]\a\n", ShownReply(reply).c_str());
    PopQuit();
    return false;
  }
  return SecurePop(host);
}

}  // namespace

void ReportCannotConnect() { PrintErr("connect error to POP server!(%s)\a\n", GetSettings().POPserver.c_str()); }

PopOpening OpenPopConversation(const std::string& password, bool lookUpSmtpPort) {
  const Settings& settings = GetSettings();
  const TlsMode tls = settings.POPtls;
  if (tls != TlsMode::kNone && !NetTlsUsable(std::string("POPtls=") + TlsModeName(tls))) return PopOpening::kNoGreeting;
  // Only the POP3 port is used; the SMTP look-up shows in the log all the same.
  if (lookUpSmtpPort) GetService("smtp", "tcp");
  int port = GetService("pop3", "tcp");
  if (port < 0) port = kDefaultPop3Port;
  if (tls == TlsMode::kImplicit) port = kDefaultPop3sPort;
  const HostPort server = SplitHostPort(settings.POPserver, port);
  if (NetOpen(server.host, server.port) == 0) return PopOpening::kCannotConnect;
  if (tls == TlsMode::kImplicit && !SecurePop(server.host)) return PopOpening::kNoGreeting;

  std::string greeting;
  if (!PopReadReply(greeting)) {
    WriteErr("responce error! from POP server\a\n");
    NetClose();
    return PopOpening::kNoGreeting;
  }
  if (tls == TlsMode::kStartTls && !UpgradePop(server.host)) return PopOpening::kNoGreeting;
  if (!PopLogin(settings.POPLogin, password)) {
    PopQuit();
    return PopOpening::kLoginFailed;
  }
  PrintOut("Login POPserver(%s)\n", settings.POPserver.c_str());
  return PopOpening::kOpened;
}

bool PopConversationOpened(const std::string& password, bool lookUpSmtpPort) {
  switch (OpenPopConversation(password, lookUpSmtpPort)) {
    case PopOpening::kOpened:
      return true;
    case PopOpening::kCannotConnect:
      ReportCannotConnect();
      return false;
    case PopOpening::kNoGreeting:
    case PopOpening::kLoginFailed:
      return false;
  }
  return false;
}

}  // namespace quillo
