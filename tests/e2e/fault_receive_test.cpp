// Receiving when things break: the connection drops in the middle of a
// header download, of the listing, or between a message and its deletion;
// the disk fills while a message is saved, while its header is decoded, and
// while the header cache is rewritten. Afterwards every message is still on
// the server or in the inbox, byte for byte, and the user was told.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/fault_fixture.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/fault_proxy.h"
#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {
namespace {

using At = CutRule::At;

// One run of a table: its arguments and keys, what it must leave stored in
// the inbox and what on the server.
struct RunCase {
  const char* name;
  std::vector<std::string> args;
  std::string keys;
  std::vector<std::string> stored;
  std::vector<std::string> left;  // on the server
};

// As a mail system delivers them (LF line ends), and as the inbox keeps
// them: the header decoded to Shift_JIS, byte-stuffed dots undone.
const std::string kOne =
    "From: one@example.jp\n"
    "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= one\n"
    "Date: Mon, 15 Jan 2024 10:30:00 +0900\n"
    "\n"
    "body one\n"
    ".\n"
    "..two dots\n";
const std::string kOneStored =
    "From: one@example.jp\n"
    "Subject: \x93\xfa\x96{\x8c\xea one\n"
    "Date: Mon, 15 Jan 2024 10:30:00 +0900\n"
    "\n"
    "body one\n"
    ".\n"
    "..two dots\n";
const std::string kTwo = "From: two@example.jp\nSubject: two\nDate: Tue, 16 Jan 2024 08:00:00 +0900\n\nbody two\n";
const std::string kThree = "From: three@example.jp\nSubject: three\nDate: Wed, 17 Jan 2024 09:15:00 +0900\n\nbody 3\n";

// A message far larger than the limits below.
std::string Big() {
  std::string text = "From: big@example.jp\nSubject: big\nDate: Thu, 18 Jan 2024 07:00:00 +0900\n\n";
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of a long message, to fill a disk\n";
  return text;
}

std::string WithCrLf(const std::string& lfText) {
  std::string out;
  for (char c : lfText) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// The size LIST gives: the message with CR LF line ends.
std::string WireSize(const std::string& lfText) { return std::to_string(WithCrLf(lfText).size()); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class FaultReceive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
  }

  static void Fill(DovecotServer& server, const std::vector<std::string>& messages) {
    ASSERT_TRUE(server.Ok()) << server.Error();
    for (const std::string& m : messages) ASSERT_TRUE(server.AddMessage(m));
  }
  // What the server holds, as the tests deliver it (LF line ends), sorted.
  static std::vector<std::string> OnServer(const DovecotServer& server) {
    auto messages = server.Messages();
    EXPECT_TRUE(messages.has_value());
    std::vector<std::string> lf;
    for (const std::string& m : messages.value_or(std::vector<std::string>{})) {
      std::string text;
      for (char c : m) {
        if (c != '\r') text += c;
      }
      lf.push_back(text);
    }
    return Sorted(lf);
  }
  static void WriteIni(const Sandbox& box, const std::string& server, const std::string& extra = "") {
    box.WriteIni("POPserver=" + server + "\npasswd=secret\ntimeout=10\n" + extra);
  }
};

// A header download cut short is a list that cannot be built: nothing is
// shown, taken or saved, the cache stays as it was, and the next run, with
// the connection whole, takes every message once.
TEST_F(FaultReceive, ADropInAHeaderDownloadKeepsEveryMessageOnTheServer) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string keys;
    const char* notShown;  // what a built list would have shown
  };
  const std::vector<Case> cases = {
      {"receive", {"-g"}, "a\nq\n", "Select:"},
      {"header list", {"-h"}, "", "'s Mails"},
  };
  for (const Case& c : cases) {
    DovecotServer server;
    Fill(server, {kOne, kTwo, kThree});
    Sandbox box;
    box.MakeMailbox();
    // Message 1 comes from the cache, message 2 needs a download.
    const std::string cache = "Mail0001=" + WireSize(kOne) + "\nHead0001=   1 one@example.jp cached\noldmax=1\n";
    box.WriteFile("mbox/poplist.ini", cache);
    FaultProxy proxy(server.Port(), {"TOP 2 4", At::kInReply, 12});
    WriteIni(box, proxy.Setting(), "serverdel=1\n");

    RunResult r = box.Run(c.args, c.keys);
    EXPECT_TRUE(proxy.Cut()) << c.name;
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_TRUE(Contains(r.out, "Getting header 2/3\n")) << c.name << r.out;
    EXPECT_TRUE(Contains(r.out, "Header Recive Error!\n")) << c.name << r.out;
    EXPECT_FALSE(Contains(r.out, c.notShown)) << c.name << r.out;
    EXPECT_TRUE(MessageNames(box, "mbox/inbox").empty()) << c.name;
    EXPECT_EQ(box.ReadFile("mbox/poplist.ini"), cache) << c.name;
    EXPECT_EQ(box.List("tmp"), std::vector<std::string>{}) << c.name << ": the download's files are gone";
    EXPECT_TRUE(SameMessages(OnServer(server), {kOne, kTwo, kThree})) << c.name;

    WriteIni(box, server.Setting(), "serverdel=1\n");
    RunResult again = box.Run({"-g"}, "a\nq\n");
    EXPECT_EQ(again.exitCode, 0) << c.name << again.err;
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), {kOneStored, kTwo, kThree})) << c.name << again.out;
    EXPECT_TRUE(SameMessages(OnServer(server), {})) << c.name;
  }
}

