// The settings that secure the connections and log in to the SMTP server,
// and the encoding the credentials travel in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "compose/smtp_session.h"
#include "encoding/encoded_words.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

class TlsSettings : public ::testing::Test {
 protected:
  void SetUp() override { oldDir_ = std::filesystem::current_path(); }
  void TearDown() override {
    std::filesystem::current_path(oldDir_);
    GetSettings() = Settings{};
  }
  // Loads a settings file of the required keys and `extra`.
  int Load(const std::string& extra) {
    box_.WriteFile("quillo.ini", "mailbox=" + box_.Path("mbox") +
                                     "\nPOPserver=pop.example\nPOPLogin=taro\nmailto=t@example.jp\npasswd=popword\n" +
                                     extra);
    std::filesystem::current_path(box_.dir());
    GetSettings() = Settings{};
    testing::internal::CaptureStderr();
    const int rc = LoadSettings("/nonexistent/bin/quillo", [](const std::string&) { return 1; });
    err = testing::internal::GetCapturedStderr();
    return rc;
  }
  std::string err;

 private:
  test::Sandbox box_;
  std::filesystem::path oldDir_;
};

TEST_F(TlsSettings, KeysDefaultsAndRefusedValues) {
  struct Case {
    const char* extra;
    int rc;
    const char* err;  // what LoadSettings writes on standard error
    TlsMode pop = TlsMode::kNone;
    TlsMode smtp = TlsMode::kNone;
    SmtpAuth auth = SmtpAuth::kNone;
    const char* login = "";
    const char* password = "";
  };
  const Case cases[] = {
      {"", 0, "", TlsMode::kNone, TlsMode::kNone, SmtpAuth::kNone, "taro", "popword"},
      {"POPtls=\nSMTPtls=\nSMTPauth=\nSMTPLogin=\nSMTPpasswd=\n", 0, "", TlsMode::kNone, TlsMode::kNone,
       SmtpAuth::kNone, "taro", "popword"},
      {"POPtls=TLS\nSMTPtls=StartTLS\nSMTPauth=Login\nSMTPLogin=taro@example.jp\nSMTPpasswd=smtpword\n", 0, "",
       TlsMode::kImplicit, TlsMode::kStartTls, SmtpAuth::kLogin, "taro@example.jp", "smtpword"},
      {"POPtls=starttls\nSMTPtls=tls\nSMTPauth=plain\n", 0, "", TlsMode::kStartTls, TlsMode::kImplicit,
       SmtpAuth::kPlain, "taro", "popword"},
      {"POPtls=none\nSMTPtls=none\nSMTPauth=none\nSMTPpasswd=only\n", 0, "", TlsMode::kNone, TlsMode::kNone,
       SmtpAuth::kNone, "taro", "only"},
      // A mistyped mode must not quietly mean "none".
      {"POPtls=ssl\n", 1, "POPtls error!(ssl)\a\r\n"},
      {"SMTPtls=yes\n", 1, "SMTPtls error!(yes)\a\r\n"},
      {"SMTPauth=cram-md5\nPOPtls=tls\n", 1, "SMTPauth error!(cram-md5)\a\r\n"},
      {"SMTPauth=XOAUTH2\n", 0, "", TlsMode::kNone, TlsMode::kNone, SmtpAuth::kXoauth2, "taro", "popword"},
      {"SMTPauth=oauthbearer\n", 0, "", TlsMode::kNone, TlsMode::kNone, SmtpAuth::kOauthbearer, "taro", "popword"},
      {"POPauth=sasl\n", 1, "POPauth error!(sasl)\a\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    ASSERT_EQ(Load(c.extra), c.rc) << err;
    EXPECT_EQ(err, c.err);
    if (c.rc != 0) continue;
    const Settings& s = GetSettings();
    EXPECT_EQ(s.POPtls, c.pop);
    EXPECT_EQ(s.SMTPtls, c.smtp);
    EXPECT_EQ(s.SMTPauth, c.auth);
    EXPECT_EQ(SmtpLoginName(), c.login);
    EXPECT_EQ(SmtpPassword(), c.password);
  }
}

TEST_F(TlsSettings, PopAuthMethods) {
  const std::pair<const char*, PopAuth> cases[] = {{"", PopAuth::kUser},
                                                   {"POPauth=user\n", PopAuth::kUser},
                                                   {"POPauth=PLAIN\n", PopAuth::kPlain},
                                                   {"POPauth=xoauth2\n", PopAuth::kXoauth2},
                                                   {"POPauth=OAuthBearer\n", PopAuth::kOauthbearer}};
  for (const auto& [extra, method] : cases) {
    SCOPED_TRACE(extra);
    ASSERT_EQ(Load(extra), 0) << err;
    EXPECT_EQ(GetSettings().POPauth, method);
  }
}

TEST(TlsBase64, CredentialsEncodeAsTheStandardSays) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\0user\0secret", 12), "AHVzZXIAc2VjcmV0"},
      {"\xff\xfe\x80", "//6A"},
  };
  for (const auto& [bytes, encoded] : cases) EXPECT_EQ(EncodeBase64(bytes), encoded) << bytes;
}

}  // namespace
}  // namespace quillo
