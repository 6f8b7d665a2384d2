// Where passwords and tokens come from: the command's first line, the
// settings, and the order among them; and how a failing command ends a job.
#include "console/credentials.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

TEST(RunCommandForLineTest, FirstLineAndHowTheCommandEnded) {
  struct Case {
    const char* command;
    bool exited;
    int status;
    bool tooLong;
    std::string line;
  };
  const Case cases[] = {
      {"printf 'tok\\n'", true, 0, false, "tok"},
      {"printf 'tok'", true, 0, false, "tok"},
      {"printf 'first\\r\\nsecond\\nthird\\n'", true, 0, false, "first"},
      {"printf 'a b \\t\\n'", true, 0, false, "a b \t"},
      {"printf '\\n'", true, 0, false, ""},
      {"true", true, 0, false, ""},
      {"printf 'half\\n'; exit 3", true, 3, false, "half"},
      {"exit 127", true, 127, false, ""},
      {"kill -9 $$", false, 9, false, ""},
      {"head -c 40 /dev/zero | tr '\\0' x", true, 0, true, ""},
      {"printf '%32s\\n' x", true, 0, false, std::string(31, ' ') + "x"},
      // Much more output after the first line is read and dropped.
      {"printf 'k\\n'; head -c 3000000 /dev/zero", true, 0, false, "k"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const CommandLineOutput out = RunCommandForLine(c.command, 32);
    EXPECT_TRUE(out.started);
    EXPECT_EQ(out.exited, c.exited);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.tooLong, c.tooLong);
    EXPECT_EQ(out.line, c.line);
  }
}

class ObtainSecretTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetSettings();
    GetSettings() = Settings{};
    GetSettings().POPserver = "pop.example";
    GetSettings().POPLogin = "taro";
    GetSettings().SMTPserver = "smtp.example";
  }
  void TearDown() override { GetSettings() = saved_; }

 private:
  Settings saved_;
};

TEST_F(ObtainSecretTest, CommandsWinOverStoredPasswordsAccountByAccount) {
  struct Case {
    const char* name;
    std::string passwd, passwdcmd, smtpPasswd, smtpPasswdcmd;
    std::string pop, smtp;
  };
  const Case cases[] = {
      {"stored only", "pw", "", "", "", "pw", "pw"},
      {"command over passwd", "pw", "echo fromcmd", "", "", "fromcmd", "fromcmd"},
      {"SMTP keeps its own password", "pw", "echo fromcmd", "smtppw", "", "fromcmd", "smtppw"},
      {"SMTP command over everything", "pw", "echo fromcmd", "smtppw", "echo smtpcmd", "fromcmd", "smtpcmd"},
      {"SMTP command alone", "pw", "", "", "echo smtpcmd", "pw", "smtpcmd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings& s = GetSettings();
    s.passwd = c.passwd;
    s.passwdcmd = c.passwdcmd;
    s.SMTPpasswd = c.smtpPasswd;
    s.SMTPpasswdcmd = c.smtpPasswdcmd;
    EXPECT_EQ(ObtainSecret(Account::kPop), c.pop);
    EXPECT_EQ(ObtainSecret(Account::kSmtp), c.smtp);
  }
}

TEST_F(ObtainSecretTest, AFailingCommandEndsTheJobNamingItsExitStatus) {
  struct Case {
    Account account;
    const char* passwdcmd;
    const char* smtpPasswdcmd;
    const char* message;
  };
  const Case cases[] = {
      {Account::kPop, "echo token; exit 2", "", "passwdcmd error!(exit status 2)\a\n"},
      {Account::kPop, "printf '\\nsecond\\n'", "", "passwdcmd error!(printed no password, exit status 0)\a\n"},
      {Account::kPop, "true", "", "passwdcmd error!(printed no password, exit status 0)\a\n"},
      {Account::kPop, "kill -15 $$", "", "passwdcmd error!(killed by signal 15)\a\n"},
      {Account::kSmtp, "echo ok", "exit 5", "SMTPpasswdcmd error!(exit status 5)\a\n"},
      {Account::kSmtp, "exit 6", "", "passwdcmd error!(exit status 6)\a\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.passwdcmd);
    GetSettings().passwd = "never used";
    GetSettings().passwdcmd = c.passwdcmd;
    GetSettings().SMTPpasswdcmd = c.smtpPasswdcmd;
    testing::internal::CaptureStderr();
    const std::optional<std::string> secret = ObtainSecret(c.account);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_FALSE(secret);
  }
}

TEST_F(ObtainSecretTest, ATypedPasswordIsKeptForTheRun) {
  std::optional<std::string> secret;
  const std::string out = test::WithPipedKeys("typed\r", [&] { secret = ObtainSecret(Account::kPop); });
  EXPECT_EQ(secret, "typed");
  EXPECT_EQ(out, "Login Host & Name : pop.example(taro)\nPassword:*****\r\n");
  EXPECT_EQ(GetSettings().passwd, "typed");
  // The SMTP account is the POP3 one: nothing more is asked.
  EXPECT_EQ(ObtainSecret(Account::kSmtp), "typed");
}

}  // namespace
}  // namespace quillo
