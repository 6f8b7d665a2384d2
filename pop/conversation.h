// Opening a POP3 conversation: ports, connection, greeting and login, shared
// by the receive, header-list and unload jobs.
#pragma once

#include <string>

#include "net/server_check.h"
#include "pop/pop_auth.h"

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
// POPauth chooses the login: USER and PASS, or AUTH with a SASL method the
// server lists in its CAPA (asked after STLS, when the connection is
// secure). With `capabilities` CAPA is asked whatever the method, and its
// list (empty when refused) is left there.
PopOpening OpenPopConversation(const std::string& password, bool lookUpSmtpPort,
                               PopCapabilities* capabilities = nullptr);

// "connect error to POP server!(%s)\a\n" with the server setting.
void ReportCannotConnect();

// OpenPopConversation for the jobs that simply end when it fails: true when
// the conversation is open, false after every failure has been reported.
bool PopConversationOpened(const std::string& password, bool lookUpSmtpPort);

// Opens a conversation as the receive jobs do, with CAPA asked whatever the
// login, then STAT and QUIT: nothing on the server changes.
ServerCheck CheckPopServer(const std::string& password);

}  // namespace quillo
