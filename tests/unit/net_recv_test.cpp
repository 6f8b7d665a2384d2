#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "net/transport.h"
#include "settings/settings.h"
#include "tests/unit/net_fixture.h"

namespace quillo::nettest {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct Piece {
  int result;
  std::string text;  // the terminated buffer
};

struct ReadCase {
  const char* name;
  std::string sent;
  bool peerCloses;
  std::vector<Piece> pieces;
};

std::string Xs(size_t n) { return std::string(n, 'x'); }

class NetReadTest : public NetFixture {};

TEST_F(NetReadTest, LinePieces) {
  using namespace std::string_literals;
  const std::vector<ReadCase> cases = {
      {"crlf line", "+OK ready\r\n", false, {{10, "+OK ready\r\n"}}},
      {"two lines from one receive", "+OK\r\n-ERR no\r\n", false, {{4, "+OK\r\n"}, {8, "-ERR no\r\n"}}},
      {"1500-byte reply is 999 + 500", Xs(1498) + "\r\n", false, {{999, Xs(999)}, {500, Xs(499) + "\r\n"}}},
      {"999 bytes with crlf fit one piece", Xs(997) + "\r\n", false, {{998, Xs(997) + "\r\n"}}},
      {"cut falls between cr and lf", Xs(998) + "\r\nnext\r\n", true,
       {{999, Xs(998) + "\r"}, {6, "\nnext\r\n"}, {0, ""}}},
      {"cr lf split over two receives", "a\r\n" + Xs(995) + "\r\n", false, {{2, "a\r\n"}, {996, Xs(995) + "\r\n"}}},
      {"nul byte ends the piece", "ab\0cd\r\n"s, false, {{2, "ab"}, {3, "cd\r\n"}}},
      {"nul byte first gives 0", "\0+OK\r\n"s, false, {{0, ""}, {4, "+OK\r\n"}}},
      {"bare lf does not end a line", "a\nb\r\n", false, {{4, "a\nb\r\n"}}},
      {"lf first does not end a line", "\nb\r\n", false, {{3, "\nb\r\n"}}},
      {"cr cr lf", "a\r\r\n", false, {{3, "a\r\r\n"}}},
      {"peer closes mid-line", "+OK partial", true, {{11, "+OK partial"}, {0, ""}}},
      {"peer closes after a line", "+OK\r\n", true, {{4, "+OK\r\n"}, {0, ""}, {0, ""}}},
      {"peer closes at once", "", true, {{0, ""}}},
  };
  for (const ReadCase& c : cases) {
    Listener listener;
    PeerConn peer = Connect(listener);
    ASSERT_TRUE(peer.Send(c.sent)) << c.name;
    if (c.peerCloses) peer.Close();
    for (size_t k = 0; k < c.pieces.size(); ++k) {
      char buffer[1000];
      int result = NetRecvLine(buffer, sizeof buffer);
      EXPECT_EQ(result, c.pieces[k].result) << c.name << " piece " << k;
      EXPECT_EQ(std::string(buffer), c.pieces[k].text) << c.name << " piece " << k;
    }
    NetClose();
  }
}

TEST_F(NetReadTest, CapacityOtherThanThousand) {
  struct CapCase {
    const char* name;
    int capacity;
    std::string sent;
    std::vector<Piece> pieces;
    std::string err;
  };
  const std::vector<CapCase> cases = {
      {"small buffer cuts at capacity - 1", 10, "abcdefghijklmn\r\n", {{9, "abcdefghi"}, {6, "jklmn\r\n"}}, ""},
      {"larger buffer stops at 1000 bytes", 2000, Xs(1200) + "\r\n", {{0, Xs(1001)}, {200, Xs(199) + "\r\n"}},
       "string too long(1000)\a\n"},
  };
  for (const CapCase& c : cases) {
    Listener listener;
    PeerConn peer = Connect(listener);
    ASSERT_TRUE(peer.Send(c.sent));
    CaptureStderr();
    for (size_t k = 0; k < c.pieces.size(); ++k) {
      // Guard bytes after the capacity show any write past it.
      std::string buffer(static_cast<size_t>(c.capacity) + 16, '#');
      int result = NetRecvLine(buffer.data(), c.capacity);
      EXPECT_EQ(result, c.pieces[k].result) << c.name << " piece " << k;
      EXPECT_EQ(std::string(buffer.c_str()), c.pieces[k].text) << c.name << " piece " << k;
      EXPECT_EQ(buffer.substr(static_cast<size_t>(c.capacity)), std::string(16, '#')) << c.name;
    }
    EXPECT_EQ(GetCapturedStderr(), c.err) << c.name;
    NetClose();
  }
}

TEST_F(NetReadTest, StringInterfaceGivesTheTerminatedText) {
  Listener listener;
  PeerConn peer = Connect(listener);
  ASSERT_TRUE(peer.Send(std::string("+OK\r\nab\0cd", 10)));
  peer.Close();
  std::string line;
  EXPECT_EQ(NetRecvLine(line), 4);
  EXPECT_EQ(line, "+OK\r\n");
  EXPECT_EQ(NetRecvLine(line), 2);
  EXPECT_EQ(line, "ab");
  EXPECT_EQ(NetRecvLine(line), 2);
  EXPECT_EQ(line, "cd");
}

TEST_F(NetReadTest, ReceiveErrorWithoutConnection) {
  // A failed NetOpen leaves no socket: reading is a receive error, not a hang.
  GetNetSession().sock.Close();
  GetNetSession().recvPos = GetNetSession().recvCount = 0;
  char buffer[1000] = "stale";
  EXPECT_EQ(NetRecvLine(buffer, sizeof buffer), -1);
  EXPECT_STREQ(buffer, "");
}

TEST_F(NetReadTest, NewConnectionForgetsUnreadBytes) {
  Listener listener;
  {
    PeerConn first = Connect(listener);
    ASSERT_TRUE(first.Send("one\r\ntwo\r\n"));
    std::string line;
    ASSERT_EQ(NetRecvLine(line), 4);
    NetClose();
  }
  PeerConn second = Connect(listener);
  ASSERT_TRUE(second.Send("three\r\n"));
  std::string line;
  EXPECT_EQ(NetRecvLine(line), 6);
  EXPECT_EQ(line, "three\r\n");
}

TEST_F(NetReadTest, SilentPeerTimesOut) {
  GetSettings().timeout = 1;
  Listener listener;
  PeerConn peer = Connect(listener);
  CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  auto reading = std::async(std::launch::async, [] {
    char buffer[1000];
    return NetRecvLine(buffer, sizeof buffer);
  });
  // Closing the far end releases a reader that ignores its time-out.
  if (reading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) peer.Close();
  int result = reading.get();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(GetCapturedStderr(), "receive timed out!\a\n");
  EXPECT_EQ(result, -1);
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 4.0);
}

