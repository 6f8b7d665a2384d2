// Common set-up of the transport tests: bounded time-outs, the log on, and
// the connection and settings put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include "net/transport.h"
#include "settings/settings.h"
#include "tests/unit/net_test_peer.h"

namespace quillo::nettest {

class NetFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetSettings();
    GetSettings().Logdisp = 0;
    GetSettings().timeout = 5;
    LogSwitch(true);
  }
  void TearDown() override {
    GetNetSession().sock.Close();
    NetCleanup();
    LogSwitch(true);
    GetSettings() = saved_;
  }

  // Opens the transport to `listener` by its dotted address and returns the
  // accepted far end.
  PeerConn Connect(const Listener& listener) {
    EXPECT_EQ(NetOpen("127.0.0.1", listener.Port()), 1);
    PeerConn peer = listener.Accept();
    EXPECT_TRUE(peer.Valid());
    return peer;
  }

 private:
  Settings saved_;
};

}  // namespace quillo::nettest
