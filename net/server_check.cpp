#include "net/server_check.h"

#include "net/transport.h"
#include "platform/output.h"
#include "platform/strings.h"

namespace quillo {

namespace {

// Server words and certificate texts may hold anything.
void Line(const char* label, const std::string& value) {
  PrintOut("  %-13s %s\n", label, SanitizeForConsole(value).c_str());
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

void PrintCertificate(const TlsCertificate& certificate) {
  if (!certificate.seen) return;
  Line("certificate:", certificate.subject);
  Line("issuer:", certificate.issuer);
  Line("expires:", certificate.expires);
  Line("trusted:", certificate.trusted ? "yes" : "no");
}

}  // namespace

void NoteConnection(ServerCheck& check) {
  const NetSession& session = GetNetSession();
  check.address = session.peerAddress;
  check.tls = session.tlsDescription;
  check.certificate = session.tls.Certificate();
}

void PrintServerCheck(const char* title, const std::string& setting, const ServerCheck& check) {
  PrintOut("%s server %s\n", title, SanitizeForConsole(setting).c_str());
  Line("address:", check.address.empty() ? "(not connected)" : check.address);
  Line("TLS:", check.tls.empty() ? (check.certificate.seen ? "failed" : "none") : check.tls);
  PrintCertificate(check.certificate);
  Line("capabilities:", check.capabilities.empty() ? "(none listed)" : Joined(check.capabilities));
  Line("login:", !check.loggedIn ? "failed" : check.loginAsked ? "ok" : "none asked for");
  if (check.messages >= 0) Line("messages:", std::to_string(check.messages));
}

}  // namespace quillo
