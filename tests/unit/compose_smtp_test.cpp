// One SMTP conversation per message, against a scripted server: refusals at
// every step, multi-line greetings, a missing QUIT reply, and an outbox file
// that disappears while the server waits for the message.
#include "compose/smtp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "tests/support/smtp_server.h"
#include "tests/unit/compose_fixture.h"
#include "tests/unit/net_test_peer.h"
#include "platform/socket.h"

namespace quillo::composetest {
namespace {

using test::ScriptedSmtpServer;
using test::SmtpScript;

const std::string kDraft = "To: a@x, b@y\nBcc: c@z\nSubject: s\n\nbody\n";
const std::regex kCleanedWithId(
    "From: Me Myself <me@example\\.com>\nTo: a@x, b@y\nBcc: c@z\nSubject: s\n"
    "Message-ID: <[0-9]+\\.[0-9]{6}\\.[0-9]+\\.[0-9a-f]{16}@example\\.com>\n"
    "X-Mailer: kelvaro Quillo Ver\\.0\\.61\\[POSIX\\] \n\nbody\n");

std::vector<std::string> Verbs(const std::vector<std::string>& commands) {
  std::vector<std::string> verbs;
  for (const std::string& c : commands) verbs.push_back(c.substr(0, 4));
  return verbs;
}

class ComposeSmtp : public ComposeFixture {
 protected:
  std::string OutboxPath() const { return box.Path("mbox/outbox/0003.TXT"); }
  Outcome Deliver(const std::string& server) {
    GetSettings().SMTPserver = server;
    box.WriteFile("mbox/outbox/0003.TXT", kDraft);
    return Call([&] { return DeliverMessage(OutboxPath(), LocalHostName()); });
  }
  bool Filed() const { return box.Exists("mbox/inbox/0003.TXT") && !box.Exists("mbox/outbox/0003.TXT"); }
};

TEST_F(ComposeSmtp, EachStepRefusedOrUnanswered) {
  const std::vector<std::string> all = {"HELO", "MAIL", "RCPT", "RCPT", "RCPT", "DATA", "QUIT"};
  struct Case {
    const char* name;
    std::function<void(SmtpScript&)> change;
    int result;
    std::vector<std::string> verbs;
    std::string err;
    bool filed;
  };
  const std::vector<Case> cases = {
      {"greeting 421", [](SmtpScript& s) { s.greeting = {"421 busy"}; }, 0, {}, "responce error!\a\n", false},
      {"421 after 220-", [](SmtpScript& s) { s.greeting = {"220-hello", "421 busy"}; }, 0, {}, "responce error!\a\n",
       false},
      {"three-line greeting", [](SmtpScript& s) { s.greeting = {"220-one", "220-two", "220 three"}; }, 1, all, "",
       true},
      {"HELO refused", [](SmtpScript& s) { s.helo = "501 who"; }, 0, {"HELO", "QUIT"}, "SMTP error!(HELO)\a\n",
       false},
      {"MAIL FROM refused", [](SmtpScript& s) { s.mailFrom = "550 no"; }, 1, {"HELO", "MAIL", "QUIT"},
       "SMTP error!(MAIL FROM:)\a\n", false},
      {"DATA refused", [](SmtpScript& s) { s.data = "554 no"; }, 1, all, "SMTP error!(DATA)\a\n", false},
      {"end of data refused", [](SmtpScript& s) { s.endOfData = "554 spam"; }, 1, all,
       "SMTP error!(DATA[MailBody])\x81I\a\n", false},
      {"every recipient refused", [](SmtpScript& s) { s.rcptDefault = "550 no"; }, 1, all, "", true},
      {"QUIT unanswered", [](SmtpScript& s) { s.quit = ""; }, 1, all, "SMTP error!(QUIT)\a\n", true},
  };
  for (const Case& c : cases) {
    SmtpScript script;
    c.change(script);
    ScriptedSmtpServer server(script);
    Outcome o = Deliver(server.Address());
    EXPECT_EQ(o.result, c.result) << c.name;
    EXPECT_EQ(Verbs(server.Commands()), c.verbs) << c.name;
    if (c.err.empty()) {
      EXPECT_EQ(o.err, "") << c.name;
    } else {
      EXPECT_TRUE(o.err.ends_with(c.err)) << c.name << ": " << o.err;
    }
    EXPECT_EQ(Filed(), c.filed) << c.name;
    // Once the check passed, the outbox file is the cleaned message.
    if (!c.filed) {
      // The cleaned draft keeps the id it was sent with, for the next try.
      EXPECT_TRUE(std::regex_match(box.ReadFile("mbox/outbox/0003.TXT"), kCleanedWithId)) << c.name;
    }
    std::filesystem::remove(box.Path("mbox/inbox/0003.TXT"));
  }
}

TEST_F(ComposeSmtp, TheConversationCarriesSenderRecipientsAndHostName) {
  ScriptedSmtpServer server(SmtpScript{});
  Outcome o = Deliver(server.Address());
  ASSERT_EQ(o.result, 1) << o.err;
  const std::vector<std::string> commands = server.Commands();
  ASSERT_EQ(commands.size(), 7u);
  EXPECT_FALSE(LocalHostName().empty());
  EXPECT_LE(LocalHostName().size(), 80u);
  EXPECT_EQ(commands[0], "HELO " + LocalHostName());
  EXPECT_EQ(commands[1], "MAIL FROM:<me@example.com>");
  EXPECT_EQ(commands[2], "RCPT TO:<a@x>");
  EXPECT_EQ(commands[4], "RCPT TO:<c@z>");
  EXPECT_EQ(WithoutStamp(server.Data()),
            "From: Me Myself <me@example.com>\r\nTo: a@x, b@y\r\nSubject: s\r\n" + kPlainMime +
                "X-Mailer: kelvaro Quillo Ver.0.61[" + std::string(kSocketLayerName) + "] \r\n\r\nbody\r\n.\r\n");
  EXPECT_NE(o.out.find("Login SMTPserver(" + server.Address() + ")\n"), std::string::npos);
  EXPECT_NE(o.out.find("S:RCPT TO:<a@x>\nR:250 ok\nSending 0 : <a@x>\nS:RCPT TO:<b@y>\nR:250 ok\nSending 1 : <b@y>\n"),
            std::string::npos)
      << o.out;
  // The message text stays out of the protocol log; one dot per line shows progress.
  EXPECT_EQ(o.out.find("R:354"), o.out.rfind("R:354"));
  EXPECT_EQ(o.out.find("body"), std::string::npos);
  EXPECT_NE(o.out.find("Mail file Sending...\n...........\n"), std::string::npos) << o.out;
}

TEST_F(ComposeSmtp, ARefusedRecipientIsReportedAndTheOthersStillGetIt) {
  SmtpScript script;
  script.rcpt = {"550 unknown"};
  ScriptedSmtpServer server(script);
  Outcome o = Deliver(server.Address());
  EXPECT_EQ(o.result, 1);
  EXPECT_NE(o.out.find("R:550 unknown\nSMTP error!(RCPT TO:<a@x>)\a\nS:RCPT TO:<b@y>\nR:250 ok\nSending 1 : <b@y>\n"),
            std::string::npos)
      << o.out;
  EXPECT_EQ(o.out.find("Sending 0"), std::string::npos);
  EXPECT_TRUE(Filed());
}

TEST_F(ComposeSmtp, AnOutboxFileLostAfterDataNoLongerCutsTheMessage) {
  // The message is read whole before the connection: what happens to the
  // file afterwards cannot cut it.
  struct Case {
    const char* name;
    std::function<void(const std::string&)> spoil;
  };
  const std::vector<Case> cases = {
      {"removed", [](const std::string& path) { std::filesystem::remove(path); }},
      {"replaced by a directory",
       [](const std::string& path) {
         std::filesystem::remove(path);
         std::filesystem::create_directory(path);
       }},
  };
  for (const Case& c : cases) {
    SmtpScript script;
    const std::string path = OutboxPath();
    script.onData = [&] { c.spoil(path); };
    ScriptedSmtpServer server(script);
    Outcome o = Deliver(server.Address());
    EXPECT_EQ(o.result, 1) << c.name;
    EXPECT_TRUE(server.Data().ends_with("\r\nbody\r\n.\r\n")) << c.name;
    EXPECT_EQ(Verbs(server.Commands()).back(), "QUIT") << c.name;
    EXPECT_EQ(o.err, "sent mail filed, but not removed from the outbox(" + path + ")!\a\n") << c.name;
    EXPECT_EQ(box.List("mbox/inbox").size(), 1u) << c.name;
    std::filesystem::remove_all(path);
    std::filesystem::remove(box.Path("mbox/inbox/0003.TXT"));
  }
}

TEST_F(ComposeSmtp, NoConnectionWhenTheCheckFailsOrTheServerIsAway) {
  SmtpScript script;
  ScriptedSmtpServer server(script, 300);
  GetSettings().SMTPserver = server.Address();
  box.WriteFile("mbox/outbox/0003.TXT", "Subject: no recipient\n\nbody\n");
  Outcome refused = Call([&] { return DeliverMessage(OutboxPath(), LocalHostName()); });
  EXPECT_EQ(refused.result, 0);
  EXPECT_TRUE(server.Commands().empty());
  EXPECT_EQ(box.ReadFile("mbox/outbox/0003.TXT"), "Subject: no recipient\n\nbody\n");

  // A file to attach that has gone: refused before any connection, the draft as it was.
  const std::string attaching = "To: a@x\nAttach: " + box.Path("gone.pdf") + "\n\nbody\n";
  box.WriteFile("mbox/outbox/0003.TXT", attaching);
  Outcome missing = Call([&] { return DeliverMessage(OutboxPath(), LocalHostName()); });
  EXPECT_EQ(missing.result, 0);
  EXPECT_TRUE(missing.out.ends_with("attach file(" + box.Path("gone.pdf") + ") open error!\n")) << missing.out;
  EXPECT_TRUE(server.Commands().empty());
  EXPECT_EQ(box.ReadFile("mbox/outbox/0003.TXT"), attaching);

  const std::string away = "127.0.0.1:" + std::to_string(nettest::ClosedPort());
  Outcome o = Deliver(away);
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(o.err.ends_with("SMTPserver(" + away + ") connect error!\a\n")) << o.err;
  EXPECT_FALSE(Filed());

  // Without the key the POP3 server is tried on the SMTP port, and the
  // message names that port, not the POP3 one.
  GetSettings().smtpServerGiven = 0;
  Outcome unnamed = Deliver(away);
  EXPECT_EQ(unnamed.result, 0);
  EXPECT_TRUE(unnamed.err.ends_with("SMTPserver(127.0.0.1:25) connect error!\a\n")) << unnamed.err;
}

TEST_F(ComposeSmtp, SenderAndServerFollowTheSmtpServerKey) {
  struct Case {
    std::string popServer, smtpServer;
    int given;
    std::string host;
    int port;
    std::string sender;
    std::string joined;  // the address as a message names it
  };
  const std::vector<Case> cases = {
      {"pop.example:1100", "smtp.example:2525", 1, "smtp.example", 2525, "me@example.com", "smtp.example:2525"},
      {"pop.example", "smtp.example", 1, "smtp.example", 25, "me@example.com", "smtp.example:25"},
      // Without the key the POP3 server is used, on the SMTP port.
      {"pop.example:1100", "pop.example:1100", 0, "pop.example", 25, "popuser", "pop.example:25"},
      {"[::1]:1100", "[::1]:1100", 0, "::1", 25, "popuser", "[::1]:25"},
  };
  for (const Case& c : cases) {
    Settings& s = GetSettings();
    s.POPserver = c.popServer;
    s.SMTPserver = c.smtpServer;
    s.smtpServerGiven = c.given;
    const HostPort endpoint = SmtpEndpoint(25);
    EXPECT_EQ(endpoint.host, c.host) << c.smtpServer;
    EXPECT_EQ(endpoint.port, c.port) << c.smtpServer;
    EXPECT_EQ(EnvelopeSender(), c.sender) << c.smtpServer;
    EXPECT_EQ(JoinHostPort(endpoint), c.joined) << c.smtpServer;
  }
}

}  // namespace
}  // namespace quillo::composetest
