// `quillo --check`: both servers tried as a real job would, nothing changed.
#pragma once

namespace quillo {

// Connects to the POP3 and the SMTP server of the settings, secures and logs
// in to each as the receive and send jobs do, and reports what a user needs
// to mend a setting. Returns the exit status: 0 only when both logins
// worked (an SMTP server without SMTPauth counts when it greets and takes
// EHLO), 1 otherwise.
int CheckServers();

}  // namespace quillo
