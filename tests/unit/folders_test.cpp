#include "console/folder_prompts.h"
#include "store/folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/text_file.h"

#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings() = Settings{};
    GetSettings().mailbox = box.Path("mbox");
    box.MakeDir("mbox/inbox");
  }
  void Touch(const std::string& name) { box.WriteFile("mbox/inbox/" + name, "Subject: " + name + "\n"); }
  test::Sandbox box;
};

TEST_F(FoldersTest, NextMessageNumber) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    int count;
    int next;
  };
  const std::vector<Case> cases = {
      {"empty folder", {}, 0, 0},
      {"full run", {"0000.TXT", "0001.TXT", "0002.TXT", "0003.TXT", "0004.TXT"}, 5, 5},
      {"gap below the count stays", {"0000.TXT", "0001.TXT", "0003.TXT"}, 3, 4},
      {"gap above the count is filled", {"0000.TXT", "0005.TXT"}, 2, 2},
      {"lower-case names count as taken", {"0001.txt", "0002.txt"}, 2, 3},
      {"mixed case extension", {"0000.Txt", "0001.tXT"}, 2, 2},
      {"other files are no messages", {"0000.TXT", "notes.doc", "0001.TXT.bak"}, 1, 1},
      {"five digits", {"9999.TXT", "10000.TXT"}, 2, 2},
  };
  for (const Case& c : cases) {
    box.MakeDir("mbox/f");
    for (const auto& f : c.files) box.WriteFile("mbox/f/" + f, "x\n");
    EXPECT_EQ(CountMessages("f"), c.count) << c.name;
    EXPECT_EQ(NextMessageNumber("f"), c.next) << c.name;
    {
      // The same answers from the names a job holds in memory.
      DirectoryNameScope held(FolderPath("f"));
      EXPECT_EQ(CountMessages("f"), c.count) << c.name << " (held)";
      EXPECT_EQ(NextMessageNumber("f"), c.next) << c.name << " (held)";
    }
    std::filesystem::remove_all(box.Path("mbox/f"));
  }
}

TEST_F(FoldersTest, HeldNamesFollowTheJobsOwnChanges) {
  for (const char* name : {"0000.TXT", "0001.TXT", "0002.TXT", "0004.txt"}) Touch(name);
  const std::string dir = FolderPath("inbox");
  DirectoryNameScope held(dir);
  EXPECT_EQ(NextMessageNumber("inbox"), 5);
  OutputFile created;
  ASSERT_TRUE(created.Open(NewMessagePath("inbox", 5), OutputFile::Mode::kCreateExclusive));
  ASSERT_TRUE(created.Close());
  EXPECT_EQ(NextMessageNumber("inbox"), 6);
  ASSERT_TRUE(RenameNoReplace(dir + "/0004.txt", dir + "/0006.tXt"));
  EXPECT_EQ(CountMessages("inbox"), 5);
  EXPECT_EQ(NextMessageNumber("inbox"), 7) << "0006.tXt is taken in another case";
  ASSERT_TRUE(created.Open(NewMessagePath("inbox", 7), OutputFile::Mode::kCreateExclusive));
  ASSERT_TRUE(created.Close());
  EXPECT_EQ(NextMessageNumber("inbox"), 8);
  ASSERT_TRUE(RemoveFile(dir + "/0001.TXT"));
  EXPECT_EQ(CountMessages("inbox"), 5);
  EXPECT_EQ(NextMessageNumber("inbox"), 8);
  // Another program's file in the same letter case is still seen; one that
  // went away is no longer taken.
  Touch("0008.TXT");
  EXPECT_EQ(NextMessageNumber("inbox"), 9);
  std::filesystem::remove(box.Path("mbox/inbox/0006.tXt"));
  EXPECT_FALSE(ExistsIgnoringCase(dir + "/0006.TXT"));
  EXPECT_FALSE(RenameNoReplace(dir + "/0000.TXT", dir + "/0005.txt"));
  EXPECT_TRUE(RenameNoReplace(dir + "/0002.TXT", dir + "/0006.txt")) << "a name gone meanwhile is free";
  Touch("0009.TXT");
  EXPECT_FALSE(RenameNoReplace(dir + "/0000.TXT", dir + "/0009.TXT")) << "another program's file is kept";
  EXPECT_EQ(box.ReadFile("mbox/inbox/0009.TXT"), "Subject: 0009.TXT\n");
  EXPECT_TRUE(box.Exists("mbox/inbox/0000.TXT"));
}

