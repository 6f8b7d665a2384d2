// Whole runs against what a hostile server or a hostile message may send:
// control bytes that would drive the terminal, replies and responses without
// end, numbers that do not fit, NUL bytes and broken escapes.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {
namespace {

using namespace std::string_literals;
using Reply = ScriptedPopServer::Reply;
using Clock = std::chrono::steady_clock;

const std::string kFirst = "From: one@example.com\r\nSubject: first\r\n\r\nbody one\r\n";
const std::string kSecond = "From: two@example.com\r\nSubject: second\r\n\r\nbody two\r\n";

std::string Hex(unsigned char c) {
  const char* digits = "0123456789abcdef";
  return std::string{digits[c >> 4], digits[c & 15]};
}

// The bytes of `text` that could steer a terminal, as hex; "" when none.
std::string SteeringBytes(const std::string& text) {
  std::string found;
  for (unsigned char c : text) {
    if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) found += Hex(c) + " ";
  }
  return found;
}

bool Has(const std::vector<std::string>& commands, const std::string& word) {
  for (const std::string& c : commands) {
    if (c.rfind(word, 0) == 0) return true;
  }
  return false;
}

// Escape sequences in the greeting and in a message's sender, subject and
// body: every screen that shows them, on either console, shows '?' for each
// control byte; the stored message and a list written to a file keep them.
TEST(HostileInput, ControlBytesFromServerAndMessageNeverReachTheTerminal) {
  // ESC ( 0 switches a terminal to line drawing and survives the JIS
  // conversion; BEL, BS and DEL pass as they are.
  const std::string evil =
      "From: \x1b(0evil\x07@example.com\r\n"
      "Subject: \x1b$B$3$s\x1b(B \x1b(0lqqk\x1b(B \x07\x08" "bell\x7f\r\n"
      "\r\n"
      "body \x1b(0x\x1b(B\x07\r\n";
  struct Case {
    const char* name;
    std::string ini;
    std::string japanese;  // "こん" as the console shows it
  };
  const std::vector<Case> cases = {
      {"Shift_JIS console", "", "\x82\xb1\x82\xf1"},
      {"UTF-8 console", "console=utf-8\n", "\xe3\x81\x93\xe3\x82\x93"},
  };
  for (const Case& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.MakeDir("mbox/\x1b[2Jfolder");
    ScriptedPopServer server({evil});
    server.SetGreeting("+OK \x1b[2J\x1b]0;owned\x07 ready\r\n");
    ASSERT_TRUE(server.Start(30));
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\nheadlist=0\n" + c.ini);

    RunResult get = box.Run({"-g"});
    EXPECT_EQ(SteeringBytes(get.out), "") << c.name;
    EXPECT_NE(get.out.find("R:+OK ?[2J?]0;owned? ready\n"), std::string::npos) << c.name << "\n" << get.out;
    EXPECT_NE(get.out.find("?(0evil?@exampl " + c.japanese + " ?(0lqqk ??bell?\n"), std::string::npos)
        << c.name << "\n" << get.out;
    const std::string stored = box.ReadFile("mbox/inbox/0000.TXT");
    EXPECT_NE(stored.find("Subject: \x82\xb1\x82\xf1 \x1b(0lqqk \x07\x08" "bell\x7f\n"), std::string::npos) << c.name;
    EXPECT_NE(stored.find("body \x1b(0x\x07\n"), std::string::npos) << c.name;

    // The menu's list, the pager, the folder list and the folder's prompt.
    RunResult menu = box.Run({}, "1\nxc\n1\nq\n", {{"QUILLO_OFFLINE", "1"}});
    EXPECT_EQ(SteeringBytes(menu.out), "") << c.name;
    EXPECT_NE(menu.out.find("?(0lqqk ??bell?"), std::string::npos) << c.name << "\n" << menu.out;
    EXPECT_NE(menu.out.find("body ?(0x?\n"), std::string::npos) << c.name;
    EXPECT_NE(menu.out.find("1 ?[2Jfolder\n"), std::string::npos) << c.name;
    EXPECT_NE(menu.out.find("(?[2Jfolder):"), std::string::npos) << c.name;

    RunResult list = box.Run({"-t", "inbox", "-l"}, "", {{"QUILLO_OFFLINE", "1"}});
    EXPECT_EQ(SteeringBytes(list.out), "") << c.name;
    EXPECT_NE(list.out.find("?(0evil?@exampl " + c.japanese + " ?(0lqqk"), std::string::npos) << c.name;

    // The header list: on the console filtered, in its file as it came.
    RunResult headers = box.Run({"-h", "list.txt"});
    EXPECT_EQ(SteeringBytes(headers.out), "") << c.name;
    EXPECT_NE(box.ReadFile("list.txt").find("\x1b(0evil\x07@exampl \x82\xb1\x82\xf1 \x1b(0lqqk"), std::string::npos)
        << c.name << "\n" << box.ReadFile("list.txt");
  }
}

