#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "net/transport.h"
#include "platform/output.h"
#include "platform/process.h"
#include "settings/settings.h"

namespace quillo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(NetServiceTest, PortsFromTheTable) {
  struct ServiceCase {
    const char* name;
    int port;
  };
  const std::vector<ServiceCase> cases = {
      {"pop3", 110}, {"smtp", 25}, {"ftp", 21}, {"pop", 109}, {"nntp", 119},
      {"POP3", -1},  // names are compared exactly
      {"pop33", -1}, {"", -1},
  };
  GetSettings().Logdisp = 0;
  for (const ServiceCase& c : cases) {
    CaptureStdout();
    EXPECT_EQ(GetService(c.name, "tcp"), c.port) << c.name;
    EXPECT_EQ(GetCapturedStdout(),
              Format("GetService name:%s proto:tcp\nport:%d\n", c.name, c.port));
    EXPECT_FALSE(GetNetSession().started) << c.name;
  }
}

TEST(NetHostPortTest, Split) {
  struct SplitCase {
    std::string text;
    std::string host;
    int port;
  };
  const std::vector<SplitCase> cases = {
      {"mail.example.com", "mail.example.com", 110},
      {"mail.example.com:995", "mail.example.com", 995},
      {"192.0.2.7:2525", "192.0.2.7", 2525},
      {"[::1]:2525", "::1", 2525},
      {"[2001:db8::5]", "2001:db8::5", 110},
      {"::1", "::1", 110},  // a bare IPv6 address carries no port
      {"2001:db8::5:25", "2001:db8::5:25", 110},
      {"host:65535", "host", 65535},
      // Not a port: the text stays whole (and the look-up tells the user).
      {"host:", "host:", 110},
      {"host:0", "host:0", 110},
      {"host:65536", "host:65536", 110},
      {"host:99999999999", "host:99999999999", 110},
      {"host:12a", "host:12a", 110},
      {"host:-1", "host:-1", 110},
      {"[::1]x", "[::1]x", 110},
      {"[::1]:", "[::1]:", 110},
      {"[::1", "[::1", 110},
      {"", "", 110},
  };
  for (const SplitCase& c : cases) {
    HostPort hp = SplitHostPort(c.text, 110);
    EXPECT_EQ(hp.host, c.host) << c.text;
    EXPECT_EQ(hp.port, c.port) << c.text;
  }
}

TEST(NetHostNameTest, NameIsCutToTheBuffer) {
  std::string full;
  ASSERT_EQ(NetHostName(full, 256), 0);
  ASSERT_FALSE(full.empty());
  for (size_t size : {size_t{80}, size_t{3}, size_t{1}}) {
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(NetHostName(buffer, size), 0);
    EXPECT_EQ(std::string(buffer), full.substr(0, size - 1)) << size;
    EXPECT_FALSE(GetNetSession().started);
  }
}

TEST(NetProbeTest, OfflineSwitch) {
  struct ProbeCase {
    std::optional<std::string> offline;
    bool unavailable;
  };
  const std::vector<ProbeCase> cases = {
      {std::nullopt, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}, {"00", true},
  };
  std::optional<std::string> saved = GetEnv("QUILLO_OFFLINE");
  for (const ProbeCase& c : cases) {
    if (c.offline) {
      setenv("QUILLO_OFFLINE", c.offline->c_str(), 1);
    } else {
      unsetenv("QUILLO_OFFLINE");
    }
    EXPECT_EQ(NetProbe() != 0, c.unavailable) << c.offline.value_or("(unset)");
    EXPECT_FALSE(GetNetSession().started);
  }
  if (saved) {
    setenv("QUILLO_OFFLINE", saved->c_str(), 1);
  } else {
    unsetenv("QUILLO_OFFLINE");
  }
}

}  // namespace
}  // namespace quillo
