// The harness stretches its waits only when asked to, and never by a value
// that would make a time-out shorter or practically endless.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "tests/support/harness.h"

namespace quillo::test {
namespace {

TEST(HarnessTimeScale, OnlyAWholeNumberStretchesTheWaits) {
  struct Case {
    const char* text;
    int scale;
  };
  const Case cases[] = {
      {nullptr, 1},
      {"", 1},
      {"1", 1},
      {"12", 12},
      {"007", 7},
      {"100", 100},
      {"101", 100},
      {"99999999999999999999", 100},
      {"0", 1},
      {"-5", 1},
      {"3x", 1},
      {"x3", 1},
      {" 4", 1},
      {"4 ", 1},
      {"2.5", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTimeScale(c.text), c.scale) << (c.text ? c.text : "(unset)");
}

TEST(HarnessTimeScale, ScaledFollowsTheEnvironmentAndNeverOverflows) {
  const int scale = ParseTimeScale(std::getenv("QUILLO_TIME_SCALE"));
  EXPECT_EQ(TimeScale(), scale);
  EXPECT_EQ(Scaled(5000), 5000 * scale);
  EXPECT_EQ(Scaled(0), 0);
  EXPECT_EQ(Scaled(INT_MAX), INT_MAX);
}

}  // namespace
}  // namespace quillo::test
