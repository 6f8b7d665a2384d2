// Receiving against a scripted server: the refusals, drops and silences a
// real server will not produce on request.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {
namespace {

using Reply = ScriptedPopServer::Reply;
using Then = Reply::Then;

const std::string kFirst = "From: one@example.com\r\nSubject: first\r\n\r\nbody one\r\n";
const std::string kSecond = "From: two@example.com\r\nSubject: second\r\n\r\nbody two\r\n";
const std::string kThird = "From: ten@example.com\r\nSubject: third\r\n\r\nbody three\r\n";

bool Has(const std::vector<std::string>& commands, const std::string& command) {
  for (const std::string& c : commands) {
    if (c == command) return true;
  }
  return false;
}

class PopScripted : public ::testing::Test {
 protected:
  void SetUp() override { box_.MakeMailbox(); }

  // Starts `server` and points the settings at it.
  void Use(ScriptedPopServer& server, const std::string& extra = "") {
    ASSERT_TRUE(server.Start(30));
    box_.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\n" + extra);
  }

  Sandbox box_;
};

TEST_F(PopScripted, RefusedUserGetsNoPassword) {
  ScriptedPopServer server({kFirst});
  server.Override("USER", {"-ERR who?\r\n"});
  Use(server);
  RunResult r = box_.Run({"-g", "-a"});
  EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Login error!(user)\a\n");
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER user", "QUIT"}));
  EXPECT_EQ(r.out.find("Login POPserver"), std::string::npos);
}

TEST_F(PopScripted, RefusedPasswordIsReportedAndNeverLogged) {
  ScriptedPopServer server({kFirst}, "other");
  Use(server);
  RunResult r = box_.Run({"-g", "-a"});
  EXPECT_NE(r.err.find("password error!\a\n"), std::string::npos);
  EXPECT_NE(r.out.find("S:USER user\nR:+OK\nS:PASS ******\nR:-ERR authentication failed\nS:QUIT\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("secret"), std::string::npos);
  // The server did get the real password, and nothing after the refusal but QUIT.
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER user", "PASS secret", "QUIT"}));
  EXPECT_TRUE(box_.List("mbox/inbox").empty());
}

struct RefusalCase {
  std::string name;
  std::string command;  // the command refused
  std::string extra;    // settings
  std::string keys;
  std::string message;  // on standard error
};

// Each refusal is reported with the reply text, leaves the inbox empty and
// still ends the conversation with QUIT.
TEST_F(PopScripted, RefusedCommandsAreReportedAndTheConversationStillEnds) {
  const std::vector<RefusalCase> cases = {
      {"stat", "STAT", "", "", "POP Protcol error!(STAT)[-ERR busy\r\n]\a\n"},
      {"retr", "RETR", "headlist=0\n", "", "POP Protcol error!(RETR)[-ERR busy\r\n]\a\n"},
      {"top", "TOP", "", "q\n", "POP Protcol error!(TOP 1)[-ERR busy\r\n]\a\n"},
  };
  for (const RefusalCase& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    ScriptedPopServer server({kFirst, kSecond});
    server.Override(c.command, {"-ERR busy\r\n"});
    ASSERT_TRUE(server.Start(30));
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\n" + c.extra);
    box.WriteFile("mbox/poplist.ini", "Mail0001=1\nHead0001=   1 kept\noldmax=1\n");
    RunResult r = box.Run({"-g"}, c.keys);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_TRUE(box.List("mbox/inbox").empty()) << c.name;
    EXPECT_EQ(server.Commands().back(), "QUIT") << c.name;
    // Nothing was shown or saved from a list that could not be built.
    EXPECT_EQ(box.ReadFile("mbox/poplist.ini"), "Mail0001=1\nHead0001=   1 kept\noldmax=1\n") << c.name;
    if (c.command == "STAT") {
      // A refused STAT is no empty maildrop.
      EXPECT_EQ(r.out.find("no new mail\n"), std::string::npos) << c.name;
    }
    if (c.command == "RETR") {
      EXPECT_FALSE(Has(server.Commands(), "RETR 2")) << "the first failure ends the loop";
    }
    if (c.command == "TOP") {
      EXPECT_NE(r.out.find("Header Recive Error!\n"), std::string::npos);
      EXPECT_EQ(r.out.find("Select:"), std::string::npos);
    }
  }
}

TEST_F(PopScripted, RefusedListLeavesSizesUnknownButEntriesSelectable) {
  ScriptedPopServer server({kFirst, kSecond, kThird});
  server.Override("LIST", {"-ERR no listing\r\n"});
  Use(server, "Reciveheadlong=1\n");
  // A slot that would match any size 0 must not be trusted.
  box_.WriteFile("mbox/poplist.ini", "Mail0001=0\nHead0001=   1 stale\nMail0004=9\nHead0004=   4 old\noldmax=4\n");
  RunResult r = box_.Run({"-g"}, "1\nq\n");
  EXPECT_NE(r.err.find("POP Protcol error!(LIST)[-ERR no listing\r\n]\a\n"), std::string::npos);
  EXPECT_EQ(server.CountCommands("TOP"), 3);
  EXPECT_NE(r.out.find("   1 (  ?KB) one@example.com first\n   2 (  ?KB) two@example.com second\n"
                       "   3 (  ?KB) ten@example.com third\nSelect Recive mail.\nSelect:"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), "From: one@example.com\nSubject: first\n\nbody one\n");
  // All three stay on the server (serverdel=0) and keep their places, with
  // nothing to trust next time; the slot of the earlier save beyond them
  // goes.
  EXPECT_EQ(box_.ReadFile("mbox/poplist.ini"),
            "Mail0001=0\nHead0001=\noldmax=3\nMail0002=0\nHead0002=\nMail0003=0\nHead0003=\n");
}

TEST_F(PopScripted, RefusedDeleteKeepsTheStoredFileAndStopsTakingEverything) {
  ScriptedPopServer server({kFirst, kSecond});
  server.Override("DELE 1", {"-ERR locked\r\n"});
  Use(server, "serverdel=1\nheadlist=0\n");
  RunResult r = box_.Run({"-g"});
  EXPECT_NE(r.err.find("POP Protcol error!(DELE)[-ERR locked\r\n]\a\n"), std::string::npos);
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  EXPECT_FALSE(Has(server.Commands(), "RETR 2"));
  EXPECT_TRUE(server.Expunged().empty());
}

TEST_F(PopScripted, ConnectionDroppedInAMessageLeavesNoFileAndNoDeletion) {
  ScriptedPopServer server({kFirst, kSecond});
  server.Override("RETR 2", {"+OK\r\nFrom: two@example.com\r\nSubject: half\r\n\r\npartial li", Then::kClose});
  Use(server, "serverdel=1\nheadlist=0\n");
  RunResult r = box_.Run({"-g"});
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(box_.List("mbox/inbox"), std::vector<std::string>{"0000.TXT"});
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), "From: one@example.com\nSubject: first\n\nbody one\n");
  EXPECT_TRUE(Has(server.Commands(), "DELE 1"));
  EXPECT_FALSE(Has(server.Commands(), "DELE 2"));
  // The progress dots of the broken message end with a line feed.
  EXPECT_NE(r.out.find("S:RETR 2\nR:+OK\n.....\n"), std::string::npos) << r.out;
}

TEST_F(PopScripted, SilenceEndsWithATimeOut) {
  ScriptedPopServer server({kFirst});
  server.Override("RETR", {"+OK\r\nFrom: one@example.com\r\n", Then::kSilence});
  Use(server, "headlist=0\ntimeout=1\n");
  const auto start = std::chrono::steady_clock::now();
  RunResult r = box_.Run({"-g"}, "", {}, 20);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  ASSERT_FALSE(r.timedOut);
  EXPECT_LT(seconds, Scaled(10));
  EXPECT_NE(r.err.find("receive timed out!\a\n"), std::string::npos) << r.err;
  EXPECT_TRUE(box_.List("mbox/inbox").empty());
}

TEST_F(PopScripted, NoGreetingAndNoServer) {
  {
    ScriptedPopServer server;
    server.SetGreeting("-ERR too busy\r\n");
    Use(server);
    RunResult get = box_.Run({"-g"});
    EXPECT_NE(get.err.find("responce error! from POP server\a\n"), std::string::npos);
    EXPECT_TRUE(server.Commands().empty());
    // The header list shows an empty list instead.
    RunResult list = box_.Run({"-h"});
    EXPECT_NE(list.out.find("\nNo New mail!\n"), std::string::npos) << list.out;
  }
  const std::string setting = "127.0.0.1:" + std::to_string(UnusedLocalPort());
  box_.WriteIni("POPserver=" + setting + "\npasswd=secret\ntimeout=5\n");
  box_.WriteFile("mbox/poplist.ini", "Mail0001=10\nHead0001=   7 cached line\noldmax=1\n");
  RunResult get = box_.Run({"-g"});
  EXPECT_NE(get.err.find("connect error to POP server!(" + setting + ")\a\n"), std::string::npos) << get.err;
  RunResult unload = box_.Run({"-u"});
  EXPECT_NE(unload.err.find("connect error to POP server!(" + setting + ")\a\n"), std::string::npos);
  // The header list falls back to the cache, renumbered.
  RunResult list = box_.Run({"-h"});
  EXPECT_NE(list.out.find("\n1's Mails\n-No-|-From----------|-Subject----------\n   1 cached line\n"),
            std::string::npos)
      << list.out;
}

TEST_F(PopScripted, EmptyMaildropStillSaysQuit) {
  ScriptedPopServer server;
  Use(server);
  RunResult get = box_.Run({"-g"});
  EXPECT_NE(get.out.find("S:STAT\nR:+OK 0 0\nno new mail\nS:QUIT\n"), std::string::npos) << get.out;
  RunResult unload = box_.Run({"-u"});
  EXPECT_NE(unload.out.find("R:+OK 0 0\nno new mail\nS:QUIT\n"), std::string::npos);
  // The header list empties the cache, so the offline list is empty too.
  box_.WriteFile("mbox/poplist.ini", "Mail0001=10\nHead0001=   1 gone\noldmax=1\n");
  RunResult list = box_.Run({"-h"});
  EXPECT_NE(list.out.find("\nNo New mail!\n"), std::string::npos);
  EXPECT_EQ(box_.ReadFile("mbox/poplist.ini"), "oldmax=0\n");
}

// Lines as a server may send them: a doubled dot at a line start, a line of
// 998 bytes whose CR and LF arrive in different pieces right before the end
// line, and a long line whose second piece happens to begin with two dots
// (not a line start, so both stay).
TEST_F(PopScripted, DotsAndLongLinesAreStoredAsTheyWereWritten) {
  const std::string longTail = std::string(999, 'B') + "..keep";
  const std::string message = "From: one@example.com\r\nSubject: dots\r\n\r\n..\r\n.x\r\n" + longTail + "\r\n" +
                              std::string(998, 'A') + "\r\n";
  ScriptedPopServer server({message});
  Use(server, "headlist=0\n");
  RunResult r = box_.Run({"-g"});
  ASSERT_EQ(r.exitCode, 0);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"),
            "From: one@example.com\nSubject: dots\n\n..\n.x\n" + longTail + "\n" + std::string(998, 'A') + "\n");
  EXPECT_EQ(server.Commands().back(), "QUIT");
}

