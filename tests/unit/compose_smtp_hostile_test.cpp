// An SMTP server that greets without end, with a megabyte, with NUL bytes or
// with escape sequences: the conversation ends in bounded time, the message
// is filed as sent only when it was accepted, and the log drives no terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "compose/smtp.h"
#include "tests/support/smtp_server.h"
#include "tests/unit/compose_fixture.h"

namespace quillo::composetest {
namespace {

using namespace std::string_literals;
using test::ScriptedSmtpServer;
using test::SmtpScript;

class ComposeSmtpHostile : public ComposeFixture {};

TEST_F(ComposeSmtpHostile, GreetingsThatNeverEndOrHideTheirEnd) {
  struct Case {
    const char* name;
    std::vector<std::string> greeting;
    int result;
    bool filed;
  };
  const std::vector<std::string> endless(100'000, "220-still greeting");
  const std::vector<Case> cases = {
      {"a hundred thousand 220- lines", endless, 0, false},
      // The first 999 bytes pass for the greeting; the rest is taken for the
      // reply to HELO, which refuses.
      {"a greeting of a megabyte", {"220 " + std::string(1 << 20, 'x')}, 0, false},
      {"a NUL byte in the greeting", {"220\0 hi"s}, 0, false},
      {"escape sequences", {"220-\x1b]0;title\x07", "220 \x1b[2Jready"}, 1, true},
  };
  for (const Case& c : cases) {
    SmtpScript script;
    script.greeting = c.greeting;
    ScriptedSmtpServer server(script);
    GetSettings().SMTPserver = server.Address();
    box.WriteFile("mbox/outbox/0003.TXT", "To: a@x\nSubject: s\n\nbody\n");
    const auto start = std::chrono::steady_clock::now();
    Outcome o = Call([&] { return DeliverMessage(box.Path("mbox/outbox/0003.TXT"), LocalHostName()); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.name;
    EXPECT_EQ(o.result, c.result) << c.name << "\n" << o.err;
    EXPECT_EQ(box.Exists("mbox/inbox/0003.TXT"), c.filed) << c.name;
    EXPECT_EQ(box.Exists("mbox/outbox/0003.TXT"), !c.filed) << c.name;
    if (!c.filed) {
      EXPECT_TRUE(server.Data().empty()) << c.name;
    }
    for (char control : {'\x1b', '\x07', '\0'}) {
      EXPECT_EQ(o.out.find(control), std::string::npos) << c.name << ": byte " << int(control);
    }
    std::filesystem::remove(box.Path("mbox/inbox/0003.TXT"));
  }
}

// A refusal quotes the server's words in the error message: they must not
// drive the terminal either.
TEST_F(ComposeSmtpHostile, ARefusedLoginQuotesNoControlBytes) {
  SmtpScript script;
  script.ehlo = "250-scripted.test\r\n250 AUTH PLAIN LOGIN";
  script.auth = "535 \x1b[2Jdenied\x07";
  ScriptedSmtpServer server(script);
  GetSettings().SMTPserver = server.Address();
  GetSettings().SMTPauth = SmtpAuth::kPlain;
  GetSettings().SMTPLogin = "user";
  GetSettings().SMTPpasswd = "secret";
  box.WriteFile("mbox/outbox/0003.TXT", "To: a@x\nSubject: s\n\nbody\n");
  Outcome o = Call([&] { return DeliverMessage(box.Path("mbox/outbox/0003.TXT"), LocalHostName()); });
  EXPECT_NE(o.err.find("SMTP Login error!(user)[535 ?[2Jdenied?]\a\n"), std::string::npos) << o.err;
  EXPECT_EQ(o.out.find('\x1b'), std::string::npos) << o.out;
  EXPECT_TRUE(box.Exists("mbox/outbox/0003.TXT"));
  EXPECT_TRUE(server.Data().empty());
}

}  // namespace
}  // namespace quillo::composetest
