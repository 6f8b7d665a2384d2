// A move renames a message when that leaves it as a copy would, and copies
// it otherwise: the file in the folder is always a message of its own, whole,
// and nothing of a copy is left beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "settings/settings.h"
#include "store/move.h"
#include "tests/support/harness.h"
#include "tests/support/other_file_system.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;

std::string ReadPath(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WritePath(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class FaultMoveFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetSettings();
    GetSettings().mailbox = box.Path("mbox");
    box.MakeMailbox();
    box.MakeDir("mbox/work");
    box.MakeDir("elsewhere");
  }
  void TearDown() override { GetSettings() = saved_; }

  test::Sandbox box;

 private:
  Settings saved_;
};

TEST_F(FaultMoveFiles, TheMovedMessageIsAFileOfItsOwn) {
  const std::string content = "Subject: moved\r\n\r\nbody\r\n";
  struct Case {
    const char* name;
    // Makes the file to move and returns its path.
    std::function<std::string()> make;
    // What must still hold afterwards beside the message in the folder.
    std::function<void()> check;
  };
  const std::string link = box.Path("mbox/inbox/0001.TXT");
  const std::string target = box.Path("elsewhere/real.txt");
  const std::string second = box.Path("elsewhere/second-name.txt");
  const std::vector<Case> cases = {
      {"plain file",
       [&] {
         WritePath(box.Path("mbox/inbox/0001.TXT"), content);
         return box.Path("mbox/inbox/0001.TXT");
       },
       [] {}},
      {"symbolic link: its target's bytes move, the target stays",
       [&] {
         WritePath(target, content);
         fs::create_symlink(target, link);
         return link;
       },
       [&] {
         EXPECT_FALSE(fs::is_symlink(box.Path("mbox/work/0001.TXT")));
         EXPECT_EQ(ReadPath(target), content);
       }},
      {"file with a second name: the message does not change with it",
       [&] {
         WritePath(box.Path("mbox/inbox/0001.TXT"), content);
         fs::create_hard_link(box.Path("mbox/inbox/0001.TXT"), second);
         return box.Path("mbox/inbox/0001.TXT");
       },
       [&] {
         WritePath(second, "changed later\n");
         EXPECT_EQ(ReadPath(box.Path("mbox/work/0001.TXT")), content);
       }},
  };
  for (const Case& c : cases) {
    fs::remove_all(box.Path("mbox/work"));
    fs::remove_all(box.Path("elsewhere"));
    box.MakeDir("mbox/work");
    box.MakeDir("elsewhere");
    const std::string source = c.make();
    int result = -1;
    test::WithPipedKeys("", [&] { result = MoveMessage(source, "work"); });
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_FALSE(fs::exists(fs::symlink_status(source))) << c.name;
    EXPECT_EQ(box.List("mbox/work"), std::vector<std::string>{"0001.TXT"}) << c.name;
    EXPECT_EQ(box.ReadFile("mbox/work/0001.TXT"), content) << c.name;
    c.check();
  }
}

// Between file systems the copy takes its name only when whole; a copy that
// an earlier run of the same process number left half-way is no obstacle.
TEST_F(FaultMoveFiles, ACopyBetweenFileSystemsLeavesNothingBeside) {
  test::OtherFileSystem other(box);
  if (!other.Usable()) GTEST_SKIP() << "no second file system (/dev/shm) here";
  const std::string content = std::string(300000, 'z') + "\n";
  for (bool staleCopy : {false, true}) {
    fs::remove_all(box.Path("mbox/work"));
    box.MakeDir("mbox/work");
    const std::string source = other.Path("0004.TXT");
    WritePath(source, content);
    const std::string destination = box.Path("mbox/work/0004.TXT");
    if (staleCopy) WritePath(PartialPath(destination), "half a copy");
    int result = -1;
    std::string out = test::WithPipedKeys("", [&] { result = MoveMessage(source, "work"); });
    EXPECT_EQ(result, 0) << staleCopy << out;
    EXPECT_FALSE(fs::exists(source)) << staleCopy;
    EXPECT_EQ(box.List("mbox/work"), std::vector<std::string>{"0004.TXT"}) << staleCopy;
    EXPECT_EQ(ReadPath(destination), content) << staleCopy;
  }
}

}  // namespace
}  // namespace quillo
