#include "pop/conversation.h"

#include <optional>
#include <string_view>
#include <vector>

#include "net/transport.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/pop_commands.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr int kDefaultPop3Port = 110;
constexpr int kDefaultPop3sPort = 995;

bool SecurePop(const std::string& host) { return NetSecureOrClose("POPserver", GetSettings().POPserver, host); }

// STLS (only to a server that offers it) and the handshake. On failure the
// conversation has been ended and why said.
bool UpgradePop(const std::string& host) {
  const Settings& settings = GetSettings();
  const std::optional<PopCapabilities> capabilities = ReadPopCapabilities();
  if (!capabilities || !HasCapability(*capabilities, "STLS")) {
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

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The SASL login POPauth asks for, once the server has said it offers it.
bool SaslLogIn(const std::optional<PopCapabilities>& capabilities, const HostPort& server,
               const std::string& secret) {
  const Settings& settings = GetSettings();
  const char* mechanism = SaslName(settings.POPauth);
  const std::vector<std::string> methods = capabilities ? SaslMethods(*capabilities) : std::vector<std::string>{};
  bool offered = false;
  for (const std::string& method : methods) offered = offered || EqualsIgnoreCase(method, mechanism);
  if (!offered) {
    const std::string listed = !capabilities ? "no CAPA" : methods.empty() ? "no SASL methods" : Joined(methods);
    PrintErr("POPserver(%s) does not offer SASL %s!(it lists: %s)\a\n", settings.POPserver.c_str(), mechanism,
             SanitizeForConsole(listed).c_str());
    return false;
  }
  const SaslCredentials credentials{settings.POPLogin, secret, server.host, server.port};
  return PopSaslLogin(mechanism, credentials) == 1;
}

}  // namespace

void ReportCannotConnect() { PrintErr("connect error to POP server!(%s)\a\n", GetSettings().POPserver.c_str()); }

PopOpening OpenPopConversation(const std::string& password, bool lookUpSmtpPort, PopCapabilities* capabilities) {
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
  // Asked afresh after STLS: what a server said before TLS counts no more.
  std::optional<PopCapabilities> listed;
  if (settings.POPauth != PopAuth::kUser || capabilities) listed = ReadPopCapabilities();
  if (capabilities) *capabilities = listed.value_or(PopCapabilities{});
  const bool loggedIn = settings.POPauth == PopAuth::kUser ? PopLogin(settings.POPLogin, password) == 1
                                                           : SaslLogIn(listed, server, password);
  if (!loggedIn) {
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

ServerCheck CheckPopServer(const std::string& password) {
  ServerCheck check;
  const PopOpening opening = OpenPopConversation(password, false, &check.capabilities);
  NoteConnection(check);
  if (opening == PopOpening::kCannotConnect) ReportCannotConnect();
  if (opening != PopOpening::kOpened) return check;
  check.loggedIn = true;
  check.messages = PopStat();
  PopQuit();
  return check;
}

}  // namespace quillo
