#include <gtest/gtest.h>

#include <string>

#include "mime/attachment_name.h"

namespace quillo {
namespace {

struct NameCase {
  const char* name;
  std::string decoded;
  int number;
  std::string type;
  std::string saved;
};

std::ostream& operator<<(std::ostream& os, const NameCase& c) { return os << c.name; }

const NameCase kNameCases[] = {
    {"PlainName", "report.pdf", 2, "application/pdf", "report.pdf"},
    {"JapaneseName", "見積書.pdf", 2, "application/pdf", "見積書.pdf"},
    {"SlashesReplaced", "../../etc/passwd", 2, "text/plain", "___.._etc_passwd"},
    {"BackslashesReplaced", "C:\\Users\\a\\x.doc", 3, "application/msword", "C:_Users_a_x.doc"},
    {"LeadingDotsReplaced", "..bashrc", 2, "text/plain", "__bashrc"},
    {"HiddenFileUncovered", ".profile", 2, "text/plain", "_profile"},
    {"ControlBytesReplaced", "a\x1b[2Jb\x07.txt", 2, "text/plain", "a_[2Jb_.txt"},
    {"C1ControlsReplaced", "a\xc2\x9b" "b.txt", 2, "text/plain", "a_b.txt"},
    {"DirectionOverrideReplaced", "invoice\xe2\x80\xaetxt.exe", 2, "application/octet-stream",
     "invoice_txt.exe"},
    {"MalformedUtf8Replaced", "a\xff\xfe.txt", 2, "text/plain", "a__.txt"},
    {"BlanksAroundDropped", "  memo.txt \t", 2, "text/plain", "memo.txt"},
    {"UnnamedGetsPartNumber", "", 4, "image/png", "part-4.png"},
    {"UnnamedUnknownTypeIsBin", "", 5, "application/x-unheard-of", "part-5.bin"},
    {"OnlySlashesIsUnnamed", "///", 3, "application/pdf", "part-3.pdf"},
    {"OnlyDotsIsUnnamed", "..", 3, "text/plain", "part-3.txt"},
    {"UnnamedMessage", "", 2, "message/rfc822", "part-2.eml"},
};

class MimeAttachmentNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(MimeAttachmentNameTest, MakesSafeName) {
  const NameCase& c = GetParam();
  EXPECT_EQ(SafePartName(c.decoded, c.number, c.type), c.saved);
}

INSTANTIATE_TEST_SUITE_P(Cases, MimeAttachmentNameTest, testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MimeAttachmentNameLimitTest, LongNameCutAtCharacterKeepingExtension) {
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "字";  // three bytes each
  const std::string saved = SafePartName(longName + ".xlsx", 2, "application/octet-stream");
  EXPECT_LE(saved.size(), kLongestPartName);
  EXPECT_TRUE(saved.ends_with("字.xlsx")) << saved;
  EXPECT_EQ((saved.size() - 5) % 3, 0u) << saved;
  const std::string numbered = NumberedPartName(saved, 12);
  EXPECT_LE(numbered.size(), kLongestPartName);
  EXPECT_TRUE(numbered.ends_with("字-12.xlsx")) << numbered;
}

struct NumberCase {
  std::string name;
  int n;
  std::string numbered;
};

TEST(MimeAttachmentNameNumberTest, NumberGoesBeforeExtension) {
  const NumberCase cases[] = {
      {"a.pdf", 1, "a-1.pdf"},
      {"README", 2, "README-2"},
      {"archive.tar.gz", 1, "archive.tar-1.gz"},
      {"_profile", 3, "_profile-3"},
      {"見積書.pdf", 2, "見積書-2.pdf"},
  };
  for (const NumberCase& c : cases) EXPECT_EQ(NumberedPartName(c.name, c.n), c.numbered) << c.name;
}

}  // namespace
}  // namespace quillo
