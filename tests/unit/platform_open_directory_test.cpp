#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/text_file.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

std::string Read(const std::string& path) {
  InputFile in(path, false);
  std::string content;
  std::string block;
  while (in.ReadBlock(block, 4)) content += block;
  return in.IsOpen() ? content : "(none)";
}

// Every file operation that goes by name through an open folder must give
// what it gives by the whole path, inside the folder and outside it, in
// nested scopes and after them.
TEST(PlatformOpenDirectory, FilesAreReachedAsByTheirPaths) {
  test::Sandbox box;
  box.MakeDir("f");
  box.MakeDir("g");
  box.WriteFile("f/a.txt", "in f");
  box.WriteFile("f/b.txt", "b in f");
  box.WriteFile("g/a.txt", "in g");
  const std::string f = box.Path("f");
  for (int depth = 0; depth < 3; ++depth) {
    std::optional<DirectoryOpenScope> outer;
    std::optional<DirectoryOpenScope> inner;
    if (depth >= 1) outer.emplace(f);
    if (depth >= 2) inner.emplace(f + "/");  // the same folder, spelled otherwise
    EXPECT_EQ(Read(f + "/a.txt"), "in f") << depth;
    EXPECT_EQ(Read(box.Path("g/a.txt")), "in g") << depth;
    EXPECT_EQ(Read(f + "/none.txt"), "(none)") << depth;
    EXPECT_EQ(StatPath(f + "/a.txt"), PathKind::kFile) << depth;
    EXPECT_EQ(StatPath(f + "/none.txt"), PathKind::kNone) << depth;
    EXPECT_EQ(StatPath(f), PathKind::kDirectory) << depth;
    ASSERT_TRUE(StampOf(f + "/a.txt")) << depth;
    EXPECT_EQ(StampOf(f + "/a.txt")->inode, StampOf(box.Path("f/./a.txt"))->inode) << depth;
    EXPECT_NE(StampOf(f + "/a.txt")->inode, StampOf(box.Path("g/a.txt"))->inode) << depth;
    // A rename never replaces; across folders it still works.
    errno = 0;
    EXPECT_FALSE(RenameNoReplace(f + "/a.txt", f + "/b.txt")) << depth;
    EXPECT_EQ(errno, EEXIST) << depth;
    ASSERT_TRUE(RenameNoReplace(f + "/a.txt", box.Path("g/moved.txt"))) << depth;
    EXPECT_EQ(Read(box.Path("g/moved.txt")), "in f") << depth;
    ASSERT_TRUE(RenameNoReplace(box.Path("g/moved.txt"), f + "/a.txt")) << depth;
  }
  EXPECT_EQ(Read(f + "/a.txt"), "in f");
}

// The folder is the one that was opened: renamed away and replaced by
// another meanwhile, its files are still the ones worked on. Once the scope
// ends, the path decides again.
TEST(PlatformOpenDirectory, TheOpenFolderIsTheOneWorkedOn) {
  test::Sandbox box;
  box.MakeDir("f");
  box.WriteFile("f/a.txt", "first");
  const std::string f = box.Path("f");
  {
    DirectoryOpenScope open(f);
    ASSERT_EQ(std::rename(f.c_str(), box.Path("old").c_str()), 0);
    box.MakeDir("f");
    box.WriteFile("f/a.txt", "second");
    EXPECT_EQ(Read(f + "/a.txt"), "first");
  }
  EXPECT_EQ(Read(f + "/a.txt"), "second");
  // A folder that does not exist is reached by path, as ever.
  DirectoryOpenScope none(box.Path("missing"));
  box.MakeDir("missing");
  box.WriteFile("missing/x.txt", "x");
  EXPECT_EQ(Read(box.Path("missing/x.txt")), "x");
}

}  // namespace
}  // namespace quillo
