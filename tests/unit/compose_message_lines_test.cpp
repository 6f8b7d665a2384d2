// Whole lines are read however the file's pieces fall, up to their bound; a
// line past it ends the reading as a failure, never as two lines.
#include "compose/message_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillo {
namespace {

struct WholeLineCase {
  const char* name;
  std::string text;
  size_t bound;
  std::vector<std::string> lines;  // what is read before the end
  bool failed;
};

TEST(ComposeMessageLines, WholeLinesUpToTheirBound) {
  const std::string piece(999, 'p');  // the file's own piece size
  const std::vector<WholeLineCase> cases = {
      {"short lines", "a\nbc\n\nlast", 100, {"a\n", "bc\n", "\n", "last"}, false},
      {"over several pieces", piece + piece + "x\ny\n", 5000, {piece + piece + "x\n", "y\n"}, false},
      {"the bound exactly, LF included", "12345\n6\n", 6, {"12345\n", "6\n"}, false},
      {"the bound exactly, no LF at the end", "1\n123456", 6, {"1\n", "123456"}, false},
      {"one byte past the bound", "ok\n123456\nnever\n", 6, {"ok\n"}, true},
      {"past the bound pieces later", "ok\n" + piece + piece + "\nnever\n", 1500, {"ok\n"}, true},
  };
  for (const WholeLineCase& c : cases) {
    InputFile file;
    file.OpenText(c.text, false);
    std::vector<std::string> read;
    std::string line;
    while (ReadWholeLine(file, line, c.bound)) read.push_back(line);
    EXPECT_EQ(read, c.lines) << c.name;
    EXPECT_EQ(file.HadError(), c.failed) << c.name;
    // Once given up, the file stays ended.
    EXPECT_FALSE(ReadWholeLine(file, line, c.bound)) << c.name;
  }
}

}  // namespace
}  // namespace quillo
