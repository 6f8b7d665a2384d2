#include "app/dispatch.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

class DispatchWords : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings() = Settings{};
    GetSettings().mailbox = box.Path("mbox");
    GetJobOptions() = JobOptions{};
    box.MakeMailbox();
  }
  void TearDown() override {
    GetSettings() = Settings{};
    GetJobOptions() = JobOptions{};
  }
  test::Sandbox box;
};

TEST_F(DispatchWords, RefusalsIgnoreCaseAndUnknownWordsDoNothing) {
  struct Case {
    const char* word;
    int result;
    std::string err;
  };
  const std::string noNet = "Network Driver not detect!\r\n";
  const std::vector<Case> cases = {
      {"S", 1, noNet + "cannot sending!\r\n"}, {"B", 1, noNet + "cannot sending!\r\n"},
      {"G", 1, noNet + "cannot getting!\r\n"}, {"u", 1, noNet + "cannot getting!\r\n"},
      {"y", 0, ""},  {"", 0, ""},  {"ss", 0, ""},  {"q", 0, ""},  {"l ", 0, ""},
  };
  GetJobOptions().networkUnavailable = 1;
  for (const Case& c : cases) {
    int result = -1;
    ::testing::internal::CaptureStderr();
    const std::string out = test::WithPipedKeys("", [&] { result = Dispatch(c.word); });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << c.word;
    EXPECT_EQ(out, "") << c.word;
    EXPECT_EQ(result, c.result) << c.word;
  }
}

TEST_F(DispatchWords, ListWithoutAFolderTurnsToTheCurrentDirectory) {
  const std::string saved = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(box.dir()));
  box.WriteFile("0000.TXT", "Subject: here\n");
  int result = 0;
  const std::string out = test::WithPipedKeys("", [&] { result = Dispatch("L"); });
  ChangeDirectory(saved);
  EXPECT_EQ(result, 1);
  EXPECT_NE(out.find("   1>0000 "), std::string::npos);
  EXPECT_EQ(GetSettings().mailbox, ".");
  EXPECT_EQ(GetJobOptions().targetFolder, ".");
  EXPECT_EQ(GetSettings().lines, 999);
}

TEST_F(DispatchWords, ListOfANamedFolderKeepsTheMailbox) {
  box.WriteFile("mbox/inbox/0000.TXT", "Subject: in\n");
  GetJobOptions().targetFolder = "inbox";
  const std::string out = test::WithPipedKeys("", [&] { Dispatch("l"); });
  EXPECT_NE(out.find("   1>0000 "), std::string::npos);
  EXPECT_EQ(GetSettings().mailbox, box.Path("mbox"));
}

TEST_F(DispatchWords, MoveWithAFolderNeedsNoChoice) {
  box.WriteFile("mbox/inbox/0000.TXT", "x\n");
  GetJobOptions().targetFolder = "trash";
  GetJobOptions().targetFile = box.Path("mbox/inbox/0000.TXT");
  int result = 0;
  const std::string out = test::WithPipedKeys("", [&] { result = Dispatch("M"); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out.substr(0, 10), "Move mail\n");
  EXPECT_EQ(out.find("Select Target!"), std::string::npos);
  EXPECT_TRUE(box.Exists("mbox/trash/0000.TXT"));
}

// "v" writes the view of the chosen message; "x" saves its attachments where
// -x said, or where the menu's user answers "Save to:".
TEST_F(DispatchWords, ViewAndSaveTheChosenMessage) {
  const std::string message =
      "Subject: =?UTF-8?B?5pel5pys?=\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\ntext\n--b\n"
      "Content-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n\nAAEC\n--b--\n";
  box.WriteFile("m.txt", message);
  box.MakeDir("asked");
  box.MakeDir("given");
  const struct {
    const char* word;
    bool given;
    std::string keys, outStart, savedAs;
  } cases[] = {
      {"v", false, "", "Subject: \x93\xfa\x96{\n\ntext\n\n[2] a.bin (application/octet-stream, 3 B)\n", ""},
      {"V", false, "", "Subject: ", ""},
      {"x", false, box.Path("asked") + "\n", "Save to:", "asked/a.bin"},
      {"X", true, "", "[2] ", "given/a.bin"},
  };
  for (const auto& c : cases) {
    GetJobOptions().targetFile = box.Path("m.txt");
    GetJobOptions().saveDirectory = box.Path("given");
    GetJobOptions().saveDirectoryGiven = c.given ? 1 : 0;
    int result = 0;
    const std::string out = test::WithPipedKeys(c.keys, [&] { result = Dispatch(c.word); });
    EXPECT_EQ(result, 1) << c.word;
    EXPECT_EQ(out.substr(0, c.outStart.size()), c.outStart) << c.word << "\n" << out;
    if (!c.savedAs.empty()) {
      EXPECT_EQ(box.ReadFile(c.savedAs), std::string("\0\1\2", 3)) << c.word;
    }
  }
  EXPECT_EQ(box.List("asked"), std::vector<std::string>{"a.bin"});
  EXPECT_EQ(box.List("given"), std::vector<std::string>{"a.bin"});
}

}  // namespace
}  // namespace quillo
