// The line editor on a UTF-8 console: typed characters are stored in
// Shift_JIS, erased whole, and refused when Shift_JIS cannot hold them.
#include <gtest/gtest.h>

#include "console/line_input.h"
#include "platform/console_charset.h"
#include "tests/support/harness.h"
#include "tests/unit/line_input_cases.h"

namespace quillo {
namespace {

using test::PtyCall;
using test::WithPipedKeys;

class LineInputUtf8 : public ::testing::Test {
 protected:
  void SetUp() override { SetConsoleCharset(ConsoleCharset::kUtf8); }
  void TearDown() override { SetConsoleCharset(ConsoleCharset::kShiftJis); }
};

TEST_F(LineInputUtf8, PipedCases) {
  const std::vector<LineCase> cases = {
      {"an address with a Japanese name", "山田 <y@x>\r", 60, false, 10, "\x8eR\x93" "c <y@x>", "山田 <y@x>\r\n"},
      {"half-width katakana is one byte", "ｶﾅ\r", 10, false, 2, "\xb6\xc5", "ｶﾅ\r\n"},
      {"backspace erases a character and two columns", "aあ\b\r", 10, false, 1, "a", "aあ\b\b  \b\b\r\n"},
      {"backspace erases a kana and one column", "ｶｶ\x7f\r", 10, false, 1, "\xb6", "ｶｶ\b \b\r\n"},
      {"no Shift_JIS for it: a bell", "aé😀€b\r", 10, false, 2, "ab", "a\a\a\ab\r\n"},
      {"a broken sequence rings, the byte that broke it counts", "\xe3\x81z\r", 10, false, 1, "z", "\az\r\n"},
      {"a stray continuation byte rings", "\x81z\r", 10, false, 1, "z", "\az\r\n"},
      {"a character that does not fit is dropped whole", "abあ\r", 3, false, 2, "ab", "ab\r\n"},
      {"a character that just fits", "aあ\r", 3, false, 3, "a\x82\xa0", "aあ\r\n"},
      {"masked: a star per stored byte", "aあ\r", 20, true, 3, "a\x82\xa0", "***\r\n"},
      {"masked backspace erases both stars", "あ\b\r", 20, true, 0, "", "**\b\b  \b\b\r\n"},
      {"escape keeps the characters", "あ\x1b", 10, false, -1, "\x82\xa0", "あ"},
      {"input ending inside a character", "a\xe3\x81", 10, false, -1, "a", "a\a"},
  };
  for (const LineCase& c : cases) {
    std::string line = "stale";
    int result = 0;
    const std::string echo = WithPipedKeys(c.keys, [&] { result = LineInput(line, c.max, ' ', c.masked); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(line, c.line) << c.name;
    EXPECT_EQ(echo, c.echo) << c.name;
  }
}

// A key press is one character, however many bytes the terminal sent.
TEST_F(LineInputUtf8, AnyKeyTakesTheWholeCharacter) {
  std::string line;
  const std::string echo = WithPipedKeys("あx\r", [&] {
    WaitAnyKey();
    LineInput(line, 5);
  });
  EXPECT_EQ(line, "x");
  EXPECT_EQ(echo, "-Hit Any Key-\r\nx\r\n");
}

TEST_F(LineInputUtf8, ShiftJisConsoleKeepsTypedBytes) {
  SetConsoleCharset(ConsoleCharset::kShiftJis);
  std::string line;
  const std::string echo = WithPipedKeys("\x82\xa0\xe3\x81\x82\b\r", [&] { LineInput(line, 10); });
  EXPECT_EQ(line, "\x82\xa0\xe3\x81");
  EXPECT_EQ(echo, "\x82\xa0\xe3\x81\x82\b \b\r\n");
}

TEST_F(LineInputUtf8, OnATerminal) {
  // The terminal turns the program's LF into CR LF; the keys arrive one byte
  // at a time, as slowly as a loaded machine types them.
  auto r = PtyCall(
      [] {
        SetConsoleCharset(ConsoleCharset::kUtf8);
        std::string line;
        const int n = LineInput(line, 60);
        return n == 10 && line == "\x8eR\x93" "c <y@x>" ? 7 : 1;
      },
      "山田太\x7fé <y@x>\r");
  EXPECT_EQ(r.result, 7);
  EXPECT_EQ(r.output, "山田太\b\b  \b\b\a <y@x>\r\r\n");
}

}  // namespace
}  // namespace quillo
