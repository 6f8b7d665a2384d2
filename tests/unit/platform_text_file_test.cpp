#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace quillo {
namespace {

std::vector<std::string> Pieces(const std::string& path, bool textMode, size_t maxBytes) {
  InputFile in(path, textMode);
  std::vector<std::string> pieces;
  std::string piece;
  while (in.ReadPiece(piece, maxBytes)) pieces.push_back(piece);
  return pieces;
}

TEST(PlatformTextFile, LinePieces) {
  struct Case {
    const char* name;
    std::string content;
    bool textMode;
    size_t maxBytes;
    std::vector<std::string> pieces;
  };
  const std::string x998(998, 'x'), x999(999, 'x'), x2500(2500, 'y');
  const std::vector<Case> cases = {
      {"CR LF becomes LF", "a\r\nb\n", true, 999, {"a\n", "b\n"}},
      {"binary keeps CR LF", "a\r\nb\n", false, 999, {"a\r\n", "b\n"}},
      {"lone CR stays", "a\rb\r", true, 999, {"a\rb\r"}},
      {"no final line feed", "abc", true, 999, {"abc"}},
      {"NUL bytes stay", std::string("a\0b\n", 4), true, 999, {std::string("a\0b\n", 4)}},
      {"long line in pieces", x999 + "xx\n", true, 999, {x999, "xx\n"}},
      {"CR LF as the last byte of a piece", x998 + "\r\nz\n", true, 999, {x998 + "\n", "z\n"}},
      {"line feed right after a full piece", x999 + "\n", true, 999, {x999, "\n"}},
      {"pieces longer than the gathering block", x2500 + "\r\n" + x2500, true, 3000,
       {x2500 + "\n", x2500}},
      {"empty file", "", true, 999, {}},
  };
  test::Sandbox box;
  for (const Case& c : cases) {
    box.WriteFile("f", c.content);
    EXPECT_EQ(Pieces(box.Path("f"), c.textMode, c.maxBytes), c.pieces) << c.name;
  }
}

TEST(PlatformTextFile, LargeFileReadsWhole) {
  // More than one stream buffer, with a CR LF across each buffer boundary.
  std::string content;
  while (content.size() < 300000) content += std::string(65535 - content.size() % 65536, 'q') + "\r\n";
  test::Sandbox box;
  box.WriteFile("big", content);
  std::string joined;
  for (const std::string& piece : Pieces(box.Path("big"), true, 999)) joined += piece;
  std::string expected;
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    expected += content[i];
  }
  EXPECT_EQ(joined, expected);
  std::string whole;
  ASSERT_TRUE(ReadWholeFile(box.Path("big"), whole));
  EXPECT_EQ(whole, content);
}

}  // namespace
}  // namespace quillo
