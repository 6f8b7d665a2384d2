#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <ctime>
#include <optional>
#include <string>

#include "compose/wire_form.h"
#include "encoding/date_header.h"
#include "platform/clock.h"

namespace quillo {
namespace {

std::tm Calendar(int year, int month, int day, int hour, int minute, int second, int weekday) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_wday = weekday;
  return t;
}

struct DateCase {
  const char* name;
  std::tm local;
  long offsetEast;
  const char* zone;
  const char* expected;
};

const DateCase kDateCases[] = {
    {"HalfHourEastKeepsItsMinutes", Calendar(2026, 3, 31, 23, 59, 59, 2), 19800, "IST",
     "Tue, 31 Mar 2026 23:59:59 +0530 (IST)"},
    {"HalfHourWestKeepsItsMinutes", Calendar(2026, 5, 1, 1, 2, 3, 5), -12600, "NST",
     "Fri, 1 May 2026 01:02:03 -0330 (NST)"},
    {"QuarterHour", Calendar(2026, 5, 1, 1, 2, 3, 5), 20700, "+0545", "Fri, 1 May 2026 01:02:03 +0545 (+0545)"},
    {"ZoneNameWithParenthesesAndBlanks", Calendar(2026, 5, 1, 1, 2, 3, 5), 0, "a (b)\\c", "Fri, 1 May 2026 01:02:03 +0000 (abc)"},
    {"Utc", Calendar(2026, 8, 9, 9, 8, 7, 0), 0, "UTC", "Sun, 9 Aug 2026 09:08:07 +0000 (UTC)"},
    {"EmptyZoneName", Calendar(2026, 10, 3, 4, 5, 6, 6), 3600, "", "Sat, 3 Oct 2026 04:05:06 +0100 ()"},
    {"Year1997BecomesLater", Calendar(1997, 2, 3, 4, 5, 6, 0), 0, "GMT", "Sun, 3 Feb 2097 04:05:06 +0000 (GMT)"},
    {"Year1998Stays", Calendar(1998, 2, 3, 4, 5, 6, 2), 0, "GMT", "Tue, 3 Feb 1998 04:05:06 +0000 (GMT)"},
};

class EncodingDateHeaderTest : public testing::TestWithParam<DateCase> {};

TEST_P(EncodingDateHeaderTest, Formats) {
  const DateCase& c = GetParam();
  EXPECT_EQ(FormatDateHeader(c.local, c.offsetEast, c.zone), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodingDateHeaderTest, testing::ValuesIn(kDateCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Sets TZ for one test and puts the previous value back afterwards.
class EncodingDateHeaderZoneTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = getenv("TZ")) saved_ = tz;
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

constexpr std::time_t kDec6At0305Utc = 1796526307;  // 2026-12-06 03:05:07 UTC
constexpr std::time_t kJul4At1600Utc = 1783180800;  // 2026-07-04 16:00:00 UTC

std::string DateIn(std::time_t moment) {
  const LocalTime t = LocalTimeAt(moment);
  return FormatDateHeader(t.calendar, t.offsetSecondsEast, t.zoneName);
}

TEST_F(EncodingDateHeaderZoneTest, TheOffsetAndZoneInEffect) {
  struct Case {
    const char* tz;
    std::time_t moment;
    const char* expected;
  };
  const Case cases[] = {
      {"JST-9", kDec6At0305Utc, "Sun, 6 Dec 2026 12:05:07 +0900 (JST)"},
      // Daylight saving time: its clock, its offset and its name together.
      {"EST5EDT,M3.2.0,M11.1.0", kJul4At1600Utc, "Sat, 4 Jul 2026 12:00:00 -0400 (EDT)"},
      {"EST5EDT,M3.2.0,M11.1.0", kDec6At0305Utc, "Sat, 5 Dec 2026 22:05:07 -0500 (EST)"},
      {"IST-5:30", kDec6At0305Utc, "Sun, 6 Dec 2026 08:35:07 +0530 (IST)"},
      {"NST3:30NDT,M3.2.0,M11.1.0", kJul4At1600Utc, "Sat, 4 Jul 2026 13:30:00 -0230 (NDT)"},
      {"UTC0", kJul4At1600Utc, "Sat, 4 Jul 2026 16:00:00 +0000 (UTC)"},
  };
  for (const Case& c : cases) {
    UseZone(c.tz);
    EXPECT_EQ(DateIn(c.moment), c.expected) << c.tz;
  }
}

TEST_F(EncodingDateHeaderZoneTest, TheStampOfASendingIsNow) {
  UseZone("JST-9");
  std::time_t before = std::time(nullptr);
  std::string now = StampNow("host").date;
  std::time_t after = std::time(nullptr);
  EXPECT_TRUE(now == DateIn(before) || now == DateIn(after)) << now;
}

}  // namespace
}  // namespace quillo