TEST_F(FoldersTest, RenumberManyMixedCaseFilesInListOrder) {
  const char* extensions[] = {".TXT", ".txt", ".Txt", ".tXT"};
  MailList list;
  std::mt19937 rng(3);
  for (int i = 0; i < 400; ++i) {
    const std::string name = Format("%04d", i * 3 % 1000) + extensions[rng() % 4];
    Touch(name);
    list.push_back({name, ""});
  }
  std::shuffle(list.begin(), list.end(), rng);
  test::WithPipedKeys("", [&] { RenumberFolder("inbox", list, static_cast<int>(list.size())); });
  const std::vector<std::string> names = box.List("mbox/inbox");
  ASSERT_EQ(names.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    ASSERT_EQ(names[i], Format("%04zu.txt", i));
    EXPECT_EQ(box.ReadFile("mbox/inbox/" + names[i]), "Subject: " + list[i].name + "\n") << i;
  }
  EXPECT_EQ(NextMessageNumber("inbox"), 400);
}

TEST(RenumberedPosition, OnlyTheNamesARenumberGives) {
  const std::vector<std::pair<std::string, std::optional<size_t>>> cases = {
      {"0000.txt", 0},           {"0012.txt", 12},         {"9999.txt", 9999},      {"12345.txt", 12345},
      {"012.txt", std::nullopt}, {"00012.txt", std::nullopt}, {"0012.TXT", std::nullopt},
      {"0012.tmp", std::nullopt}, {"abcd.txt", std::nullopt}, {".txt", std::nullopt},  {"+012.txt", std::nullopt},
      {"-012.txt", std::nullopt}, {"0012.txt.bak", std::nullopt}, {"99999999999.txt", std::nullopt},
      {"0012 .txt", std::nullopt},
  };
  for (const auto& [name, position] : cases) EXPECT_EQ(RenumberedPosition(name), position) << name;
}

