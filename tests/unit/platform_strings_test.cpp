#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/strings.h"

namespace quillo {
namespace {

TEST(PlatformStrings, WithoutLineEnds) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"\r\n", ""},
      {"+OK ready\r\n", "+OK ready"},
      {"line\n", "line"},
      {"two ends\r\n\r\n", "two ends"},
      {"lone CR\r", "lone CR"},
      {"inner\r\nkept", "inner\r\nkept"},
      {"blank kept \n", "blank kept "},
      {std::string("nul\0\n", 5), std::string("nul\0", 4)},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutLineEnds(c.text), c.expected) << c.text;
}

// The hand-built pieces must give exactly what the printf formats they stand
// for give.
TEST(PlatformStrings, PaddingAsPrintfPads) {
  const std::vector<long> numbers = {0, 7, -7, 42, -42, 999, 1000, 12345, -12345, INT_MAX, INT_MIN};
  for (long n : numbers) {
    for (int width : {0, 2, 4, 6}) {
      for (bool zeros : {false, true}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, zeros ? "%0*ld" : "%*ld", width, n);
        std::string out = "x";
        AppendDecimal(out, n, static_cast<size_t>(width), zeros);
        EXPECT_EQ(out, std::string("x") + expected) << n << " width " << width << (zeros ? " zeros" : "");
      }
    }
  }
  const std::vector<std::string> texts = {"", "a", "12/07", "taro@example.jp", "a sender longer than fifteen",
                                          std::string("ab\0cd", 5), std::string("\0x", 2)};
  for (const std::string& text : texts) {
    for (int width : {0, 1, 5, 15}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%*s", width, text.c_str());
      std::string out = "y";
      AppendPadded(out, text, static_cast<size_t>(width));
      EXPECT_EQ(out, std::string("y") + expected) << text << " width " << width;
    }
  }
}

TEST(PlatformStrings, CaseIsIgnoredForAsciiLettersOnly) {
  EXPECT_TRUE(StartsWithIgnoreCase("sUbJeCt: x", "Subject:"));
  EXPECT_FALSE(StartsWithIgnoreCase("Subj", "Subject:"));
  EXPECT_TRUE(EqualsIgnoreCase("0000.txt", "0000.TXT"));
  // Shift_JIS bytes are no letters: 0xE0 and 0xC0 differ by the bit that
  // tells ASCII letters' cases apart.
  EXPECT_FALSE(EqualsIgnoreCase("\xe0", "\xc0"));
  EXPECT_FALSE(EqualsIgnoreCase("@", "`"));
  // The folded hash agrees with the comparison.
  EXPECT_EQ(FoldedHash("0000.txt"), FoldedHash("0000.TXT"));
  EXPECT_EQ(FoldedHash("Inbox"), FoldedHash("iNBOX"));
  EXPECT_NE(FoldedHash("0000.txt"), FoldedHash("0001.txt"));
  EXPECT_NE(FoldedHash("\xe0"), FoldedHash("\xc0"));
  EXPECT_NE(FoldedHash("@"), FoldedHash("`"));
  // Every byte, alone and in long names, hashes with its letter case ignored
  // and nothing else.
  for (int c = 0; c < 256; ++c) {
    const std::string byte(1, static_cast<char>(c));
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const std::string other(1, static_cast<char>(letter ? c ^ 0x20 : c));
    EXPECT_EQ(FoldedHash("0123456789." + byte), FoldedHash("0123456789." + other)) << c;
    if (letter) continue;
    EXPECT_NE(FoldedHash("0123456789." + byte), FoldedHash("0123456789." + std::string(1, static_cast<char>(c ^ 0x20))))
        << c;
  }
}

}  // namespace
}  // namespace quillo
