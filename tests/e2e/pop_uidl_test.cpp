// Messages known by their unique ids across runs, against the real server:
// none stored twice, none deleted in another's place.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/dovecot_server.h"
#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {
namespace {

// Messages of one size each, so that a list trusted by number and size
// alone would show one in another's place.
std::string Lettered(char letter) {
  const std::string lower(4, static_cast<char>(letter - 'A' + 'a'));
  const std::string upper(4, letter);
  return "From: " + lower + "@example.jp\nSubject: " + upper + "\n\nbody " + upper + "\n";
}
std::string ListLine(int number, char letter, bool received = false) {
  std::string n = std::to_string(number);
  return std::string(4 - n.size(), ' ') + n + (received ? "*" : " ") + std::string(4, letter - 'A' + 'a') +
         "@example.jp " + std::string(4, letter);
}
int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
  return n;
}

class PopUidlDovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotInstalled()) GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    ASSERT_TRUE(server_.Ok()) << server_.Error();
    box_.MakeMailbox();
  }
  void Fill(const std::string& letters) {
    for (char letter : letters) ASSERT_TRUE(server_.AddMessage(Lettered(letter)));
  }
  void WriteIni(const std::string& extra = "") {
    box_.WriteIni("POPserver=" + server_.Setting() + "\npasswd=secret\ntimeout=10\n" + extra);
  }
  // The letters of the messages a second session finds on the server.
  std::string OnServer() {
    auto messages = server_.Messages();
    EXPECT_TRUE(messages.has_value());
    std::string letters;
    for (const std::string& m : messages.value_or(std::vector<std::string>{})) letters += LetterOf(m);
    return letters;
  }
  // The letters of the inbox's messages, in file order.
  std::string InInbox() {
    std::string letters;
    for (const std::string& name : box_.List("mbox/inbox")) letters += LetterOf(box_.ReadFile("mbox/inbox/" + name));
    return letters;
  }
  static char LetterOf(const std::string& message) {
    const size_t at = message.find("Subject: ");
    return at == std::string::npos || at + 9 >= message.size() ? '?' : message[at + 9];
  }

  DovecotServer server_;
  Sandbox box_;
};

// After a pick with the message left on the server, the delete list shows
// every message under the number the server gives it, and the one the user
// confirms is the one that goes.
TEST_F(PopUidlDovecot, AfterAPickTheDeleteListAndItsDeletionsAreRight) {
  struct Case {
    int confirmed;
    const char* left;
  };
  for (const Case& c : {Case{4, "ABC"}, Case{3, "ABD"}, Case{2, "ACD"}}) {
    SCOPED_TRACE(c.confirmed);
    DovecotServer server;
    Sandbox box;
    ASSERT_TRUE(server.Ok()) << server.Error();
    box.MakeMailbox();
    for (char letter : std::string("ABCD")) ASSERT_TRUE(server.AddMessage(Lettered(letter)));
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=10\n");
    RunResult pick = box.Run({"-g"}, "2\nq\n");
    ASSERT_EQ(pick.exitCode, 0) << pick.err;
    EXPECT_EQ(box.ReadFile("mbox/inbox/0000.TXT"), Lettered('B'));

    const std::string n = std::to_string(c.confirmed);
    RunResult unload = box.Run({"-u"}, n + "\ny\nq\n");
    ASSERT_EQ(unload.exitCode, 0) << unload.err;
    // Every line from the cache, by id: none fetched again.
    EXPECT_EQ(Count(unload.out, "S:TOP "), 0) << unload.out;
    EXPECT_NE(unload.out.find(ListLine(1, 'A') + "\n" + ListLine(2, 'B', true) + "\n" + ListLine(3, 'C') + "\n" +
                              ListLine(4, 'D') + "\n"),
              std::string::npos)
        << unload.out;
    const char letter = "ABCD"[c.confirmed - 1];
    EXPECT_NE(unload.out.find("Unloading mail\n" + ListLine(c.confirmed, letter, c.confirmed == 2) + "\nRealy?"),
              std::string::npos)
        << unload.out;
    EXPECT_NE(unload.out.find("S:UIDL " + n + "\nR:+OK " + n + " "), std::string::npos) << unload.out;
    EXPECT_EQ(Count(unload.out, "S:DELE "), 1) << unload.out;
    EXPECT_NE(unload.out.find("S:DELE " + n + "\n"), std::string::npos) << unload.out;

    auto messages = server.Messages();
    ASSERT_TRUE(messages.has_value());
    std::string left;
    for (const std::string& m : *messages) left += LetterOf(m);
    EXPECT_EQ(left, c.left);
  }
}

