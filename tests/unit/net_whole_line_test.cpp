// Reply lines read whole, whatever they hold, and a connection given up
// when a line has no end.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/transport.h"
#include "tests/unit/net_fixture.h"

namespace quillo::nettest {
namespace {

using namespace std::string_literals;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

class NetWholeLine : public NetFixture {};

TEST_F(NetWholeLine, ALineIsReadToItsEndWhateverItHolds) {
  struct Line {
    int result;
    std::string text;
  };
  struct Case {
    const char* name;
    std::string sent;
    bool peerCloses;
    std::vector<Line> lines;
    std::string log;
  };
  const std::string long1500 = std::string(1498, 'x') + "\r\n";
  const std::vector<Case> cases = {
      {"plain", "+OK ready\r\n", false, {{10, "+OK ready\r\n"}}, "R:+OK ready\n"},
      // A NUL byte neither ends the line nor hides the rest of it.
      {"nul first", "\0+OK 1\r\nnext\r\n"s, false, {{7, "\0+OK 1\r\n"s}, {5, "next\r\n"}}, "R:?+OK 1\nR:next\n"},
      {"nul inside", "1 2\0\0 3\r\n"s, false, {{8, "1 2\0\0 3\r\n"s}}, "R:1 2?? 3\n"},
      // One line, not two: the log shows its first 999 bytes.
      {"1500 bytes", long1500, false, {{1499, long1500}}, "R:" + std::string(999, 'x') + "\n"},
      {"bare lf and cr", "a\nb\rc\r\n", false, {{6, "a\nb\rc\r\n"}}, "R:a\nb?c\n"},
      {"escape sequences", "+OK \x1b[2J\x07\r\n", false, {{10, "+OK \x1b[2J\x07\r\n"}}, "R:+OK ?[2J?\n"},
      {"peer closes mid-line", "+OK partial", true, {{11, "+OK partial"}, {0, ""}}, "R:+OK partial\n"},
  };
  for (const Case& c : cases) {
    Listener listener;
    PeerConn peer = Connect(listener);
    ASSERT_TRUE(peer.Send(c.sent)) << c.name;
    if (c.peerCloses) peer.Close();
    CaptureStdout();
    for (size_t k = 0; k < c.lines.size(); ++k) {
      std::string line = "stale";
      EXPECT_EQ(NetRecvWholeLine(line), c.lines[k].result) << c.name << " line " << k;
      EXPECT_EQ(line, c.lines[k].text) << c.name << " line " << k;
    }
    EXPECT_EQ(GetCapturedStdout(), c.log) << c.name;
    NetClose();
  }
}

// A line past the limit is not waited for to its end. What the peer sends
// afterwards is never read, nothing more is sent to it, and only a new
// connection reads again.
TEST_F(NetWholeLine, ALineWithoutEndGivesTheConnectionUp) {
  Listener listener;
  PeerConn peer = Connect(listener);
  ASSERT_TRUE(peer.Send(std::string(5000, '9') + "\r\n+OK next\r\n"));
  CaptureStderr();
  std::string line;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetRecvWholeLine(line, 4096), -1);
  EXPECT_EQ(NetRecvWholeLine(line), -1);
  EXPECT_EQ(NetRecvLine(line), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(GetCapturedStderr(), "string too long(4097)\a\n");
  NetSendLine("QUIT\r\n");
  EXPECT_EQ(peer.ReadUntilQuiet(100, 500), "");

  PeerConn again = Connect(listener);
  ASSERT_TRUE(again.Send("+OK fresh\r\n"));
  EXPECT_EQ(NetRecvWholeLine(line), 10);
  EXPECT_EQ(line, "+OK fresh\r\n");
}

}  // namespace
}  // namespace quillo::nettest
