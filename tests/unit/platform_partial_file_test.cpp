#include "platform/partial_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 0;
  return static_cast<unsigned>(st.st_mode & 07777);
}

// Names in `dir` that end in ".part".
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 5 && name.ends_with(".part")) found.push_back(name);
  }
  return found;
}

TEST(PlatformPartialFile, PermissionsOfWhatItWrites) {
  struct Case {
    const char* name;
    int existing;  // mode of the file replaced; -1: none
    unsigned expected;
  };
  const std::vector<Case> cases = {
      {"a new file is the user's alone", -1, 0600},
      {"a replaced file keeps its mode", 0644, 0644},
      {"also a stricter one", 0400, 0400},
      {"and one more open than 0600", 0660, 0660},
  };
  test::Sandbox box;
  // The process's umask must not decide what a replaced file keeps.
  const mode_t oldMask = umask(077);
  for (const Case& c : cases) {
    const std::string target = box.Path("f.ini");
    fs::remove(target);
    if (c.existing >= 0) {
      box.WriteFile("f.ini", "old\n");
      ASSERT_EQ(chmod(target.c_str(), static_cast<mode_t>(c.existing)), 0);
    }
    EXPECT_TRUE(ReplaceFileWith(target, "new\n")) << c.name;
    EXPECT_EQ(box.ReadFile("f.ini"), "new\n") << c.name;
    EXPECT_EQ(ModeOf(target), c.expected) << c.name;
    EXPECT_TRUE(Leftovers(box.dir()).empty()) << c.name;
  }
  umask(oldMask);
}

// What sits at the partial name is never written through: a planted link
// is removed, not followed, and its target keeps its bytes.
TEST(PlatformPartialFile, APlantedLinkAtThePartialNameIsNotFollowed) {
  test::Sandbox box;
  const std::string target = box.Path("poplist.ini");
  box.WriteFile("victim", "precious\n");
  for (const bool targetExists : {false, true}) {
    if (targetExists) box.WriteFile("poplist.ini", "old\n");
    fs::create_symlink(box.Path("victim"), PartialPath(target));
    EXPECT_TRUE(ReplaceFileWith(target, "new\n")) << targetExists;
    EXPECT_EQ(box.ReadFile("victim"), "precious\n") << targetExists;
    EXPECT_EQ(box.ReadFile("poplist.ini"), "new\n") << targetExists;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target))) << targetExists;
    EXPECT_TRUE(Leftovers(box.dir()).empty()) << targetExists;
  }
}

// Every way of failing leaves the target as it was and nothing beside it.
TEST(PlatformPartialFile, FailuresLeaveTheTargetAndNoPartialFile) {
  struct Case {
    const char* name;
    std::string target;  // relative to the sandbox unless absolute
    std::function<void(test::Sandbox&)> prepare;
  };
  const std::vector<Case> cases = {
      {"directory missing", "none/f.ini", [](test::Sandbox&) {}},
      {"directory of the system's, read-only even for root", "/sys/quillo-partial-test", [](test::Sandbox&) {}},
      {"a directory at the partial name", "d/f.ini",
       [](test::Sandbox& box) {
         box.MakeDir("d");
         box.WriteFile("d/f.ini", "old\n");
         fs::create_directory(PartialPath(box.Path("d/f.ini")));
       }},
      {"a directory at the target", "d/f.ini",
       [](test::Sandbox& box) {
         box.MakeDir("d");
         box.MakeDir("d/f.ini");
       }},
  };
  for (const Case& c : cases) {
    test::Sandbox box;
    c.prepare(box);
    const std::string target = c.target[0] == '/' ? c.target : box.Path(c.target);
    const bool existed = fs::is_regular_file(target);
    EXPECT_FALSE(ReplaceFileWith(target, "new\n")) << c.name;
    if (existed) {
      EXPECT_EQ(box.ReadFile(c.target), "old\n") << c.name;
    }
    const std::string dir = DirectoryOf(target);
    if (fs::is_directory(dir)) {
      const std::vector<std::string> left = Leftovers(dir);
      // Only what the case itself put there.
      EXPECT_TRUE(left.empty() || (left.size() == 1 && fs::is_directory(dir + "/" + left[0]))) << c.name;
    }
  }
  if (geteuid() != 0) {
    test::Sandbox box;
    box.MakeDir("ro");
    box.WriteFile("ro/f.ini", "old\n");
    ASSERT_EQ(chmod(box.Path("ro").c_str(), 0500), 0);
    EXPECT_FALSE(ReplaceFileWith(box.Path("ro/f.ini"), "new\n"));
    EXPECT_EQ(box.ReadFile("ro/f.ini"), "old\n");
    chmod(box.Path("ro").c_str(), 0700);
  }
}

// A write the file system refuses part-way (here the file size limit, as
// a full disk would) fails the whole file.
TEST(PlatformPartialFile, AWriteRefusedPartWayFailsAndLeavesNothing) {
  test::Sandbox box;
  box.WriteFile("f.ini", "old\n");
  const std::string target = box.Path("f.ini");
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  PartialFile file;
  const bool opened = file.Open(target, PartialFile::Use::kReplace);
  file.Write(std::string(200000, 'x'));
  const bool finished = file.Finish();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(finished);
  EXPECT_FALSE(file.Replace());
  EXPECT_EQ(box.ReadFile("f.ini"), "old\n");
  EXPECT_TRUE(Leftovers(box.dir()).empty());
}

// A name taken keeps the partial file for the next name tried; a partial
// file that never gets a name goes with its object.
TEST(PlatformPartialFile, NameAsTakesOnlyAFreeName) {
  test::Sandbox box;
  box.WriteFile("0001.TXT", "someone else's\n");
  {
    PartialFile file;
    ASSERT_TRUE(file.Open(box.Path("0001.TXT"), PartialFile::Use::kNew));
    ASSERT_TRUE(file.Write("mine\n"));
    EXPECT_FALSE(file.NameAs(box.Path("0001.txt")));
    EXPECT_EQ(Leftovers(box.dir()).size(), 1u);
    EXPECT_TRUE(file.NameAs(box.Path("0002.TXT")));
  }
  EXPECT_EQ(box.ReadFile("0001.TXT"), "someone else's\n");
  EXPECT_EQ(box.ReadFile("0002.TXT"), "mine\n");
  EXPECT_EQ(ModeOf(box.Path("0002.TXT")), 0600u);
  {
    PartialFile file;
    ASSERT_TRUE(file.Open(box.Path("0003.TXT"), PartialFile::Use::kNew));
    file.Write("abandoned\n");
  }
  EXPECT_EQ(box.List(""), (std::vector<std::string>{"0001.TXT", "0002.TXT"}));
}

TEST(PlatformSyncDirectory, OnlyADirectoryThatOpensIsWrittenOut) {
  test::Sandbox box;
  box.MakeDir("folder");
  box.WriteFile("file", "x");
  symlink("folder", box.Path("link").c_str());
  const struct {
    const char* name;
    bool synced;
  } cases[] = {{"folder", true}, {"link", true}, {"file", false}, {"missing", false}};
  for (const auto& c : cases) EXPECT_EQ(SyncDirectory(box.Path(c.name)), c.synced) << c.name;
}

}  // namespace
}  // namespace quillo
