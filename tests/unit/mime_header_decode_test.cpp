#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/header_decode.h"

namespace quillo {

void PrintTo(const Mailbox& m, std::ostream* os) { *os << "{" << m.name << " <" << m.address << ">}"; }

namespace {

struct ValueCase {
  const char* name;
  std::string raw;
  std::string decoded;
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

// "44GC" is "あ" in UTF-8 base64; "GyRCJCIbKEI=" is "あ" in ISO-2022-JP.
const ValueCase kValueCases[] = {
    {"Plain", "Hello world", "Hello world"},
    {"TrimmedAround", "  Hello \t", "Hello"},
    {"FoldedSpaceKept", "Hello\r\n world", "Hello world"},
    {"FoldedTabKept", "a  b\n\tc", "a  b\tc"},
    {"Utf8B", "=?utf-8?B?44GC?=", "\xE3\x81\x82"},
    {"UpperCaseLabels", "=?UTF-8?b?44GC?=", "\xE3\x81\x82"},
    {"QWithUnderscoreAndHex", "=?iso-8859-1?q?caf=E9_au_lait=3f?=", "caf\xC3\xA9 au lait?"},
    {"QSpaceEndingWordKept", "=?utf-8?Q?a_?= =?utf-8?Q?b?=", "a b"},
    {"QStrayEquals", "=?utf-8?Q?a=3?=", "a=3"},
    {"QLowerCaseHex", "=?utf-8?Q?=e3=81=82?=", "\xE3\x81\x82"},
    {"Jis", "=?ISO-2022-JP?B?GyRCJCIbKEI=?=", "\xE3\x81\x82"},
    {"ShiftJisWord", "=?shift_jis?B?gqA=?=", "\xE3\x81\x82"},
    {"AdjacentWordsJoined", "=?utf-8?B?44GC?= \r\n =?utf-8?B?44GC?=", "\xE3\x81\x82\xE3\x81\x82"},
    {"SplitCharacterAcrossWords", "=?utf-8?B?44E=?= =?utf-8?B?gg==?=", "\xE3\x81\x82"},
    {"SplitCharacterQ", "=?UTF-8?Q?=E3=81?= =?utf-8?q?=82?=", "\xE3\x81\x82"},
    {"DifferentCharsetsStillJoined", "=?utf-8?B?44GC?= =?iso-2022-jp?B?GyRCJCIbKEI=?=", "\xE3\x81\x82\xE3\x81\x82"},
    {"TextBetweenWordsKept", "=?utf-8?B?44GC?= and =?utf-8?B?44GC?=", "\xE3\x81\x82 and \xE3\x81\x82"},
    {"WordInsideText", "abc=?utf-8?B?44GC?=def", "abc\xE3\x81\x82" "def"},
    {"LanguageSuffix", "=?utf-8*ja?B?44GC?=", "\xE3\x81\x82"},
    {"MissingPaddingInWord", "=?utf-8?B?44GCYQ?=", "\xE3\x81\x82" "a"},
    {"UnknownEncodingStays", "=?utf-8?X?44GC?=", "=?utf-8?X?44GC?="},
    {"UnterminatedStays", "=?utf-8?B?44GC", "=?utf-8?B?44GC"},
    {"SpaceInsideStays", "=?utf-8?Q?a b?=", "=?utf-8?Q?a b?="},
    {"EmptyCharsetStays", "=??B?44GC?=", "=??B?44GC?="},
    {"MalformedThenGood", "=?utf-8?B?44GC =?utf-8?B?44GC?=", "=?utf-8?B?44GC \xE3\x81\x82"},
    {"RawUtf8", "caf\xC3\xA9", "caf\xC3\xA9"},
    {"RawShiftJis", "\x8C\xA9\x90\xCF\x8F\x91", "\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8"},
    {"RawShiftJisWithWord", "\x82\xA0 =?utf-8?B?44GC?=", "\xE3\x81\x82 \xE3\x81\x82"},
    {"RawJisEscapes", "\x1B$B$\"\x1B(B", "\xE3\x81\x82"},
    {"ShiftJisLabelledJis", "=?ISO-2022-JP?B?gqA=?=", "\xE3\x81\x82"},
    {"WrongLabelUtf8InJisWord", "=?iso-2022-jp?B?44GC?=", "\xE3\x81\x82"},
    {"UnknownCharsetGuessed", "=?x-unknown?B?44GC?=", "\xE3\x81\x82"},
    {"ControlsReplaced", "=?utf-8?Q?a=0D=0Ab=1B=C2=9B?=", "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"EmptyWord", "a =?utf-8?B?" "?= b", "a  b"},
};

class MimeDecodeValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(MimeDecodeValueTest, Decodes) { EXPECT_EQ(DecodeHeaderValue(GetParam().raw), GetParam().decoded); }

INSTANTIATE_TEST_SUITE_P(Cases, MimeDecodeValueTest, testing::ValuesIn(kValueCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct AddressCase {
  const char* name;
  std::string raw;
  std::vector<Mailbox> mailboxes;
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.name; }

const AddressCase kAddressCases[] = {
    {"Bare", "taro@example.jp", {{"", "taro@example.jp"}}},
    {"Angle", "<taro@example.jp>", {{"", "taro@example.jp"}}},
    {"NameAndAngle", "Taro Yamada <taro@example.jp>", {{"Taro Yamada", "taro@example.jp"}}},
    {"QuotedComma", "\"Yamada, Taro\" <taro@example.jp>, hanako@example.jp",
     {{"Yamada, Taro", "taro@example.jp"}, {"", "hanako@example.jp"}}},
    {"QuotedEscapes", "\"a \\\"b\\\" c\" <x@y>", {{"a \"b\" c", "x@y"}}},
    {"OldCommentForm", "taro@example.jp (Taro Yamada)", {{"Taro Yamada", "taro@example.jp"}}},
    {"CommentIgnoredBesideName", "Taro (work) <taro@example.jp>", {{"Taro", "taro@example.jp"}}},
    {"NestedComment", "x@y (a (b) c)", {{"a (b) c", "x@y"}}},
    {"Group", "team: a@x, B <b@y>;, c@z", {{"", "a@x"}, {"B", "b@y"}, {"", "c@z"}}},
    {"EmptyGroup", "undisclosed-recipients:;", {}},
    {"Route", "<@relay.example:user@host>", {{"", "user@host"}}},
    {"EncodedName", "=?UTF-8?B?5bGx55Sw?= =?UTF-8?B?5aSq6YOO?= <t@x>", {{"\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E", "t@x"}}},
    {"EncodedWordInQuotes", "\"=?ISO-2022-JP?B?GyRCJCIbKEI=?=\" <a@b>", {{"\xE3\x81\x82", "a@b"}}},
    {"FoldedList", "a@x,\r\n\tB <b@y>", {{"", "a@x"}, {"B", "b@y"}}},
    {"SpacesInAngle", "Name < a@b >", {{"Name", "a@b"}}},
    {"ShiftJisNameWithBackslashTrail", "\"\x83\x5C\x83\x74\x83\x67\" <s@x>", {{"\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88", "s@x"}}},
    {"ShiftJisAtSignTrail", "\x83\x40 <k@x>", {{"\xE3\x82\xA1", "k@x"}}},
    {"Utf8Name", "J\xC3\xBCrgen <j@x>", {{"J\xC3\xBCrgen", "j@x"}}},
    {"UnclosedAngle", "A <a@x, b@y", {{"A", "a@x"}, {"", "b@y"}}},
    {"DomainLiteral", "u@[192.0.2.1]", {{"", "u@[192.0.2.1]"}}},
    {"EmptyEntries", ",, a@x ,", {{"", "a@x"}}},
};

class MimeAddressTest : public testing::TestWithParam<AddressCase> {};

TEST_P(MimeAddressTest, Parses) { EXPECT_EQ(ParseAddressList(GetParam().raw), GetParam().mailboxes); }

INSTANTIATE_TEST_SUITE_P(Cases, MimeAddressTest, testing::ValuesIn(kAddressCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MimeListSenderTest, NameElseAddressElseField) {
  EXPECT_EQ(ListSender("=?utf-8?B?44GC?= <a@x>"), "\xE3\x81\x82");
  EXPECT_EQ(ListSender("<a@x>"), "a@x");
  EXPECT_EQ(ListSender("a@x, B <b@y>"), "a@x");
  EXPECT_EQ(ListSender("  "), "");
  EXPECT_EQ(ListSender("\x82\xA0@x"), "\xE3\x81\x82@x");  // an address is shown decoded too
}

}  // namespace
}  // namespace quillo
