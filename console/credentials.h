// Where a login's password or access token comes from: a command the user
// names (passwdcmd, SMTPpasswdcmd), the settings, or a masked prompt.
#pragma once

#include <optional>
#include <string>

namespace quillo {

enum class Account { kPop, kSmtp };

// Shows "Login Host & Name : <server>(<login>)" and reads a password,
// masked, into `password`.
void PromptPassword(const std::string& server, const std::string& login, std::string& password);

// The secret for `account`, sought before any connection is made. POP3:
// -p, else the first line of passwdcmd, else passwd. SMTP: the first line of
// SMTPpasswdcmd, else SMTPpasswd, else as for POP3. Without any of them it
// is asked for and kept for the rest of the run (a command is run afresh
// each time: a token it prints may expire). Nothing when the command failed
// or printed no line, after a message naming its exit status.
std::optional<std::string> ObtainSecret(Account account);

}  // namespace quillo
