// The client messages of the one-message SASL mechanisms, and the server's
// error challenge as the user is shown it.
#include "encoding/sasl.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/encoded_words.h"

namespace quillo {
namespace {

using namespace std::string_literals;

TEST(SaslTest, ClientMessagesOfEachMechanism) {
  struct Case {
    const char* mechanism;
    SaslCredentials credentials;
    std::optional<std::string> message;
  };
  const Case cases[] = {
      {"PLAIN", {"taro", "s3cret", "pop.example.jp", 995}, "\0taro\0s3cret"s},
      {"plain", {"", "", "h", 1}, "\0\0"s},
      {"XOAUTH2", {"taro@example.jp", "ya29.tok", "imap.example", 995},
       "user=taro@example.jp\x01" "auth=Bearer ya29.tok\x01\x01"s},
      {"OAUTHBEARER", {"taro@example.jp", "tok", "pop.example.jp", 995},
       "n,a=taro@example.jp,\x01host=pop.example.jp\x01port=995\x01" "auth=Bearer tok\x01\x01"s},
      // ',' would end the authorization identity and '=' begin an escape.
      {"OAuthBearer", {"a,b=c", "t", "h", 587}, "n,a=a=2Cb=3Dc,\x01host=h\x01port=587\x01" "auth=Bearer t\x01\x01"s},
      {"LOGIN", {"u", "p", "h", 1}, std::nullopt},
      {"CRAM-MD5", {"u", "p", "h", 1}, std::nullopt},
      {"", {"u", "p", "h", 1}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mechanism);
    EXPECT_EQ(SaslClientMessage(c.mechanism, c.credentials), c.message);
  }
}

TEST(SaslTest, LongTokensAreKeptWhole) {
  const std::string token(70000, 'T');
  const std::optional<std::string> message = SaslClientMessage("XOAUTH2", {"u", token, "h", 1});
  ASSERT_TRUE(message);
  EXPECT_EQ(message->size(), std::string("user=u\x01" "auth=Bearer \x01\x01").size() + token.size());
  EXPECT_EQ(EncodeBase64(*message).size(), (message->size() + 2) / 3 * 4);
}

TEST(SaslTest, ErrorAcknowledgementAndChallengeText) {
  EXPECT_EQ(SaslErrorAcknowledgement("XOAUTH2"), "");
  EXPECT_EQ(SaslErrorAcknowledgement("oauthbearer"), "\x01");
  const std::string json = R"({"status":"401","schemes":"bearer","scope":"mail"})";
  EXPECT_EQ(SaslChallengeText(EncodeBase64(json)), json);
  // Not Base64 at all: shown as it came.
  EXPECT_EQ(SaslChallengeText("!!"), "!!");
  EXPECT_EQ(SaslChallengeText(""), "");
}

}  // namespace
}  // namespace quillo