struct ServerCase {
  const char* name;
  std::function<void(ScriptedPopServer&)> script;
  std::string ini;
  std::string keys;
  std::vector<std::string> errs;       // each on standard error
  std::vector<std::string> stored;     // the inbox afterwards, in number order (LF line ends)
  std::vector<int> expunged;           // on the server at the end
};

// Each run ends by itself well within its time, says what went wrong, and
// neither stores part of a message nor deletes one it did not store.
TEST(HostileInput, HostileServersEndInTimeWithNothingLost) {
  const std::string megabyte(1 << 20, '9');
  const std::string second = "From: two@example.com\nSubject: second\n\nbody two\n";
  const std::vector<ServerCase> cases = {
      {"a greeting of a megabyte without a line end",
       [&](ScriptedPopServer& s) { s.SetGreeting("+OK " + megabyte); }, "headlist=0\n", "",
       {"string too long(65537)\a\n", "responce error! from POP server\a\n"}, {}, {}},
      {"greeting lines for ever", [](ScriptedPopServer& s) { s.SetGreetingRepeat("+OK 2 200\r\n"); }, "", "1\n0\n",
       {"response too long!(LIST 103 lines)\a\n"}, {}, {}},
      {"a STAT count of a megabyte of digits", [&](ScriptedPopServer& s) { s.Override("STAT", {"+OK " + megabyte}); },
       "", "", {"string too long(65537)\a\n", "POP Protcol error!(STAT)[+OK 999"}, {}, {}},
      {"a STAT count beyond any list", [](ScriptedPopServer& s) { s.Override("STAT", {"+OK 1099511627776 9\r\n"}); },
       "", "", {"POP Protcol error!(STAT)[+OK 1099511627776 9\r\n]\a\n"}, {}, {}},
      {"a listing for ever", [](ScriptedPopServer& s) { s.Override("LIST", {"+OK\r\n", Reply::Then::kGoOn, "1 57\r\n"}); },
       "", "1\n0\n", {"response too long!(LIST 103 lines)\a\n"}, {}, {}},
      // Message 1's size is no size; message 2 keeps its own line and
      // number, and the number typed fetches exactly that message.
      {"a listing of hostile numbers",
       [&](ScriptedPopServer& s) {
         s.Override("LIST", {"+OK\r\n-1 5\r\n1 1099511627776\r\n2 -40\r\n3 100\r\n99999999999 7\r\n\0 1 60\r\n2 "s +
                             std::to_string(kSecond.size()) + "\r\n.\r\n"});
       },
       "serverdel=1\n", "2\n0\n", {}, {second}, {2}},
      {"a header download for ever",
       [](ScriptedPopServer& s) { s.Override("TOP", {"+OK\r\n", Reply::Then::kGoOn, "X-Junk: x\r\n"}); }, "",
       "1\n0\n", {"response too long!(" + std::to_string(2 * kFirst.size() + (1 << 20)) + " bytes)\a\n"}, {}, {}},
      {"a message for ever, deletion on",
       [](ScriptedPopServer& s) {
         s.Override("RETR", {"+OK\r\nFrom: a@b.c\r\n", Reply::Then::kGoOn, "more and more\r\n"});
       },
       "serverdel=1\n", "1\n0\n",
       {"response too long!(" + std::to_string(2 * kFirst.size() + (1 << 20)) + " bytes)\a\n"}, {}, {}},
  };
  for (const ServerCase& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    ScriptedPopServer server({kFirst, kSecond});
    c.script(server);
    ASSERT_TRUE(server.Start(30));
    box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\n" + c.ini);
    const auto start = Clock::now();
    RunResult r = box.Run({"-g"}, c.keys, {}, 25);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(Scaled(15))) << c.name;
    ASSERT_FALSE(r.timedOut) << c.name;
    EXPECT_EQ(r.exitCode, 0) << c.name;
    for (const std::string& err : c.errs) EXPECT_NE(r.err.find(err), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out.find("Not memory!"), std::string::npos) << c.name;
    const std::vector<std::string> files = box.List("mbox/inbox");
    ASSERT_EQ(files.size(), c.stored.size()) << c.name;
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(box.ReadFile("mbox/inbox/" + files[i]), c.stored[i]) << c.name;
    EXPECT_EQ(server.Expunged(), c.expunged) << c.name;
    if (c.stored.empty()) {
      EXPECT_FALSE(Has(server.Commands(), "DELE")) << c.name;
    }
    // Nothing half-downloaded is left behind either.
    EXPECT_FALSE(box.Exists("tmp/tmp.txt") && c.stored.empty()) << c.name;
    EXPECT_FALSE(box.Exists("tmp/TMP.TXT")) << c.name;
  }
}

