#include "pop/pop_auth.h"

#include "encoding/encoded_words.h"
#include "net/transport.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "pop/pop_commands.h"
#include "settings/settings.h"

namespace quillo {

namespace {

// A capability list longer than this is not a server worth waiting for.
constexpr int kMaxCapabilityLines = 200;
constexpr std::string_view kMask = "****";

std::string_view FirstWord(std::string_view line) { return line.substr(0, line.find(' ')); }

// "+OK ..." ends the exchange well; a "+" alone or "+ " and a challenge
// asks for the client's next message.
bool IsContinuation(std::string_view reply) {
  reply = WithoutLineEnds(reply);
  return reply == "+" || reply.starts_with("+ ");
}

bool IsPositive(std::string_view reply) { return reply.starts_with("+OK"); }

void ReportRefusal(std::string_view mechanism, const std::string& reply, const std::string& challenge) {
  const std::string& user = GetSettings().POPLogin;
  PrintErr("POP Login error!(AUTH %.*s %s)[%s]\a\n", static_cast<int>(mechanism.size()), mechanism.data(),
           SanitizeForConsole(user).c_str(), ShownReply(std::string(WithoutLineEnds(reply))).c_str());
  if (!challenge.empty()) PrintErr("POPserver said: %s\n", SanitizeForConsole(challenge).c_str());
}

// The server refused the message with an error challenge (in `reply`): the
// mechanism's acknowledgement lets it end the exchange, whose last reply
// then replaces `reply`. The challenge as text.
std::string AnswerErrorChallenge(std::string_view mechanism, std::string& reply) {
  std::string_view encoded = WithoutLineEnds(reply);
  encoded.remove_prefix(encoded.size() > 1 ? 2 : 1);
  const std::string text = SaslChallengeText(encoded);
  NetSendLine("%s\r\n", EncodeBase64(SaslErrorAcknowledgement(mechanism)).c_str());
  if (NetRecvWholeLine(reply) <= 0) reply.clear();
  return text;
}

}  // namespace

std::optional<PopCapabilities> ReadPopCapabilities() {
  std::string line;
  NetSendLine("CAPA\r\n");
  if (!PopReadReply(line)) return std::nullopt;
  PopCapabilities capabilities;
  for (int lines = 0; lines < kMaxCapabilityLines; ++lines) {
    if (NetRecvWholeLine(line) <= 0) return std::nullopt;
    const std::string_view capability = WithoutLineEnds(line);
    if (capability == ".") return capabilities;
    capabilities.emplace_back(capability);
  }
  return std::nullopt;
}

bool HasCapability(const PopCapabilities& capabilities, std::string_view name) {
  for (const std::string& line : capabilities) {
    if (EqualsIgnoreCase(FirstWord(line), name)) return true;
  }
  return false;
}

std::vector<std::string> SaslMethods(const PopCapabilities& capabilities) {
  std::vector<std::string> methods;
  for (const std::string& line : capabilities) {
    if (!EqualsIgnoreCase(FirstWord(line), "SASL")) continue;
    std::string_view rest(line);
    while (!rest.empty()) {
      const size_t space = rest.find(' ');
      if (space == std::string_view::npos) break;
      rest.remove_prefix(space + 1);
      const std::string_view word = FirstWord(rest);
      if (!word.empty()) methods.emplace_back(word);
    }
  }
  return methods;
}

int PopSaslLogin(std::string_view mechanism, const SaslCredentials& credentials) {
  const std::optional<std::string> message = SaslClientMessage(mechanism, credentials);
  if (!message) return 0;
  std::string reply;
  NetSendLine("AUTH %.*s\r\n", static_cast<int>(mechanism.size()), mechanism.data());
  if (NetRecvWholeLine(reply) <= 0 || !IsContinuation(reply)) {
    ReportRefusal(mechanism, reply, "");
    return 0;
  }
  NetSendSecretLine(kMask, EncodeBase64(*message));
  if (NetRecvWholeLine(reply) <= 0) reply.clear();
  if (IsPositive(reply)) return 1;
  std::string challenge;
  if (IsContinuation(reply)) challenge = AnswerErrorChallenge(mechanism, reply);
  ReportRefusal(mechanism, reply, challenge);
  return 0;
}

}  // namespace quillo
