// Logins the way providers ask for them today: SASL PLAIN, XOAUTH2 and
// OAUTHBEARER on POP3 (the real Dovecot with an OAuth2 password database,
// and scripted servers for what Dovecot will not do), XOAUTH2 and
// OAUTHBEARER on SMTP (aiosmtpd), and secrets printed by passwdcmd, which
// must never show up in any output or file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/encoded_words.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"
#include "tests/support/shell_scripts.h"
#include "tests/support/smtp_server.h"
#include "tests/support/token_endpoint.h"

namespace quillo::test {
namespace {

using Reply = ScriptedPopServer::Reply;

const std::string kMessage =
    "From: hanako@example.jp\nSubject: token\nDate: Tue, 16 Jan 2024 08:00:00 +0900\n\nbody by token\n";
const std::string kScriptedMessage = "From: one@example.com\r\nSubject: first\r\n\r\nbody one\r\n";
const std::string kDraft = "To: bob@example.com\nSubject: hello\n----------\n\ntoken text\n";
const std::string kToken = "ya29.a0AfH6SMBx-token_for_tests.0123456789";
const std::string kErrorJson = R"({"status":"invalid_token","schemes":"bearer","scope":"mail"})";

// Every byte of every file under `dir` but the settings file, which is the
// user's own.
std::string AllFiles(const std::string& dir) {
  std::string all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename() == "quillo.ini") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    all += ss.str();
  }
  return all;
}

// The secret in none of the forms it could leak in: as it is, and Base64
// of the messages that carry it.
void ExpectNowhere(const std::string& secret, const RunResult& r, const Sandbox& box) {
  const std::string files = AllFiles(box.dir());
  for (const std::string& where : {r.out, r.err, files}) {
    EXPECT_EQ(where.find(secret), std::string::npos);
    EXPECT_EQ(where.find(EncodeBase64(secret).substr(0, 16)), std::string::npos);
  }
}

// A passwdcmd that prints `secret` from a file only it reads, so that the
// secret is in no settings file.
std::string TokenCommand(const Sandbox& box, const std::string& secret, const std::string& name = "token") {
  box.WriteFile(name, secret + "\n");
  return PrintFileCommand(box.Path(name));
}

class OauthDovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    ASSERT_TRUE(endpoint_.Ok());
    server_ = std::make_unique<DovecotServer>(DovecotTls{}, DovecotOauth{endpoint_.Url()});
    ASSERT_TRUE(server_->Ok()) << server_->Error();
    ASSERT_TRUE(server_->AddMessage(kMessage));
    box_.MakeMailbox();
  }
  RunResult Receive(const std::string& extra) {
    box_.WriteIni("POPserver=" + server_->Setting() + "\ntimeout=10\n" + extra);
    return box_.Run({"-g", "-a"});
  }

  TokenEndpoint endpoint_{DovecotServer::kUser, kToken};
  std::unique_ptr<DovecotServer> server_;
  Sandbox box_;
};

