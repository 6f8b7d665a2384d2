#include "store/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/output.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/sort.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

class StoreListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings() = Settings{};
    GetSettings().mailbox = box.Path("mbox");
    GetJobOptions() = JobOptions{};
    box.MakeDir("mbox/inbox");
  }
  void TearDown() override { GetJobOptions() = JobOptions{}; }
  test::Sandbox box;
};

MailList Numbered(int count) {
  MailList list;
  for (int i = 1; i <= count; ++i) list.push_back({Format("%04d.TXT", i), Format("entry %d", i)});
  return list;
}

const std::string kHeading = "\n--No-file|-Date&Time----|-From----------|-Subject&Body-----------------------\n";
const std::string kRule = "-----------------------------------------------------------------------------\n";

TEST_F(StoreListingTest, PagesInBothDirections) {
  struct Case {
    const char* name;
    int descending;
    int first;
    int cursor;
    std::vector<std::string> rows;  // first and last row of the page
    size_t rowCount;
  };
  const std::vector<Case> cases = {
      {"first page", 0, 0, 0, {"   1>entry 1\n", "  22 entry 22\n"}, 22},
      {"last page is short", 0, 22, 25, {"  23 entry 23\n", "  30 entry 30\n"}, 8},
      {"descending shows the last entry first", 1, 0, 1, {"   1 entry 30\n", "  22 entry 9\n"}, 22},
      {"descending second page", 1, 22, 29, {"  23 entry 8\n", "  30>entry 1\n"}, 8},
  };
  const MailList list = Numbered(30);
  for (const Case& c : cases) {
    GetJobOptions().descending = c.descending;
    const std::string out = test::WithPipedKeys("", [&] { ShowListPage(list, 30, c.first, c.cursor); });
    ASSERT_EQ(out.substr(0, kHeading.size()), kHeading) << c.name;
    ASSERT_GE(out.size(), kHeading.size() + kRule.size()) << c.name;
    EXPECT_EQ(out.substr(out.size() - kRule.size()), kRule) << c.name;
    const std::string body = out.substr(kHeading.size(), out.size() - kHeading.size() - kRule.size());
    EXPECT_EQ(static_cast<size_t>(std::count(body.begin(), body.end(), '\n')), c.rowCount) << c.name;
    EXPECT_EQ(body.substr(0, c.rows[0].size()), c.rows[0]) << c.name;
    EXPECT_EQ(body.substr(body.size() - c.rows[1].size()), c.rows[1]) << c.name;
    EXPECT_EQ(std::count(body.begin(), body.end(), '>'), c.cursor >= c.first && c.cursor < c.first + 22 ? 1 : 0)
        << c.name;
  }
}

TEST_F(StoreListingTest, EmptyListShowsHeadingAndRule) {
  const std::string out = test::WithPipedKeys("", [&] { ShowListPage(MailList{}, 0, 0, 0); });
  EXPECT_EQ(out, kHeading + kRule);
}

TEST_F(StoreListingTest, BuildsNameOrderWithProgressAndTexts) {
  const std::string header = "Date: Mon, 15 Jan 2024 10:30:00 +0900\nFrom: sender\nSubject: subject\n";
  const std::string longName = "0002-a-name-longer-than-nineteen.txt";
  for (const std::string name : {"0003.TXT", "12345.TXT", "0001.txt", longName.c_str()})
    box.WriteFile("mbox/inbox/" + name, header);
  box.WriteFile("mbox/inbox/notes.doc", header);
  box.MakeDir("mbox/inbox/dir.txt");

  const std::string folderPath = FolderPath("inbox");
  MailList list;
  EXPECT_EQ(folderPath, box.Path("mbox/inbox"));
  int count = 0;
  const std::string out = test::WithPipedKeys("", [&] { count = BuildMessageList(folderPath, list); });
  EXPECT_EQ(out, "Searching.....\nGetting Header.....\n");
  ASSERT_EQ(count, 4);
  const std::string summary = " 24/01/15 10:30          sender subject";
  const std::vector<ListEntry> expected = {
      {"0001.txt", "0001" + summary}, {longName, "0002" + summary}, {"0003.TXT", "0003" + summary},
      {"12345.TXT", "1234" + summary}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list[i].name, expected[i].name);
    EXPECT_EQ(list[i].text, expected[i].text);
  }

  // Rebuilding the same list sees what is on disk now.
  box.WriteFile("mbox/inbox/0000.TXT", header);
  test::WithPipedKeys("", [&] { count = BuildMessageList(folderPath, list); });
  EXPECT_EQ(count, 5);
  EXPECT_EQ(list[0].name, "0000.TXT");
}

