#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "net/transport.h"
#include "platform/output.h"
#include "settings/settings.h"
#include "tests/unit/net_fixture.h"

namespace quillo::nettest {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

class NetOpenTest : public NetFixture {};

TEST_F(NetOpenTest, DottedAddressIsNotLookedUp) {
  struct HostCase {
    std::string host;
    bool lookedUp;
  };
  const std::vector<HostCase> cases = {
      {"127.0.0.1", false},
      {"localhost", true},
      {"127.1", true},  // begins with a digit but is no dotted address
  };
  for (const HostCase& c : cases) {
    Listener listener;
    CaptureStdout();
    int result = NetOpen(c.host, listener.Port());
    std::string log = GetCapturedStdout();
    EXPECT_EQ(result, 1) << c.host;
    EXPECT_TRUE(listener.Accept().Valid()) << c.host;
    std::string opened = "NetOpen(hostname:" + c.host + " portNum:" + std::to_string(listener.Port()) + ")\n";
    EXPECT_EQ(log, c.lookedUp ? opened + "gethost:" + c.host + "\n" : opened);
    NetClose();
  }
}

TEST_F(NetOpenTest, ServerTextWithPort) {
  const std::vector<std::string> forms = {"127.0.0.1:%d", "[127.0.0.1]:%d", "localhost:%d"};
  for (const std::string& form : forms) {
    Listener listener;
    std::string text = Format(form.c_str(), listener.Port());
    HostPort hp = SplitHostPort(text, 110);
    CaptureStdout();
    EXPECT_EQ(NetOpen(hp.host, hp.port), 1) << text;
    std::string log = GetCapturedStdout();
    EXPECT_TRUE(listener.Accept().Valid()) << text;
    std::string opened = "NetOpen(hostname:" + hp.host + " portNum:" + std::to_string(listener.Port()) + ")\n";
    EXPECT_EQ(log.substr(0, opened.size()), opened);
    NetClose();
  }
}

TEST_F(NetOpenTest, Failures) {
  struct FailCase {
    const char* name;
    std::string host;
    int port;
    std::string err;
    std::string log;
  };
  int closed = ClosedPort();
  const std::string refused = std::string("pop3: ") + std::strerror(ECONNREFUSED) + "\nconnection error!\a\n";
  const std::vector<FailCase> cases = {
      {"closed port", "127.0.0.1", closed, refused,
       "NetOpen(hostname:127.0.0.1 portNum:" + std::to_string(closed) + ")\n"},
      // Names that no resolver accepts: nothing leaves the machine.
      {"unknown name", "no..such.host", 110, "Not find host(no..such.host)\a\n",
       "NetOpen(hostname:no..such.host portNum:110)\ngethost:no..such.host\n"},
      {"digit first, not dotted", "1..2", 110, "Not find host(1..2)\a\n",
       "NetOpen(hostname:1..2 portNum:110)\ngethost:1..2\n"},
  };
  for (const FailCase& c : cases) {
    CaptureStdout();
    CaptureStderr();
    int result = NetOpen(c.host, c.port);
    std::string err = GetCapturedStderr();
    std::string log = GetCapturedStdout();
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_EQ(err, c.err) << c.name;
    EXPECT_EQ(log, c.log) << c.name;
    EXPECT_FALSE(GetNetSession().sock.Valid()) << c.name;
  }
}

TEST_F(NetOpenTest, ConnectTimesOut) {
  GetSettings().timeout = 1;
  // A listen queue of one, already taken: further connection requests go
  // unanswered.
  Listener listener(0);
  SocketAddress address;
  ASSERT_TRUE(DottedIPv4Address("127.0.0.1", listener.Port(), address));
  ConnectResult filler = ConnectStream(address, 2);
  ASSERT_EQ(filler.status, ConnectStatus::kConnected);

  CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  auto opening = std::async(std::launch::async, [&listener] { return NetOpen("127.0.0.1", listener.Port()); });
  // Closing the listener releases a connect that ignores its time-out.
  if (opening.wait_for(std::chrono::seconds(5)) != std::future_status::ready) listener.Close();
  int result = opening.get();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(GetCapturedStderr(), "connection timed out!(127.0.0.1)\a\n");
  EXPECT_EQ(result, 0);
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 4.0);
}

}  // namespace
}  // namespace quillo::nettest