// A listing that ends without its end line is a failed listing, even when
// every size had come and the cache vouches for every line: the list is not
// shown over a connection that is gone, nothing is taken, and the cache stays.
TEST_F(FaultReceive, AListingCutShortIsAListThatCannotBeBuilt) {
  const std::vector<std::string> drop = {WithCrLf(kTwo), WithCrLf(kThree), WithCrLf(kOne)};
  auto size = [&](size_t i) { return std::to_string(drop[i].size()); };
  const std::string cache = "Mail0001=" + size(0) + "\nHead0001=   1 two@example.jp two\nMail0002=" + size(1) +
                            "\nHead0002=   2 three@example.jp three\nMail0003=" + size(2) +
                            "\nHead0003=   3 one@example.jp one\noldmax=3\n";
  struct Case {
    const char* name;
    std::string listing;  // all the server sends before it goes
    std::vector<std::string> args;
    std::string keys;
  };
  const std::vector<Case> cases = {
      {"status line only", "+OK\r\n", {"-g"}, "a\nq\n"},
      {"one size of three", "+OK\r\n1 " + size(0) + "\r\n", {"-g"}, "a\nq\n"},
      {"every size, no end line", "+OK\r\n1 " + size(0) + "\r\n2 " + size(1) + "\r\n3 " + size(2) + "\r\n", {"-g"},
       "a\nq\n"},
      {"header list, no end line", "+OK\r\n1 " + size(0) + "\r\n2 " + size(1) + "\r\n3 " + size(2) + "\r\n", {"-h"},
       ""},
  };
  for (const Case& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.WriteFile("mbox/poplist.ini", cache);
    ScriptedPopServer server(drop);
    server.Override("LIST", {c.listing, ScriptedPopServer::Reply::Then::kClose});
    ASSERT_TRUE(server.Start(30));
    WriteIni(box, server.Setting(), "serverdel=1\n");

    RunResult r = box.Run(c.args, c.keys);
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_TRUE(Contains(r.out, "Header Recive Error!\n")) << c.name << r.out;
    EXPECT_FALSE(Contains(r.out, "Select:")) << c.name << r.out;
    EXPECT_FALSE(Contains(r.out, "'s Mails")) << c.name << r.out;
    // No command went out over the dead connection as if it were alive.
    EXPECT_FALSE(Contains(r.err, "(TOP")) << c.name << r.err;
    EXPECT_FALSE(Contains(r.err, "(RETR)")) << c.name << r.err;
    EXPECT_TRUE(MessageNames(box, "mbox/inbox").empty()) << c.name;
    EXPECT_EQ(box.ReadFile("mbox/poplist.ini"), cache) << c.name;
    EXPECT_EQ(server.Expunged(), std::vector<int>{}) << c.name;

    // The next run, over a whole connection, takes each message once.
    ScriptedPopServer whole(drop);
    ASSERT_TRUE(whole.Start(30));
    WriteIni(box, whole.Setting(), "serverdel=1\n");
    RunResult again = box.Run({"-g"}, "a\nq\n");
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), {kOneStored, kTwo, kThree}))
        << c.name << again.out;
    EXPECT_EQ(whole.Expunged(), (std::vector<int>{1, 2, 3})) << c.name;
  }
}

