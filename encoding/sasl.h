// The client's side of the SASL mechanisms that take one message: PLAIN
// (RFC 4616), XOAUTH2 and OAUTHBEARER (RFC 7628); and the error a server
// sends back for a refused OAuth2 token.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillo {

struct SaslCredentials {
  std::string_view user;
  std::string_view secret;  // the password, or the OAuth2 access token
  std::string_view host;    // the server as connected to (OAUTHBEARER names it)
  int port = 0;
};

// The client's message for `mechanism` ("PLAIN", "XOAUTH2", "OAUTHBEARER",
// letter case ignored), before Base64; nothing for any other mechanism.
std::optional<std::string> SaslClientMessage(std::string_view mechanism, const SaslCredentials& credentials);

// What the client answers to a server's error challenge so that the server
// ends the exchange: an empty response for XOAUTH2, a lone 0x01 for
// OAUTHBEARER.
std::string SaslErrorAcknowledgement(std::string_view mechanism);

// The server's error challenge (Base64 of a JSON object such as
// {"status":"401","schemes":"bearer"}) as text; the Base64 itself when it
// decodes to nothing.
std::string SaslChallengeText(std::string_view challenge);

}  // namespace quillo
