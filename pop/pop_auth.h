// What a POP3 server can do (CAPA, RFC 2449) and the SASL logins (AUTH,
// RFC 5034) besides USER and PASS.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/sasl.h"

namespace quillo {

// One line per capability, line ends removed ("SASL PLAIN XOAUTH2",
// "UIDL"). Nothing when the server refused CAPA or the list broke off.
using PopCapabilities = std::vector<std::string>;

// Sends CAPA and reads its whole list, so that the next reply is the next
// command's.
std::optional<PopCapabilities> ReadPopCapabilities();

// True when a line of `capabilities` begins with the word `name` (letter
// case ignored).
bool HasCapability(const PopCapabilities& capabilities, std::string_view name);

// The methods of the SASL line ({"PLAIN", "XOAUTH2"}); none without it.
std::vector<std::string> SaslMethods(const PopCapabilities& capabilities);

// AUTH `mechanism` (PLAIN, XOAUTH2 or OAUTHBEARER) in the two-step form:
// the command alone, then the client's message after the server's "+"
// continuation, which every server takes whatever the length of a token.
// A refused token's error challenge is answered as the mechanism asks and
// shown decoded. The secret never reaches the log ("S:****" instead).
// 1 when the server accepted the login, else 0 (after saying why).
int PopSaslLogin(std::string_view mechanism, const SaslCredentials& credentials);

}  // namespace quillo
