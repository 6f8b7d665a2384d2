#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/harness.h"

namespace quillo {
namespace {

// Read with ReadPiece, or with ReadPieceView (`view`), which must give the
// same pieces.
std::vector<std::string> Pieces(InputFile& in, size_t maxBytes, bool view = false) {
  std::vector<std::string> pieces;
  std::string piece;
  std::string_view shown;
  while (view ? in.ReadPieceView(shown, maxBytes) : in.ReadPiece(piece, maxBytes)) {
    pieces.push_back(view ? std::string(shown) : piece);
  }
  return pieces;
}

std::vector<std::string> Pieces(const std::string& path, bool textMode, size_t maxBytes, bool view = false) {
  InputFile in(path, textMode);
  return Pieces(in, maxBytes, view);
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
      {"lines with and without CR", "ab\n\nc\r\nd\re\n", true, 999, {"ab\n", "\n", "c\n", "d\re\n"}},
      {"line feed at the end of the largest piece", x998 + "\nq", true, 999, {x998 + "\n", "q"}},
  };
  test::Sandbox box;
  for (const bool view : {false, true}) {
    for (const Case& c : cases) {
      box.WriteFile("f", c.content);
      EXPECT_EQ(Pieces(box.Path("f"), c.textMode, c.maxBytes, view), c.pieces) << c.name << view;
      // Text in memory reads as the same bytes in a file would.
      InputFile text;
      text.OpenText(c.content, c.textMode);
      EXPECT_EQ(Pieces(text, c.maxBytes, view), c.pieces) << c.name << view << " (in memory)";
    }
  }
}

TEST(PlatformTextFile, LargeFileReadsWhole) {
  // More than one stream buffer, with a CR LF across each buffer boundary.
  std::string content;
  while (content.size() < 300000) content += std::string(65535 - content.size() % 65536, 'q') + "\r\n";
  test::Sandbox box;
  box.WriteFile("big", content);
  std::string expected;
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    expected += content[i];
  }
  for (const bool view : {false, true}) {
    std::string joined;
    for (const std::string& piece : Pieces(box.Path("big"), true, 999, view)) joined += piece;
    EXPECT_TRUE(joined == expected) << view;
  }
  // Lines of every length across the block boundaries, read in place.
  std::string lines;
  for (size_t n = 0; lines.size() < 200000; ++n) lines += std::string(n % 1500, 'k') + "\n";
  box.WriteFile("lines", lines);
  EXPECT_TRUE(Pieces(box.Path("lines"), true, 999, true) == Pieces(box.Path("lines"), true, 999, false));
  std::string whole;
  ASSERT_TRUE(ReadWholeFile(box.Path("big"), whole));
  EXPECT_EQ(whole, content);
}

// A scratch file written over holds exactly the new bytes, whatever it held
// before; a failed write is reported like any other.
TEST(PlatformTextFile, OverwriteLeavesOnlyTheNewBytes) {
  struct Case {
    const char* name;
    std::optional<std::string> before;  // nothing: no file yet
    std::string written;
  };
  const std::vector<Case> cases = {
      {"no file yet", std::nullopt, "new\r\n"},
      {"longer file before", std::string(100000, 'o'), "short\r\n"},
      {"shorter file before", "old", std::string(70000, 'n')},
      {"nothing written", "old bytes", ""},
  };
  test::Sandbox box;
  for (const Case& c : cases) {
    std::remove(box.Path("f").c_str());
    if (c.before) box.WriteFile("f", *c.before);
    OutputFile out;
    ASSERT_TRUE(out.Open(box.Path("f"), OutputFile::Mode::kOverwrite)) << c.name;
    // In two writes, so that the end is where the writing stopped.
    EXPECT_TRUE(out.Write(std::string_view(c.written).substr(0, c.written.size() / 2))) << c.name;
    EXPECT_TRUE(out.Write(std::string_view(c.written).substr(c.written.size() / 2))) << c.name;
    EXPECT_TRUE(out.Close()) << c.name;
    EXPECT_TRUE(box.ReadFile("f") == c.written) << c.name;
  }
  if (access("/dev/full", W_OK) == 0) {
    OutputFile full;
    ASSERT_TRUE(full.Open("/dev/full", OutputFile::Mode::kOverwrite));
    full.Write("x");
    EXPECT_FALSE(full.Close());
  }
}

}  // namespace
}  // namespace quillo
