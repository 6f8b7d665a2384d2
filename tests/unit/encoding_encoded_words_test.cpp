#include <gtest/gtest.h>

#include <string>

#include "encoding/encoded_words.h"

namespace quillo {
namespace {

struct TextCase {
  const char* name;
  std::string input;
  std::string expected;
};

// "GyRCJEgbKEI=" is ESC $ B 0x24 0x48 ESC ( B; "QQ==" is "A".
const TextCase kWordCases[] = {
    {"UpperCasePrefix", "Subject: =?ISO-2022-JP?B?GyRCJEgbKEI=?=\n", "Subject: \x1b$B$H\x1b(B\n"},
    {"LowerCasePrefix", "Subject: =?iso-2022-jp?B?GyRCJEgbKEI=?=\n", "Subject: \x1b$B$H\x1b(B\n"},
    {"MixedCasePrefixStays", "S: =?Iso-2022-Jp?B?QQ==?=", "S: =?Iso-2022-Jp?B?QQ==?="},
    {"SmallBStays", "S: =?ISO-2022-JP?b?QQ==?=", "S: =?ISO-2022-JP?b?QQ==?="},
    {"QEncodingStays", "S: =?ISO-2022-JP?Q?abc?=", "S: =?ISO-2022-JP?Q?abc?="},
    {"OtherCharsetStays", "S: =?UTF-8?B?QQ==?=", "S: =?UTF-8?B?QQ==?="},
    {"NoEndMarkerDropsPrefix", "Subject: =?ISO-2022-JP?B?GyRCJEgbKEI=\n", "Subject: GyRCJEgbKEI=\n"},
    {"BlankBetweenWordsKept", "=?ISO-2022-JP?B?QQ==?= =?ISO-2022-JP?B?QQ==?=", "A A"},
    {"AdjacentWords", "=?ISO-2022-JP?B?QQ==?==?ISO-2022-JP?B?QQ==?=x", "AAx"},
    {"UpperBeforeLower", "=?ISO-2022-JP?B?QQ==?= =?iso-2022-jp?B?QQ==?=", "A A"},
    {"LowerBeforeUpperPassesAsText", "=?iso-2022-jp?B?QQ==?= =?ISO-2022-JP?B?QQ==?=",
     "=?iso-2022-jp?B?QQ==?= A"},
    {"EmptyWord", "a=?ISO-2022-JP?B?" "?=b", "ab"},
    {"PrefixOnly", "a=?ISO-2022-JP?B?", "a"},
    {"NoWords", "From: someone\n", "From: someone\n"},
};

class EncodingEncodedWordsTest : public testing::TestWithParam<TextCase> {};

TEST_P(EncodingEncodedWordsTest, Decodes) {
  EXPECT_EQ(DecodeEncodedWords(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodingEncodedWordsTest, testing::ValuesIn(kWordCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncodingEncodedWordsTest, OutputIsReplacedNotAppended) {
  std::string out = "stale";
  DecodeEncodedWords("=?ISO-2022-JP?B?QQ==?=", out);
  EXPECT_EQ(out, "A");
}

const TextCase kBase64Cases[] = {
    {"FullGroup", "QUJD", "ABC"},
    {"OnePad", "QUI=", "AB"},
    {"TwoPads", "QQ==", "A"},
    {"SeveralGroups", "QUJDREVG", "ABCDEF"},
    {"WholeAlphabetValues", "+/+/", "\xfb\xff\xbf"},
    {"BlankSkipped", "QU JD", "ABC"},
    {"LineBreakSkipped", "QU\r\nJD", "ABC"},
    {"PunctuationInsideTableRangeSkipped", "Q-U.J?D", "ABC"},
    {"HighBytesSkipped", "Q\xffUJ\x80" "D", "ABC"},
    {"UnpaddedRemainderDropped", "QUJDQQ", "ABC"},
    {"Empty", "", ""},
};

class EncodingBase64Test : public testing::TestWithParam<TextCase> {};

TEST_P(EncodingBase64Test, DecodesAndCounts) {
  std::string out = "prefix";
  size_t written = DecodeBase64(GetParam().input, out);
  EXPECT_EQ(out, "prefix" + GetParam().expected);
  EXPECT_EQ(written, GetParam().expected.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodingBase64Test, testing::ValuesIn(kBase64Cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillo
