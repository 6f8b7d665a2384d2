#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "store/header_file.h"

namespace quillo {
namespace {

const std::string kWord = "=?ISO-2022-JP?B?GyRCJEgbKEI=?=";  // hiragana TO
const std::string kTo = "\x82\xc6";                          // the same in Shift_JIS

class EncodingHeaderFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillo-enc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    in_ = dir_ + "/in.txt";
    out_ = dir_ + "/out.txt";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
  }
  // Runs the decoder on `input` and returns what it wrote; decoding the same
  // text in memory must give the same bytes.
  std::string Decode(const std::string& input) {
    WriteFile(in_, input);
    EXPECT_EQ(DecodeHeaderFile(in_, out_), 0);
    std::string written = ReadFile(out_);
    EXPECT_TRUE(DecodeHeaderText(input) == written) << "decoded in memory";
    return written;
  }

  std::string dir_;
  std::string in_;
  std::string out_;
};

TEST_F(EncodingHeaderFileTest, DecodesHeaderOfCrLfMessageAndCopiesBody) {
  std::string input =
      "From: a@example.com\r\n"
      "Subject: " + kWord + "\r\n"
      "X-Raw: \x1b$B$H\x1b(B\r\n"
      "\r\n"
      "Body " + kWord + "\r\n"
      "raw \x1b$B$H\x1b(B\r\n"
      "lone\rcr\r\n";
  std::string expected =
      "From: a@example.com\n"
      "Subject: " + kTo + "\n"
      "X-Raw: " + kTo + "\n"
      "\n"
      "Body " + kWord + "\n"
      "raw \x1b$B$H\x1b(B\n"
      "lone\rcr\n";
  EXPECT_EQ(Decode(input), expected);
}

TEST_F(EncodingHeaderFileTest, WithoutEmptyLineEverythingIsHeader) {
  EXPECT_EQ(Decode("A: " + kWord + "\nB: " + kWord), "A: " + kTo + "\nB: " + kTo);
}

TEST_F(EncodingHeaderFileTest, LongLineIsDecodedIn999BytePieces) {
  // Line A: its word ends exactly at byte 999, so it decodes within the first
  // piece. Line B: the first piece ends one byte before the end of its word,
  // so that word is cut in two and stays encoded (its prefix dropped), while a
  // word wholly inside the second piece still decodes.
  std::string headA = "Subject: " + std::string(960, 'a');
  std::string headB = "Subject: " + std::string(961, 'b');
  ASSERT_EQ((headA + kWord).size(), 999u);
  std::string input = headA + kWord + "tail\r\n" + headB + kWord + " =?ISO-2022-JP?B?QQ==?=\r\n\r\nbody\r\n";
  std::string expected = headA + kTo + "tail\n" + headB + "GyRCJEgbKEI=?= A\n\nbody\n";
  EXPECT_EQ(Decode(input), expected);
}

TEST_F(EncodingHeaderFileTest, LineOfExactly999BytesDoesNotEndHeader) {
  std::string longLine = "X-Long: " + std::string(991, 'b');
  ASSERT_EQ(longLine.size(), 999u);
  std::string input = longLine + "\r\nSubject: " + kWord + "\r\n\r\nBody " + kWord + "\r\n";
  std::string expected = longLine + "\nSubject: " + kTo + "\n\nBody " + kWord + "\n";
  EXPECT_EQ(Decode(input), expected);
}

TEST_F(EncodingHeaderFileTest, CrLfSplitByReadBlocksStillBecomesLf) {
  // Lines of varied length put CR LF pairs across every position of the
  // reader's internal blocks.
  std::string input;
  std::string expected;
  for (int i = 0; input.size() < 200000; ++i) {
    std::string line = "X-" + std::to_string(i) + ": " + std::string(static_cast<size_t>(i % 37), 'c');
    input += line + "\r\n";
    expected += line + "\n";
  }
  EXPECT_EQ(Decode(input), expected);
}

TEST_F(EncodingHeaderFileTest, MissingInputFailsAndLeavesEmptyOutput) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeHeaderFile(dir_ + "/none.txt", out_), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "infile open error!\r\n");
  struct stat st {};
  ASSERT_EQ(stat(out_.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

TEST_F(EncodingHeaderFileTest, UncreatableOutputFails) {
  WriteFile(in_, "A: b\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeHeaderFile(in_, dir_ + "/no/such/dir/out.txt"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "tmpfile open error!\r\n");
}

// A full disk shows either when a buffer is flushed during the copy or only
// at the close; both must fail.
class EncodingHeaderFileFullDiskTest : public EncodingHeaderFileTest,
                                       public testing::WithParamInterface<size_t> {};

TEST_P(EncodingHeaderFileFullDiskTest, FullDiskFails) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  WriteFile(in_, "Subject: " + kWord + "\n\n" + std::string(GetParam(), 'x') + "\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(DecodeHeaderFile(in_, "/dev/full"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "tmpfile write error!\r\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, EncodingHeaderFileFullDiskTest, testing::Values(size_t{10}, size_t{300000}));

}  // namespace
}  // namespace quillo
