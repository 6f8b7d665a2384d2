// Renumber leftovers: what a killed renumber leaves as "NNNN.tmp" is listed
// again, under a free name, and no message is lost or doubled.
#include "store/renumber_recovery.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/output.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/listing.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

class StoreRenumberRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetSettings();
    GetSettings().mailbox = box.Path("mbox");
    box.MakeMailbox();
  }
  void TearDown() override { GetSettings() = saved_; }

  // Every file's content in the folder, sorted, and the names.
  std::vector<std::string> Contents(const std::string& folder) const {
    std::vector<std::string> all;
    for (const std::string& name : box.List("mbox/" + folder)) all.push_back(box.ReadFile("mbox/" + folder + "/" + name));
    std::sort(all.begin(), all.end());
    return all;
  }
  std::vector<std::string> Names(const std::string& folder) const {
    std::vector<std::string> names = box.List("mbox/" + folder);
    std::sort(names.begin(), names.end());
    return names;
  }
  int Listed(const std::string& folder) {
    MailList list;
    std::string out = test::WithPipedKeys("", [&] { list.clear(); BuildMessageList(box.Path("mbox/" + folder), list); });
    return static_cast<int>(list.size());
  }

  test::Sandbox box;

 private:
  Settings saved_;
};

TEST_F(StoreRenumberRecovery, LeftoverNames) {
  struct Case {
    const char* name;
    bool leftover;
  };
  for (const Case& c : {Case{"0000.tmp", true}, Case{"0012.TMP", true}, Case{"12345.tmp", true}, Case{"012.tmp", false},
                        Case{"00a1.tmp", false}, Case{"0001.txt", false}, Case{"tmp.tmp", false}, Case{".tmp", false}}) {
    EXPECT_EQ(IsRenumberLeftover(c.name), c.leftover) << c.name;
  }
}

TEST_F(StoreRenumberRecovery, PartialCopiesOfDeadRunsGoWithTheNextListing) {
  // A process number that runs: this test's own; one that ran and ended: a child waited for.
  const pid_t ended = fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) _exit(0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const std::string alive = std::to_string(getpid());
  const std::string dead = std::to_string(ended);
  struct Case {
    std::string name;
    bool stays;
  };
  const std::vector<Case> cases = {
      {"0003.TXT." + dead + ".part", false},  // a killed move's half copy
      {"0004.txt." + dead + ".PART", false},
      {"0005.TXT." + alive + ".part", true},  // a copy still being made
      {"notes.part", true},                    // no process number: not ours
      {"0006.TXT.12a.part", true},
      {".part", true},
  };
  box.WriteFile("mbox/inbox/0000.TXT", "kept");
  for (const Case& c : cases) box.WriteFile("mbox/inbox/" + c.name, "half");
  EXPECT_EQ(Listed("inbox"), 1);
  for (const Case& c : cases) EXPECT_EQ(box.Exists("mbox/inbox/" + c.name), c.stays) << c.name;
  EXPECT_EQ(box.ReadFile("mbox/inbox/0000.TXT"), "kept");
}

TEST_F(StoreRenumberRecovery, LeftoversComeBackUnderFreeNames) {
  // A renumber killed after its first pass moved two of four files: 0000.tmp
  // and 0001.tmp stand beside the untouched 0001.TXT and 0007.txt.
  box.WriteFile("mbox/inbox/0000.tmp", "first");
  box.WriteFile("mbox/inbox/0001.tmp", "second");
  box.WriteFile("mbox/inbox/0001.TXT", "third");
  box.WriteFile("mbox/inbox/0007.txt", "fourth");
  box.WriteFile("mbox/inbox/notes.tmp", "not a message");
  EXPECT_EQ(Listed("inbox"), 4);
  EXPECT_EQ(Names("inbox"), (std::vector<std::string>{"0000.txt", "0001.TXT", "0002.txt", "0007.txt", "notes.tmp"}));
  EXPECT_EQ(box.ReadFile("mbox/inbox/0002.txt"), "second");
  EXPECT_EQ(Contents("inbox"), (std::vector<std::string>{"first", "fourth", "not a message", "second", "third"}));
  // Nothing more to do the second time.
  EXPECT_EQ(RecoverRenumberLeftovers(box.Path("mbox/inbox")), 0);
}

TEST_F(StoreRenumberRecovery, KilledRenumberLosesNothing) {
  constexpr int kFiles = 1500;
  std::vector<std::string> expected;
  MailList list;
  // Names in reverse: every file has to move, each waiting for another's
  // name, so the renumber has to set files aside.
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = Format("%04d.txt", kFiles - 1 - i);
    const std::string content = "message " + std::to_string(i) + "\n";
    box.WriteFile("mbox/inbox/" + name, content);
    expected.push_back(content);
    list.push_back({name, {}});
  }
  std::sort(expected.begin(), expected.end());

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    RenumberFolder("inbox", list, kFiles);
    _exit(0);
  }
  // A file lies aside only between two renames: the renumber is stopped
  // again and again, and killed at a stop that finds one.
  bool sawLeftover = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (!sawLeftover && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    ::kill(pid, SIGSTOP);
    if (::waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) break;  // it has ended
    for (const std::string& name : box.List("mbox/inbox")) sawLeftover = sawLeftover || IsRenumberLeftover(name);
    if (!sawLeftover) ::kill(pid, SIGCONT);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(sawLeftover);

  EXPECT_EQ(Listed("inbox"), kFiles);
  EXPECT_EQ(Contents("inbox"), expected);
  for (const std::string& name : Names("inbox")) EXPECT_TRUE(IsMessageName(name)) << name;
}

}  // namespace
}  // namespace quillo
