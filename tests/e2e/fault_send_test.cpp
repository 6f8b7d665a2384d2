// Sending when things break: the connection drops in the message text,
// before the end of data reaches the server, or before its answer reaches
// us; the disk fills while sent mail is filed and while a draft is written.
// A message is filed as sent only when the server accepted it, a draft that
// did not go stays in the outbox whole, and the user was told.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/fault_fixture.h"
#include "tests/support/fault_proxy.h"
#include "tests/support/harness.h"
#include "tests/support/smtp_server.h"

namespace quillo::test {
namespace {

// `text` with its Date lines and Message-IDs as placeholders: each sending
// has its own moment; the id of a message stays across tries.
std::string Unstamped(std::string text) {
  static const std::regex kDate("(^|\n)Date: [^\r\n]*");
  static const std::regex kId("Message-ID: <[^>\r\n]*>");
  return std::regex_replace(std::regex_replace(text, kDate, "$1Date: [date]"), kId, "Message-ID: [id]");
}

// Where two long texts part, with a little of each from there; empty when
// they are equal. Keeps a failure readable where the texts are megabytes.
std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a == b) return std::string();
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const size_t from = at < 80 ? 0 : at - 80;
  return "at byte " + std::to_string(at) + " of " + std::to_string(a.size()) + "/" + std::to_string(b.size()) +
         ":\n" + a.substr(from, 200) + "\n----\n" + b.substr(from, 200);
}

// The Message-ID a message names.
std::string IdOf(const std::string& text) {
  std::smatch m;
  static const std::regex kId("Message-ID: (<[^>\r\n]*>)");
  return std::regex_search(text, m, kId) ? m[1].str() : std::string();
}

using At = CutRule::At;

const std::string kDraft =
    "From: whoever <x@y>\n"
    "To: Taro <taro@example.jp>\n"
    "Cc: \n"
    "Bcc: \n"
    "Subject: \x93\xfa\x96{\x8c\xea fault test\n"
    "----------\n"
    "\n"
    "first line\n"
    ".\n" +
    std::string(1500, 'b') + "\n" + "last line\n";

const std::string kDataError = "SMTP error!(DATA[MailBody])\x81I\a\n";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class FaultSend : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(smtp.Started()) << "the capturing SMTP server (python3-aiosmtpd) did not start:\n" << smtp.Log();
  }
  // A sandbox whose outbox holds the draft, sending through `server`.
  static void Prepare(const Sandbox& box, const std::string& server) {
    box.MakeMailbox();
    box.WriteFile("mbox/outbox/0000.TXT", kDraft);
    box.WriteIni("fullname=Me Myself\nSMTPserver=" + server + "\ntimeout=10\n");
  }
  // How the draft goes out and how it is filed when nothing breaks: the
  // wire text, and the filed copy without its fresh Date line (which is the
  // cleaned draft the outbox holds once the delivery has begun).
  void Reference(std::string& wire, std::string& cleaned) {
    Sandbox box;
    Prepare(box, smtp.Address());
    const size_t before = smtp.Messages().size();
    RunResult r = box.Run({"-s"}, "s\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<CapturedMessage> all = smtp.Messages();
    ASSERT_EQ(all.size(), before + 1);
    wire = all.back().wire;
    const std::string filed = box.ReadFile("mbox/inbox/0000.TXT");
    ASSERT_TRUE(filed.starts_with("Date: "));
    cleaned = filed.substr(filed.find('\n') + 1);
  }

  SmtpCaptureServer smtp;
};

