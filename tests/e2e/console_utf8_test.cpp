// Quillo on a UTF-8 terminal: the screens show UTF-8, typed Japanese is
// stored in Shift_JIS, and the files stay Shift_JIS.
#include <gtest/gtest.h>

#include "tests/e2e/menu_fixture.h"
#include "tests/support/harness.h"

namespace quillo::test {
namespace {

// A UTF-8 locale (glibc's C.UTF-8, package libc-bin) in place of the
// harness's LC_ALL=C.
const Env kUtf8 = {{"LC_ALL", ""}, {"LANG", "C.UTF-8"}, {"QUILLO_OFFLINE", "1"}};

// The terminal turns every LF the program writes into CR LF.
std::string OnScreen(std::string text) {
  for (size_t pos = 0; (pos = text.find('\n', pos)) != std::string::npos; pos += 2) text.insert(pos, "\r");
  return text;
}

std::string Times(int n, const std::string& text) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

const std::string kA = "\x82\xa0";  // あ in Shift_JIS
const std::string kI = "\x82\xa2";  // い

TEST(ConsoleUtf8E2E, HelpScreen) {
  Sandbox box;
  MakeMenuBox(box, 1);
  PtySession pty(box, {}, kUtf8);
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("?\r");
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  const std::string rule = "--------------------------\n";
  const std::string help = OnScreen(rule + kMenuHelpText + rule + "-Hit Any Key-");
  EXPECT_NE(pty.Output().find(help), std::string::npos) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("q\r");
  EXPECT_EQ(pty.Finish(), 0);
}

class ConsoleUtf8List : public ::testing::Test {
 protected:
  void SetUp() override {
    box.MakeMailbox();
    // Katakana full and half width, NEC and IBM extensions.
    box.WriteFile("mbox/inbox/0000.TXT",
                  "Date: Mon, 15 Jan 2024 10:30:00 +0900\nFrom: \x8eR\x93" "c <y@x>\n"
                  "Subject: \x83J\x83^\x83J\x83i \xb6\xc0\xb6\xc5 \x87\x40\xfa\x40\xfb\xfc\n\nbody\n");
    // A display name longer than the sender column, cut between characters;
    // a pair without a character.
    box.WriteFile("mbox/inbox/0001.TXT",
                  "Date: Tue, 16 Jan 2024 11:00:00 +0900\nFrom: " + Times(8, kA) + " <k@x>\n"
                  "Subject: a\x85\x40z\n");
  }
  RunResult List(const std::string& ini, const Env& env) {
    box.WriteIni(ini);
    return box.Run({"-t", "inbox", "-l"}, "", env);
  }
  Sandbox box;
};

const std::string kListRows =
    "   1>0000 24/01/15 10:30            \x8eR\x93" "c \x83J\x83^\x83J\x83i \xb6\xc0\xb6\xc5 \x87\x40\xfa\x40\xfb\xfc\n"
    "   2 0001 24/01/16 11:00  \x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0 a\x85\x40z\n";
const std::string kListRowsUtf8 =
    "   1>0000 24/01/15 10:30            山田 カタカナ ｶﾀｶﾅ ①ⅰ髙\n"
    "   2 0001 24/01/16 11:00  あああああああ a〓z\n";

TEST_F(ConsoleUtf8List, JapaneseSubjectsOnATerminal) {
  box.WriteIni();
  PtySession pty(box, {"-t", "inbox", "-l"}, kUtf8);
  EXPECT_EQ(pty.Finish(), 0);
  // Every column starts where it does in Shift_JIS: the cut character keeps its one column.
  EXPECT_NE(pty.Output().find(OnScreen(kListRowsUtf8)), std::string::npos) << pty.Output();
}

TEST_F(ConsoleUtf8List, TheConsoleKeyOverTheLocale) {
  struct Case {
    const char* name;
    std::string ini;
    Env env;
    std::string rows;
    std::string errTail;
  };
  const Env c = {{"QUILLO_OFFLINE", "1"}};  // the harness's LC_ALL=C
  const std::vector<Case> cases = {
      {"C locale keeps the bytes", "", c, kListRows, ""},
      {"sjis over a UTF-8 locale", "console=sjis\n", kUtf8, kListRows, ""},
      {"utf-8 over the C locale", "console=UTF-8\n", c, kListRowsUtf8, ""},
      {"auto from the locale", "console=auto\n", kUtf8, kListRowsUtf8, ""},
      {"an unknown value: auto, said once", "console=latin1\n", c, kListRows,
       "console setting error(latin1)! auto used\a\n"},
  };
  for (const Case& k : cases) {
    RunResult r = List(k.ini, k.env);
    EXPECT_EQ(r.exitCode, 0) << k.name;
    EXPECT_NE(r.out.find(k.rows), std::string::npos) << k.name << "\n" << r.out;
    EXPECT_EQ(Occurrences(r.err, "console setting"), k.errTail.empty() ? 0 : 1) << k.name << r.err;
    if (!k.errTail.empty()) {
      EXPECT_EQ(Occurrences(r.err, k.errTail), 1) << k.name << r.err;
    }
  }
}

TEST(ConsoleUtf8E2E, PagerCutsAtEightyColumnsOfShiftJis) {
  Sandbox box;
  MakeMenuBox(box, 1, 4, "headers=all\n");  // screens of 3 lines
  // 45 double-byte characters are 90 bytes: 80 columns on one screen line,
  // 10 on the next. After "a" the 40th character straddles the cut.
  box.WriteFile("mbox/inbox/0000.TXT", "Subject: \x93\xfa\x96{\n----------\n" + Times(45, kA) + "\na" +
                                           Times(45, kI) + "\nend\n");
  PtySession pty(box, {}, kUtf8);
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("1\r");
  ASSERT_TRUE(pty.WaitFor("-more-")) << pty.Output();
  pty.Send(" ");
  ASSERT_TRUE(pty.WaitFor("-more-")) << pty.Output();
  pty.Send(" ");
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  const std::string a = "あ", i = "い";
  const std::string shown = "Subject: 日本\r\n----------\r\n" + Times(40, a) + "-more-\r       \r" + Times(5, a) +
                            "\r\na" + Times(45, i) + "\r\n-more-\r       \rend\r\n\r\r\n-Hit Any Key-";
  EXPECT_NE(pty.Output().find(shown), std::string::npos) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("q\r");
  EXPECT_EQ(pty.Finish(), 0);
}

TEST(ConsoleUtf8E2E, AJapaneseAddressTypedAndErasedIsFiledInShiftJis) {
  Sandbox box;
  box.MakeMailbox();
  box.WriteIni();
  PtySession pty(box, {"-e1", "-w"}, kUtf8);
  ASSERT_TRUE(pty.WaitFor("Send to:")) << pty.Output();
  // 太 is erased again; é has no Shift_JIS and is refused with a bell.
  pty.Send("山田太\x7f <y@x>é\r");
  ASSERT_TRUE(pty.WaitFor("Create mail file")) << pty.Output();
  EXPECT_EQ(pty.Finish(), 0);
  EXPECT_NE(pty.Output().find("Send to:山田太\b\b  \b\b <y@x>\a\r\r\n"), std::string::npos) << pty.Output();
  EXPECT_EQ(box.ReadFile("mbox/outbox/0000.TXT"),
            "From:  <user@example.com>\nTo: \x8eR\x93" "c <y@x>\nCc: \nBcc: \nSubject: \n----------\n\n");
}

TEST(ConsoleUtf8E2E, AJapaneseFolderNameIsMadeInShiftJis) {
  Sandbox box;
  MakeMenuBox(box, 1);
  PtySession pty(box, {}, kUtf8);
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  // A refused name comes back on the error stream, converted there too.
  pty.Send("k\r");
  ASSERT_TRUE(pty.WaitFor("New Folder name:")) << pty.Output();
  pty.Send(".受\r");
  ASSERT_TRUE(pty.WaitFor("folder name error!(.受)\a\r\n")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("k\r");
  ASSERT_TRUE(pty.WaitFor("New Folder name:")) << pty.Output();
  pty.Send("受信箱\r");
  ASSERT_TRUE(pty.WaitFor("Making folder '受信箱'\r\n")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  EXPECT_EQ(box.List("mbox"),
            (std::vector<std::string>{"inbox", "outbox", "trash", "\x8e\xf3\x90M\x94\xa0"}));

  pty.Send("c\r");
  ASSERT_TRUE(pty.WaitFor("4 受信箱\r\n")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("Select:")) << pty.Output();
  pty.Send("4\r");
  ASSERT_TRUE(pty.WaitFor("(受信箱):")) << pty.Output();
  pty.Send("q\r");
  EXPECT_EQ(pty.Finish(), 0);
}

}  // namespace
}  // namespace quillo::test