// A message stored but not deleted when the connection went: it is in the
// inbox and, since no QUIT ended the conversation, still on the server with
// every message before it. The next run knows them by their ids: it deletes
// those stored before and stores only the rest, so each message is in the
// inbox once.
TEST_F(FaultReceive, ADropBeforeTheDeletionKeepsTheMessageStoredAndOnTheServer) {
  struct Case {
    const char* name;
    CutRule rule;
    std::vector<std::string> args;
    std::string keys;
  };
  const std::vector<Case> cases = {
      {"deletion never sent, taking everything", {"DELE 2", At::kInsteadOfLine, 0}, {"-g", "-a"}, ""},
      {"deletion's answer lost, taking everything", {"DELE 2", At::kInReply, 0}, {"-g", "-a"}, ""},
      {"deletion never sent, picking", {"DELE 2", At::kInsteadOfLine, 0}, {"-g"}, "1 2 3\nq\n"},
  };
  for (const Case& c : cases) {
    DovecotServer server;
    Fill(server, {kOne, kTwo, kThree});
    Sandbox box;
    box.MakeMailbox();
    FaultProxy proxy(server.Port(), c.rule);
    WriteIni(box, proxy.Setting(), "serverdel=1\n");

    RunResult r = box.Run(c.args, c.keys);
    EXPECT_TRUE(proxy.Cut()) << c.name;
    EXPECT_TRUE(Contains(r.err, "POP Protcol error!(DELE)[]\a\n")) << c.name << r.err;
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), {kOneStored, kTwo})) << c.name << r.out;
    EXPECT_TRUE(SameMessages(OnServer(server), {kOne, kTwo, kThree})) << c.name;

    WriteIni(box, server.Setting(), "serverdel=1\n");
    RunResult again = box.Run({"-g", "-a"});
    EXPECT_EQ(again.exitCode, 0) << c.name << again.err;
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), {kOneStored, kTwo, kThree})) << c.name;
    EXPECT_TRUE(SameMessages(OnServer(server), {})) << c.name;
  }
}

// A message too large for the disk cannot be saved: the user is told, no
// part of it reaches the inbox, and it stays on the server although server
// deletion is on. Taking everything stops there; picking "a" goes on with
// the next message. The next run with room takes what is left.
TEST_F(FaultReceive, AFullDiskWhileSavingKeepsTheMessageOnTheServer) {
  const std::string big = Big();
  using Case = RunCase;
  const std::vector<Case> cases = {
      {"taking everything", {"-g", "-a"}, "", {kOneStored}, {big, kThree}},
      {"picking all", {"-g"}, "a\nq\n", {kOneStored, kThree}, {big}},
  };
  for (const Case& c : cases) {
    DovecotServer server;
    Fill(server, {kOne, big, kThree});
    Sandbox box;
    box.MakeMailbox();
    WriteIni(box, server.Setting(), "serverdel=1\n");
    RunResult r;
    {
      FileSizeLimit limit(32 * 1024);
      r = box.Run(c.args, c.keys);
    }
    EXPECT_EQ(r.exitCode, 0) << c.name;
    // The download goes to the run's own directory in tmp.
    EXPECT_TRUE(std::regex_search(r.err, std::regex("savefile\\(" + box.Path("tmp") + "/quillo-\\w{6}/tmp\\.txt\\) write error!\a\n")))
        << c.name << r.err;
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), c.stored)) << c.name;
    EXPECT_TRUE(SameMessages(OnServer(server), c.left)) << c.name;

    RunResult again = box.Run({"-g", "-a"});
    EXPECT_EQ(again.exitCode, 0) << c.name << again.err;
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), {kOneStored, big, kThree})) << c.name;
    EXPECT_TRUE(SameMessages(OnServer(server), {})) << c.name;
  }
}

