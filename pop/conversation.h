// Opening a POP3 conversation: ports, connection, greeting and login, shared
// by the receive, header-list and unload jobs.
#pragma once

#include <string>

namespace quillo {

// kNoGreeting also stands for a server that could not be spoken to securely
// as the POPtls setting asks (TLS refused, STLS not offered, no TLS in this
// build): the job ends then, after saying why.
enum class PopOpening { kOpened, kCannotConnect, kNoGreeting, kLoginFailed };

// Connects to the POP3 server of the settings (a ":port" in it wins over the
// service port, or port 995 with POPtls=tls), secures the connection as
// POPtls asks, reads the greeting and logs in. Prints the message of every
// failure but the connection's own ("connect error ..." differs per job);
// after a failed login QUIT has been sent and the connection closed.
// `lookUpSmtpPort`: the receive jobs look both ports up, the unload only POP3.
PopOpening OpenPopConversation(const std::string& password, bool lookUpSmtpPort);

// "connect error to POP server!(%s)\a\n" with the server setting.
void ReportCannotConnect();

// OpenPopConversation for the jobs that simply end when it fails: true when
// the conversation is open, false after every failure has been reported.
bool PopConversationOpened(const std::string& password, bool lookUpSmtpPort);

}  // namespace quillo
