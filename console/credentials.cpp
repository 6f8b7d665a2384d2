#include "console/credentials.h"

#include "console/line_input.h"
#include "platform/output.h"
#include "platform/process.h"
#include "settings/settings.h"

namespace quillo {

namespace {

// Where one account's secret comes from: a command (when `command` is not
// empty) or the stored password, asked for into `prompted` when empty.
struct SecretSource {
  const char* commandKey;
  std::string command;
  std::string stored;
  std::string* prompted;
  std::string server;
  std::string login;
};

SecretSource SourceFor(Account account) {
  Settings& s = GetSettings();
  if (account == Account::kPop) return {"passwdcmd", s.passwdcmd, s.passwd, &s.passwd, s.POPserver, s.POPLogin};
  // The SMTP account's own keys first, then those it shares with POP3.
  SecretSource source{"", "", SmtpPassword(), s.SMTPLogin.empty() ? &s.passwd : &s.SMTPpasswd, s.SMTPserver,
                      SmtpLoginName()};
  if (!s.SMTPpasswdcmd.empty()) {
    source.commandKey = "SMTPpasswdcmd";
    source.command = s.SMTPpasswdcmd;
  } else if (s.SMTPpasswd.empty() && !s.passwdcmd.empty()) {
    source.commandKey = "passwdcmd";
    source.command = s.passwdcmd;
  }
  return source;
}

std::string HowItEnded(const CommandLineOutput& out) {
  if (!out.started) return "cannot be started";
  if (!out.exited) return "killed by signal " + std::to_string(out.status);
  return "exit status " + std::to_string(out.status);
}

std::optional<std::string> RunSecretCommand(const SecretSource& source) {
  CommandLineOutput out = RunCommandForLine(source.command, cap::kSecret - 1);
  std::string problem;
  if (!out.started || !out.exited || out.status != 0) {
    problem = HowItEnded(out);
  } else if (out.tooLong) {
    problem = "first line longer than " + std::to_string(cap::kSecret - 1) + " bytes, " + HowItEnded(out);
  } else if (out.line.empty()) {
    problem = "printed no password, " + HowItEnded(out);
  }
  if (problem.empty()) return std::move(out.line);
  PrintErr("%s error!(%s)\a\n", source.commandKey, problem.c_str());
  return std::nullopt;
}

}  // namespace

void PromptPassword(const std::string& server, const std::string& login, std::string& password) {
  PrintOut("Login Host & Name : %s(%s)\n", server.c_str(), login.c_str());
  WriteOut("Password:");
  password.clear();
  LineInput(password, cap::kSecret - 1, ' ', true);
}

std::optional<std::string> ObtainSecret(Account account) {
  const SecretSource source = SourceFor(account);
  if (!source.command.empty()) return RunSecretCommand(source);
  if (!source.stored.empty()) return source.stored;
  PromptPassword(source.server, source.login, *source.prompted);
  return *source.prompted;
}

}  // namespace quillo
