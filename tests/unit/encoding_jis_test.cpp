#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <string_view>
#include <vector>

#include "encoding/jis.h"

namespace quillo {
namespace {

struct ConversionCase {
  const char* name;
  std::string input;
  std::string expected;
};

std::ostream& operator<<(std::ostream& os, const ConversionCase& c) { return os << c.name; }

using namespace std::string_literals;

// "\x82\xc6" is the hiragana TO in Shift_JIS; "$H" (0x24 0x48) is its JIS code.
const ConversionCase kSjisToJisCases[] = {
    {"EndsInsideDoubleByteRun", "\x82\xc6", "\x1b$B$H\x1b(J"},
    {"LineFeedAfterDoubleByteRun", "\x82\xc6\n", "\x1b$B$H\x1b(B\n"},
    {"RunBetweenAscii", "a\x82\xc6\x82\xc6z", "a\x1b$B$H$H\x1b(Bz"},
    {"HalfWidthKanaLosesTopBit", "\xb1", "1"},
    {"LeadByteAtEndIsGeta", "a\x82", "a\x1b$B\"." "\x1b(J"},
    {"LeadByteBeforeLineFeedKeepsLineFeed", "\x82\n", "\x1b$B\".\x1b(B\n"},
    {"LeadByteBeforeCrLfKeepsBoth", "\x82\xc6\x82\r\n", "\x1b$B$H\".\x1b(B\r\n"},
    {"LeadF0HasNoJisForm", "\xf0\x40z", "\x1b$B\".\x1b(Bz"},
    {"Trail7FRejected", "\x82\x7fz", "\x1b$B\".\x1b(Bz"},
    {"TrailFDRejected", "\x82\xfd", "\x1b$B\"." "\x1b(J"},
    {"LastRowFirstColumn", "\xef\xfc", "\x1b$B~~\x1b(J"},
    {"ZeroByteCarriedThrough", "a\0b"s, "a\0b"s},
};

class EncodingSjisToJisTest : public testing::TestWithParam<ConversionCase> {};

TEST_P(EncodingSjisToJisTest, Converts) {
  EXPECT_EQ(SjisToJis(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodingSjisToJisTest, testing::ValuesIn(kSjisToJisCases),
                         [](const auto& info) { return std::string(info.param.name); });

const ConversionCase kJisToSjisCases[] = {
    {"DoubleByteRun", "\x1b$B$H$H\x1b(B", "\x82\xc6\x82\xc6"},
    {"OldJisEntry", "\x1b$@$H\x1b(Jz", "\x82\xc6z"},
    {"LeaveWithH", "\x1b$B$H\x1b(H$H", "\x82\xc6$H"},
    {"LineFeedInsideRunIsSingle", "\x1b$B$H\n", "\x82\xc6\n"},
    {"BlankInsideRunIsSingle", "\x1b$B$H $H", "\x82\xc6 \x82\xc6"},
    {"HalfWidthKanaByShift", "\x0e\x31\x32\x0f", "\xb1\xb2"},
    {"ShiftInEndsKana", "\x0e\x31\x0f\x31", "\xb1\x31"},
    {"KanaModeKeepsLineFeed", "\x0e\x31\n", "\xb1\n"},
    // Malformed escapes.
    {"EscDollarAtEnd", "a\x1b$", "a\x1b$"},
    {"EscDollarAtEndInKana", "\x0e\x1b$", "\x9b\xa4"},
    {"EscDollarOtherDropped", "\x1b$Xa", "Xa"},
    {"EscDollarThenEscIsOrdinary", "\x1b$\x1b$B", "\x1b$B"},
    {"EscParenAtEnd", "a\x1b(", "a\x1b("},
    {"EscParenOther", "\x1b(Z", "\x1b(Z"},
    {"EscParenOtherInsideRunPairsParen", "\x1b$B\x1b(Z", "\x1b\x84\xd8"},
    {"EscParenAtEndInKana", "\x0e\x1b(", "\x9b\xa8"},
    {"LoneEscDropped", "a\x1b" "b", "ab"},
    {"EscAtEndDropped", "a\x1b", "a"},
    // Broken double-byte characters.
    {"LastByteOfRunKept", "\x1b$B$H$", "\x82\xc6$"},
    {"LastByteOfRunInKana", "\x1b$B\x0e$", "\xa4"},
    {"HalfCharacterBeforeLineFeed", "\x1b$B$\nX", "$\nX"},
    {"HalfCharacterBeforeCrLf", "\x1b$B$H$\r\n", "\x82\xc6$\r\n"},
    {"RejectedFirstByteIsGeta", "\x1b$B\x7f\x21z", "\x81\xac" "z"},
    {"RejectedSecondByteIsGeta", "\x1b$B$\x80z", "\x81\xac" "z"},
    {"ZeroByteCarriedThrough", "a\0b"s, "a\0b"s},
    // Half-width katakana selected by ESC ( I, as iPhones send them.
    {"KanaSetByEscape", "\x1b(I\x31\x32\x5f\x21\x1b(B", "\xb1\xb2\xdf\xa1"},
    {"KanaSetEndsWithEscParenJ", "\x1b(I\x36\x1b(Jz", "\xb6z"},
    {"KanaSetKeepsBlankAndLineEnd", "\x1b(I\x36 \x37\r\n", "\xb6 \xb7\r\n"},
    {"KanaSetLeavesBytesAboveRangeAlone", "\x1b(I\x60\x7e", "\x60\x7e"},
    {"KanaSetEndsDoubleByteRun", "\x1b$B$H\x1b(I\x31\x1b$B$H\x1b(B", "\x82\xc6\xb1\x82\xc6"},
    {"KanaSetThenShiftOut", "\x1b(I\x0e\x31\x0f\x32", "\xb1\xb2"},
    {"KanaSetAtEndOfText", "a\x1b(I", "a"},
};

class EncodingJisToSjisTest : public testing::TestWithParam<ConversionCase> {};

TEST_P(EncodingJisToSjisTest, Converts) {
  EXPECT_EQ(JisToSjis(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodingJisToSjisTest, testing::ValuesIn(kJisToSjisCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A text that arrives in pieces (a message line by line, a long line in
// pieces of 999 bytes): the joined result of the pieces.
struct StreamCase {
  const char* name;
  std::vector<std::string> pieces;
  std::string expected;
};

std::ostream& operator<<(std::ostream& os, const StreamCase& c) { return os << c.name; }

const StreamCase kStreamCases[] = {
    {"DoubleByteModeCrossesPieces", {"\x1b$B$H", "$H\x1b(B\r\n"}, "\x82\xc6\x82\xc6\r\n"},
    {"CharacterCutBetweenPieces", {"\x1b$B$", "H\x1b(B\r\n"}, "\x82\xc6\r\n"},
    {"EscapeCutAfterEsc", {"a\x1b", "$B$H\x1b(B\r\n"}, "a\x82\xc6\r\n"},
    {"EscapeCutAfterDollar", {"a\x1b$", "B$H\x1b(B\r\n"}, "a\x82\xc6\r\n"},
    {"EscapeCutAfterParen", {"\x1b$B$H\x1b(", "Bz\r\n"}, "\x82\xc6z\r\n"},
    {"DoubleByteModeCrossesLines", {"\x1b$B$H\r\n", "$H\x1b(B\r\n", "z\r\n"}, "\x82\xc6\r\n\x82\xc6\r\nz\r\n"},
    {"KanaSetCrossesLines", {"\x1b(I\x31\r\n", "\x32\x1b(B\r\n", "\x33\r\n"}, "\xb1\r\n\xb2\r\n\x33\r\n"},
    {"ShiftOutCrossesPiecesNotLines", {"\x0e\x31", "\x32\r\n", "\x33\r\n"}, "\xb1\xb2\r\n\x33\r\n"},
    {"HalfCharacterAtLineEndStaysHalf", {"\x1b$B$\r\n", "$H\r\n"}, "$\r\n\x82\xc6\r\n"},
    {"HeldBytesAtTheEnd", {"\x1b$B$H$"}, "\x82\xc6$"},
    {"EscAtTheEnd", {"a\x1b$"}, "a\x1b$"},
    {"NulKeptInDoubleByteRun", {"\x1b$B$H\0"s, "$H\x1b(B\r\n"}, "\x82\xc6\0\x82\xc6\r\n"s},
};

class EncodingJisStreamTest : public testing::TestWithParam<StreamCase> {};

TEST_P(EncodingJisStreamTest, ConvertsPiecesAsOneText) {
  JisStreamToSjis stream;
  std::string joined;
  std::string out;
  for (const std::string& piece : GetParam().pieces) {
    stream.Convert(piece, out);
    joined += out;
  }
  stream.Finish(out);
  joined += out;
  EXPECT_EQ(joined, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodingJisStreamTest, testing::ValuesIn(kStreamCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever the cut, a text whose lines each end in ASCII converts in pieces
// exactly as it does whole: well-formed mail is stored as it always was.
TEST(EncodingJisStreamTest, EveryCutOfWellFormedTextGivesTheWholeResult) {
  const std::string line = "ab\x1b$B$3$s$K$A$O\x1b(B \x1b(I\x31\x32\x1b(J!\r\n";
  const std::string whole = JisToSjis(line + line);
  for (size_t cut = 0; cut <= line.size(); ++cut) {
    JisStreamToSjis stream;
    std::string joined;
    std::string out;
    for (std::string_view piece : {std::string_view(line).substr(0, cut), std::string_view(line).substr(cut),
                                   std::string_view(line)}) {
      stream.Convert(piece, out);
      joined += out;
    }
    stream.Finish(out);
    joined += out;
    EXPECT_EQ(joined, whole) << cut;
  }
}

TEST(EncodingJisTest, OutputBufferIsReplacedNotAppended) {
  std::string out = "stale";
  SjisToJis("a", out);
  EXPECT_EQ(out, "a");
  JisToSjis("b", out);
  EXPECT_EQ(out, "b");
}

TEST(EncodingJisTest, LongTextCrossesInternalBlocks) {
  // Mixed runs well past any internal block size must come out whole.
  std::string sjis;
  std::string jis;
  for (int i = 0; i < 5000; ++i) {
    sjis += "ab\x82\xc6\x82\xc6\n";
    jis += "ab\x1b$B$H$H\x1b(B\n";
  }
  sjis += std::string(10000, 'x');
  jis += std::string(10000, 'x');
  EXPECT_EQ(SjisToJis(sjis), jis);
  EXPECT_EQ(JisToSjis(jis), sjis);
}

TEST(EncodingJisTest, GetaMarksMapToEachOther) {
  EXPECT_EQ(JisCodeToSjis(kJisGeta >> 8, kJisGeta & 0xFF), kSjisGeta);
  EXPECT_EQ(SjisCodeToJis(kSjisGeta >> 8, kSjisGeta & 0xFF), kJisGeta);
}

// The mapping is a bijection between the 94 x 94 JIS codes and the Shift_JIS
// pairs with a lead below 0xF0; everything else yields 0.
TEST(EncodingJisTest, MappingCoversExactlyTheJisSquareBothWays) {
  int jisMapped = 0;
  int sjisMapped = 0;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      auto hi = static_cast<unsigned char>(a);
      auto lo = static_cast<unsigned char>(b);
      bool isJis = a >= 0x21 && a <= 0x7E && b >= 0x21 && b <= 0x7E;
      std::uint16_t sjis = JisCodeToSjis(hi, lo);
      ASSERT_EQ(sjis != 0, isJis) << std::hex << a << " " << b;
      if (sjis) {
        ++jisMapped;
        ASSERT_EQ(SjisCodeToJis(sjis >> 8, sjis & 0xFF), (a << 8) | b);
      }
      bool isSjis = ((a >= 0x81 && a <= 0x9F) || (a >= 0xE0 && a <= 0xEF)) &&
                    ((b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC));
      std::uint16_t jis = SjisCodeToJis(hi, lo);
      ASSERT_EQ(jis != 0, isSjis) << std::hex << a << " " << b;
      if (jis) {
        ++sjisMapped;
        ASSERT_EQ(JisCodeToSjis(jis >> 8, jis & 0xFF), (a << 8) | b);
      }
    }
  }
  EXPECT_EQ(jisMapped, 94 * 94);
  EXPECT_EQ(sjisMapped, 94 * 94);
}

TEST(EncodingJisTest, EveryCodeRoundTripsThroughTheTextConversions) {
  for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
      std::string code{static_cast<char>(j1), static_cast<char>(j2)};
      std::string sjis = JisToSjis("\x1b$B" + code + "\x1b(B\n");
      ASSERT_EQ(sjis.size(), 3u);
      ASSERT_EQ(SjisToJis(sjis), "\x1b$B" + code + "\x1b(B\n") << std::hex << j1 << " " << j2;
    }
  }
}

// Every pair of bytes after "ESC $ B" whose first byte may begin a
// character, twice in a row: a pair the mapping knows gives its code, any
// other second byte the geta mark, and a line end ends the character half
// way (the first byte kept as it came, the line end after it).
TEST(EncodingJisTest, EveryPairInDoubleByteMode) {
  for (int a = 0x21; a <= 0x7F; ++a) {
    for (int b = 0; b < 256; ++b) {
      const auto first = static_cast<unsigned char>(a);
      const auto second = static_cast<unsigned char>(b);
      const std::string pair{static_cast<char>(a), static_cast<char>(b)};
      std::string one;
      if (b == '\n' || b == '\r') {
        one = pair;
      } else {
        std::uint16_t code = JisCodeToSjis(first, second);
        if (code == 0) code = kSjisGeta;
        one = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
      }
      ASSERT_EQ(JisToSjis("\x1b$B" + pair + pair), one + one) << std::hex << a << " " << b;
    }
  }
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole text converted, the final shift state included; false when
  // iconv refuses any of it.
  bool Convert(std::string_view in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[64];
    std::string source(in);
    char* src = source.data();
    size_t srcLeft = source.size();
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
    if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
    out.assign(buffer, static_cast<size_t>(dst - buffer));
    return true;
  }

 private:
  iconv_t cd_;
};

TEST(EncodingJisTest, AgreesWithIconvOnEveryCodeItMaps) {
  Iconv toSjis("SHIFT_JIS", "ISO-2022-JP");
  Iconv toJis("ISO-2022-JP", "SHIFT_JIS");
  if (!toSjis.ok() || !toJis.ok()) GTEST_SKIP() << "iconv lacks ISO-2022-JP or SHIFT_JIS";
  int compared = 0;
  for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
      std::string jis = "\x1b$B" + std::string{static_cast<char>(j1), static_cast<char>(j2)} + "\x1b(B\n";
      std::string theirSjis;
      if (!toSjis.Convert(jis, theirSjis)) continue;
      ASSERT_EQ(JisToSjis(jis), theirSjis) << std::hex << j1 << " " << j2;
      std::string theirJis;
      ASSERT_TRUE(toJis.Convert(theirSjis, theirJis)) << std::hex << j1 << " " << j2;
      ASSERT_EQ(SjisToJis(theirSjis), theirJis) << std::hex << j1 << " " << j2;
      ++compared;
    }
  }
  // JIS X 0208 assigns 6879 characters; iconv must have judged nearly all.
  EXPECT_GE(compared, 6800);
}

}  // namespace
}  // namespace quillo
