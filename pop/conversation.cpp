#include "pop/conversation.h"

#include "net/transport.h"
#include "platform/output.h"
#include "pop/pop_commands.h"
#include "settings/settings.h"

namespace quillo {

namespace {
constexpr int kDefaultPop3Port = 110;
}  // namespace

void ReportCannotConnect() { PrintErr("connect error to POP server!(%s)\a\n", GetSettings().POPserver.c_str()); }

PopOpening OpenPopConversation(const std::string& password, bool lookUpSmtpPort) {
  const Settings& settings = GetSettings();
  // Only the POP3 port is used; the SMTP look-up shows in the log all the same.
  if (lookUpSmtpPort) GetService("smtp", "tcp");
  int port = GetService("pop3", "tcp");
  if (port < 0) port = kDefaultPop3Port;
  const HostPort server = SplitHostPort(settings.POPserver, port);
  if (NetOpen(server.host, server.port) == 0) return PopOpening::kCannotConnect;

  std::string greeting;
  if (!PopReadReply(greeting)) {
    WriteErr("responce error! from POP server\a\n");
    NetClose();
    return PopOpening::kNoGreeting;
  }
  if (!PopLogin(settings.POPLogin, password)) {
    PopQuit();
    return PopOpening::kLoginFailed;
  }
  PrintOut("Login POPserver(%s)\n", settings.POPserver.c_str());
  return PopOpening::kOpened;
}

}  // namespace quillo