TEST_F(StoreListingTest, SenderAndSubjectAreCutInTheirColumns) {
  box.WriteFile("mbox/inbox/0000.TXT", "Date: Mon, 15 Jan 2024 10:30\nFrom: " + std::string(30, 'f') +
                                           "\nSubject:" + std::string(60, 's') + "\n");
  const std::string folderPath = FolderPath("inbox");
  MailList list;
  test::WithPipedKeys("", [&] { BuildMessageList(folderPath, list); });
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, "0000 24/01/15 10:30 " + std::string(15, 'f') + " " + std::string(36, 's'));
}

// A list of the folder as BuildMessageList makes it, with its progress.
std::pair<MailList, std::string> FreshList(const std::string& folderPath) {
  MailList list;
  const std::string out = test::WithPipedKeys("", [&] { BuildMessageList(folderPath, list); });
  return {list, out};
}

bool SameEntries(const MailList& a, const MailList& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].text != b[i].text) return false;
  }
  return true;
}

TEST_F(StoreListingTest, ListAfterARenumberIsTheListOfTheFolder) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, int>> files;  // name and day of the month
    std::vector<std::string> newFiles;               // written after the renumber
  };
  const std::vector<Case> cases = {
      {"newest first becomes oldest first", {{"0000.TXT", 20}, {"0001.TXT", 19}, {"0002.TXT", 18}}, {}},
      {"gaps, letter cases and a ring", {{"0001.txt", 3}, {"0000.txt", 4}, {"0005.Txt", 9}, {"0010.TXT", 1}}, {}},
      {"names the renumber does not give", {{"12345.txt", 5}, {"a.txt", 2}, {"0003.txt", 7}}, {}},
      {"mail arriving in between", {{"0003.TXT", 20}, {"0004.TXT", 10}}, {"0000.TXT", "0005.TXT"}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(box.Path("mbox/inbox"));
    box.MakeDir("mbox/inbox");
    for (const auto& [name, day] : c.files) {
      box.WriteFile("mbox/inbox/" + name, "Date: Mon, " + std::to_string(day) + " Jan 2024 10:30:00 +0900\nFrom: " +
                                              name + "\nSubject: was " + name + "\n");
    }
    MailList list = FreshList(box.Path("mbox/inbox")).first;
    int count = static_cast<int>(list.size());
    SortListByDate(list, count);
    std::vector<bool> placed;
    test::WithPipedKeys("", [&] { RenumberFolder("inbox", list, count, placed); });
    for (const std::string& name : c.newFiles) box.WriteFile("mbox/inbox/" + name, "Subject: new " + name + "\n");

    const std::string out = test::WithPipedKeys("", [&] { count = BuildRenumberedList(box.Path("mbox/inbox"), list, count, placed); });
    ReadListTexts(box.Path("mbox/inbox"), list, count, 0, count);
    const auto [fresh, freshOut] = FreshList(box.Path("mbox/inbox"));
    EXPECT_EQ(out, freshOut) << c.what;
    EXPECT_EQ(count, static_cast<int>(fresh.size())) << c.what;
    EXPECT_TRUE(SameEntries(list, fresh)) << c.what;
  }
}

