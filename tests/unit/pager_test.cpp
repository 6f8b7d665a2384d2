#include "console/pager.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/console_charset.h"
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

TEST(PagerUtf8Cell, ColumnsAsAShiftJisConsoleGivesThem) {
  const struct {
    const char* name;
    std::string text;
    size_t bytes, columns;
  } cases[] = {
      {"ascii", "a", 1, 1},
      {"kanji", "\xE6\x97\xA5", 3, 2},
      {"half-width kana", "\xEF\xBD\xB1", 3, 1},
      {"greek, two bytes in Shift_JIS", "\xCE\xB1", 2, 2},
      {"box drawing", "\xE2\x94\x80", 3, 2},
      {"wave dash of the JIS mapping", "\xE3\x80\x9C", 3, 2},
      {"minus sign of the JIS mapping", "\xE2\x88\x92", 3, 2},
      {"geta mark itself", "\xE3\x80\x93", 3, 2},
      {"accented latin, not in Shift_JIS", "\xC3\xA9", 2, 1},
      {"hangul", "\xED\x95\x9C", 3, 2},
      {"emoji", "\xF0\x9F\x98\x80", 4, 2},
      {"cjk extension b", "\xF0\xA0\xAE\xB7", 4, 2},
      {"cut character", "\xE6\x97", 1, 1},
      {"stray continuation byte", "\x80", 1, 1},
  };
  for (const auto& c : cases) {
    const Utf8Cell cell = Utf8CellAt(c.text);
    EXPECT_EQ(cell.bytes, c.bytes) << c.name;
    EXPECT_EQ(cell.columns, c.columns) << c.name;
  }
}

TEST(PagerSanitizeUtf8, ControlsAndMalformedBytesBecomeQuestionMarks) {
  const struct {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"text, tab and line feed kept", "a\tb\n\xE6\x97\xA5\n", "a\tb\n\xE6\x97\xA5\n"},
      {"escape", "\x1B[2Jx", "?[2Jx"},
      {"carriage return and DEL", "a\rb\x7F", "a?b?"},
      {"C1 control", "\xC2\x9B" "31m", "?31m"},
      {"no-break space kept", "\xC2\xA0", "\xC2\xA0"},
      {"right-to-left override", "a\xE2\x80\xAE" "b", "a?b"},
      {"isolate mark", "\xE2\x81\xA6", "?"},
      {"cut character at the end", "a\xE6\x97", "a??"},
      {"overlong lead byte", "\xC0\xAF", "??"},
      {"byte past F7", "\xF8\x88\x80\x80\x80", "?????"},
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeUtf8ForConsole(c.in), c.out) << c.name;
}

class PagerShowText : public PagerShowFile {
 protected:
  void SetUp() override {
    PagerShowFile::SetUp();
    SetConsoleCharset(ConsoleCharset::kUtf8);
  }
  void TearDown() override {
    SetConsoleCharset(ConsoleCharset::kShiftJis);
    PagerShowFile::TearDown();
  }
};

TEST_F(PagerShowText, CutsAtEightyColumnsOnAUtf8Console) {
  const std::string a = "\xE3\x81\x82", emoji = "\xF0\x9F\x98\x80";
  auto times = [](int n, const std::string& s) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
  };
  const struct {
    const char* name;
    std::string text, shown;
  } cases[] = {
      {"short lines", "one\ntwo\n", "one\ntwo\n"},
      {"last line without line feed shown", "one\ntwo", "one\ntwo\n"},
      {"45 wide characters: 40 and 5", times(45, a) + "\n", times(40, a) + times(5, a) + "\n"},
      {"a wide character never straddles the cut", "x" + times(40, a) + "\n", "x" + times(39, a) + "\n" + a + "\n"},
      {"emoji are two columns", times(41, emoji) + "\n", times(40, emoji) + emoji + "\n"},
      {"exactly 80 takes its line feed", std::string(80, 'x') + "\nnext\n", std::string(80, 'x') + "next\n"},
      {"tab reaches the next multiple of 8", "ab\tc\n", "ab      c\n"},
      {"escape made harmless", "\x1B]0;t\x07\n", "?]0;t?\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithPipedKeys("x", [&] { ShowText(c.text); }), c.shown + kEnd) << c.name;
  }
}

TEST_F(PagerShowFile, ShowTextOnAShiftJisConsoleLaysOutShiftJis) {
  // The geta mark stands for what Shift_JIS cannot hold; columns are bytes.
  EXPECT_EQ(WithPipedKeys("x", [&] { ShowText("\xE6\x97\xA5\xF0\x9F\x98\x80\xC3\xA9\n"); }),
            "\x93\xfa\x81\xac\x81\xac\n" + kEnd);
}

}  // namespace
}  // namespace quillo
