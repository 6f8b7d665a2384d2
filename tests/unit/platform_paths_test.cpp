#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/strings.h"

namespace quillo {
namespace {

#ifdef _WIN32
constexpr bool kBackslashSeparates = true;
#else
constexpr bool kBackslashSeparates = false;
#endif

// 表 and ソ end in 0x5C, the byte of '\\': it belongs to the character.
const std::string kHyo = "\x95\x5C";
const std::string kSo = "\x83\x5C";

TEST(PlatformPaths, LastSeparatorSkipsShiftJisSecondBytes) {
  struct Case {
    std::string path;
    size_t posix;
    size_t windows;
  };
  const size_t none = std::string::npos;
  const std::vector<Case> cases = {
      {"", none, none},
      {"name", none, none},
      {"dir/name", 3, 3},
      {"a\\b", none, 1},
      {"a/b\\c", 1, 3},
      {"mail/" + kHyo, 4, 4},
      {"mail\\" + kHyo, none, 4},
      {kHyo + "\\" + kSo, none, 2},
      {kHyo + kSo, none, none},
      {"\\\\server\\share", none, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LastPathSeparator(c.path), kBackslashSeparates ? c.windows : c.posix) << c.path;
  }
}

TEST(PlatformPaths, TrailingSeparatorGoesButNeverHalfACharacter) {
  struct Case {
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"/", ""},
      {"mail/", "mail"},
      {"mail\\", "mail"},
      {"mail", "mail"},
      {"mail//", "mail/"},
      {"C:\\" + kHyo, "C:\\" + kHyo},
      {"C:\\" + kHyo + "\\", "C:\\" + kHyo},
      {"x" + kSo, "x" + kSo},
      // A lone 0x95 before the backslash is still a lead byte.
      {"\x95\\", "\x95\\"},
      {"\x95\\\\", "\x95\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutTrailingSeparator(c.path), c.expected) << c.path;
}

TEST(PlatformPaths, AbsolutePaths) {
  struct Case {
    std::string path;
    bool posix;
    bool windows;
  };
  const std::vector<Case> cases = {
      {"", false, false},
      {"/tmp/x", true, true},
      {"mail/inbox", false, false},
      {"C:\\mail", false, true},
      {"c:/mail", false, true},
      {"C:mail", false, false},
      {"\\\\server\\share\\x", false, true},
      {"\\mail", false, true},
      {kHyo + "\\x", false, false},
      {"1:\\x", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAbsolutePath(c.path), kBackslashSeparates ? c.windows : c.posix) << c.path;
  }
}

TEST(PlatformPaths, JoinedNamesKeepThePathsSpelling) {
  struct Case {
    std::string path;
    char windows;
  };
  const std::vector<Case> cases = {
      {"", '\\'}, {"/tmp/x", '/'}, {"C:\\Temp", '\\'}, {"C:/Temp", '/'}, {"C:\\Temp/x", '\\'},
      {"/tmp/" + kHyo, '/'}, {"tmp", '\\'},
  };
  for (const Case& c : cases) EXPECT_EQ(SeparatorFor(c.path), kBackslashSeparates ? c.windows : '/') << c.path;
}

TEST(PlatformPaths, TrailBytePositions) {
  const std::string text = "a" + kHyo + "b" + kSo;
  const std::vector<bool> trail = {false, false, true, false, false, true};
  for (size_t i = 0; i < trail.size(); ++i) EXPECT_EQ(IsSjisTrailAt(text, i), trail[i]) << i;
}

TEST(PlatformClock, ZoneAbbreviationsAreAscii) {
  struct Case {
    long minutesEast;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {540, "JST"}, {0, "GMT"}, {-300, "EST"}, {-240, "EDT"}, {60, "CET"},
      {330, "UTC+0530"}, {-210, "UTC-0330"}, {345, "UTC+0545"}, {-720, "UTC-1200"},
  };
  for (const Case& c : cases) EXPECT_EQ(ZoneAbbreviation(c.minutesEast), c.expected) << c.minutesEast;
}

}  // namespace
}  // namespace quillo
