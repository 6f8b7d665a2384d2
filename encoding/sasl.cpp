#include "encoding/sasl.h"

#include <cctype>

#include "encoding/encoded_words.h"

namespace quillo {

namespace {

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The authorization identity of a GS2 header (RFC 5801): ',' and '=' would
// end or escape it, so they travel as "=2C" and "=3D".
std::string Gs2Name(std::string_view user) {
  std::string out;
  for (char c : user) {
    if (c == ',') {
      out += "=2C";
    } else if (c == '=') {
      out += "=3D";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> SaslClientMessage(std::string_view mechanism, const SaslCredentials& c) {
  if (SameWord(mechanism, "PLAIN")) {
    std::string message(1, '\0');
    message.append(c.user).append(1, '\0').append(c.secret);
    return message;
  }
  if (SameWord(mechanism, "XOAUTH2")) {
    std::string message = "user=";
    message.append(c.user).append("\x01" "auth=Bearer ").append(c.secret).append("\x01\x01");
    return message;
  }
  if (SameWord(mechanism, "OAUTHBEARER")) {
    std::string message = "n,a=" + Gs2Name(c.user) + ",\x01";
    message.append("host=").append(c.host).append("\x01");
    message.append("port=").append(std::to_string(c.port)).append("\x01");
    message.append("auth=Bearer ").append(c.secret).append("\x01\x01");
    return message;
  }
  return std::nullopt;
}

std::string SaslErrorAcknowledgement(std::string_view mechanism) {
  return SameWord(mechanism, "OAUTHBEARER") ? std::string(1, '\x01') : std::string();
}

std::string SaslChallengeText(std::string_view challenge) {
  std::string decoded;
  DecodeBase64(challenge, decoded);
  return decoded.empty() ? std::string(challenge) : decoded;
}

}  // namespace quillo
