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
      {"x", 0, ""},  {"", 0, ""},  {"ss", 0, ""},  {"q", 0, ""},  {"l ", 0, ""},
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

}  // namespace
}  // namespace quillo
