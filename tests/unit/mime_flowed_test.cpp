#include "mime/flowed.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(MimeFlowedTest, LinesJoinAsTheSenderMeantThem) {
  const struct {
    const char* name;
    std::string text;
    bool delSp;
    std::string joined;
  } cases[] = {
      {"a paragraph over three lines", "one \ntwo \nthree\nnext\n", false, "one two three\nnext\n"},
      {"delsp drops the added space", "\xE6\x97\xA5 \n\xE6\x9C\xAC\n", true, "\xE6\x97\xA5\xE6\x9C\xAC\n"},
      {"without delsp the space stays", "a \nb\n", false, "a b\n"},
      {"a fixed line and an empty one end paragraphs", "a\nb \n\nc\n", false, "a\nb \nc\n"},
      {"stuffed spaces removed", " From here \n >x\n", false, "From here >x\n"},
      {"quotes join within their depth", "> a \n> b\n>> c \n>> d\n", false, "> a b\n>> c d\n"},
      {"a quote without its space", ">a \n>b\n", false, "> a b\n"},
      {"another depth ends the paragraph", "> a \nb\n", false, "> a \nb\n"},
      {"the signature line never flows", "text\n-- \nName\n", false, "text\n-- \nName\n"},
      {"a quoted signature line neither", "> -- \n> x\n", true, "> -- \n> x\n"},
      {"flowing at the end is closed", "a \nb ", true, "ab\n"},
      {"no last line end", "a\nb", false, "a\nb\n"},
      {"nothing", "", false, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(UnflowText(c.text, c.delSp), c.joined) << c.name;
}

}  // namespace
}  // namespace quillo