// A peer that sends a byte every 300 ms never falls silent for a second, yet
// may not keep a line open for longer than the time-out: neither a reply
// read whole nor a line read in pieces (a message transfer). A line that
// comes within the time-out resets it for the next.
TEST_F(NetReadTest, ADrippingPeerIsHeldToTheTimeOutForEachWholeLine) {
  GetSettings().timeout = 1;
  struct Case {
    const char* name;
    bool whole;
  };
  for (const Case& c : {Case{"whole reply", true}, Case{"pieces of a message line", false}}) {
    Listener listener;
    PeerConn peer = Connect(listener);
    ASSERT_TRUE(peer.Send("+OK quick\r\n"));
    std::string first;
    ASSERT_GT(NetRecvWholeLine(first), 0) << c.name;
    CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    auto reading = std::async(std::launch::async, [&c] {
      if (c.whole) {
        std::string line;
        return NetRecvWholeLine(line);
      }
      // Pieces of two bytes: each one is cut short, none ends the line.
      for (;;) {
        char buffer[3];
        PieceEnd end;
        const int n = NetRecvPiece(buffer, sizeof buffer, end);
        if (n < 0 || end != PieceEnd::kCut) return n;
      }
    });
    std::string drip = Xs(30) + "\r\n";
    for (char byte : drip) {
      if (reading.wait_for(std::chrono::milliseconds(300)) == std::future_status::ready) break;
      if (!peer.Send(std::string(1, byte))) break;
    }
    if (reading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) peer.Close();
    const int result = reading.get();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(GetCapturedStderr(), "receive timed out!\a\n") << c.name;
    EXPECT_EQ(result, -1) << c.name;
    EXPECT_LT(seconds, 3.0) << c.name;
    NetClose();
  }
}

