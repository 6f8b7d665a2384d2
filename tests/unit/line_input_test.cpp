#include "console/line_input.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "tests/support/harness.h"
#include "tests/unit/line_input_cases.h"

namespace quillo {
namespace {

using test::PtyCall;
using test::WithPipedKeys;


const std::vector<LineCase> kLineCases = {
    {"enter on empty line", "\r", 10, false, 0, "", "\r\n"},
    {"linefeed is enter", "ab\n", 10, false, 2, "ab", "ab\r\n"},
    {"cut at max silently", "1234\r", 3, false, 3, "123", "123\r\n"},
    {"backspace single byte", "ab\bc\r", 10, false, 2, "ac", "ab\b \bc\r\n"},
    {"delete key erases too", "ab\x7f\r", 10, false, 1, "a", "ab\b \b\r\n"},
    {"backspace on empty echoes nothing", "\b\bx\r", 10, false, 1, "x", "x\r\n"},
    {"backspace double byte", "a\x82\xa0\b\r", 10, false, 1, "a", "a\x82\xa0\b\b  \b\b\r\n"},
    // A trail byte that looks like a lead byte must not confuse the walk.
    {"double byte with lead-like trail", "\x88\x9f\b\r", 10, false, 0, "", "\x88\x9f\b\b  \b\b\r\n"},
    {"lone lead byte at end erases one", "a\x82\b\r", 10, false, 1, "a", "a\x82\b \b\r\n"},
    {"control codes ignored", "a\x03\x01" "b\r", 10, false, 2, "ab", "ab\r\n"},
    {"masked", "abc\r", 20, true, 3, "abc", "***\r\n"},
    {"escape keeps typed bytes", "ab\x1b" "cd\r", 10, false, -1, "ab", "ab"},
    {"end of input", "ab", 10, false, -1, "ab", "ab"},
};

TEST(LineInputPiped, Cases) {
  for (const LineCase& c : kLineCases) {
    std::string line = "stale";
    int result = 0;
    std::string echo = WithPipedKeys(c.keys, [&] { result = LineInput(line, c.max, ' ', c.masked); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(line, c.line) << c.name;
    EXPECT_EQ(echo, c.echo) << c.name;
  }
}

TEST(LineInputPiped, CrLfCountsAsOneEnter) {
  std::string first, second;
  std::string echo = WithPipedKeys("a\r\nb\r\n", [&] {
    LineInput(first, 10);
    LineInput(second, 10);
  });
  EXPECT_EQ(first, "a");
  EXPECT_EQ(second, "b");
  EXPECT_EQ(echo, "a\r\nb\r\n");
}

TEST(LineInputPiped, EndOfInputStaysEnded) {
  std::string line;
  std::vector<int> results;
  WithPipedKeys("", [&] {
    for (int i = 0; i < 3; ++i) results.push_back(LineInput(line, 5));
  });
  EXPECT_EQ(results, (std::vector<int>{-1, -1, -1}));
}

TEST(LineInputTerminal, Cases) {
  // The same editor through a real terminal in raw mode: Ctrl+C arrives as a
  // key and is ignored, a cursor key is swallowed whole.
  struct Case {
    const char* name;
    std::string keys;
    bool masked;
    int result;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"plain", "hello\r", false, 5, "hello\r\n"},
      {"ctrl-c ignored", "a\x03" "b\r", false, 2, "ab\r\n"},
      {"cursor key ignored", "a\x1b[Ab\r", false, 2, "ab\r\n"},
      {"escape", "ab\x1b", false, -1, "ab"},
      {"backspace from terminal", "ab\x7f\r", false, 1, "ab\b \b\r\n"},
      {"masked", "pw\r", true, 2, "**\r\n"},
  };
  // The terminal turns the program's LF into CR LF on its way to the screen.
  auto onScreen = [](std::string text) {
    for (size_t pos = 0; (pos = text.find('\n', pos)) != std::string::npos; pos += 2) text.insert(pos, "\r");
    return text;
  };
  for (const Case& c : cases) {
    auto r = PtyCall(
        [&] {
          std::string line;
          return LineInput(line, 20, ' ', c.masked);
        },
        c.keys);
    EXPECT_EQ(r.result, c.result) << c.name;
    EXPECT_EQ(r.output, onScreen(c.shown)) << c.name;
  }
}

TEST(LineInputTerminal, ModeIsRestoredAfterEachKey) {
  auto r = PtyCall(
      [] {
        struct termios before {}, after {};
        tcgetattr(0, &before);
        std::string line;
        LineInput(line, 5);
        tcgetattr(0, &after);
        return (before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag) ? 7 : 1;
      },
      "x\r");
  EXPECT_EQ(r.result, 7);
}

}  // namespace
}  // namespace quillo