TEST_F(FoldersTest, RenumberTellsWhichFilesTookTheirNewNames) {
  struct Case {
    const char* what;
    std::vector<std::string> files;  // on disk
    std::vector<std::string> list;   // in the order to renumber
    std::vector<bool> placed;
  };
  const std::vector<Case> cases = {
      {"chains, a ring and a file in place", {"0000.txt", "0001.txt", "0002.TXT", "0005.txt"},
       {"0001.txt", "0000.txt", "0002.TXT", "0005.txt"}, {true, true, true, true}},
      {"a file gone meanwhile stays unplaced", {"0003.txt"}, {"0007.txt", "0003.txt"}, {false, true}},
      // The new name 0000.txt is another file's, outside the list: every file
      // goes through a temporary name, and this one cannot take its new name.
      {"a new name held outside the list", {"0000.txt", "0004.txt", "0005.txt"}, {"0005.txt", "0004.txt"},
       {false, true}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(box.Path("mbox/inbox"));
    box.MakeDir("mbox/inbox");
    for (const std::string& name : c.files) Touch(name);
    MailList list;
    for (const std::string& name : c.list) list.push_back({name, ""});
    std::vector<bool> placed;
    test::WithPipedKeys("", [&] { RenumberFolder("inbox", list, static_cast<int>(list.size()), placed); });
    EXPECT_EQ(placed, c.placed) << c.what;
    for (size_t i = 0; i < list.size(); ++i) {
      if (!placed[i]) continue;
      EXPECT_EQ(box.ReadFile("mbox/inbox/" + Format("%04zu.txt", i)), "Subject: " + list[i].name + "\n") << c.what;
    }
  }
}

TEST_F(FoldersTest, DirectoryNamedLikeAMessageIsNotCounted) {
  Touch("0000.TXT");
  box.MakeDir("mbox/inbox/x.txt");
  EXPECT_EQ(CountMessages("inbox"), 1);
  EXPECT_EQ(CountMessages("missing"), 0);
  EXPECT_EQ(NextMessageNumber("missing"), 0);
}

TEST_F(FoldersTest, RenumberInListOrderWithProgress) {
  Touch("0003.TXT");
  Touch("0007.txt");
  Touch("0010.TXT");
  MailList list = {{"0010.TXT", ""}, {"0003.TXT", ""}, {"0007.txt", ""}};
  int result = 0;
  std::string out = test::WithPipedKeys("", [&] { result = RenumberFolder("inbox", list, 3); });
  EXPECT_EQ(result, 3);
  EXPECT_EQ(out, "Renumbering txt->tmp....\nRenumbering tmp->txt....\n");
  EXPECT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0000.txt", "0001.txt", "0002.txt"}));
  EXPECT_EQ(box.ReadFile("mbox/inbox/0000.txt"), "Subject: 0010.TXT\n");
  EXPECT_EQ(box.ReadFile("mbox/inbox/0001.txt"), "Subject: 0003.TXT\n");
  EXPECT_EQ(NextMessageNumber("inbox"), 3);
}

TEST_F(FoldersTest, RenumberNeverOverwritesAStaleTemporaryFile) {
  for (const char* stale : {"0000.tmp", "0000.TMP"}) {
    const std::string stalePath = std::string("mbox/inbox/") + stale;
    box.WriteFile(stalePath, "stale\n");
    // A file moving straight to its new name passes the stale file by.
    Touch("0005.TXT");
    MailList list = {{"0005.TXT", ""}};
    test::WithPipedKeys("", [&] { RenumberFolder("inbox", list, 1); });
    EXPECT_EQ(box.ReadFile("mbox/inbox/0000.txt"), "Subject: 0005.TXT\n") << stale;
    EXPECT_EQ(box.ReadFile(stalePath), "stale\n");
    // A ring of two would set its first file aside where the stale file is:
    // both keep their names rather than one being lost.
    std::filesystem::remove(box.Path("mbox/inbox/0000.txt"));
    Touch("0000.TXT");
    Touch("0001.TXT");
    MailList ring = {{"0001.TXT", ""}, {"0000.TXT", ""}};
    test::WithPipedKeys("", [&] { RenumberFolder("inbox", ring, 2); });
    EXPECT_EQ(box.List("mbox/inbox").size(), 3u) << stale;
    EXPECT_EQ(box.ReadFile("mbox/inbox/0000.TXT"), "Subject: 0000.TXT\n") << stale;
    EXPECT_EQ(box.ReadFile("mbox/inbox/0001.TXT"), "Subject: 0001.TXT\n") << stale;
    EXPECT_EQ(box.ReadFile(stalePath), "stale\n");
    std::filesystem::remove_all(box.Path("mbox/inbox"));
    box.MakeDir("mbox/inbox");
  }
}

TEST_F(FoldersTest, EnsureFolderAsksAndCreates) {
  struct Case {
    const char* name;
    std::string keys;
    int result;
    std::string out;
    bool created;
  };
  const std::vector<Case> cases = {
      {"refused", "n\n", 0, "no identify folder(work)  create?(Y/N) : n\r\n", false},
      {"empty answer refuses", "\n", 0, "no identify folder(work)  create?(Y/N) : \r\n", false},
      {"accepted upper case", "Y\n", 1, "no identify folder(work)  create?(Y/N) : Y\r\n", true},
      {"only the first character counts", "yes\n", 1, "no identify folder(work)  create?(Y/N) : y\r\n", true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(box.Path("mbox/work"));
    int result = -1;
    testing::internal::CaptureStderr();
    std::string out = test::WithPipedKeys(c.keys, [&] { result = EnsureFolder("work"); });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    EXPECT_EQ(err, c.created ? "created.\n" : "") << c.name;
    EXPECT_EQ(box.Exists("mbox/work"), c.created) << c.name;
  }
}

TEST_F(FoldersTest, EnsureFolderRefusesFilesInTheWay) {
  box.WriteFile("mbox/plain", "x");
  testing::internal::CaptureStderr();
  std::string out = test::WithPipedKeys("", [&] { EXPECT_EQ(EnsureFolder("plain"), 0); });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "folder already!(" + box.Path("mbox/plain") + ")\a\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(EnsureFolder("inbox"), 1);
}

TEST_F(FoldersTest, MakeFolderScreensNames) {
  struct Case {
    const char* name;
    std::string keys;
    std::string out;
    std::string err;
    std::string made;  // "" : nothing made
  };
  const std::vector<Case> cases = {
      {"empty answer", "\n", "New Folder name:\r\n", "", ""},
      {"plain", "work\n", "New Folder name:work\r\nMaking folder 'work'\n", "", "work"},
      {"cut at eight", "abcdefghij\n", "New Folder name:abcdefgh\r\nMaking folder 'abcdefgh'\n", "", "abcdefgh"},
      {"dot dot", "..\n", "New Folder name:..\r\n", "folder name error!(..)\a\n", ""},
      {"hidden", ".x\n", "New Folder name:.x\r\n", "folder name error!(.x)\a\n", ""},
      {"separator", "a/b\n", "New Folder name:a/b\r\n", "folder name error!(a/b)\a\n", ""},
      {"blanks only", "  \n", "New Folder name:  \r\n", "folder name error!(  )\a\n", ""},
      // "inbox" is there already: the failure is said, not passed over.
      {"existing", "inbox\n", "New Folder name:inbox\r\nMaking folder 'inbox'\n", "Folder Make error!\r\n", "inbox"},
  };
  for (const Case& c : cases) {
    auto before = box.List("mbox");
    testing::internal::CaptureStderr();
    std::string out = test::WithPipedKeys(c.keys, [] { MakeFolder(); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    auto after = box.List("mbox");
    if (c.made.empty()) {
      EXPECT_EQ(after, before) << c.name;
    } else {
      EXPECT_TRUE(box.Exists("mbox/" + c.made)) << c.name;
    }
  }
}

}  // namespace
}  // namespace quillo