// However the connection breaks after DATA, the draft stays in the outbox,
// nothing is filed, and the next send delivers it as an undisturbed one
// would. When the server had taken the message and only its answer was lost,
// that next send delivers it a second time: the program never heard the
// server accept it, and SMTP has no way to ask.
TEST_F(FaultSend, ADropAfterDataLeavesTheDraftInTheOutbox) {
  std::string wire, cleaned;
  Reference(wire, cleaned);
  struct Case {
    const char* name;
    CutRule rule;
    size_t accepted;  // messages the server took from the broken conversation
  };
  const std::vector<Case> cases = {
      {"cut in the message text", {"DATA", At::kInClientText, 40}, 0},
      {"end of data never arrives", {".", At::kInsteadOfLine, 0}, 0},
      {"answer to the end of data lost", {".", At::kInReply, 0}, 1},
  };
  for (const Case& c : cases) {
    Sandbox box;
    FaultProxy proxy(smtp.Port(), c.rule);
    Prepare(box, proxy.Setting());
    const size_t before = smtp.Messages().size();

    RunResult r = box.Run({"-s"}, "s\n");
    EXPECT_TRUE(proxy.Cut()) << c.name;
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_TRUE(Contains(r.err, kDataError + "SMTP error!(QUIT)\a\n")) << c.name << r.err;
    EXPECT_FALSE(Contains(r.out, "Send File Moveing")) << c.name << r.out;
    EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{}) << c.name;
    EXPECT_EQ(box.List("mbox/outbox"), std::vector<std::string>{"0000.TXT"}) << c.name;
    // The outbox file holds the id it went out with, for the next try.
    const std::string id = IdOf(box.ReadFile("mbox/outbox/0000.TXT"));
    EXPECT_FALSE(id.empty()) << c.name;
    // The server holds all of it or nothing: a cut message was not delivered.
    const std::vector<CapturedMessage> after = smtp.Messages();
    ASSERT_EQ(after.size(), before + c.accepted) << c.name;
    if (c.accepted) {
      EXPECT_EQ(Unstamped(after.back().wire), Unstamped(wire)) << c.name;
      EXPECT_EQ(IdOf(after.back().wire), id) << c.name;
    }

    box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\ntimeout=10\n");
    RunResult again = box.Run({"-s"}, "s\n");
    EXPECT_EQ(again.exitCode, 0) << c.name << again.err;
    const std::vector<CapturedMessage> last = smtp.Messages();
    ASSERT_EQ(last.size(), before + c.accepted + 1) << c.name;
    EXPECT_EQ(Unstamped(last.back().wire), Unstamped(wire)) << c.name;
    // Sent again under the same id, so a receiver that got both keeps one.
    EXPECT_EQ(IdOf(last.back().wire), id) << c.name;
    EXPECT_EQ(box.List("mbox/outbox"), std::vector<std::string>{}) << c.name;
    const std::string filed = box.ReadFile("mbox/inbox/0000.TXT");
    EXPECT_EQ(Unstamped(filed.substr(filed.find('\n') + 1)), Unstamped(cleaned)) << c.name;
  }
}

// The server took the message, but its filed copy does not fit on the disk:
// no part of a copy is left in the inbox, the sent message stays in the
// outbox whole, and the user is told both.
TEST_F(FaultSend, AFullDiskWhileFilingKeepsTheSentMessageInTheOutbox) {
  std::string wire, cleaned;
  Reference(wire, cleaned);
  Sandbox box;
  Prepare(box, smtp.Address());
  const size_t before = smtp.Messages().size();
  RunResult r;
  {
    // Room for the cleaned draft, not for it with a Date line in front.
    FileSizeLimit limit(cleaned.size() + 4);
    r = box.Run({"-s"}, "s\n");
  }
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string outboxFile = box.Path("mbox/outbox/0000.TXT");
  EXPECT_TRUE(Contains(r.out, "Send File Moveing " + outboxFile + "->" + box.Path("mbox/inbox/0000.TXT") +
                                  "\nmail move error!(" + outboxFile + ")\n"))
      << r.out;
  EXPECT_TRUE(Contains(r.err, "the sent mail stays in the outbox(" + outboxFile + ")!\a\n")) << r.err;
  const std::vector<CapturedMessage> after = smtp.Messages();
  ASSERT_EQ(after.size(), before + 1);
  EXPECT_EQ(Unstamped(after.back().wire), Unstamped(wire));
  EXPECT_EQ(box.List("mbox/inbox"), std::vector<std::string>{});
  EXPECT_EQ(box.List("mbox/outbox"), std::vector<std::string>{"0000.TXT"});
  EXPECT_EQ(IdOf(box.ReadFile("mbox/outbox/0000.TXT")), IdOf(after.back().wire));
}

