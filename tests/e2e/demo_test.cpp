#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/harness.h"

namespace quillo::test {
namespace {

// The README's first command, as a new user without a terminal would run it:
// the scripted tour against the demo's own POP3 and SMTP servers.
TEST(DemoTour, ReceivesSendsAndReceivesAgain) {
  if (access("/usr/sbin/dovecot", X_OK) != 0) GTEST_SKIP() << "dovecot is not installed";
  Sandbox box;
  // The demo's mail server reads the maildir as an unprivileged user.
  chmod(box.dir().c_str(), 0755);
  Env env = BaseEnv(box.dir());
  env["QUILLO_BINARY"] = QUILLO_BINARY;
  env["QUILLO_DEMO_DIR"] = box.Path("demo");
  RunResult r = RunProgram("/bin/bash", {std::string(QUILLO_SOURCE_DIR) + "/scripts/demo"}, box.dir(), env, "", 120);
  ASSERT_FALSE(r.timedOut);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  // 12 samples, the filed copy of the message sent, and that message received back.
  const auto inbox = box.List("demo/mbox/inbox");
  ASSERT_EQ(inbox.size(), 14u) << r.out;
  EXPECT_TRUE(box.List("demo/mbox/outbox").empty());
  const std::string received = box.ReadFile("demo/mbox/inbox/" + inbox.back());
  EXPECT_NE(received.find("This message went out through SMTP and came back through POP3.\n"), std::string::npos);
  EXPECT_NE(received.find("From: Demo User <demo@example.jp>\n"), std::string::npos);
  // A sample decoded on the way in: "会議のお知らせ" in Shift_JIS.
  const std::string first = box.ReadFile("demo/mbox/inbox/" + inbox.front());
  EXPECT_NE(first.find("Subject: \x89\xEF\x8B\x63\x82\xCC\x82\xA8\x92\x6D\x82\xE7\x82\xB9\n"), std::string::npos);
  EXPECT_NE(r.out.find("tour done: 14 messages in inbox"), std::string::npos);
}

}  // namespace
}  // namespace quillo::test
