// Common set-up of the receiving unit tests: a mailbox and tmp directory in a
// sandbox, bounded time-outs, the log on, and everything put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "net/transport.h"
#include "platform/run_directory.h"
#include "pop/header_list.h"
#include "pop/pop_commands.h"
#include "settings/settings.h"
#include "tests/support/harness.h"
#include "tests/support/scripted_pop_server.h"

namespace quillo::test {

class PopFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetSettings();
    box_.MakeMailbox();
    Settings& s = GetSettings();
    s.mailbox = box_.Path("mbox");
    s.tmp = box_.Path("tmp");
    s.Logdisp = 0;
    s.timeout = 5;
    s.lines = 25;
    s.Reciveheadlong = 0;
    std::string why;
    ASSERT_TRUE(OpenRunDirectory(s.tmp, why)) << why;
    LogSwitch(true);
  }
  void TearDown() override {
    GetNetSession().sock.Close();
    NetCleanup();
    LogSwitch(true);
    CloseRunDirectory();
    GetSettings() = saved_;
  }

  // Connects to `server` and reads its greeting; the output of both is dropped.
  void Connect(const ScriptedPopServer& server) {
    WithPipedKeys("", [&] {
      ASSERT_EQ(NetOpen("127.0.0.1", server.Port()), 1);
      std::string greeting;
      ASSERT_TRUE(PopReadReply(greeting));
    });
  }

  Sandbox box_;

 private:
  Settings saved_;
};

}  // namespace quillo::test