// NUL bytes and escapes that name nothing inside a message: it is stored
// with every line, the next message is stored whole, and both are deleted
// only once stored.
TEST(HostileInput, NulBytesAndBrokenEscapesInAMessage) {
  const std::string broken =
      "From: nul@example.com\r\nSubject: \x1b$Bbroken\r\n\r\na\0b\r\n\x1b$\r\n\x1b(Z\x0e\x1b(\x0f\r\nend\r\n"s;
  Sandbox box;
  box.MakeMailbox();
  ScriptedPopServer server({broken, kSecond});
  ASSERT_TRUE(server.Start(30));
  box.WriteIni("POPserver=" + server.Setting() + "\npasswd=secret\ntimeout=5\nheadlist=0\nserverdel=1\n");
  RunResult r = box.Run({"-g"}, "", {}, 25);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(SteeringBytes(r.out), "");
  ASSERT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0000.TXT", "0001.TXT"}));
  const std::string first = box.ReadFile("mbox/inbox/0000.TXT");
  EXPECT_TRUE(first.starts_with("From: nul@example.com\n")) << first;
  EXPECT_TRUE(first.ends_with("\nend\n")) << first;
  size_t lines = 0;
  for (char ch : first) lines += ch == '\n';
  EXPECT_EQ(lines, 7u) << first;
  EXPECT_EQ(box.ReadFile("mbox/inbox/0001.TXT"), "From: two@example.com\nSubject: second\n\nbody two\n");
  EXPECT_EQ(server.Expunged(), (std::vector<int>{1, 2}));
}

// Settings and header cache files that are huge, binary, without line ends
// or with lines of 10,000 bytes: each run ends in time with the values of
// the lines that name them, never with text from the middle of a long line.
TEST(HostileInput, HostileSettingsAndCacheFiles) {
  std::mt19937 random(5);
  std::string noise(8 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::string longLine = std::string(999, 'x') + "mailbox=/nonexistent " + std::string(9'000, 'y') + "\n";
  struct Case {
    const char* name;
    std::string before;  // ahead of the usual settings
    std::string after;   // behind them
    std::string cache;   // poplist.ini
    int exitCode;
    std::string shown;   // in the output
  };
  const std::vector<Case> cases = {
      {"long lines with keys past their first 999 bytes", longLine + longLine, longLine + longLine, longLine, 0,
       "a@b.c kept\n"},
      {"8 MB of random bytes", noise + "\n", "\n" + noise, noise, 0, "a@b.c kept\n"},
      {"8 MB of line ends", std::string(8 << 20, '\n'), std::string(8 << 20, '\n'), std::string(8 << 20, '\n'), 0,
       "a@b.c kept\n"},
      // The choice is "none"; the junk after the NUL is no part of it.
      {"a NUL byte ends a value", "", std::string("POPtls=none\0junk\n", 17), "", 0, "a@b.c kept\n"},
      // Only the first key can be found in a file of one line.
      {"no line end at all", "POPserver=" + std::string(8 << 20, 'p'), "", "", 1, "Login username error!"},
  };
  for (const Case& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    box.WriteFile("mbox/inbox/0000.TXT", "From: a@b.c\nSubject: kept\n\nbody\n");
    box.WriteIni();
    std::string settings = box.ReadFile("quillo.ini");
    if (c.name == std::string("no line end at all")) settings.clear();
    box.WriteFile("quillo.ini", c.before + settings + c.after);
    if (!c.cache.empty()) box.WriteFile("mbox/poplist.ini", c.cache);
    const auto start = Clock::now();
    RunResult list = box.Run({"-t", "inbox", "-l"}, "", {{"QUILLO_OFFLINE", "1"}}, 60);
    ASSERT_FALSE(list.timedOut) << c.name;
    EXPECT_EQ(list.exitCode, c.exitCode) << c.name << "\n" << list.err;
    EXPECT_NE((list.out + list.err).find(c.shown), std::string::npos) << c.name << "\n" << list.out << list.err;
    if (c.exitCode != 0) continue;
    // The offline header list reads the cache; the online one rewrites it,
    // keeping every line that is not its own.
    RunResult offline = box.Run({"-h"}, "", {{"QUILLO_OFFLINE", "1"}}, 60);
    ASSERT_FALSE(offline.timedOut) << c.name;
    EXPECT_EQ(offline.exitCode, 0) << c.name;
    EXPECT_EQ(offline.out.find("Not memory!"), std::string::npos) << c.name;
    ScriptedPopServer server({kFirst});
    ASSERT_TRUE(server.Start(30));
    box.WriteFile("quillo.ini", c.before + settings + "POPserver=" + server.Setting() + "\npasswd=secret\n" + c.after);
    RunResult online = box.Run({"-h"}, "", {}, 60);
    ASSERT_FALSE(online.timedOut) << c.name;
    EXPECT_NE(online.out.find("   1 one@example.com first\n"), std::string::npos) << c.name;
    const std::string cache = box.ReadFile("mbox/poplist.ini");
    EXPECT_NE(cache.find("Mail0001=" + std::to_string(kFirst.size()) + "\nHead0001=   1 one@example.com first\n"),
              std::string::npos)
        << c.name;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(Scaled(40))) << c.name;
  }
}

}  // namespace
}  // namespace quillo::test
