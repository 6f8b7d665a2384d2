// A message drafted, sent, delivered to a real POP3 server and received again
// arrives as it was drafted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/encoded_words.h"
#include "platform/console_charset.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"
#include "tests/support/shell_scripts.h"
#include "tests/support/smtp_server.h"

namespace quillo::test {
namespace {

// Removes the line that begins with `name` (and its line end) from `text`
// and gives it back.
std::string TakeLine(std::string& text, const std::string& name) {
  const size_t at = text.find("\n" + name);
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at + 1);
  std::string line = text.substr(at + 1, end - at - 1);
  text.erase(at + 1, end - at);
  return line;
}

class ComposeRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    ASSERT_TRUE(pop.Ok()) << pop.Error();
    ASSERT_TRUE(smtp.Started()) << smtp.Log();
    box.MakeMailbox();
    box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\nPOPserver=" + pop.Setting() +
                 "\npasswd=" + DovecotServer::kPassword + "\ntimeout=10\n");
  }
  // Drafts with -e1, writes `subject` and `body` in as the editor would,
  // sends, delivers what the server got to the mailbox and receives it.
  void SendAndReceive(const std::string& subject, const std::string& body) {
    RunResult drafted = box.Run({"-e1", "-w", to});
    ASSERT_EQ(drafted.exitCode, 0) << drafted.err;
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
  }

  DovecotServer pop;
  SmtpCaptureServer smtp;
  Sandbox box;
  const std::string to = std::string(DovecotServer::kUser) + "@example.com";
};

TEST_F(ComposeRoundTrip, JapaneseInJisComesBackAsDraftedAndAsFiled) {
  const std::string subject = "Subject: \x93\xfa\x96{\x8c\xea round trip\n";
  const std::string body = "\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n.\n..two\nend\n";
  ASSERT_NO_FATAL_FAILURE(SendAndReceive(subject, body));
  std::string received = box.ReadFile("mbox/inbox/0001.TXT");
  std::string filed = box.ReadFile("mbox/inbox/0000.TXT");
  // The filed copy is what was sent: its Date first, the rest in wire order.
  const std::string filedDate = filed.substr(0, filed.find('\n'));
  filed.erase(0, filedDate.size() + 1);
  filed.insert(0, "\n");
  EXPECT_EQ(TakeLine(received, "Date:"), filedDate);
  EXPECT_EQ("\n" + received, filed);
  const std::string id = TakeLine(received, "Message-ID:");
  EXPECT_TRUE(id.starts_with("Message-ID: <") && id.ends_with("@example.com>")) << id;
  EXPECT_EQ(received, "From: Me Myself <user@example.com>\nTo: " + to + "\n" + subject +
                          "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n"
                          "Content-Transfer-Encoding: 7bit\nX-Mailer: kelvaro Quillo Ver.0.61[" +
                          std::string(TestingWindowsBuild() ? "WinSock" : "POSIX") + "] \n" +
                          body);
}

TEST_F(ComposeRoundTrip, TextJisCannotCarryGoesAsUtf8AndDecodesBack) {
  // NEC row 13, an IBM extension, and a line longer than the wire allows.
  const std::string text = "\x87@ \xee\xe0 \x93\xfa\x96{\n" + std::string(1500, 'z') + "\nend\n";
  ASSERT_NO_FATAL_FAILURE(SendAndReceive("Subject: \x87@ memo\n", "\n" + text));
  const std::string received = box.ReadFile("mbox/inbox/0001.TXT");
  EXPECT_NE(received.find("\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n"),
            std::string::npos)
      << received;
  EXPECT_NE(received.find("\nSubject: =?UTF-8?B?4pGg?= memo\n"), std::string::npos) << received;
  std::string decoded;
  DecodeBase64(received.substr(received.find("\n\n") + 2), decoded);
  std::string expected;
  ASSERT_TRUE(SjisToUtf8Exact(text, expected));
  for (size_t at = expected.find('\n'); at != std::string::npos; at = expected.find('\n', at + 2)) {
    expected.insert(at, "\r");
  }
  EXPECT_EQ(decoded, expected);
}

// What the user drafted comes back through the message view and the saving
// of attachments, from the received message and from the filed copy alike.
TEST_F(ComposeRoundTrip, AttachmentsAndTextComeBackThroughTheViewAndSaving) {
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7) & 0xFF);
  const std::string japaneseName = "\xe5\xa0\xb1\xe5\x91\x8a.txt";  // 報告.txt
  const std::string japaneseText = "\xe5\xa0\xb1\xe5\x91\x8a\xe3\x81\xa7\xe3\x81\x99\n";
  box.WriteFile("report.pdf", binary);
  box.WriteFile(japaneseName, japaneseText);
  // 添付 ① in the subject (① needs UTF-8 on the wire), こんにちは and 髙 in the text.
  const std::string subject = "Subject: \x93\x59\x95\x74 \x87@\nAttach: " + box.Path("report.pdf") +
                              "\nAttach: " + box.Path(japaneseName) + "\n";
  const std::string text = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd \xfb\xfc\n";
  ASSERT_NO_FATAL_FAILURE(SendAndReceive(subject, "\n" + text));
  for (const char* file : {"mbox/inbox/0001.TXT", "mbox/inbox/0000.TXT"}) {
    RunResult view = box.Run({"-v", box.Path(file)});
    ASSERT_EQ(view.exitCode, 0) << file << ": " << view.err;
    for (const std::string& shown : {std::string("Subject: \x93\x59\x95\x74 \x87@\n"), text,
                                     std::string("report.pdf (application/pdf"),
                                     std::string("\x95\xf1\x8d\x90.txt (text/plain")}) {
      EXPECT_NE(view.out.find(shown), std::string::npos) << file << ": " << shown << "\n" << view.out;
    }
    const std::string saved = std::string("saved-") + file[14];
    box.MakeDir(saved);
    RunResult x = box.Run({"-x", box.Path(file), box.Path(saved)});
    ASSERT_EQ(x.exitCode, 0) << file << ": " << x.err;
    // Saved under names in the console's character set, Shift_JIS here.
    const std::string savedName = "\x95\xf1\x8d\x90.txt";
    EXPECT_EQ(box.List(saved), (std::vector<std::string>{"report.pdf", savedName})) << file;
    EXPECT_EQ(box.ReadFile(saved + "/report.pdf"), binary) << file;
    EXPECT_EQ(box.ReadFile(saved + "/" + savedName), japaneseText) << file;
  }
}

}  // namespace
}  // namespace quillo::test