// With the messages left on the server, each is stored once however often
// everything is taken; the lists mark the ones stored.
TEST_F(PopUidlDovecot, TakingEverythingTwiceStoresEachMessageOnce) {
  Fill("ABC");
  WriteIni();
  RunResult first = box_.Run({"-g", "-a"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(InInbox(), "ABC");
  EXPECT_EQ(Count(first.out, "S:RETR "), 3);

  Fill("D");
  RunResult second = box_.Run({"-g", "-a"});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(Count(second.out, "S:RETR "), 1) << second.out;
  EXPECT_NE(second.out.find("S:RETR 4\n"), std::string::npos) << second.out;
  EXPECT_EQ(InInbox(), "ABCD");

  // A pick offers the stored ones marked, and "a" passes over them.
  Fill("E");
  RunResult pick = box_.Run({"-g"}, "a\nq\n");
  ASSERT_EQ(pick.exitCode, 0) << pick.err;
  EXPECT_NE(pick.out.find(ListLine(1, 'A', true) + "\n" + ListLine(2, 'B', true) + "\n" + ListLine(3, 'C', true) +
                          "\n" + ListLine(4, 'D', true) + "\n" + ListLine(5, 'E') + "\n"),
            std::string::npos)
      << pick.out;
  EXPECT_EQ(Count(pick.out, "S:RETR "), 1) << pick.out;
  EXPECT_EQ(InInbox(), "ABCDE");
  EXPECT_EQ(OnServer(), "ABCDE");

  EXPECT_EQ(Count(box_.ReadFile("mbox/uidlist.txt"), "\nR "), 5);

  // serverdel then takes the stored ones off the server without fetching
  // them again.
  WriteIni("serverdel=1\n");
  RunResult cleanup = box_.Run({"-g", "-a"});
  ASSERT_EQ(cleanup.exitCode, 0) << cleanup.err;
  EXPECT_EQ(Count(cleanup.out, "S:RETR "), 0) << cleanup.out;
  EXPECT_EQ(Count(cleanup.out, "S:DELE "), 5) << cleanup.out;
  EXPECT_EQ(OnServer(), "");
  EXPECT_EQ(InInbox(), "ABCDE");
  // The ids of messages gone from the server are forgotten with them.
  Fill("F");
  RunResult after = box_.Run({"-g", "-a"});
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(InInbox(), "ABCDEF");
  EXPECT_EQ(Count(box_.ReadFile("mbox/uidlist.txt"), "\nR "), 1) << box_.ReadFile("mbox/uidlist.txt");
}

class PopUidlPrivate : public PopUidlDovecot {};

// The record names the user's mail: it is theirs alone whatever the umask,
// and stays so when it is rewritten.
TEST_F(PopUidlPrivate, TheRecordIsTheUsersAloneWhateverTheUmask) {
  WriteIni();
  // Every run of the program inherits the umask of this process.
  struct UmaskScope {
    mode_t saved = umask(0);
    ~UmaskScope() { umask(saved); }
  } scope;
  for (char letter : std::string("AB")) {
    Fill(std::string(1, letter));
    RunResult r = box_.Run({"-g", "-a"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    struct stat st{};
    ASSERT_EQ(stat(box_.Path("mbox/uidlist.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << letter;
  }
  EXPECT_EQ(InInbox(), "AB");
}

// Another client deletes a message between a pick and the delete list: the
// numbers shift, and each line and each deletion follows its message.
TEST_F(PopUidlDovecot, ADeletionBehindItsBackShiftsTheListWithTheMessages) {
  Fill("ABCD");
  WriteIni();
  RunResult pick = box_.Run({"-g"}, "3\nq\n");
  ASSERT_EQ(pick.exitCode, 0) << pick.err;
  EXPECT_EQ(InInbox(), "C");
  ASSERT_TRUE(server_.RemoveMessageContaining("body AAAA"));

  RunResult unload = box_.Run({"-u"}, "3\ny\nq\n");
  ASSERT_EQ(unload.exitCode, 0) << unload.err;
  EXPECT_EQ(Count(unload.out, "S:TOP "), 0) << unload.out;
  EXPECT_NE(unload.out.find(ListLine(1, 'B') + "\n" + ListLine(2, 'C', true) + "\n" + ListLine(3, 'D') + "\n"),
            std::string::npos)
      << unload.out;
  EXPECT_NE(unload.out.find("Unloading mail\n" + ListLine(3, 'D') + "\nRealy?"), std::string::npos) << unload.out;
  EXPECT_EQ(Count(unload.out, "S:DELE "), 1) << unload.out;
  EXPECT_EQ(OnServer(), "BC");
  EXPECT_EQ(InInbox(), "C");
}

// keepdays deletes on the server exactly the stored messages received at
// least that many days ago; nothing is fetched again.
TEST_F(PopUidlDovecot, KeepdaysDeletesWhatWasStoredThatManyDaysAgo) {
  WriteIni();
  std::map<char, std::string> ids;  // letter -> id
  for (char letter : std::string("ABC")) {
    Fill(std::string(1, letter));
    const std::string before = box_.Exists("mbox/uidlist.txt") ? box_.ReadFile("mbox/uidlist.txt") : "";
    RunResult r = box_.Run({"-g", "-a"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string after = box_.ReadFile("mbox/uidlist.txt");
    for (size_t start = after.find("\nR "); start != std::string::npos; start = after.find("\nR ", start + 1)) {
      const size_t end = after.find('\n', start + 1);
      const std::string line = after.substr(start + 1, end - start - 1);
      if (before.find(line) == std::string::npos) ids[letter] = line.substr(line.rfind(' ') + 1);
    }
    ASSERT_EQ(ids.count(letter), 1u) << after;
  }
  // A received ten days ago, C three days ago, B now.
  const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
  box_.WriteFile("mbox/uidlist.txt", "R " + std::to_string(now - 10 * 86400) + " " + ids['A'] + "\nR " +
                                         std::to_string(now) + " " + ids['B'] + "\nR " +
                                         std::to_string(now - 3 * 86400) + " " + ids['C'] + "\n");
  struct Case {
    int keepdays;
    int deletions;
    const char* left;
  };
  // In this order, each run with the server as the one before left it.
  for (const Case& c : {Case{0, 0, "ABC"}, Case{30, 0, "ABC"}, Case{7, 1, "BC"}, Case{2, 1, "B"}, Case{1, 0, "B"}}) {
    SCOPED_TRACE(c.keepdays);
    WriteIni("keepdays=" + std::to_string(c.keepdays) + "\n");
    RunResult r = box_.Run({"-g", "-a"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Count(r.out, "S:DELE "), c.deletions) << r.out;
    EXPECT_EQ(Count(r.out, "S:RETR "), 0) << r.out;
    EXPECT_EQ(OnServer(), c.left);
    EXPECT_EQ(InInbox(), "ABC");
  }
}

// A message and the tag that tells it from the others.
std::string Tagged(const std::string& tag, size_t bodyLines) {
  std::string m = "From: kill@example.jp\nSubject: " + tag + "\n\n";
  for (size_t i = 0; i < bodyLines; ++i) m += "line " + std::to_string(i) + " of " + tag + " " + std::string(60, 'k') + "\n";
  return m;
}

// Runs killed at any moment, each followed by a whole one: every message
// ends up stored exactly once, and on the server only while serverdel=0.
TEST_F(PopUidlDovecot, RunsKilledAtRandomPointsStoreEveryMessageOnce) {
  const char* given = std::getenv("QUILLO_KILL_SEED");
  const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : std::random_device{}();
  std::printf("kill test seed %u (QUILLO_KILL_SEED repeats it)\n", seed);
  SCOPED_TRACE("QUILLO_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const auto started = std::chrono::steady_clock::now();
  int landed = 0;
  // Kills come within the time a run takes here: a run that ended before its
  // kill shows how short that is on this machine.
  int window = Scaled(150);
  for (int serverdel : {0, 1}) {
    SCOPED_TRACE("serverdel=" + std::to_string(serverdel));
    DovecotServer server;
    Sandbox box;
    ASSERT_TRUE(server.Ok()) << server.Error();
    box.MakeMailbox();
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=10\nserverdel=" +
                 std::to_string(serverdel) + "\n");
    std::vector<std::string> tags;
    for (int round = 0; round < 15; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      // Two small messages, and now and then a large one that a kill can
      // land in the middle of.
      for (int k = 0; k < 3; ++k) {
        if (k == 2 && round % 3 != 0) break;
        const std::string tag = "T" + std::to_string(serverdel) + "-" + std::to_string(round) + "-" + std::to_string(k);
        ASSERT_TRUE(server.AddMessage(Tagged(tag, k == 2 ? 8000 : 3)));
        tags.push_back(tag);
      }
      const int delay = std::uniform_int_distribution<int>(0, window)(random);
      const auto killed = std::chrono::steady_clock::now();
      if (box.RunKilledAfter({"-g", "-a"}, delay)) {
        ++landed;
      } else {
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
        window = std::clamp(static_cast<int>(took.count()), 5, window);
      }
      RunResult whole = box.Run({"-g", "-a"});
      ASSERT_EQ(whole.exitCode, 0) << whole.err;

      std::map<std::string, int> stored;
      int files = 0;
      for (const std::string& name : box.List("mbox/inbox")) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".TXT") continue;
        ++files;
        const std::string content = box.ReadFile("mbox/inbox/" + name);
        const size_t at = content.find("Subject: ");
        ASSERT_NE(at, std::string::npos) << name;
        ++stored[content.substr(at + 9, content.find('\n', at) - at - 9)];
      }
      EXPECT_EQ(files, static_cast<int>(tags.size()));
      for (const std::string& tag : tags) ASSERT_EQ(stored[tag], 1) << tag << " after a kill at " << delay << " ms";
      if (serverdel == 1) {
        auto left = server.Messages();
        ASSERT_TRUE(left.has_value());
        EXPECT_TRUE(left->empty()) << left->size() << " left after a kill at " << delay << " ms";
      }
    }
    if (serverdel == 0) {
      auto left = server.Messages();
      ASSERT_TRUE(left.has_value());
      EXPECT_EQ(left->size(), tags.size());
    }
  }
  // A third of the kills at least came while the run was still going.
  EXPECT_GE(landed, 10);
  std::printf("%d of 30 kills landed mid-run, in %lld ms\n", landed,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - started).count()));
}

// Starts `server` and sets `box` up to receive from it.
bool UseScripted(ScriptedPopServer& server, Sandbox& box) {
  if (!server.Start(30)) return false;
  box.MakeMailbox();
  box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\n");
  return true;
}

// A server without UIDL: taken as before, but a message left on the server
// keeps its slot, and nothing is recorded.
TEST(PopUidlScripted, AServerWithoutIdsKeepsTheSlotsOfTakenMessages) {
  const std::string first = "From: one@example.com\r\nSubject: first\r\n\r\nbody one\r\n";
  const std::string second = "From: two@example.com\r\nSubject: second\r\n\r\nbody two\r\n";
  const std::string third = "From: ten@example.com\r\nSubject: third\r\n\r\nbody three\r\n";
  ScriptedPopServer server({first, second, third});
  Sandbox box;
  ASSERT_TRUE(UseScripted(server, box));
  RunResult pick = box.Run({"-g"}, "2\nq\n");
  ASSERT_EQ(pick.exitCode, 0) << pick.err;
  EXPECT_NE(pick.out.find("S:UIDL\nR:-ERR"), std::string::npos) << pick.out;
  const std::string cache = box.ReadFile("mbox/poplist.ini");
  EXPECT_NE(cache.find("Mail0002=" + std::to_string(second.size()) + "\nHead0002=   2 two@example.com second\n"),
            std::string::npos)
      << cache;
  EXPECT_EQ(cache.find("Uidl"), std::string::npos) << cache;
  EXPECT_FALSE(box.Exists("mbox/uidlist.txt"));

  // The next run trusts all three slots and deletes by number, unchecked.
  const int topsBefore = server.CountCommands("TOP");
  RunResult unload = box.Run({"-u"}, "3\ny\nq\n");
  ASSERT_EQ(unload.exitCode, 0) << unload.err;
  EXPECT_EQ(server.CountCommands("TOP"), topsBefore) << unload.out;
  EXPECT_NE(unload.out.find("   2 two@example.com second\n   3 ten@example.com third\n"), std::string::npos)
      << unload.out;
  EXPECT_NE(unload.out.find("S:DELE 3\n"), std::string::npos) << unload.out;
  EXPECT_EQ(server.Expunged(), std::vector<int>{3});
  // Without ids, taking everything takes the two left again.
  RunResult all = box.Run({"-g", "-a"});
  EXPECT_EQ(Count(all.out, "S:RETR "), 2) << all.out;
  EXPECT_EQ(box.List("mbox/inbox").size(), 3u);
}

// The id a message has when its deletion is confirmed must still be the
// one listed; any other answer sends no DELE.
TEST(PopUidlScripted, NoDeletionUnlessTheServerStillGivesTheListedId) {
  const std::string message = "From: one@example.com\r\nSubject: first\r\n\r\nbody\r\n";
  struct Case {
    const char* name;
    std::string answer;
    bool deleted;
  };
  const std::vector<Case> cases = {
      {"the same id", "+OK 2 id-two\r\n", true},
      {"the same id, blanks after", "+OK 2 id-two  \r\n", true},
      {"another id", "+OK 2 id-three\r\n", false},
      {"another number", "+OK 3 id-two\r\n", false},
      {"a number with junk", "+OK 2x id-two\r\n", false},
      {"refused", "-ERR no such message\r\n", false},
      {"no id", "+OK 2\r\n", false},
      {"an id with an escape", "+OK 2 id-two\x1b[2J\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPopServer server({message, message, message});
    server.Override("UIDL", {"+OK\r\n1 id-one\r\n2 id-two\r\n3 id-three\r\n.\r\n"});
    server.Override("UIDL 2", {c.answer});
    Sandbox box;
    ASSERT_TRUE(UseScripted(server, box));
    RunResult r = box.Run({"-u"}, "2\ny\nq\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Count(r.out, "S:DELE "), c.deleted ? 1 : 0) << r.out;
    EXPECT_EQ(server.Expunged(), c.deleted ? std::vector<int>{2} : std::vector<int>{});
    EXPECT_EQ(Count(r.err, "mail 2 is not the one listed!(UIDL id-two) not deleted\a\n"), c.deleted ? 0 : 1) << r.err;
  }
}

}  // namespace
}  // namespace quillo::test