TEST_F(OauthDovecot, TokensFromPasswdcmdLogInByEitherMechanism) {
  Sandbox keys;
  const std::string command = TokenCommand(keys, kToken);
  for (const char* method : {"xoauth2", "oauthbearer"}) {
    SCOPED_TRACE(method);
    for (const std::string& f : box_.List("mbox/inbox")) std::remove(box_.Path("mbox/inbox/" + f).c_str());
    // Each login receives the message anew, not as one stored before.
    std::remove(box_.Path("mbox/uidlist.txt").c_str());
    RunResult r = Receive(std::string("POPauth=") + method + "\npasswdcmd=" + command + "\nserverdel=0\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
    EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"}) << r.out;
    // CAPA first, then the command alone and the token after the "+".
    const std::string upper = method == std::string("xoauth2") ? "XOAUTH2" : "OAUTHBEARER";
    const size_t capa = r.out.find("S:CAPA\n");
    const size_t auth = r.out.find("S:AUTH " + upper + "\nR:+ \nS:****\nR:+OK");
    ASSERT_NE(auth, std::string::npos) << r.out;
    EXPECT_LT(capa, auth);
    EXPECT_EQ(r.out.find("S:USER"), std::string::npos);
    ExpectNowhere(kToken, r, box_);
  }
  EXPECT_GE(endpoint_.Accepted(), 2);
}

TEST_F(OauthDovecot, AWrongTokenIsRefusedWithTheServersError) {
  Sandbox keys;
  for (const char* method : {"xoauth2", "oauthbearer"}) {
    SCOPED_TRACE(method);
    RunResult r = Receive(std::string("POPauth=") + method + "\npasswdcmd=" + TokenCommand(keys, "expired-token") + "\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("POP Login error!(AUTH "), std::string::npos) << r.err;
    // Dovecot's JSON error, decoded from its challenge.
    EXPECT_NE(r.err.find("POPserver said: {\"status\":"), std::string::npos) << r.err;
    EXPECT_TRUE(box_.List("mbox/inbox").empty());
    EXPECT_NE(r.out.find("S:QUIT"), std::string::npos);
    ExpectNowhere("expired-token", r, box_);
  }
}

TEST_F(OauthDovecot, PlainLogsInWithAPasswordAndRefusesAWrongOne) {
  RunResult good = Receive("POPauth=plain\npasswd=" + std::string(DovecotServer::kPassword) + "\n");
  ASSERT_EQ(good.exitCode, 0) << good.err;
  EXPECT_NE(good.out.find("S:AUTH PLAIN\nR:+ \nS:****\nR:+OK"), std::string::npos) << good.out;
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  ExpectNowhere(std::string(1, '\0') + "user" + '\0' + DovecotServer::kPassword, good, box_);

  RunResult bad = Receive("POPauth=plain\npasswd=wrong\n");
  EXPECT_NE(bad.err.find("POP Login error!(AUTH PLAIN user)[-ERR"), std::string::npos) << bad.err;
}

// What Dovecot will not do: insist on the two-step form, list no SASL
// methods, know no CAPA at all, take a token of 10 KB.
class SaslScripted : public ::testing::Test {
 protected:
  void SetUp() override { box_.MakeMailbox(); }
  RunResult Receive(ScriptedPopServer& server, const std::string& extra) {
    EXPECT_TRUE(server.Start(30));
    box_.WriteIni("POPserver=" + server.Setting() + "\ntimeout=5\n" + extra);
    return box_.Run({"-g", "-a"});
  }
  Sandbox box_;
};

std::string Xoauth2Line(const std::string& token) {
  return EncodeBase64("user=user\x01" "auth=Bearer " + token + "\x01\x01");
}

TEST_F(SaslScripted, TheTwoStepFormCarriesATokenOfTenKilobytes) {
  const std::string token(10 * 1024, 'k');
  ScriptedPopServer server({kScriptedMessage});
  server.Override("CAPA", {"+OK\r\nUIDL\r\nSASL PLAIN XOAUTH2\r\n.\r\n"});
  // Only the command alone gets the continuation; one with an initial
  // response would be refused.
  server.Override("AUTH XOAUTH2", {"+ \r\n"});
  server.Override("AUTH", {"-ERR use the two-step form\r\n"});
  server.Override(Xoauth2Line(token), {"+OK welcome\r\n"});
  Sandbox keys;
  RunResult r = Receive(server, "POPauth=XOAUTH2\npasswdcmd=" + TokenCommand(keys, token) + "\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"}) << r.out;
  const std::vector<std::string> commands = server.Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], "CAPA");
  EXPECT_EQ(commands[1], "AUTH XOAUTH2");
  EXPECT_EQ(commands[2], Xoauth2Line(token));
  EXPECT_NE(r.out.find("S:AUTH XOAUTH2\nR:+ \nS:****\nR:+OK welcome\n"), std::string::npos) << r.out;
  ExpectNowhere(token, r, box_);
}

