// Receiving, listing and unloading against a real POP3 server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"

namespace quillo::test {
namespace {

// Three messages as a mail system would deliver them: a "B" encoded-word
// sender and subject, an ISO-2022-JP body, and lines that begin with dots
// (one of them a lone dot, which must not end the message).
const std::string kJapanese =
    "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>\n"
    "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\n"
    "Date: Mon, 15 Jan 2024 10:30:00 +0900\n"
    "\n"
    "\x1b$B$3$s$K$A$O\x1b(B\n"
    ".leading dot\n"
    "..two dots\n"
    ".\n"
    "end\n";
// The same as stored: header decoded and body converted to Shift_JIS.
const std::string kJapaneseStored =
    "From: \x8eR\x93\x63\x91\xbe\x98Y <taro@example.jp>\n"
    "Subject: \x93\xfa\x96{\x8c\xea\n"
    "Date: Mon, 15 Jan 2024 10:30:00 +0900\n"
    "\n"
    "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n"
    ".leading dot\n"
    "..two dots\n"
    ".\n"
    "end\n";
const std::string kPlain =
    "From: hanako@example.jp\n"
    "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= plain\n"
    "Date: Tue, 16 Jan 2024 08:00:00 +0900\n"
    "\n"
    "second body\n";
const std::string kPlainStored =
    "From: hanako@example.jp\n"
    "Subject: \x83\x65\x83X\x83g plain\n"
    "Date: Tue, 16 Jan 2024 08:00:00 +0900\n"
    "\n"
    "second body\n";
const std::string kThird =
    "From: jiro@example.jp\n"
    "Subject: third\n"
    "Date: Wed, 17 Jan 2024 09:15:00 +0900\n"
    "\n"
    "third body\n"
    "..\n";
const std::string kThirdStored =
    "From: jiro@example.jp\n"
    "Subject: third\n"
    "Date: Wed, 17 Jan 2024 09:15:00 +0900\n"
    "\n"
    "third body\n"
    "..\n";

// The size LIST gives: the message with CR LF line ends.
long WireSize(const std::string& lfText) {
  long size = 0;
  for (char c : lfText) size += c == '\n' ? 2 : 1;
  return size;
}

std::string WithCrLf(const std::string& lfText) {
  std::string out;
  for (char c : lfText) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
  return n;
}

// A cache file without its "Uidl…" lines, whose values the server chooses.
std::string WithoutIds(const std::string& cache) {
  std::string out;
  for (size_t start = 0; start < cache.size();) {
    size_t end = cache.find('\n', start);
    end = end == std::string::npos ? cache.size() : end + 1;
    if (cache.compare(start, 4, "Uidl") != 0) out += cache.substr(start, end - start);
    start = end;
  }
  return out;
}

class PopDovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    ASSERT_TRUE(server_.Ok()) << server_.Error();
    box_.MakeMailbox();
  }

  void Fill(const std::vector<std::string>& messages) {
    for (const std::string& m : messages) ASSERT_TRUE(server_.AddMessage(m));
  }
  void WriteIni(const std::string& extra = "") {
    box_.WriteIni("POPserver=" + server_.Setting() + "\npasswd=secret\ntimeout=10\n" + extra);
  }
  std::vector<std::string> OnServer() {
    auto messages = server_.Messages();
    EXPECT_TRUE(messages.has_value());
    return messages.value_or(std::vector<std::string>{});
  }

  DovecotServer server_;
  Sandbox box_;
};

