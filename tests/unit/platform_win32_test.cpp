// The Windows platform layer itself, run under wine by scripts/wine-test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/charset.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/run_directory.h"
#include "platform/text_file.h"

namespace quillo {
namespace {

// A fresh directory under %TEMP% for one test, removed with everything in it.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string why;
    const std::string base = GetEnv("TEMP").value_or(".");
    opened_ = OpenRunDirectory(base, why);
    EXPECT_TRUE(opened_) << why;
  }
  ~ScratchDirectory() { CloseRunDirectory(); }
  std::string Path(const std::string& name) const { return TemporaryPath(name); }

 private:
  bool opened_ = false;
};

bool Write(const std::string& path, const std::string& text) {
  OutputFile out;
  return out.Open(path, OutputFile::Mode::kCreate) && out.Write(text) && out.Close();
}

std::string Read(const std::string& path) {
  std::string content;
  return ReadWholeFile(path, content) ? content : "<unreadable>";
}

TEST(PlatformWin32, RenamesReplaceOnlyWhenAsked) {
  ScratchDirectory dir;
  const std::string a = dir.Path("a.txt");
  const std::string b = dir.Path("b.txt");
  ASSERT_TRUE(Write(a, "first\r\n"));
  ASSERT_TRUE(Write(b, "second\x1a\n"));
  EXPECT_FALSE(RenameNoReplace(a, b));
  EXPECT_FALSE(RenameNoReplace(a, dir.Path("B.TXT")));
  EXPECT_EQ(Read(b), "second\x1a\n");  // binary: Ctrl+Z and CR are bytes like any other
  EXPECT_TRUE(RenameReplace(a, b));
  EXPECT_EQ(Read(b), "first\r\n");
  EXPECT_EQ(StatPath(a), PathKind::kNone);
  EXPECT_TRUE(RenameNoReplace(b, dir.Path("c.txt")));
  EXPECT_TRUE(ExistsIgnoringCase(dir.Path("C.TXT")));
}

TEST(PlatformWin32, AFileKeepsItsIdentityThroughARename) {
  ScratchDirectory dir;
  const std::string a = dir.Path("one");
  const std::string b = dir.Path("two");
  ASSERT_TRUE(Write(a, "x"));
  ASSERT_TRUE(Write(b, "y"));
  const auto first = StampOf(a);
  const auto other = StampOf(b);
  ASSERT_TRUE(first && other);
  EXPECT_NE(first->inode, other->inode);
  EXPECT_EQ(first->size, 1);
  ASSERT_TRUE(RenameNoReplace(a, dir.Path("three")));
  const auto moved = StampOf(dir.Path("three"));
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->inode, first->inode);
  EXPECT_EQ(moved->device, first->device);
  EXPECT_FALSE(StampOf(dir.Path("missing")).has_value());
}

TEST(PlatformWin32, ListingsGiveShiftJisNamesAndKinds) {
  ScratchDirectory dir;
  // 表 (0x95 0x5C) ends in the byte of '\\'.
  const std::vector<std::string> names = {"plain.txt", "\x95\x5C.txt", "\x83\x5C\x83\x74\x83\x67"};
  for (const std::string& name : names) ASSERT_TRUE(Write(dir.Path(name), name));
  ASSERT_TRUE(MakeDirectory(dir.Path("sub")));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(RunDirectory(), entries));
  ASSERT_EQ(entries.size(), names.size() + 1);
  for (const DirEntry& e : entries) {
    if (e.name == "sub") {
      EXPECT_EQ(e.kind, PathKind::kDirectory);
      continue;
    }
    EXPECT_EQ(e.kind, PathKind::kFile) << e.name;
    EXPECT_EQ(Read(dir.Path(e.name)), e.name);
  }
  EXPECT_EQ(BaseName(dir.Path("\x95\x5C.txt")), "\x95\x5C.txt");
  EXPECT_FALSE(ListDirectory(dir.Path("none"), entries));
}

TEST(PlatformWin32, TheRunDirectoryGoesWithEverythingInIt) {
  std::string kept;
  {
    ScratchDirectory dir;
    kept = RunDirectory();
    ASSERT_FALSE(kept.empty());
    ASSERT_TRUE(Write(dir.Path("tmp.txt"), "x"));
    ASSERT_TRUE(MakeDirectory(dir.Path("inner")));
    ASSERT_TRUE(Write(dir.Path("inner\\deep.txt"), "y"));
  }
  EXPECT_EQ(StatPath(kept), PathKind::kNone);
  EXPECT_EQ(TemporaryPath("x"), "");
}

TEST(PlatformWin32, CommandLinesRunThroughTheShell) {
  struct Case {
    std::string command;
    int status;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"echo hello", 0, "hello"},
      {"echo " + ShellQuote("a & b"), 0, "\"a & b\""},
      {"exit 3", 3, ""},
      {"echo one& echo two", 0, "one"},
  };
  for (const Case& c : cases) {
    const CommandLineOutput out = RunCommandForLine(c.command, 100);
    EXPECT_TRUE(out.started) << c.command;
    EXPECT_EQ(out.status, c.status) << c.command;
    EXPECT_EQ(out.line, c.line) << c.command;
  }
  EXPECT_EQ(RunCommandLine("exit 5"), 5);
  EXPECT_FALSE(ProcessRunning(0x7FFFFFF0));
  EXPECT_TRUE(ProcessRunning(ProcessId()));
}

TEST(PlatformWin32, EucJpReadsTheVendorRowsThroughShiftJis) {
  struct Case {
    std::string euc;
    std::string utf8;
    bool clean;
  };
  const std::vector<Case> cases = {
      {"\xA4\xA2", "\xE3\x81\x82", true},           // あ
      {"\xC9\xBD", "\xE8\xA1\xA8", true},           // 表 (0x95 0x5C in Shift_JIS)
      {"\xAD\xA1", "\xE2\x91\xA0", true},           // ① (NEC row 13)
      {"\x8E\xB1", "\xEF\xBD\xB1", true},           // half-width ｱ
      {"\xA1", "\xEF\xBF\xBD", false},              // cut short
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(ConvertToUtf8("euc-jp", c.euc, out), c.clean) << c.utf8;
    EXPECT_EQ(out, c.utf8);
  }
}

}  // namespace
}  // namespace quillo