TEST_F(SaslScripted, ARefusedTokenGetsTheEmptyResponseAndTheErrorIsShown) {
  ScriptedPopServer server({kScriptedMessage});
  server.Override("CAPA", {"+OK\r\nSASL XOAUTH2\r\n.\r\n"});
  server.Override("AUTH XOAUTH2", {"+\r\n"});
  server.Override(Xoauth2Line("stale"), {"+ " + EncodeBase64(kErrorJson) + "\r\n"});
  server.Override("", {"-ERR [AUTH] invalid token\r\n"});
  Sandbox keys;
  RunResult r = Receive(server, "POPauth=xoauth2\npasswdcmd=" + TokenCommand(keys, "stale") + "\n");
  EXPECT_NE(r.err.find("POP Login error!(AUTH XOAUTH2 user)[-ERR [AUTH] invalid token]\a\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("POPserver said: " + kErrorJson + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"CAPA", "AUTH XOAUTH2", Xoauth2Line("stale"), "", "QUIT"}));
  EXPECT_TRUE(box_.List("mbox/inbox").empty());
}

TEST_F(SaslScripted, AMethodTheServerDoesNotListIsRefusedNamingThoseItLists) {
  struct Case {
    const char* name;
    std::string capa;
    const char* method;
    std::string listed;
  };
  const Case cases[] = {
      {"other methods", "+OK\r\nSASL PLAIN LOGIN\r\nUIDL\r\n.\r\n", "oauthbearer", "PLAIN LOGIN"},
      {"no SASL line", "+OK\r\nUIDL\r\nTOP\r\n.\r\n", "xoauth2", "no SASL methods"},
      {"no CAPA", "-ERR unknown command\r\n", "plain", "no CAPA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPopServer server({kScriptedMessage});
    server.Override("CAPA", {c.capa});
    RunResult r = Receive(server, std::string("POPauth=") + c.method + "\npasswd=secret\n");
    std::string upper = c.method;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_NE(r.err.find("POPserver(" + server.Setting() + ") does not offer SASL " + upper + "!(it lists: " +
                         c.listed + ")\a\n"),
              std::string::npos)
        << r.err;
    // Neither the secret nor a login went out.
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"CAPA", "QUIT"}));
    EXPECT_TRUE(box_.List("mbox/inbox").empty());
  }
}

TEST_F(SaslScripted, PasswdcmdFailuresEndTheJobBeforeAnyConnection) {
  struct Case {
    const char* name;
    std::string command;
    const char* message;
  };
  const Case cases[] = {
      {"failing",
       ShellForm("echo half-a-secret; echo 'gpg: decryption failed' >&2; exit 2",
                 "echo half-a-secret& echo gpg: decryption failed>&2& exit 2"),
       "passwdcmd error!(exit status 2)\a\n"},
      {"printing nothing", ShellForm("true", "rem"), "passwdcmd error!(printed no password, exit status 0)\a\n"},
      {"empty first line", ShellForm("printf '\\nsecret\\n'", "echo.& echo secret"),
       "passwdcmd error!(printed no password, exit status 0)\a\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPopServer server({kScriptedMessage});
    RunResult r = Receive(server, "passwdcmd=" + c.command + "\npasswd=stored\n");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(server.Commands().empty());
    EXPECT_EQ(r.out.find("NetOpen"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("half-a-secret"), std::string::npos);
  }
  // The command's own words reach the user.
  ScriptedPopServer server({kScriptedMessage});
  RunResult r = Receive(
      server, "passwdcmd=" + ShellForm("echo 'unlock the keyring' >&2; exit 1", "echo unlock the keyring>&2& exit 1") + "\n");
  EXPECT_NE(r.err.find("unlock the keyring" + ShellLineEnd()), std::string::npos) << r.err;
}

TEST_F(SaslScripted, OnlyTheFirstLineOfPasswdcmdIsTheSecretAndMinusPWins) {
  ScriptedPopServer server({kScriptedMessage}, "line-one");
  Sandbox keys;
  keys.WriteFile("lines", "line-one\nline-two\nline-three\n");
  RunResult r = Receive(server, "passwdcmd=" + PrintFileCommand(keys.Path("lines")) + "\npasswd=stored\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"}) << r.err;
  EXPECT_NE(r.out.find("S:PASS ********\nR:+OK"), std::string::npos) << r.out;
  ExpectNowhere("line-one", r, box_);
  ExpectNowhere("line-two", r, box_);

  ScriptedPopServer typed({kScriptedMessage}, "from-option");
  EXPECT_TRUE(typed.Start(30));
  box_.WriteIni("POPserver=" + typed.Setting() + "\ntimeout=5\npasswdcmd=exit 9\n");
  RunResult p = box_.Run({"-g", "-a", "-p", "from-option"});
  EXPECT_EQ(p.err.find("passwdcmd"), std::string::npos) << p.err;
  const std::vector<std::string> commands = typed.Commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), "PASS from-option"), commands.end());
}