TEST_F(PopDovecot, ReceiveAllStoresDecodedFilesAfterTheExistingOnes) {
  Fill({kJapanese, kPlain, kThird});
  WriteIni();
  box_.WriteFile("mbox/inbox/0000.TXT", "old\n");
  box_.WriteFile("mbox/inbox/0001.TXT", "old\n");

  RunResult r = box_.Run({"-g", "-a"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(box_.List("mbox/inbox"), (std::vector<std::string>{"0000.TXT", "0001.TXT", "0002.TXT", "0003.TXT",
                                                                "0004.TXT"}));
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0002.TXT"), kJapaneseStored);
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0003.TXT"), kPlainStored);
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0004.TXT"), kThirdStored);
  // One heading, then each message's summary under the server's number;
  // one dot per line read, the end line included.
  EXPECT_EQ(Count(r.out, "--No---Date--From-------------Subject&Body"), 1);
  EXPECT_NE(r.out.find("S:RETR 1\nR:+OK " + std::to_string(WireSize(kJapanese)) + " octets\n" +
                       std::string(10, '.') + "\n   1  01/15        \x8eR\x93\x63\x91\xbe\x98Y \x93\xfa\x96{\x8c\xea\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("   3  01/17 jiro@example.jp third\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("PASS secret"), std::string::npos);
  EXPECT_NE(r.out.find("S:PASS ******\n"), std::string::npos);
  // Without serverdel everything stays on the server.
  EXPECT_EQ(OnServer(), (std::vector<std::string>{WithCrLf(kJapanese), WithCrLf(kPlain), WithCrLf(kThird)}));
  // Taking everything neither reads nor writes the cache.
  EXPECT_FALSE(box_.Exists("mbox/poplist.ini"));
}

TEST_F(PopDovecot, ServerdelRemovesEveryStoredMessage) {
  Fill({kJapanese, kPlain});
  WriteIni("serverdel=1\n");
  RunResult r = box_.Run({"-g", "-a"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), kJapaneseStored);
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0001.TXT"), kPlainStored);
  EXPECT_NE(r.out.find("S:DELE 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("S:DELE 2\n"), std::string::npos);
  EXPECT_TRUE(OnServer().empty());
}

TEST_F(PopDovecot, PickingStoresTheChosenMessageAndSavesTheRestToTheCache) {
  Fill({kJapanese, kPlain, kThird});
  WriteIni();
  RunResult r = box_.Run({"-g"}, "2\nq\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (int k = 1; k <= 3; ++k) EXPECT_NE(r.out.find("Getting header " + std::to_string(k) + "/3\n"), std::string::npos);
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), kPlainStored);

  const std::string line1 = "   1        \x8eR\x93\x63\x91\xbe\x98Y \x93\xfa\x96{\x8c\xea";
  const std::string line3 = "   3 jiro@example.jp third";
  // The page before and after the pick: message 2 is gone from the second.
  const std::string heading = "-No-|-From----------|-Subject----------\n";
  const std::string line2 = "   2 hanako@example. \x83\x65\x83X\x83g plain";
  EXPECT_NE(r.out.find(heading + line1 + "\n" + line2 + "\n" + line3 + "\nSelect Recive mail.\nSelect:"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(heading + line1 + "\n" + line3 + "\nSelect Recive mail.\nSelect:"), std::string::npos);
  // Message 2 stays on the server (serverdel=0), so it keeps slot 2 and 3
  // stays 3, as the server still numbers them.
  // Each slot keeps the message's id too; an older reader passes it over.
  std::string cache = box_.ReadFile("mbox/poplist.ini");
  EXPECT_EQ(Count(cache, "\nUidl000"), 3) << cache;
  EXPECT_EQ(WithoutIds(cache), "Mail0001=" + std::to_string(WireSize(kJapanese)) +
                                                   "\nHead0001=" + line1 + "\nMail0002=" +
                                                   std::to_string(WireSize(kPlain)) + "\nHead0002=" + line2 +
                                                   "\nMail0003=" + std::to_string(WireSize(kThird)) +
                                                   "\nHead0003=" + line3 + "\noldmax=3\n");
  EXPECT_EQ(OnServer().size(), 3u);
}

TEST_F(PopDovecot, UnchangedSizesNeedNoTopAndAChangedOneNeedsOne) {
  Fill({kJapanese, kPlain, kThird});
  WriteIni();
  RunResult first = box_.Run({"-g"}, "q\n");
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(Count(first.out, "S:TOP "), 3);

  RunResult second = box_.Run({"-g"}, "q\n");
  EXPECT_EQ(Count(second.out, "S:TOP "), 0) << second.out;
  EXPECT_EQ(Count(second.out, "Getting header"), 0);
  EXPECT_NE(second.out.find("   3 jiro@example.jp third\n"), std::string::npos);

  // Message 3 replaced by one of another size: only it is fetched again.
  ASSERT_TRUE(server_.RemoveMessageContaining("third body"));
  ASSERT_TRUE(server_.AddMessage("From: saburo@example.jp\nSubject: replaced\n\nlonger body than before\n"));
  RunResult third = box_.Run({"-g"}, "q\n");
  EXPECT_EQ(Count(third.out, "S:TOP "), 1) << third.out;
  EXPECT_NE(third.out.find("Getting header 3/3\nS:TOP 3 4\n"), std::string::npos);
  EXPECT_NE(third.out.find("   3 saburo@example. replaced\n"), std::string::npos);

  // The server's own count of TOP commands per session agrees.
  auto sessions = server_.Sessions(3);
  ASSERT_EQ(sessions.size(), 3u) << server_.Log();
  EXPECT_EQ(sessions[0].top, 3);
  EXPECT_EQ(sessions[1].top, 0);
  EXPECT_EQ(sessions[2].top, 1);
}

TEST_F(PopDovecot, UnloadDeletesConfirmedMessagesAndRenumbersTheCache) {
  Fill({kJapanese, kPlain, kThird});
  WriteIni();
  // 1 is declined, 2 confirmed with a capital Y.
  RunResult r = box_.Run({"-u"}, "1\nn\n2\nY\nq\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Unload mail\n"), std::string::npos);
  EXPECT_NE(r.out.find("Unloading mail\n   2 hanako@example. \x83\x65\x83X\x83g plain\nRealy?(y/[n]):"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Count(r.out, "S:DELE"), 1);
  EXPECT_EQ(OnServer(), (std::vector<std::string>{WithCrLf(kJapanese), WithCrLf(kThird)}));
  // The old message 3 is slot 2 now, and the next run trusts both slots.
  const std::string cache = box_.ReadFile("mbox/poplist.ini");
  EXPECT_NE(cache.find("Mail0002=" + std::to_string(WireSize(kThird)) + "\nHead0002=   3 jiro@example.jp third\n"),
            std::string::npos)
      << cache;
  RunResult next = box_.Run({"-h"});
  EXPECT_EQ(Count(next.out, "S:TOP "), 0) << next.out;
  EXPECT_NE(next.out.find("2's Mails\n-No-|-From----------|-Subject----------\n   1 "), std::string::npos);
  EXPECT_NE(next.out.find("\n   2 jiro@example.jp third\n"), std::string::npos) << next.out;
}

TEST_F(PopDovecot, HeaderListGoesToAFileAndComesFromTheCacheOffline) {
  Fill({kPlain, kThird});
  WriteIni("Reciveheadlong=1\n");
  RunResult online = box_.Run({"-h", "list.txt"});
  ASSERT_EQ(online.exitCode, 0) << online.err;
  const std::string expected =
      "2's Mails\n"
      "-No-|-Size--|-From----------|-Subject------------------------------------------\n"
      "   1 (  1KB) hanako@example. \x83\x65\x83X\x83g plain\n"
      "   2 (  1KB) jiro@example.jp third\n";
  EXPECT_EQ(box_.ReadFile("list.txt"), expected);
  EXPECT_EQ(online.out.find("-Hit Any Key-"), std::string::npos);

  // Offline: no connection and no password, the list of the last online run.
  box_.WriteIni("POPserver=" + server_.Setting() + "\nReciveheadlong=1\n");
  RunResult offline = box_.Run({"-h"}, "", {{"QUILLO_OFFLINE", "1"}});
  EXPECT_EQ(offline.out.find("NetOpen"), std::string::npos);
  EXPECT_EQ(offline.out.find("Password:"), std::string::npos);
  EXPECT_NE(offline.out.find("\n" + expected), std::string::npos) << offline.out;

  // A refused login shows the cached list too.
  WriteIni("Reciveheadlong=1\npasswd=wrong\n");
  RunResult refused = box_.Run({"-h"});
  EXPECT_NE(refused.err.find("password error!\a\nPOP server Login error!(" + server_.Setting() + ")\a\n"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.out.find(expected), std::string::npos);
}

TEST_F(PopDovecot, PickingThroughATerminalWithThePasswordTyped) {
  Fill({kPlain, kThird});
  box_.WriteIni("POPserver=" + server_.Setting() + "\ntimeout=10\n");
  PtySession pty(box_, {"-g"});
  ASSERT_TRUE(pty.WaitFor("Password:"));
  pty.Send("secret\r");
  ASSERT_TRUE(pty.WaitFor("Select:")) << pty.Output();
  pty.Send("2\r");
  ASSERT_TRUE(pty.WaitFor("Getting mail")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("Select:")) << pty.Output();
  pty.Send("0\r");
  EXPECT_EQ(pty.Finish(), 0) << pty.Output();
  // (Keys typed ahead of the line editor may be echoed by the terminal
  // itself, so only the program's own log is checked for the password.)
  EXPECT_NE(pty.Output().find("S:PASS ******"), std::string::npos);
  EXPECT_EQ(pty.Output().find("PASS secret"), std::string::npos);
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), kThirdStored);
}

}  // namespace
}  // namespace quillo::test
