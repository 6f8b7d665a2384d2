// Reading message files in line pieces for transmission.
#include "compose/message_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace quillo {
namespace {

struct Piece {
  std::string text;
  bool lineStart, lineEnd;
  bool operator==(const Piece&) const = default;
};

std::vector<Piece> Pieces(const test::Sandbox& box, const std::string& content) {
  box.WriteFile("f.txt", content);
  InputFile file(box.Path("f.txt"));
  PieceReader reader(file);
  std::vector<Piece> out;
  LinePiece p;
  while (reader.Next(p) && out.size() < 100) out.push_back({p.text, p.lineStart, p.lineEnd});
  return out;
}

TEST(ComposeMessageLines, PiecesOfAtMost999BytesNeverSplitACharacter) {
  test::Sandbox box;
  const std::string a998(998, 'a'), a999(999, 'a');
  struct Case {
    const char* name;
    std::string content;
    std::vector<Piece> pieces;
  };
  const std::vector<Case> cases = {
      {"short lines, CR LF read as LF", "one\r\n.two\n", {{"one\n", true, true}, {".two\n", true, true}}},
      {"a long line", a999 + ".rest\nnext\n",
       {{a999, true, false}, {".rest\n", false, true}, {"next\n", true, true}}},
      {"a double-byte character at the piece boundary", a998 + "\x93\xfa" + "b\n",
       {{a998, true, false}, {"\x93\xfa" "b\n", false, true}}},
      {"a pair ending exactly at the boundary", std::string(997, 'a') + "\x93\xfa" + "b\n",
       {{std::string(997, 'a') + "\x93\xfa", true, false}, {"b\n", false, true}}},
      {"no line feed at the end", "last", {{"last", true, false}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Pieces(box, c.content), c.pieces) << c.name;
}

}  // namespace
}  // namespace quillo