class OauthSmtp : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.MakeMailbox();
    box_.WriteFile("mbox/outbox/0000.TXT", kDraft);
  }
  Sandbox box_;
};

TEST_F(OauthSmtp, XoauthAndOauthbearerCarryShortAndTenKilobyteTokens) {
  const std::string longToken(10 * 1024, 'z');
  struct Case {
    const char* method;
    std::string token;
    const char* logged;  // the AUTH exchange in the log
  };
  const Case cases[] = {
      {"xoauth2", kToken, "S:AUTH XOAUTH2 ****\nR:235 "},
      {"oauthbearer", kToken, "S:AUTH OAUTHBEARER ****\nR:235 "},
      // Too long for one command line: the token follows the "334".
      {"xoauth2", longToken, "S:AUTH XOAUTH2\nR:334 \nS:****\nR:235 "},
      {"oauthbearer", longToken, "S:AUTH OAUTHBEARER\nR:334 \nS:****\nR:235 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + std::to_string(c.token.size()));
    SmtpCaptureOptions options;
    options.oauthUser = "taro@example.jp";
    options.oauthToken = c.token;
    SmtpCaptureServer server(options);
    ASSERT_TRUE(server.Started()) << server.Log();
    Sandbox keys;
    box_.WriteFile("mbox/outbox/0000.TXT", kDraft);
    box_.WriteIni("SMTPserver=" + server.Address() + "\nSMTPauth=" + c.method +
                  "\nSMTPLogin=taro@example.jp\npasswd=not-this\nSMTPpasswdcmd=" + TokenCommand(keys, c.token) +
                  "\ntimeout=10\n");
    RunResult r = box_.Run({"-s"}, "s\n");
    EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(c.logged), std::string::npos) << r.out;
    const std::vector<CapturedMessage> messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u) << server.Log();
    EXPECT_EQ(messages[0].login, "taro@example.jp");
    ExpectNowhere(c.token, r, box_);
  }
}

TEST_F(OauthSmtp, ARefusedTokenShowsTheServersErrorAndSendsNothing) {
  SmtpCaptureOptions options;
  options.oauthUser = "taro@example.jp";
  options.oauthToken = kToken;
  SmtpCaptureServer server(options);
  ASSERT_TRUE(server.Started()) << server.Log();
  for (const char* method : {"xoauth2", "oauthbearer"}) {
    SCOPED_TRACE(method);
    box_.WriteIni("SMTPserver=" + server.Address() + "\nSMTPauth=" + method +
                  "\nSMTPLogin=taro@example.jp\nSMTPpasswd=stale-token\ntimeout=10\n");
    RunResult r = box_.Run({"-s"}, "s\n");
    EXPECT_NE(r.err.find("SMTP Login error!(taro@example.jp)[535 "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("SMTPserver said: {\"status\":\"invalid_token\""), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("MAIL FROM"), std::string::npos);
    ExpectNowhere("stale-token", r, box_);
  }
  EXPECT_TRUE(server.Messages().empty());
  // A mechanism the server does not list is not tried.
  box_.WriteIni("SMTPserver=" + server.Address() + "\nSMTPauth=plain\nSMTPpasswd=x\ntimeout=10\n");
  RunResult plain = box_.Run({"-s"}, "s\n");
  EXPECT_NE(plain.err.find("does not offer AUTH PLAIN!"), std::string::npos) << plain.err;
}

}  // namespace
}  // namespace quillo::test