// The mailbox fills while a downloaded message is decoded into it (the
// download itself went to the tmp directory, elsewhere): the half-written
// message file is removed, the user is told, and the message stays on the
// server.
TEST_F(FaultReceive, AFullDiskWhileDecodingKeepsTheMessageOnTheServer) {
  if (!SmallDisk::Usable()) GTEST_SKIP() << "no private mount possible here";
  const std::string big = Big();
  DovecotServer server;
  Fill(server, {kOne, big, kThree});
  Sandbox box;
  for (const char* d : {"seed/inbox", "seed/outbox", "seed/trash", "tmp"}) box.MakeDir(d);
  WriteIni(box, server.Setting(), "serverdel=1\n");

  RunResult r = SmallDisk::Run(box, 64, {"-g", "-a"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "tmpfile write error!\r\n")) << r.err;
  EXPECT_TRUE(SameMessages(MessageContents(box, "after/inbox"), {kOneStored})) << r.out;
  EXPECT_TRUE(SameMessages(OnServer(server), {big, kThree}));

  box.WriteFile("quillo.ini", "mailbox=" + box.Path("after") + "\ntmp=" + box.Path("tmp") + "\nPOPserver=" +
                                  server.Setting() + "\nPOPLogin=user\nmailto=user@example.com\npasswd=secret\nserverdel=1\n");
  RunResult again = box.Run({"-g", "-a"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_TRUE(SameMessages(MessageContents(box, "after/inbox"), {kOneStored, big, kThree}));
  EXPECT_TRUE(SameMessages(OnServer(server), {}));
}

// The header cache cannot be rewritten: the old one stays whole, no
// temporary file is left beside it, and the user is told.
TEST_F(FaultReceive, AFullDiskWhileRewritingTheHeaderCacheKeepsTheOldOne) {
  using Case = RunCase;
  const std::vector<Case> cases = {
      {"receive", {"-g"}, "2\nq\n", {kTwo}, {kOne, kThree}},
      {"unload", {"-u"}, "2\ny\nq\n", {}, {kOne, kThree}},
      {"header list", {"-h"}, "", {}, {kOne, kTwo, kThree}},
  };
  for (const Case& c : cases) {
    DovecotServer server;
    Fill(server, {kOne, kTwo, kThree});
    Sandbox box;
    box.MakeMailbox();
    WriteIni(box, server.Setting(), "serverdel=1\n");
    ASSERT_EQ(box.Run({"-g"}, "q\n").exitCode, 0);
    // A line of the user's own makes the cache larger than any message.
    const std::string cache = box.ReadFile("mbox/poplist.ini") + "Note=" + std::string(700, 'x') + "\n";
    box.WriteFile("mbox/poplist.ini", cache);
    RunResult r;
    {
      FileSizeLimit limit(500);
      r = box.Run(c.args, c.keys);
    }
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_TRUE(Contains(r.out, "Save poplist")) << c.name << r.out;
    EXPECT_TRUE(Contains(r.err, "savefile(" + box.Path("mbox") + "/poplist.ini) write error!\a\n")) << c.name << r.err;
    EXPECT_EQ(box.ReadFile("mbox/poplist.ini"), cache) << c.name;
    std::vector<std::string> names = box.List("mbox");
    std::erase(names, "uidlist.txt");
    EXPECT_EQ(names, (std::vector<std::string>{"inbox", "outbox", "poplist.ini", "trash"})) << c.name;
    EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), c.stored)) << c.name;
    EXPECT_TRUE(SameMessages(OnServer(server), c.left)) << c.name;
  }
}

// The program killed while a downloaded message is decoded into the inbox:
// no part of it is there for a listing to show, it is still on the server
// (no QUIT ended the conversation), and the next run takes it whole, once.
TEST(FaultReceiveKilled, AKilledRetrievalLeavesNoPartOfAMessage) {
  const std::string line = std::string(990, 'h') + "\r\n";
  std::string huge = "From: huge@example.jp\r\nSubject: huge\r\n\r\n";
  while (huge.size() < (size_t{16} << 20)) huge += line;
  std::string stored;
  for (char c : huge) {
    if (c != '\r') stored += c;
  }
  ScriptedPopServer server({huge});
  ASSERT_TRUE(server.Start(60));
  Sandbox box;
  box.MakeMailbox();
  box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=10\nserverdel=1\n");

  KillWhenReached(Spawn(box, {"-g", "-a"}), box, "mbox/inbox", 1);
  for (const std::string& name : MessageNames(box, "mbox/inbox")) {
    EXPECT_TRUE(box.ReadFile("mbox/inbox/" + name) == stored) << name << " is no whole message";
  }
  EXPECT_TRUE(MessageNames(box, "mbox/inbox").empty()) << "the kill came after the message was stored";
  EXPECT_EQ(server.Expunged(), std::vector<int>{});

  RunResult again = box.Run({"-g", "-a"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_TRUE(SameMessages(MessageContents(box, "mbox/inbox"), {stored}));
  EXPECT_EQ(server.Expunged(), std::vector<int>{1});
}

}  // namespace
}  // namespace quillo::test
