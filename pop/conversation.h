// Opening a POP3 conversation: ports, connection, greeting and login, shared
// by the receive, header-list and unload jobs.
#pragma once

#include <string>

namespace quillo {

enum class PopOpening { kOpened, kCannotConnect, kNoGreeting, kLoginFailed };

// Connects to the POP3 server of the settings (a ":port" in it wins over the
// service port), reads the greeting and logs in. Prints the message of every
// failure but the connection's own ("connect error ..." differs per job);
// after a failed login QUIT has been sent and the connection closed.
// `lookUpSmtpPort`: the receive jobs look both ports up, the unload only POP3.
PopOpening OpenPopConversation(const std::string& password, bool lookUpSmtpPort);

// "connect error to POP server!(%s)\a\n" with the server setting.
void ReportCannotConnect();

}  // namespace quillo
