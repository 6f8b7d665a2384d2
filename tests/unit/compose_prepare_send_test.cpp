// The outgoing header check: addresses, the kana test, and the send file.
#include "compose/prepare_send.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/output.h"
#include "tests/unit/compose_fixture.h"
#include "platform/socket.h"

namespace quillo::composetest {
namespace {

const std::string kFrom = "From: Me Myself <me@example.com>\n";
const std::string kMailer = "X-Mailer: kelvaro Quillo Ver.0.61[" + std::string(kSocketLayerName) + "] \n\n";

TEST(ComposeExtractAddress, TakesEachEntryOfAList) {
  struct Case {
    std::string text;
    std::vector<std::string> addresses;  // non-empty ones, in order
  };
  const std::vector<Case> cases = {
      {" Taro Yamada <taro@example.jp>, hanako@example.jp (Hanako)\n", {"taro@example.jp", "hanako@example.jp"}},
      {" jiro@example.jp(Jiro)\n", {"jiro@example.jp"}},
      {" <with blank@example.jp>\n", {}},
      {" Name <unclosed@example.jp\n", {}},
      {"\ttab@example.jp\tcomment\n", {"tab@example.jp"}},
      {" ,, a@x , b@y,\n", {"a@x", "b@y"}},
      {" \x82\xa0@example.jp\n", {}},  // cut at the first byte >= 0x80
      {" ab\x82\xa0@x\n", {"ab"}},
      {" \n", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    std::string address;
    size_t pos = 0;
    int calls = 0;
    while (pos < c.text.size() && ++calls < 100) {
      pos = ExtractAddress(c.text, pos, address);
      if (!address.empty()) got.push_back(address);
    }
    EXPECT_LT(calls, 100) << c.text;
    EXPECT_EQ(got, c.addresses) << c.text;
  }
}

TEST(ComposeExtractAddress, StopsAtTheComma) {
  std::string address;
  const std::string text = " a@x , b@y";
  EXPECT_EQ(ExtractAddress(text, 0, address), 5u);
  EXPECT_EQ(address, "a@x");
  EXPECT_EQ(ExtractAddress(text, 5, address), text.size());
  EXPECT_EQ(address, "b@y");
}

TEST(ComposeHalfWidthKana, OnlyOutsideDoubleByteCharacters) {
  struct Case {
    std::string line;
    bool kana;
  };
  const std::vector<Case> cases = {
      {"plain ascii\n", false},
      {"\xb1\n", true},                  // half-width katakana
      {"\x83\xb1\n", false},             // 0xB1 as the second byte of a pair
      {"\x82\xa0\xdf", true},            // a pair, then a katakana byte
      {std::string(5, 'a') + "\x81", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasHalfWidthKana(c.line), c.kana) << c.line;
}

class ComposePrepare : public ComposeFixture {
 protected:
  // A file to attach, made in the sandbox.
  std::string AttachedFile(const std::string& name = "a.pdf") {
    box.WriteFile(name, "%PDF");
    return box.Path(name);
  }
  struct Result {
    int count;
    std::string sendFile;
    std::string out;
    std::vector<std::string> recipients;
  };
  Result Prepare(const std::string& draft) {
    box.WriteFile("mbox/outbox/0000.TXT", draft);
    RecipientList recipients;
    Outcome o =
        Call([&] { return PrepareSendFile(box.Path("mbox/outbox/0000.TXT"), box.Path("tmp/tmp.txt"), recipients); });
    return {o.result, box.ReadFile("tmp/tmp.txt"), o.out, recipients.addresses};
  }
};

TEST_F(ComposePrepare, SendFilesAndRecipients) {
  struct Case {
    const char* name;
    std::string draft;
    int count;
    std::string sendFile;  // checked when the draft is sound
    std::vector<std::string> recipients;
  };
  const std::vector<Case> cases = {
      {"template with one address",
       "From: Someone Else <x@y>\nTo: bob@example.com\nCc: \nBcc: \nSubject: \n----------\n\nbody\n", 1,
       kFrom + "To: bob@example.com\n" + kMailer + "\nbody\n", {"bob@example.com"}},
      {"names and comments",
       "To: Taro <taro@x.jp>, hanako@x.jp (Hanako)\nCc: jiro@x.jp(Jiro)\n\nb\n", 3,
       kFrom + "To: Taro <taro@x.jp>, hanako@x.jp (Hanako)\nCc: jiro@x.jp(Jiro)\n" + kMailer + "b\n",
       {"taro@x.jp", "hanako@x.jp", "jiro@x.jp"}},
      {"addresses only on continuation lines are dropped", "To:\n a@x\n b@y\n\nb\n", 0, "", {}},
      {"continuation of an address header", "to: a@x,\n\tb@y\nSUBJECT: hi\n there\n\nb\n", 2,
       kFrom + "to: a@x,\n\tb@y\nSUBJECT: hi\n there\n" + kMailer + "b\n", {"a@x", "b@y"}},
      {"Bcc kept, empty subject follows it",
       "To: a@x\nBcc: hidden@x\nSubject: \nDate: today\nSubject: \n\nb\n", 2,
       kFrom + "To: a@x\nBcc: hidden@x\nSubject: \n" + kMailer + "b\n", {"a@x", "hidden@x"}},
      {"reply headers kept, empty ones follow the line above",
       "To: a@x\nIn-Reply-To: <1@x>\nReply-To:\nX-Other: y\nReply-To: \n--------\nb\n", 1,
       kFrom + "To: a@x\nIn-Reply-To: <1@x>\nReply-To:\n" + kMailer + "b\n", {"a@x"}},
      {"references, message-id and attach lines kept unshown, empty ones left out",
       "To: a@x\nReferences: <1@x>\n <2@x>\nMessage-ID: <own@x>\nAttach: " + AttachedFile() +
           "\nAttach: \nReferences: \n\nb\n",
       1,
       kFrom + "To: a@x\nReferences: <1@x>\n <2@x>\nMessage-ID: <own@x>\nAttach: " + AttachedFile() + "\n" + kMailer +
           "b\n",
       {"a@x"}},
      {"a path is no text: its bytes are not taken for kana",
       "To: a@x\nAttach: " + AttachedFile("\xe5\xa0\xb1.txt") + "\n\nb\n", 1,
       kFrom + "To: a@x\nAttach: " + AttachedFile("\xe5\xa0\xb1.txt") + "\n" + kMailer + "b\n", {"a@x"}},
      {"a line of 999 bytes and more stays one line in the body",
       "To: a@x\n\n" + std::string(998, 'a') + "\x83\xb1\n", 1,
       kFrom + "To: a@x\n" + kMailer + std::string(998, 'a') + "\x83\xb1\n", {"a@x"}},
  };
  for (const Case& c : cases) {
    Result r = Prepare(c.draft);
    EXPECT_EQ(r.count, c.count) << c.name << "\n" << r.out;
    EXPECT_EQ(r.recipients, c.recipients) << c.name;
    if (c.count > 0) {
      EXPECT_EQ(r.sendFile, c.sendFile) << c.name;
    }
  }
}

TEST_F(ComposePrepare, EchoesSubjectAndReplyLinesThenTheRecipients) {
  Result r = Prepare("To: a@x, b@y\nSubject: greetings\nIn-Reply-To: <1@x>\n\nbody\n");
  EXPECT_EQ(r.out, "Subject: greetings\nIn-Reply-To: <1@x>\nSend to:a@x\nSend to:b@y\n");
}

TEST_F(ComposePrepare, RefusedDrafts) {
  struct Case {
    const char* name;
    std::string draft;
    std::string out;
  };
  std::string thirtyOne = "To: ";
  for (int i = 0; i < 31; ++i) thirtyOne += "r" + std::to_string(i) + "@x, ";
  const std::string longAddress = std::string(76, 'l') + "@xy";  // 79 + 1 bytes
  const std::vector<Case> cases = {
      {"no To line", "Cc: a@x\n\nbody\n", "unknown \"To:\"!\n"},
      {"no end of header", "To: a@x\nSubject: s\n", "Subject: s\nunknown headder end & body start!\n"},
      {"kana in header and body", "To: a@x\n\n\xb1\nok\n\xdf\n", "no use in KANA!\nno use in KANA!\n"},
      {"more than thirty recipients", thirtyOne + "\n\nb\n", "too many recipients!\n"},
      {"an address over 79 bytes", "To: " + longAddress + "x\n\nb\n", "address too long!(" + longAddress + "x)\n"},
      // Found by fuzzing: a bare CR, an escape or a NUL inside angle brackets went into RCPT TO as it was.
      {"a CR inside angle brackets", "To: B <b@x\rc@y>\n\nb\n", "address with a control character!\n"},
      {"an escape inside angle brackets", "To: <b@x\x1b[2J>\n\nb\n", "address with a control character!\n"},
      {"a NUL inside angle brackets", std::string("To: <b@x\0y>\n\nb\n", 15), "address with a control character!\n"},
      // A bare address used to be cut at the escape: RCPT TO:<evil> while the To line kept it.
      {"an escape in a bare address", "To: evil\x1b[2J@example.jp\n\nb\n", "address with a control character!\n"},
      {"a CR in a bare address", "To: a@x, b\r@y\n\nb\n", "address with a control character!\n"},
      {"an attached file that is missing", "To: a@x\nAttach: /nonexistent/f.pdf\n\nb\n",
       "attach file(/nonexistent/f.pdf) open error!\n"},
      {"an attached directory", "To: a@x\nAttach: /tmp\n\nb\n", "attach file(/tmp) open error!\n"},
  };
  for (const Case& c : cases) {
    Result r = Prepare(c.draft);
    EXPECT_EQ(r.count, -1) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
  }
}

TEST_F(ComposePrepare, ThirtyRecipientsOfSeventyNineBytesAreAccepted) {
  std::string to = "To: ";
  for (int i = 0; i < 30; ++i) to += std::string(75, 'a') + Format("@%03d,", i);
  Result r = Prepare(to + "\n\nb\n");
  ASSERT_EQ(r.count, 30) << r.out;
  EXPECT_EQ(r.recipients.back().size(), 79u);
}

TEST_F(ComposePrepare, ItsOwnOutputGivesTheSameFileAgain) {
  Result first = Prepare("From: x\nTo: a@x\nBcc: b@y\n c@z\nSubject: s\n----------\n\nbody\n.\n");
  ASSERT_EQ(first.count, 3);
  Result second = Prepare(first.sendFile);
  EXPECT_EQ(second.count, 3);
  EXPECT_EQ(second.sendFile, first.sendFile);
}

TEST_F(ComposePrepare, FilesThatCannotBeOpenedOrWritten) {
  RecipientList unused;
  Outcome missing = Call([&] { return PrepareSendFile(box.Path("mbox/outbox/none.TXT"), box.Path("tmp/tmp.txt"), unused); });
  EXPECT_EQ(missing.result, -1);
  EXPECT_EQ(missing.out, "file open error!(" + box.Path("mbox/outbox/none.TXT") + ")\n");

  box.WriteFile("mbox/outbox/0000.TXT", "To: a@x\n\nb\n");
  Outcome noDir = Call([&] { return PrepareSendFile(box.Path("mbox/outbox/0000.TXT"), box.Path("no/tmp.txt"), unused); });
  EXPECT_EQ(noDir.result, -1);
  EXPECT_EQ(noDir.out, "file open error!(" + box.Path("no/tmp.txt") + ")\n");

  // A send file that could not be written whole would later replace the draft.
  Outcome full = Call([&] { return PrepareSendFile(box.Path("mbox/outbox/0000.TXT"), "/dev/full", unused); });
  EXPECT_EQ(full.result, -1);
  EXPECT_EQ(full.out, "file write error!(/dev/full)\n");
}

}  // namespace
}  // namespace quillo::composetest