TEST_F(PopScripted, PickingKeysActInOrderAndEndAsTyped) {
  ScriptedPopServer server({kFirst, kSecond, kThird});
  Use(server);
  // 3, 1 and 4 in the order typed (the server does not know 4); then "0" ends.
  RunResult r = box_.Run({"-g"}, "3,1 4\n0\n");
  std::vector<std::string> retrs;
  for (const std::string& c : server.Commands()) {
    if (c.rfind("RETR", 0) == 0) retrs.push_back(c);
  }
  EXPECT_EQ(retrs, (std::vector<std::string>{"RETR 3", "RETR 1", "RETR 4"}));
  EXPECT_NE(r.err.find("POP Protcol error!(RETR)[-ERR no such message\r\n]\a\n"), std::string::npos);
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0000.TXT"), "From: ten@example.com\nSubject: third\n\nbody three\n");
  EXPECT_EQ(box_.ReadFile("mbox/inbox/0001.TXT"), "From: one@example.com\nSubject: first\n\nbody one\n");
  EXPECT_NE(r.out.find("-No-|-From----------|-Subject----------\n   2 two@example.com second\nSelect Recive mail.\n"),
            std::string::npos);
}

TEST_F(PopScripted, AllTakesWhatIsLeftAndIgnoresTheRestOfItsLine) {
  ScriptedPopServer server({kFirst, kSecond, kThird});
  Use(server);
  RunResult r = box_.Run({"-g"}, "2\na 1\n");
  std::vector<std::string> retrs;
  for (const std::string& c : server.Commands()) {
    if (c.rfind("RETR", 0) == 0) retrs.push_back(c);
  }
  EXPECT_EQ(retrs, (std::vector<std::string>{"RETR 2", "RETR 1", "RETR 3"}));
  EXPECT_NE(r.out.find("Getting all mail\n"), std::string::npos);
  EXPECT_EQ(box_.List("mbox/inbox"), (std::vector<std::string>{"0000.TXT", "0001.TXT", "0002.TXT"}));
  // Nothing is left to show, so the selection ends by itself; the three stay
  // on the server (serverdel=0), each in its own slot.
  EXPECT_NE(r.out.find("Save poplist...\nS:QUIT\n"), std::string::npos) << r.out;
  EXPECT_EQ(box_.ReadFile("mbox/poplist.ini"),
            "Mail0001=51\nHead0001=   1 one@example.com first\nMail0002=52\nHead0002=   2 two@example.com second\n"
            "Mail0003=53\nHead0003=   3 ten@example.com third\noldmax=3\n");
}

