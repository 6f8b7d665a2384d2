#include "console/folder_prompts.h"
#include "store/move.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "settings/settings.h"
#include "store/folders.h"
#include "tests/support/harness.h"
#include "tests/support/other_file_system.h"

namespace quillo {
namespace {

class StoreMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings() = Settings{};
    GetSettings().mailbox = box.Path("mbox");
    box.MakeMailbox();
    box.MakeDir("mbox/work");
  }
  std::string Mail(const std::string& relative) const { return box.Path("mbox/" + relative); }
  test::Sandbox box;
};

TEST_F(StoreMoveTest, FailedWriteKeepsTheSourceAndLeavesNoPartialCopy) {
  // Only a move between file systems copies: the source lies on another one.
  test::OtherFileSystem other(box);
  if (!other.Usable()) GTEST_SKIP() << "no second file system (/dev/shm) here";
  const std::string source = other.Path("0000.TXT");
  // Small files fail when the copy is closed, larger ones while writing.
  for (size_t size : {size_t{600}, size_t{200000}}) {
    const std::string content(size, 'm');
    std::ofstream(source, std::ios::binary) << content;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {512, 512};
      setrlimit(RLIMIT_FSIZE, &limit);
      int result = 2;
      const std::string out = test::WithPipedKeys("", [&] { result = MoveMessage(source, "work"); });
      const bool said = out.find("mail move error!(" + source + ")\n") != std::string::npos;
      _exit(said ? result : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << size;
    std::ifstream in(source, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content) << size;
    EXPECT_TRUE(box.List("mbox/work").empty()) << size;
  }
}

TEST_F(StoreMoveTest, MovesBytesUnchanged) {
  const std::string content = "Subject: x\r\n\r\nline\rbare CR\n\x82\xa0\0tail";
  box.WriteFile("mbox/inbox/0004.TXT", content);
  std::string out;
  int result = -1;
  out = test::WithPipedKeys("", [&] { result = MoveMessage(Mail("inbox/0004.TXT"), "work"); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "File Moveing " + Mail("inbox/0004.TXT") + "->" + Mail("work/0004.TXT") + "\n");
  EXPECT_EQ(box.ReadFile("mbox/work/0004.TXT"), content);
  EXPECT_FALSE(box.Exists("mbox/inbox/0004.TXT"));
}

TEST_F(StoreMoveTest, NamesInTheTargetFolder) {
  struct Case {
    const char* name;
    std::vector<std::string> present;  // already in "work"
    std::string source;                // in "inbox"
    MoveName naming;
    std::string landed;
  };
  const std::vector<Case> cases = {
      {"own name kept", {}, "0003.TXT", MoveName::kKeep, "0003.TXT"},
      {"taken name gets the next number", {"0003.TXT"}, "0003.TXT", MoveName::kKeep, "0001.TXT"},
      {"taken in another letter case", {"0003.txt"}, "0003.TXT", MoveName::kKeep, "0001.TXT"},
      {"no message name is kept too", {}, "notes.doc", MoveName::kKeep, "notes.doc"},
      {"numbered on request", {"0000.TXT"}, "tmp.txt", MoveName::kNumbered, "0001.TXT"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(box.Path("mbox/work"));
    box.MakeDir("mbox/work");
    for (const auto& p : c.present) box.WriteFile("mbox/work/" + p, "old\n");
    box.WriteFile("mbox/inbox/" + c.source, "new\n");
    int result = -1;
    test::WithPipedKeys("", [&] { result = MoveMessage(Mail("inbox/" + c.source), "work", c.naming); });
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_EQ(box.ReadFile("mbox/work/" + c.landed), "new\n") << c.name;
    for (const auto& p : c.present) EXPECT_EQ(box.ReadFile("mbox/work/" + p), "old\n") << c.name;
    EXPECT_FALSE(box.Exists("mbox/inbox/" + c.source)) << c.name;
  }
}

TEST_F(StoreMoveTest, DeletingInTrashRenumbersWithinTrash) {
  box.WriteFile("mbox/trash/0000.TXT", "a\n");
  box.WriteFile("mbox/trash/0001.TXT", "b\n");
  int result = -1;
  test::WithPipedKeys("", [&] { result = MoveMessage(Mail("trash/0000.TXT"), "trash"); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(box.List("mbox/trash"), (std::vector<std::string>{"0001.TXT", "0002.TXT"}));
  EXPECT_EQ(box.ReadFile("mbox/trash/0002.TXT"), "a\n");
}

TEST_F(StoreMoveTest, FailuresLeaveEverythingInPlace) {
  box.WriteFile("mbox/inbox/0000.TXT", "keep\n");
  struct Case {
    const char* name;
    std::string source;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {"missing folder", Mail("inbox/0000.TXT"), "nowhere"},
      {"missing source", Mail("inbox/0009.TXT"), "trash"},
      // Deleting in an empty folder passes the folder itself.
      {"folder as source", Mail("inbox/"), "trash"},
      {"directory as source", Mail("work"), "trash"},
  };
  for (const Case& c : cases) {
    int result = -1;
    const std::string out = test::WithPipedKeys("", [&] { result = MoveMessage(c.source, c.folder); });
    EXPECT_EQ(result, 1) << c.name;
    EXPECT_NE(out.find("mail move error!(" + c.source + ")\n"), std::string::npos) << c.name;
    EXPECT_TRUE(box.List("mbox/trash").empty()) << c.name;
    EXPECT_EQ(box.ReadFile("mbox/inbox/0000.TXT"), "keep\n") << c.name;
  }
  EXPECT_FALSE(box.Exists("mbox/nowhere"));
  EXPECT_TRUE(box.Exists("mbox/work"));
}

TEST_F(StoreMoveTest, RemoveFolderOnlyWhenEmpty) {
  box.WriteFile("mbox/work/0000.TXT", "x\n");
  box.MakeDir("mbox/empty");
  // Folders in name order: empty, inbox, outbox, trash, work.
  ::testing::internal::CaptureStderr();
  std::string out = test::WithPipedKeys("5\n", [] { RemoveFolder(); });
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Folder Remove error!\r\n");
  EXPECT_TRUE(box.Exists("mbox/work/0000.TXT"));

  out = test::WithPipedKeys("1\n", [] { RemoveFolder(); });
  EXPECT_FALSE(box.Exists("mbox/empty"));
  EXPECT_NE(out.find("Folder empty Removed\r\n"), std::string::npos);

  out = test::WithPipedKeys("q\n", [] { RemoveFolder(); });
  EXPECT_EQ(box.List("mbox"), (std::vector<std::string>{"inbox", "outbox", "trash", "work"}));
}

TEST_F(StoreMoveTest, ChooserAnswers) {
  struct Case {
    const char* name;
    std::string keys;
    int result;
    std::string folder;
  };
  // Folders: inbox, outbox, trash, work.
  const std::vector<Case> cases = {
      {"a number", "2\n", 2, "outbox"},
      {"number with trailing text", "4x\n", 4, "work"},
      {"q leaves", "q\n", 0, "untouched"},
      {"Q leaves", "Q\n", 0, "untouched"},
      {"0 leaves", "0\n", 0, "untouched"},
      {"out of range asks again", "5\n1\n", 1, "inbox"},
      {"end of input leaves", "", 0, "untouched"},
      {"end of input after nonsense leaves", "9\nzz\n", 0, "untouched"},
      // Escape ends the line, but what was typed is still judged.
      {"escape after a number", "3\x1b", 3, "trash"},
  };
  for (const Case& c : cases) {
    std::string folder = "untouched";
    int result = -1;
    test::WithPipedKeys(c.keys, [&] { result = ChooseFolder(folder); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(folder, c.folder) << c.name;
  }
}

TEST_F(StoreMoveTest, ChooserHidesDotNamesAndFiles) {
  box.MakeDir("mbox/.hidden");
  box.WriteFile("mbox/poplist.ini", "");
  std::string folder;
  const std::string out = test::WithPipedKeys("q\n", [&] { ChooseFolder(folder); });
  EXPECT_EQ(out,
            "--------------------\n1 inbox\n2 outbox\n3 trash\n4 work\n--------------------\n"
            "Select Folder\nSelect:q\r\n");
}

}  // namespace
}  // namespace quillo