TEST_F(StoreListingTest, FilesTheRenumberMovedAreNotReadAgain) {
  const std::string header = "Date: Mon, 15 Jan 2024 10:30:00 +0900\nFrom: sender\nSubject: ";
  box.WriteFile("mbox/inbox/0003.TXT", header + "first\n");
  box.WriteFile("mbox/inbox/0001.TXT", header + "second\n");
  MailList list = FreshList(box.Path("mbox/inbox")).first;
  ASSERT_EQ(list.size(), 2u);
  std::vector<bool> placed;
  test::WithPipedKeys("", [&] { RenumberFolder("inbox", list, 2, placed); });
  // Changed in place by another program after the listing the renumber
  // worked from: the list keeps what it read, until the folder is listed anew.
  box.WriteFile("mbox/inbox/0000.txt", header + "changed\n");
  test::WithPipedKeys("", [&] { BuildRenumberedList(box.Path("mbox/inbox"), list, 2, placed); });
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].text, "0000 24/01/15 10:30          sender second");
  EXPECT_EQ(list[1].text, "0001 24/01/15 10:30          sender first");
  // A file the renumber did not place is read.
  placed = {false, true};
  test::WithPipedKeys("", [&] { BuildRenumberedList(box.Path("mbox/inbox"), list, 2, placed); });
  EXPECT_EQ(list[0].text, "");
  ReadListTexts(box.Path("mbox/inbox"), list, 2, 0, 2);
  EXPECT_EQ(list[0].text, "0000 24/01/15 10:30          sender changed");
  EXPECT_EQ(list[1].text, "0001 24/01/15 10:30          sender first");
}

// A list built for showing reads only the files of the rows asked for, and
// prints the progress of one that reads them all.
TEST_F(StoreListingTest, TextsWhenShownAreReadForTheAskedRowsOnly) {
  for (int i = 0; i < 6; ++i) {
    box.WriteFile("mbox/inbox/000" + std::to_string(i) + ".txt", "From: s" + std::to_string(i) + "\n");
  }
  struct Case {
    const char* what;
    int first, rows;
    bool descending;
    std::string read;  // '1' for each entry (in name order) whose text is read
  };
  const std::vector<Case> cases = {
      {"first page", 0, 2, false, "110000"},
      {"a page in the middle", 2, 3, false, "001110"},
      {"the last page runs past the end", 4, 5, false, "000011"},
      {"descending counts from the end", 0, 2, true, "000011"},
      {"a start before the list", -1, 2, false, "100000"},
      {"every entry", 0, 6, false, "111111"},
  };
  const std::string folderPath = box.Path("mbox/inbox");
  for (const Case& c : cases) {
    MailList list;
    int count = 0;
    const std::string out = test::WithPipedKeys("", [&] { count = BuildMessageList(folderPath, list, TextReading::kWhenShown); });
    EXPECT_EQ(out, "Searching.......\nGetting Header.......\n") << c.what;
    GetJobOptions().descending = c.descending ? 1 : 0;
    ReadListTexts(folderPath, list, count, c.first, c.rows);
    GetJobOptions().descending = 0;
    std::string read;
    for (const ListEntry& entry : list) read += entry.text.empty() ? '0' : '1';
    EXPECT_EQ(read, c.read) << c.what;
    for (const ListEntry& entry : list) {
      if (!entry.text.empty()) {
        EXPECT_EQ(entry.text.substr(0, 4), entry.name.substr(0, 4)) << c.what;
      }
    }
  }
}

TEST_F(StoreListingTest, EmptyOrMissingFolderGivesNoEntries) {
  for (const char* folder : {"inbox", "missing"}) {
    const std::string folderPath = FolderPath(folder);
    MailList list;
    int count = -1;
    const std::string out = test::WithPipedKeys("", [&] { count = BuildMessageList(folderPath, list); });
    EXPECT_EQ(count, 0) << folder;
    EXPECT_EQ(out, "Searching") << folder;
  }
}

}  // namespace
}  // namespace quillo