TEST_F(PopScripted, PipedKeysThatRunOutEndTheSelection) {
  ScriptedPopServer server({kFirst});
  Use(server);
  RunResult r = box_.Run({"-g"}, "", {}, 20);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(server.Commands().back(), "QUIT");
  EXPECT_TRUE(box_.List("mbox/inbox").empty());
}

// With serverdel=0 a message taken from the list stays on the server, and
// so in its numbering: the cache keeps its slot. Were the later slots moved
// up over it, message 3 would be shown with message 4's line, and the DELE
// the user confirmed for what was shown would remove another message.
TEST_F(PopScripted, APickLeavesTheNumberingOfTheCacheAsTheServerHasIt) {
  // One size for all four, so that only the numbering can tell them apart.
  std::vector<std::string> drop;
  for (const char* subject : {"AAAA", "BBBB", "CCCC", "DDDD"}) {
    drop.push_back(std::string("From: a@example.com\r\nSubject: ") + subject + "\r\n\r\nbody\r\n");
  }
  ScriptedPopServer server(drop);
  Use(server);
  RunResult pick = box_.Run({"-g"}, "2\nq\n");
  ASSERT_EQ(box_.List("mbox/inbox").size(), 1u) << pick.err;
  RunResult unload = box_.Run({"-u"}, "3\ny\nq\n");
  const size_t asked = unload.out.find("Realy?(y/[n]):");
  ASSERT_NE(asked, std::string::npos) << unload.out;
  const size_t shown = unload.out.rfind("\n   3 ", asked);
  ASSERT_NE(shown, std::string::npos) << unload.out;
  EXPECT_NE(unload.out.substr(shown, asked - shown).find("CCCC"), std::string::npos) << unload.out;
  EXPECT_EQ(server.Expunged(), std::vector<int>{3});
}

}  // namespace
}  // namespace quillo::test
