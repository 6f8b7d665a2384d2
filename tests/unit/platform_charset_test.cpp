#include <gtest/gtest.h>

#include <string>

#include "platform/charset.h"

namespace quillo {
namespace {

struct ConvertCase {
  const char* name;
  const char* charset;
  std::string bytes;
  std::string utf8;
  bool clean;
};
void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.name; }

// "あ" is E3 81 82 in UTF-8, 82 A0 in Shift_JIS, A4 A2 in EUC-JP, 24 22 in JIS.
const ConvertCase kConvertCases[] = {
    {"Utf8", "UTF-8", "\xE3\x81\x82", "\xE3\x81\x82", true},
    {"Utf8LabelCase", "utf8", "a\xE3\x81\x82", "a\xE3\x81\x82", true},
    {"Utf8BadByte", "utf-8", "a\xFF" "b", "a\xEF\xBF\xBD" "b", false},
    {"Utf8Overlong", "utf-8", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", false},
    {"Utf8Surrogate", "utf-8", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},
    {"AsciiEightBit", "us-ascii", "a\xA4", "a\xEF\xBF\xBD", false},
    {"SjisAlias", "x-sjis", "\x82\xA0", "\xE3\x81\x82", true},
    {"Windows31j", "Windows-31J", "\x82\xA0", "\xE3\x81\x82", true},
    {"SjisNecRow13", "shift_jis", "\x87\x40", "\xE2\x91\xA0", true},  // circled digit one
    {"SjisIbmExtension", "cp932", "\xFA\x40", "\xE2\x85\xB0", true},   // small roman numeral one
    {"SjisHalfWidthKana", "shift_jis", "\xB1", "\xEF\xBD\xB1", true},
    {"SjisCutPair", "shift_jis", "a\x82", "a?", false},
    {"EucJp", "EUC-JP", "\xA4\xA2", "\xE3\x81\x82", true},
    {"EucJpMs", "eucJP-ms", "\xAD\xA1", "\xE2\x91\xA0", true},
    {"EucJpBad", "euc-jp", "\xA4", "\xEF\xBF\xBD", false},
    {"Jis", "ISO-2022-JP", "\x1B$B$\"\x1B(B", "\xE3\x81\x82", true},
    {"JisOldEscape", "iso-2022-jp", "\x1B$@$\"\x1B(J", "\xE3\x81\x82", true},
    {"JisNecRow13", "ISO-2022-JP", "\x1B$B-!\x1B(B", "\xE2\x91\xA0", true},
    {"JisIbmRow", "CP50220", "\x1B$By!\x1B(B", "\xE7\xBA\x8A", true},  // the first IBM kanji
    {"JisKanaEscape", "iso-2022-jp", "\x1B(I1\x1B(B", "\xEF\xBD\xB1", true},
    {"JisKanaShift", "ISO-2022-JP", "\x0E" "1\x0F" "a", "\xEF\xBD\xB1" "a", true},
    {"JisX0212IsGeta", "iso-2022-jp", "\x1B$(D\"/\x1B(B", "\xE3\x80\x93", true},
    {"JisEightBit", "iso-2022-jp", "a\x82\xA0", "a??", false},
    {"JisCutPair", "iso-2022-jp", "\x1B$B$", "?", false},
    {"Latin1IsWindows1252", "ISO-8859-1", "\xE9\x93", "\xC3\xA9\xE2\x80\x9C", true},
    {"Latin2", "iso_8859-2:1987", "\xB1", "\xC4\x85", true},
    {"Latin9", "latin9", "\xA4", "\xE2\x82\xAC", true},
    {"Windows1251", "cp1251", "\xC0", "\xD0\x90", true},
    {"Koi8r", "KOI8-R", "\xC1", "\xD0\xB0", true},
    {"Gb2312AsGbk", "gb2312", "\xC4\xE3", "\xE4\xBD\xA0", true},
    {"Gb18030", "GB18030", "\x81\x30\x81\x30", "\xC2\x80", true},
    {"Big5", "big5", "\xA7\x41", "\xE4\xBD\xA0", true},
    {"KoreanOutlookLabel", "ks_c_5601-1987", "\xB0\xA1", "\xEA\xB0\x80", true},
    {"Utf16Bom", "UTF-16", "\xFF\xFE\x42\x30", "\xE3\x81\x82", true},
    {"Utf16BigEndianBom", "utf-16", "\xFE\xFF\x30\x42", "\xE3\x81\x82", true},
    {"Utf16OddByte", "utf-16le", "\x42\x30\x41", "\xE3\x81\x82\xEF\xBF\xBD", false},
    {"Utf32Bom", "UTF-32", std::string("\xFF\xFE\x00\x00\x42\x30\x00\x00", 8), "\xE3\x81\x82", true},
    {"UnknownCharsetKeepsUtf8", "x-unknown-thing", "\xE3\x81\x82", "\xE3\x81\x82", false},
};

class PlatformCharsetConvertTest : public testing::TestWithParam<ConvertCase> {};

TEST_P(PlatformCharsetConvertTest, ToUtf8) {
  const ConvertCase& c = GetParam();
  std::string out = "prefix:";
  EXPECT_EQ(ConvertToUtf8(c.charset, c.bytes, out), c.clean);
  EXPECT_EQ(out, "prefix:" + c.utf8);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlatformCharsetConvertTest, testing::ValuesIn(kConvertCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct NameCase {
  const char* label;
  const char* canonical;
};

const NameCase kNameCases[] = {
    {"Shift_JIS", "shift_jis"}, {" x-sjis ", "shift_jis"}, {"CP932", "shift_jis"}, {"ISO-2022-JP-MS", "iso-2022-jp"},
    {"CP50221", "iso-2022-jp"}, {"EUC-JP", "euc-jp"}, {"ISO8859-15", "iso-8859-15"}, {"iso_8859-1", "iso-8859-1"},
    {"x-cp1250", "windows-1250"}, {"Windows-1258", "windows-1258"}, {"UTF8", "utf-8"}, {"ANSI_X3.4-1968", "us-ascii"},
    {"GB2312", "gbk"}, {"KS_C_5601-1987", "euc-kr"}, {"x-weird", "x-weird"}, {"iso-8859-123", "iso-8859-123"},
};

TEST(PlatformCharsetTest, CanonicalNames) {
  for (const NameCase& c : kNameCases) EXPECT_EQ(CanonicalCharset(c.label), c.canonical) << c.label;
}

TEST(PlatformCharsetTest, KnownCharsets) {
  for (const char* name : {"utf-8", "SJIS", "euc-jp", "iso-2022-jp", "big5", "koi8-u", "windows-1255", "UTF-7"}) {
    EXPECT_TRUE(IsKnownCharset(name)) << name;
  }
  for (const char* name : {"x-unknown", "", "utf-8\"; rm -rf"}) EXPECT_FALSE(IsKnownCharset(name)) << name;
}

struct SjisCase {
  const char* name;
  std::string utf8;
  std::string sjis;
};
void PrintTo(const SjisCase& c, std::ostream* os) { *os << c.name; }

const SjisCase kSjisCases[] = {
    {"Ascii", "abc\n", "abc\n"},
    {"Hiragana", "\xE3\x81\x82", "\x82\xA0"},
    {"HalfWidthKana", "\xEF\xBD\xB1", "\xB1"},
    {"NecRow13", "\xE2\x91\xA0", "\x87\x40"},
    {"WaveDashJis", "\xE3\x80\x9C", "\x81\x60"},
    {"WaveDashCp932", "\xEF\xBD\x9E", "\x81\x60"},
    {"DoubleBarJis", "\xE2\x80\x96", "\x81\x61"},
    {"DoubleBarCp932", "\xE2\x88\xA5", "\x81\x61"},
    {"MinusJis", "\xE2\x88\x92", "\x81\x7C"},
    {"MinusCp932", "\xEF\xBC\x8D", "\x81\x7C"},
    {"CentJis", "\xC2\xA2", "\x81\x91"},
    {"CentCp932", "\xEF\xBF\xA0", "\x81\x91"},
    {"PoundJis", "\xC2\xA3", "\x81\x92"},
    {"PoundCp932", "\xEF\xBF\xA1", "\x81\x92"},
    {"NotJis", "\xC2\xAC", "\x81\xCA"},
    {"NotCp932", "\xEF\xBF\xA2", "\x81\xCA"},
    {"DashJis", "\xE2\x80\x94", "\x81\x5C"},
    {"DashCp932", "\xE2\x80\x95", "\x81\x5C"},
    {"EmojiIsGeta", "a\xF0\x9F\x98\x80" "b", "a\x81\xAC" "b"},
    {"HangulIsGeta", "\xEA\xB0\x80", "\x81\xAC"},
    {"AstralKanjiIsGeta", "\xF0\xA0\xAE\xB7", "\x81\xAC"},
    {"BrokenUtf8IsGeta", "\xE3\x81", "\x81\xAC\x81\xAC"},
};

class PlatformUtf8ToSjisTest : public testing::TestWithParam<SjisCase> {};

TEST_P(PlatformUtf8ToSjisTest, Converts) { EXPECT_EQ(Utf8ToSjis(GetParam().utf8), GetParam().sjis); }

INSTANTIATE_TEST_SUITE_P(Cases, PlatformUtf8ToSjisTest, testing::ValuesIn(kSjisCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlatformCharsetTest, ValidUtf8) {
  EXPECT_TRUE(IsValidUtf8("plain \xE3\x81\x82 \xF0\x9F\x98\x80"));
  for (const char* bad : {"\x80", "\xC1\xBF", "\xE0\x80\xAF", "\xF4\x90\x80\x80", "\xF0\x9F\x98", "\x82\xA0"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

}  // namespace
}  // namespace quillo
