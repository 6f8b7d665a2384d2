#include "app/check.h"

#include <optional>
#include <string>

#include "compose/smtp.h"
#include "console/credentials.h"
#include "net/server_check.h"
#include "platform/output.h"
#include "pop/conversation.h"
#include "settings/settings.h"

namespace quillo {

namespace {

ServerCheck CheckPop() {
  const std::optional<std::string> secret = ObtainSecret(Account::kPop);
  return secret ? CheckPopServer(*secret) : ServerCheck{};
}

ServerCheck CheckSmtp() {
  std::optional<std::string> secret = std::string();
  if (GetSettings().SMTPauth != SmtpAuth::kNone) secret = ObtainSecret(Account::kSmtp);
  return secret ? CheckSmtpServer(*secret) : ServerCheck{};
}

}  // namespace

int CheckServers() {
  WriteOut("Check servers\n");
  const ServerCheck pop = CheckPop();
  const ServerCheck smtp = CheckSmtp();
  const Settings& s = GetSettings();
  WriteOut("\n");
  PrintServerCheck("POP3", s.POPserver, pop);
  PrintServerCheck("SMTP", s.SMTPserver, smtp);
  const bool good = pop.loggedIn && smtp.loggedIn;
  WriteOut(good ? "check: both servers accept the login\n" : "check: a server refused or could not be reached\n");
  return good ? 0 : 1;
}

}  // namespace quillo
