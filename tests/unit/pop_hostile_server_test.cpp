// A POP3 server that sends what no sound server would: hostile numbers,
// NUL bytes, lines and responses without end.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "pop/header_list.h"
#include "pop/pop_commands.h"
#include "tests/unit/pop_fixture.h"

namespace quillo::test {
namespace {

using namespace std::string_literals;
using Reply = ScriptedPopServer::Reply;
using Clock = std::chrono::steady_clock;

class PopHostileServer : public PopFixture {
 protected:
  struct Outcome {
    std::string out;
    std::string err;
    Clock::duration took{};
  };
  template <typename Body>
  Outcome Run(Body body) {
    Outcome o;
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    o.out = WithPipedKeys("", body);
    o.took = Clock::now() - start;
    o.err = testing::internal::GetCapturedStderr();
    return o;
  }
};

// Whatever a listing holds, it is read to its end line: the next reply is
// the next command's. Only a line "number size" with a message of the list
// and a size that fits sets that message's size.
TEST_F(PopHostileServer, HostileListingLinesAreIgnoredAndTheConversationStaysInStep) {
  struct Case {
    const char* name;
    std::string listing;  // between "+OK" and "."
    std::vector<long> sizes;
  };
  const long u = kSizeUnknown;
  const std::vector<Case> cases = {
      {"sound", "1 100\r\n2 200\r\n3 300\r\n", {100, 200, 300}},
      {"a NUL byte begins a line", "\0"s "1 100\r\n2 200\r\n3 300\r\n", {u, 200, 300}},
      {"NUL lines alone", "\0\r\n\0\0\0\r\n3 300\r\n"s, {u, u, 300}},
      {"negative numbers and sizes", "-1 100\r\n2 -200\r\n3 0\r\n", {u, u, u}},
      {"numbers beyond the count", "4 400\r\n99999999999 5\r\n2147483649 6\r\n1 100\r\n", {100, u, u}},
      {"sizes that do not fit", "1 1099511627776\r\n2 2147483648\r\n3 2147483647\r\n", {u, u, 2147483647}},
      // The tail of a long line past its first 999 bytes is no line of its own.
      {"a long line", "2 200\r\n1 " + std::string(997, 'x') + "2 222\r\n", {u, 200, u}},
      {"control bytes", "1 \x1b[2J\r\n2\t200\r\n\x1b 3 300\r\n", {u, u, u}},
  };
  for (const Case& c : cases) {
    ScriptedPopServer server;
    server.Override("LIST", {"+OK\r\n" + c.listing + ".\r\n"});
    server.Override("STAT", {"+OK 3 600\r\n"});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    HeaderList list;
    ASSERT_TRUE(AllocateHeaderList(list, 3));
    bool listed = false;
    int count = -1;
    Outcome o = Run([&] {
      listed = PopListSizes(list);
      count = PopStat();
    });
    EXPECT_TRUE(listed) << c.name;
    std::vector<long> sizes;
    for (const HeaderEntry& e : list) sizes.push_back(e.size);
    EXPECT_EQ(sizes, c.sizes) << c.name;
    EXPECT_EQ(count, 3) << c.name << ": out of step\n" << o.out;
    EXPECT_EQ(o.err, "") << c.name;
    // The log shows no control byte of the listing.
    EXPECT_EQ(o.out.find('\x1b'), std::string::npos) << c.name;
    NetClose();
  }
}

// A reply or listing without end is given up after a bounded amount; the
// conversation is then over: no further command goes out, QUIT included,
// so nothing is expunged on a conversation that went astray.
TEST_F(PopHostileServer, RepliesAndListingsWithoutEndAreGivenUp) {
  struct Case {
    const char* name;
    std::string command;
    Reply reply;
    std::string err;
  };
  const std::string megabyte(1 << 20, '9');
  const std::vector<Case> cases = {
      {"STAT: a megabyte of digits, no line end", "STAT", {"+OK " + megabyte},
       "string too long(65537)\a\nPOP Protcol error!(STAT)[+OK " + std::string(995, '9') + "]\a\n"},
      {"STAT: a megabyte of digits, then a line end", "STAT", {"+OK " + megabyte + " 1\r\n"},
       "string too long(65537)\a\nPOP Protcol error!(STAT)[+OK " + std::string(995, '9') + "]\a\n"},
      {"STAT: digits for ever", "STAT", {"+OK ", Reply::Then::kGoOn, "9999999999"},
       "string too long(65537)\a\nPOP Protcol error!(STAT)[+OK " + std::string(995, '9') + "]\a\n"},
      {"LIST: lines for ever", "LIST", {"+OK\r\n", Reply::Then::kGoOn, "1 100\r\n"},
       "response too long!(LIST 104 lines)\a\n"},
  };
  for (const Case& c : cases) {
    ScriptedPopServer server;
    server.Override(c.command, c.reply);
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    HeaderList list;
    ASSERT_TRUE(AllocateHeaderList(list, 3));
    int count = -1;
    bool listed = true;
    Outcome o = Run([&] {
      if (c.command == "STAT") count = PopStat();
      else listed = PopListSizes(list);
      PopQuit();
    });
    EXPECT_EQ(o.err, c.err) << c.name;
    EXPECT_LT(o.took, std::chrono::seconds(3)) << c.name;
    if (c.command == "STAT") {
      EXPECT_EQ(count, kStatFailed) << c.name;
    } else {
      EXPECT_FALSE(listed) << c.name;
    }
    EXPECT_EQ(server.Commands(), std::vector<std::string>{c.command}) << c.name;
    EXPECT_TRUE(GetNetSession().logOn);
  }
}

// A response that runs past its limit is not stored, not even in part, and
// its message is not deleted.
TEST_F(PopHostileServer, EndlessResponsesStoreAndDeleteNothing) {
  const std::string message = "From: a@b.c\r\nSubject: s\r\n\r\nbody\r\n";
  {
    ScriptedPopServer server({message});
    server.Override("RETR", {"+OK\r\nFrom: a@b.c\r\n", Reply::Then::kGoOn, "more and more\r\n"});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    int result = -1;
    FoldersToSync toSync;
    Outcome o = Run([&] { result = PopRetrieve("inbox", 1, 0, 1, toSync, static_cast<long>(message.size())); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(o.err, "response too long!(" + std::to_string(2 * message.size() + (1 << 20)) + " bytes)\a\n");
    EXPECT_LT(o.took, std::chrono::seconds(5));
    EXPECT_TRUE(box_.List("mbox/inbox").empty());
    EXPECT_TRUE(std::filesystem::is_empty(RunDirectory()));
    EXPECT_EQ(server.Commands(), std::vector<std::string>{"RETR 1"});
    NetClose();
  }
  {
    ScriptedPopServer server({message});
    server.Override("TOP", {"+OK\r\n", Reply::Then::kGoOn, "X-Junk: x\r\n"});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    int result = -1;
    std::string line = "untouched";
    Outcome o = Run([&] { result = FetchHeaderLine(1, 40, line); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(line, "untouched");
    EXPECT_EQ(o.err, "response too long!(" + std::to_string(80 + (1 << 20)) + " bytes)\a\n");
    EXPECT_TRUE(std::filesystem::is_empty(RunDirectory()));
    NetClose();
  }
  // A response of unknown size is held to the fixed limit, even one that
  // would have ended.
  {
    ScriptedPopServer server({message});
    server.Override("RETR", {"+OK\r\n" + std::string(3000, 'z') + "\r\n.\r\n"});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    int result = -1;
    Outcome o = Run([&] {
      NetSendLine("RETR 1\r\n");
      std::string reply;
      PopReadReply(reply);
      result = PopSaveBody(box_.Path("tmp/body.txt"), 2000);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(o.err, "response too long!(2000 bytes)\a\n");
    EXPECT_FALSE(box_.Exists("tmp/body.txt"));
    NetClose();
  }
}

// NUL bytes and broken ISO-2022-JP escapes are stored as converted, line by
// line: no line is lost or merged with the next, and the line after them is
// intact.
TEST_F(PopHostileServer, NulBytesAndBrokenEscapesKeepTheLines) {
  const std::vector<std::string> wires = {
      "a\0b\r\n\0\r\nnext\r\n"s,
      // Double-byte mode not ended on its line (it holds until an escape
      // ends it), half a character at the end.
      "\x1b$B$3\r\n\x1b(Bnext\r\n",
      "\x1b$\r\nnext\r\n",           // an escape cut short by the line end
      "\x1b(Z\x1b$Z\x1b\r\nnext\r\n",  // escapes that name nothing
      "\x0e\x1b(\x0f\r\nnext\r\n",   // half-width katakana around a broken escape
      "\x1b$B\x7f\x7f\x21\r\n\x1b(Bnext\r\n",
  };
  for (const std::string& wire : wires) {
    ScriptedPopServer server;
    server.Override("RETR", {"+OK\r\n" + wire + ".\r\n"});
    ASSERT_TRUE(server.Start(20));
    Connect(server);
    int result = -1;
    Run([&] {
      NetSendLine("RETR 1\r\n");
      std::string reply;
      PopReadReply(reply);
      result = PopSaveBody(box_.Path("tmp/body.txt"), kMostMessageBytes);
    });
    EXPECT_EQ(result, 1) << wire;
    const std::string stored = box_.ReadFile("tmp/body.txt");
    size_t lines = 0;
    for (size_t p = stored.find("\r\n"); p != std::string::npos; p = stored.find("\r\n", p + 2)) ++lines;
    EXPECT_EQ(lines, wire == wires[0] ? 3u : 2u) << wire;
    EXPECT_TRUE(stored.ends_with("\r\nnext\r\n")) << wire;
    NetClose();
  }
}

}  // namespace
}  // namespace quillo::test