// The whole log of one POP3-like exchange.
TEST_F(NetReadTest, LogShowsEachLineWithoutItsLineEnd) {
  Listener listener;
  CaptureStdout();
  PeerConn peer = Connect(listener);
  ASSERT_TRUE(peer.Send("+OK ready\r\n" + Xs(1000) + "\r\n" + std::string("ab\0cd\r\n", 7)));
  std::string line;
  NetRecvLine(line);
  NetSendLine("USER %s\r\n", "bob");
  NetRecvLine(line);
  NetRecvLine(line);
  NetRecvLine(line);  // "ab" before the NUL byte: not logged
  NetRecvLine(line);
  NetClose();
  std::string expected = "NetOpen(hostname:127.0.0.1 portNum:" + std::to_string(listener.Port()) + ")\n" +
                         "R:+OK ready\n" + "S:USER bob\n" + "R:" + Xs(999) + "\n" + "R:x\n" + "R:cd\n" +
                         "NetClose\n";
  EXPECT_EQ(GetCapturedStdout(), expected);
  EXPECT_EQ(peer.ReadUntilQuiet(), "USER bob\r\n");
}

TEST_F(NetReadTest, LogIsSilencedByLogdispOrTheSwitch) {
  struct SilenceCase {
    int Logdisp;
    bool logOn;
    bool logged;
  };
  const std::vector<SilenceCase> cases = {{0, true, true}, {1, true, false}, {2, true, false}, {0, false, false}};
  for (const SilenceCase& c : cases) {
    GetSettings().Logdisp = c.Logdisp;
    LogSwitch(c.logOn);
    Listener listener;
    CaptureStdout();
    CaptureStderr();
    GetService("pop3", "tcp");
    PeerConn peer = Connect(listener);
    ASSERT_TRUE(peer.Send("+OK\r\n"));
    std::string line;
    NetRecvLine(line);
    NetSendLine("STAT\r\n");
    LogLine("entry");
    LogPrintf("entry %d", 2);
    NetHostName(line);
    NetClose();
    NetOpen("127.0.0.1", ClosedPort());
    std::string out = GetCapturedStdout();
    std::string err = GetCapturedStderr();
    if (c.logged) {
      EXPECT_NE(out.find("GetService name:pop3 proto:tcp\nport:110\nNetOpen("), std::string::npos) << out;
      EXPECT_NE(out.find("R:+OK\nS:STAT\nentry\nentry 2\nhostname:"), std::string::npos) << out;
      EXPECT_NE(out.find("\nNetClose\n"), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, "") << "Logdisp " << c.Logdisp << " logOn " << c.logOn;
    }
    // Messages are not part of the log.
    EXPECT_NE(err.find("connection error!\a\n"), std::string::npos) << err;
    // The log's silence does not hold back the command itself.
    EXPECT_EQ(peer.ReadUntilQuiet(), "STAT\r\n");
  }
}

TEST_F(NetReadTest, LogLineRemovesOnlyTrailingLineEnds) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+OK ready\r\n", "+OK ready\n"}, {"a\r\n\r\n", "a\n"},   {"a\rb\nc", "a?b\nc\n"},
      {"\r\n", "\n"},                   {"port:110\n", "port:110\n"}, {"", "\n"},
  };
  for (const auto& [text, shown] : cases) {
    CaptureStdout();
    LogLine(text);
    EXPECT_EQ(GetCapturedStdout(), shown);
  }
}

}  // namespace
}  // namespace quillo::nettest
