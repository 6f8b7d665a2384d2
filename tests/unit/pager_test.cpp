#include "console/pager.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

using test::Sandbox;
using test::WithPipedKeys;

// Every display line of `content` with ReadDisplayLine's result for it.
std::vector<std::pair<std::string, int>> DisplayLines(const Sandbox& box, const std::string& content) {
  box.WriteFile("f.txt", content);
  DisplayFile file(box.Path("f.txt"));
  EXPECT_TRUE(file.IsOpen());
  std::vector<std::pair<std::string, int>> out;
  std::string line;
  for (int guard = 0; guard < 100; ++guard) {
    int r = ReadDisplayLine(file, line);
    out.emplace_back(line, r);
    if (r == -1) break;
  }
  return out;
}

struct DisplayCase {
  const char* name;
  std::string content;
  std::vector<std::pair<std::string, int>> lines;
};

TEST(PagerDisplayLine, Cases) {
  const std::string x80(80, 'x'), x71(71, 'x'), x72(72, 'x');
  const std::vector<DisplayCase> cases = {
      {"plain lines", "ab\ncd\n", {{"ab", 10}, {"cd", 10}, {"", -1}}},
      {"empty line", "\n\n", {{"", 10}, {"", 10}, {"", -1}}},
      {"CR LF read as LF", "ab\r\ncd\r\n", {{"ab", 10}, {"cd", 10}, {"", -1}}},
      {"lone CR kept", "a\rb\n", {{"a\rb", 10}, {"", -1}}},
      {"last line without line feed", "ab\ncd", {{"ab", 10}, {"cd", -1}}},
      {"100 characters cut at 80", std::string(80, 'a') + std::string(20, 'b') + "\n",
       {{std::string(80, 'a'), 'b'}, {std::string(20, 'b'), 10}, {"", -1}}},
      {"exactly 80 takes its line feed", x80 + "\nnext\n", {{x80, 10}, {"next", 10}, {"", -1}}},
      {"exactly 80 at the end of the file", x80, {{x80, -1}}},
      {"tab at column 0 counts 9", "\t" + x71 + "yz\n", {{"\t" + x71, 'y'}, {"yz", 10}, {"", -1}}},
      {"tab after 7 columns counts to 9", "1234567\t" + x71 + "y\n",
       {{"1234567\t" + x71, 'y'}, {"y", 10}, {"", -1}}},
      {"tab at column 8 counts to 17", "12345678\t" + std::string(63, 'x') + "y\n",
       {{"12345678\t" + std::string(63, 'x'), 'y'}, {"y", 10}, {"", -1}}},
      {"tab crossing column 80", x72 + "\tz\n", {{x72 + "\t", 'z'}, {"z", 10}, {"", -1}}},
      {"high bytes count one column each", std::string(80, '\x82') + "\x82\n",
       {{std::string(80, '\x82'), 0x82}, {"\x82", 10}, {"", -1}}},
      {"empty file", "", {{"", -1}}},
  };
  Sandbox box;
  for (const DisplayCase& c : cases) {
    EXPECT_EQ(DisplayLines(box, c.content), c.lines) << c.name;
  }
}

class PagerShowFile : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings() = Settings{};
    GetSettings().lines = 25;
  }
  void TearDown() override { GetSettings() = Settings{}; }

  std::string Show(const std::string& content, const std::string& keys) {
    box.WriteFile("m.txt", content);
    return WithPipedKeys(keys, [&] { ShowFile(box.Path("m.txt")); });
  }

  static std::string Numbered(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) s += "line " + std::to_string(i) + "\n";
    return s;
  }

  Sandbox box;
};

const std::string kWipe = "\r       \r";
const std::string kEnd = "\r\n-Hit Any Key-\r\n";

TEST_F(PagerShowFile, ShortFileEndsWithHitAnyKey) {
  EXPECT_EQ(Show("one\ntwo\n", "x"), "one\ntwo\n" + kEnd);
}

TEST_F(PagerShowFile, TwentyFourLinesFillOnePageThenMore) {
  EXPECT_EQ(Show(Numbered(1, 24), "  "), Numbered(1, 24) + "-more-" + kWipe + kEnd);
}

TEST_F(PagerShowFile, PagesOfLinesMinusOne) {
  GetSettings().lines = 4;
  EXPECT_EQ(Show(Numbered(1, 7), "ab" "c"),
            Numbered(1, 3) + "-more-" + kWipe + Numbered(4, 6) + "-more-" + kWipe + Numbered(7, 7) + kEnd);
}

TEST_F(PagerShowFile, StopKeysEndAtOnceWithoutClosingPrompt) {
  GetSettings().lines = 4;
  // q, Q, Escape, and the end of input all stop at the first "-more-".
  for (const std::string keys : {"qzz", "Qzz", "\x1bzz", ""}) {
    EXPECT_EQ(Show(Numbered(1, 7), keys), Numbered(1, 3) + "-more-\n") << keys;
  }
}

TEST_F(PagerShowFile, FullWidthLinesGetNoExtraLineFeed) {
  const std::string a80(80, 'a');
  EXPECT_EQ(Show(a80 + std::string(20, 'b') + "\n" + a80 + "\n", "x"),
            a80 + std::string(20, 'b') + "\n" + a80 + kEnd);
}

TEST_F(PagerShowFile, LastLineWithoutLineFeedIsNotShown) {
  EXPECT_EQ(Show("one\ntwo", "x"), "one\n" + kEnd);
}

TEST_F(PagerShowFile, MissingFileShowsAndAsksNothing) {
  std::string out = WithPipedKeys("x", [&] { ShowFile(box.Path("nothing.txt")); });
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace quillo
