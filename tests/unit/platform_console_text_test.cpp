// Text from outside on its way to the console, and numbers from outside.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "platform/strings.h"

namespace quillo {
namespace {

TEST(PlatformConsoleText, ControlBytesAreShownAsQuestionMarks) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    // A CR alone is no line end.
    const bool steers = (b < 0x20 && b != '\t' && b != '\n') || b == 0x7F;
    EXPECT_EQ(SanitizeForConsole(one), steers ? "?" : one) << "byte " << b;
  }
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"R:+OK \x1b[2J\x1b]0;title\x07 ready\r\n", "R:+OK ?[2J?]0;title? ready\r\n"},
      {std::string("a\0b", 3), "a?b"},
      {"tab\tand\r\nline ends stay", "tab\tand\r\nline ends stay"},
      {"", ""},
      // A bare CR would let a message write over its own line.
      {"Subject: hello\rSubject: forged\r\n", "Subject: hello?Subject: forged\r\n"},
      {"ends in CR\r", "ends in CR?"},
      {"\r\r\n\n\r", "?\r\n\n?"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(SanitizeForConsole(text), shown) << text;
}

// No second byte of a double-byte character is a control byte, so Japanese
// text passes whole, wherever a line happens to be cut.
TEST(PlatformConsoleText, ShiftJisPassesUntouched) {
  std::string all;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      all += static_cast<char>(lead);
      all += static_cast<char>(trail);
    }
  }
  for (int kana = 0xA1; kana <= 0xDF; ++kana) all += static_cast<char>(kana);
  EXPECT_EQ(SanitizeForConsole(all), all);
  // "Subject" in Shift_JIS with a bell after it.
  EXPECT_EQ(SanitizeForConsole("\x8c\x8f\x96\xbc\x07"), "\x8c\x8f\x96\xbc?");
}

TEST(PlatformConsoleText, NumbersThatDoNotFitAreNoNumbers) {
  const std::vector<std::pair<std::string, std::optional<long>>> cases = {
      {"12", 12},
      {" \t-3 rest", -3},
      {"+5", 5},
      {"2147483647", INT_MAX},
      {"-2147483647", -INT_MAX},
      {"2147483648", std::nullopt},
      {"-2147483648", std::nullopt},
      {"1099511627776", std::nullopt},
      {"99999999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"- 5", std::nullopt},
      {std::string("7\0 9", 4), 7},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(FittingDecimalValue(text), value) << text;
  // The lenient conversion for typed and configured numbers still holds on.
  EXPECT_EQ(DecimalValue("1099511627776"), INT_MAX);
  EXPECT_EQ(DecimalValue("-1099511627776"), -INT_MAX);
  EXPECT_EQ(DecimalValue("abc"), 0);
}

}  // namespace
}  // namespace quillo
