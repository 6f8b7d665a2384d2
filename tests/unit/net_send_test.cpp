#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "net/transport.h"
#include "settings/settings.h"
#include "tests/unit/net_fixture.h"

namespace quillo::nettest {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class NetSendTest : public NetFixture {};

TEST_F(NetSendTest, BufferedTextLeavesInBlocksOfAtMostThousand) {
  struct Step {
    std::string text;      // "" flushes
    std::string received;  // what the peer gets right after the call
  };
  std::string a(600, 'a'), b(500, 'b'), c(400, 'c'), d(600, 'd'), f(1500, 'f');
  const std::vector<Step> steps = {
      {a, ""},      {b, a},      {"", b},  // 600 + 500: the first goes when the second comes
      {"", ""},                            // nothing gathered: nothing sent
      {c, ""},      {d, ""},               // 400 + 600 fill the block exactly
      {"e", c + d}, {"", "e"},             //
      {f, ""},      {"", f},               // a text longer than a block is kept whole
  };
  Listener listener;
  PeerConn peer = Connect(listener);
  CaptureStdout();
  for (size_t k = 0; k < steps.size(); ++k) {
    if (steps[k].text.empty()) {
      NetFlushBuffered();
    } else {
      EXPECT_EQ(NetSendBuffered("%s", steps[k].text.c_str()), 0);
    }
    EXPECT_EQ(peer.ReadUntilQuiet(150), steps[k].received) << "step " << k;
  }
  EXPECT_EQ(GetCapturedStdout(), "");  // buffered text is never logged
}

TEST_F(NetSendTest, NewConnectionDropsTextGatheredForTheOldOne) {
  Listener listener;
  {
    PeerConn first = Connect(listener);
    NetSendBuffered("left over");
    NetClose();
    EXPECT_EQ(first.ReadUntilQuiet(100), "");
  }
  PeerConn second = Connect(listener);
  NetSendBuffered("fresh");
  NetFlushBuffered();
  EXPECT_EQ(second.ReadUntilQuiet(), "fresh");
}

TEST_F(NetSendTest, LongCommandIsSentWhole) {
  GetSettings().Logdisp = 1;
  const std::string big(8 * 1024 * 1024, 'z');
  Listener listener;
  PeerConn peer = Connect(listener);
  // The far end reads while the command is still going out.
  auto reading = std::async(std::launch::async, [&peer] { return peer.ReadUntilQuiet(1000, 20000); });
  EXPECT_EQ(NetSendLine("%s\r\n", big.c_str()), 0);
  std::string got = reading.get();
  EXPECT_EQ(got.size(), big.size() + 2);
  EXPECT_EQ(got, big + "\r\n");
}

TEST_F(NetSendTest, PeerGoneIsAMissingReplyNotASignal) {
  Listener listener;
  PeerConn peer = Connect(listener);
  peer.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // SIGPIPE is not ignored in this test program: a raised one ends it.
  EXPECT_EQ(NetSendLine("QUIT\r\n"), 0);
  EXPECT_EQ(NetSendLine("QUIT\r\n"), 0);
  NetSendBuffered("%s", std::string(1500, 'x').c_str());
  NetFlushBuffered();
  std::string line;
  EXPECT_LE(NetRecvLine(line), 0);
}

TEST_F(NetSendTest, PeerThatStopsReadingDoesNotHoldUsForEver) {
  GetSettings().Logdisp = 1;
  GetSettings().timeout = 1;
  Listener listener;
  PeerConn peer = Connect(listener);
  const std::string block(1024 * 1024, 'y');
  using Seconds = std::chrono::duration<double>;
  auto sending = std::async(std::launch::async, [&block] {
    auto start = std::chrono::steady_clock::now();
    // Far more than the connection's buffers take: one send runs into the time-out.
    for (int k = 0; k < 256 && !GetNetSession().sendFailed; ++k) NetSendLine("%s", block.c_str());
    auto failed = std::chrono::steady_clock::now();
    for (int k = 0; k < 3; ++k) NetSendLine("%s", block.c_str());
    return std::make_pair(Seconds(failed - start).count(), Seconds(std::chrono::steady_clock::now() - failed).count());
  });
  // Closing the far end releases a sender that ignores its time-out.
  if (sending.wait_for(std::chrono::seconds(8)) != std::future_status::ready) peer.Close();
  auto [untilFailure, afterFailure] = sending.get();
  EXPECT_TRUE(GetNetSession().sendFailed);
  EXPECT_GE(untilFailure, 0.9);
  EXPECT_LT(untilFailure, 5.0);
  EXPECT_LT(afterFailure, 0.5);  // later sends of the dead connection do not wait again
}

}  // namespace
}  // namespace quillo::nettest