// A draft that does not fit on the disk is not left half written: the user
// is told, and the outbox holds nothing of it. What it was made from stays.
TEST_F(FaultSend, AFullDiskWhileWritingADraftLeavesNoHalfDraft) {
  const std::string bulk = std::string(4000, 'q') + "\n";
  const std::string original = "From: Hanako <hanako@example.jp>\nSubject: question\n\n" + bulk;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string keys;
    std::string extraIni;
  };
  const std::vector<Case> cases = {
      {"template alone", {"-e1", "-w", "taro@example.jp"}, "", ""},
      {"new message with a signature", {"-e1", "-w", "taro@example.jp"}, "", "signature=sig.txt\n"},
      {"new message with an inserted file", {"-e1", "-w", "taro@example.jp", "-i", "insert.txt"}, "", ""},
      {"follow-up quoting the original", {"-e1", "-f", "mbox/inbox/0000.TXT"}, "y\n\n", ""},
  };
  for (const Case& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.WriteIni("fullname=Me Myself\n" + c.extraIni);
    box.WriteFile("sig.txt", bulk);
    box.WriteFile("insert.txt", bulk);
    box.WriteFile("mbox/inbox/0000.TXT", original);
    const bool templateAlone = c.extraIni.empty() && c.args.size() == 3;
    RunResult r;
    {
      FileSizeLimit limit(templateAlone ? 20 : 1024);
      r = box.Run(c.args, c.keys);
    }
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_TRUE(Contains(r.err, "TMP file(" + box.Path("mbox/outbox/0000.TXT") + ") write error!\a\n"))
        << c.name << r.err;
    EXPECT_EQ(box.List("mbox/outbox"), std::vector<std::string>{}) << c.name;
    EXPECT_EQ(box.ReadFile("mbox/inbox/0000.TXT"), original) << c.name;
    EXPECT_EQ(box.ReadFile("sig.txt"), bulk) << c.name;
    EXPECT_EQ(box.ReadFile("insert.txt"), bulk) << c.name;
  }
}

// The program killed while it files a message the server accepted: no part
// of the copy is in the inbox, and the message is still in the outbox,
// whole. The next send delivers it a second time: nothing tells the program
// that the outbox file already went out.
TEST_F(FaultSend, AKilledFilingLeavesNoPartOfACopy) {
  Sandbox box;
  box.MakeMailbox();
  std::string draft = "From: x <x@y>\nTo: taro@example.jp\nSubject: large\n----------\n\n";
  while (draft.size() < (size_t{8} << 20)) draft += std::string(990, 'l') + "\n";
  box.WriteFile("mbox/outbox/0000.TXT", draft);
  box.WriteIni("fullname=Me Myself\nSMTPserver=" + smtp.Address() + "\ntimeout=30\n");
  const size_t before = smtp.Messages().size();

  KillWhenReached(Spawn(box, {"-s"}, "s\n"), box, "mbox/inbox", 1);
  EXPECT_EQ(MessageNames(box, "mbox/inbox"), std::vector<std::string>{}) << "part of a copy, or a late kill";
  ASSERT_EQ(box.List("mbox/outbox"), std::vector<std::string>{"0000.TXT"});
  const std::string cleaned = box.ReadFile("mbox/outbox/0000.TXT");
  EXPECT_TRUE(cleaned.ends_with(std::string(990, 'l') + "\n"));
  std::vector<CapturedMessage> sent = smtp.Messages();
  ASSERT_EQ(sent.size(), before + 1);

  RunResult again = box.Run({"-s"}, "s\n");
  EXPECT_EQ(again.exitCode, 0) << again.err;
  sent = smtp.Messages();
  ASSERT_EQ(sent.size(), before + 2);
  EXPECT_EQ(FirstDifference(Unstamped(sent[before].wire), Unstamped(sent[before + 1].wire)), "");
  EXPECT_EQ(IdOf(sent[before].wire), IdOf(sent[before + 1].wire));
  EXPECT_EQ(box.List("mbox/outbox"), std::vector<std::string>{});
  ASSERT_EQ(MessageNames(box, "mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  const std::string filed = box.ReadFile("mbox/inbox/0000.TXT");
  EXPECT_EQ(IdOf(filed), IdOf(cleaned));
  EXPECT_TRUE(filed.ends_with(std::string(990, 'l') + "\n"));
}

}  // namespace
}  // namespace quillo::test
