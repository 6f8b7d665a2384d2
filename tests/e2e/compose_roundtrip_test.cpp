// A message drafted, sent, delivered to a real POP3 server and received again
// arrives as it was drafted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"
#include "tests/support/smtp_server.h"

namespace quillo::test {
namespace {

// What a mail system stores for SMTP message data: the terminator removed and
// the dot-stuffing undone.
std::string DeliveredForm(const std::string& wire) {
  std::string data = wire.substr(0, wire.size() - 3);  // ".\r\n"
  std::string out;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find("\r\n", pos);
    end = end == std::string::npos ? data.size() : end + 2;
    std::string line = data.substr(pos, end - pos);
    if (line.starts_with(".")) line.erase(0, 1);
    out += line;
    pos = end;
  }
  return out;
}

TEST(ComposeRoundTrip, DraftedSentDeliveredAndReceivedUnchanged) {
  if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
  DovecotServer pop;
  ASSERT_TRUE(pop.Ok()) << pop.Error();
  SmtpCaptureServer smtp;
  ASSERT_TRUE(smtp.Started()) << smtp.Log();
  Sandbox box;
  box.MakeMailbox();
  box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\nPOPserver=" + pop.Setting() +
               "\npasswd=" + DovecotServer::kPassword + "\ntimeout=10\n");

  const std::string to = std::string(DovecotServer::kUser) + "@example.com";
  RunResult drafted = box.Run({"-e1", "-w", to});
  ASSERT_EQ(drafted.exitCode, 0) << drafted.err;
  // What the user writes in the editor: a Japanese subject and body, dots, a
  // line longer than one piece.
  const std::string subject = "Subject: \x93\xfa\x96{\x8c\xea round trip\n";
  const std::string body = "\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n.\n..two\n" + std::string(1500, 'z') + "\nend\n";
  std::string draft = box.ReadFile("mbox/outbox/0000.TXT");
  draft.replace(draft.find("Subject: \n"), 10, subject);
  draft = draft.substr(0, draft.find("----------\n") + 11) + body;
  box.WriteFile("mbox/outbox/0000.TXT", draft);

  RunResult sent = box.Run({"-s"}, "s\n");
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  std::vector<CapturedMessage> captured = smtp.Messages();
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0].rcptTo, std::vector<std::string>{to});
  ASSERT_TRUE(pop.AddMessage(DeliveredForm(captured[0].wire)));

  RunResult received = box.Run({"-g", "-a"});
  ASSERT_EQ(received.exitCode, 0) << received.err;
  // 0000 is the filed copy of the sent message, 0001 the received one.
  ASSERT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0000.TXT", "0001.TXT"}));
  const std::string header = "From: Me Myself <user@example.com>\nTo: " + to + "\n" + subject +
                             "X-Mailer: kelvaro Quillo Ver.0.61[POSIX] \n";
  // The body's first, empty line parts header and body on the wire; the data
  // terminator leaves one empty line after the last line.
  EXPECT_EQ(box.ReadFile("mbox/inbox/0001.TXT"), header + body + "\n");
  const std::string filed = box.ReadFile("mbox/inbox/0000.TXT");
  EXPECT_EQ(filed.substr(filed.find('\n') + 1), header + "\n" + body);
}

}  // namespace
}  // namespace quillo::test
