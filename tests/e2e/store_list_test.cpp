#include <gtest/gtest.h>

#include <algorithm>

#include "platform/output.h"
#include "tests/support/harness.h"

namespace quillo::test {
namespace {

const Env kOffline = {{"QUILLO_OFFLINE", "1"}};
const std::string kHeading = "\n--No-file|-Date&Time----|-From----------|-Subject&Body-----------------------\n";
const std::string kRule = "-----------------------------------------------------------------------------\n";

std::string PadLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// One row of the page: position, cursor mark, file number, then the date,
// sender and subject columns (already cut to their widths).
std::string Row(int position, bool cursor, const std::string& number, const std::string& date,
                const std::string& sender, const std::string& subject) {
  return PadLeft(std::to_string(position), 4) + (cursor ? ">" : " ") + number + " " + PadLeft(date, 14) + " " +
         PadLeft(sender, 15) + " " + subject + "\n";
}

std::string Progress(int files) {
  return "Searching" + std::string(static_cast<size_t>(files) + 1, '.') + "\nGetting Header" +
         std::string(static_cast<size_t>(files) + 1, '.') + "\n";
}

class StoreListE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WriteIni();
    box.MakeMailbox();
    box.MakeDir("mbox/work");
  }
  void Mail(const std::string& name, const std::string& content) const { box.WriteFile("mbox/work/" + name, content); }
  Sandbox box;
};

TEST_F(StoreListE2E, PageOfAFolderWithEveryKindOfHeader) {
  Mail("0000.TXT",
       "Date: Mon, 15 Jan 2024 10:30:00 +0900\nFrom: Taro Yamada <taro@example.jp>\nSubject: Meeting notes\n\nbody\n");
  Mail("0001.TXT", "date: Fri, 5 Jan 2024 09:05:00 +0900\nfrom: hanako@example.jp\nsubject: lower case\n");
  Mail("0002.TXT", "Date: 2024-01-05 10:00\nFrom: ab\nSubject: numeric date\n\nDate: not a month\n");
  Mail("0003.TXT", "Date: Sat, 6 Jan 2024 11:00\nFrom: cd\n\nno subject here\n");
  Mail("0004.TXT", "Date: 06.01.2024 12:00\nFrom: ef\nSubject: dotted date\n");
  Mail("0005.TXT", "Date: Sun, 7 Jan 2024 8:00\r\nFrom:sixbyt\r\nSubject:  two blanks\r\n");
  Mail("0006.TXT", "Date: Mon, 8 Jan 2024\nFrom: 12345678901234567890\nSubject:" + std::string(40, 'S') + "\n");
  Mail("0007.TXT", "Subject: " + std::string(40, 's') + "\nDate: Tue, 9 Jan 1998 23:59:59 GMT\nFrom: x\n");
  Mail("12345.TXT", "Date: Wed, 10 Jan 2024 07:07\nFrom: big\nSubject: five digits\n");
  Mail("notes.doc", "From: nobody\n");

  RunResult r = box.Run({"-t", "work", "-l"}, "", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\n" + Progress(9) + kHeading +
                       Row(1, true, "0000", "24/01/15 10:30", "Taro Yamada", "Meeting notes") +
                       Row(2, false, "0001", "24/01/05 09:05", "hanako@example.", "lower case") +
                       Row(3, false, "0002", "", "ab", "numeric date") + Row(4, false, "0003", "24/01/06 11:00", "cd", "") +
                       Row(5, false, "0004", "", "ef", "dotted date") +
                       Row(6, false, "0005", "24/01/07  8:00", "sixbyt", " two blanks") +
                       Row(7, false, "0006", "24/01/08      ", "123456789012345", std::string(36, 'S')) +
                       Row(8, false, "0007", "98/01/09 23:59", "x", std::string(35, 's')) +
                       Row(9, false, "1234", "24/01/10 07:07", "big", "five digits") + kRule);
}

TEST_F(StoreListE2E, WithoutAFolderTheCurrentDirectoryIsListed) {
  box.WriteFile("0001.txt", "Date: Mon, 15 Jan 2024 10:30\nFrom: here\nSubject: cwd\n");
  box.WriteFile("0000.TXT", "From: first\nSubject: also here\n");
  Mail("0000.TXT", "From: not listed\n");
  RunResult r = box.Run({"-l"}, "", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\n" + Progress(2) + kHeading + Row(1, true, "0000", "", "first", "also here") +
                       Row(2, false, "0001", "24/01/15 10:30", "here", "cwd") + kRule);
}

TEST_F(StoreListE2E, SortByDateAcrossCenturiesBothWays) {
  Mail("0000.TXT", "Date: Mon, 1 Jan 2024 00:00\nFrom: a\nSubject: y2024\n");
  Mail("0001.TXT", "Date: Fri, 1 Jan 1999 00:00\nFrom: b\nSubject: y1999\n");
  Mail("0002.TXT", "From: c\nSubject: undated\n");
  Mail("0003.TXT", "Date: Mon, 1 Jan 2001 00:00\nFrom: d\nSubject: y2001\n");
  const std::string y1999 = Row(0, false, "0001", "99/01/01 00:00", "b", "y1999").substr(5);
  const std::string undated = Row(0, false, "0002", "", "c", "undated").substr(5);
  const std::string y2001 = Row(0, false, "0003", "01/01/01 00:00", "d", "y2001").substr(5);
  const std::string y2024 = Row(0, false, "0000", "24/01/01 00:00", "a", "y2024").substr(5);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      {{"-t", "work", "-l"}, {y2024, y1999, undated, y2001}},
      {{"-t", "work", "-o", "-l"}, {y1999, undated, y2001, y2024}},
      {{"-t", "work", "-o", "-/", "-l"}, {y2024, y2001, undated, y1999}},
      {{"-t", "work", "-/", "-l"}, {y2001, undated, y1999, y2024}},
  };
  for (const Case& c : cases) {
    std::string rows;
    for (size_t i = 0; i < c.texts.size(); ++i) rows += PadLeft(std::to_string(i + 1), 4) + (i ? " " : ">") + c.texts[i];
    RunResult r = box.Run(c.args, "", kOffline);
    EXPECT_EQ(r.out, "\n" + Progress(4) + kHeading + rows + kRule) << c.args[2];
  }
}

TEST_F(StoreListE2E, DescendingThirtyEntriesAllOnOnePage) {
  for (int i = 0; i < 30; ++i) Mail(Format("%04d.TXT", i), Format("From: s%d\nSubject: m%d\n", i, i));
  RunResult r = box.Run({"-t", "work", "-/", "-l"}, "", kOffline);
  std::string rows;
  for (int p = 1; p <= 30; ++p) rows += Row(p, p == 1, Format("%04d", 30 - p), "", Format("s%d", 30 - p), Format("m%d", 30 - p));
  EXPECT_EQ(r.out, "\n" + Progress(30) + kHeading + rows + kRule);
}

TEST_F(StoreListE2E, AThousandMessagesShowTheFirst996) {
  for (int i = 0; i < 1000; ++i) Mail(Format("%04d.TXT", i), "Subject: x\n");
  RunResult r = box.Run({"-t", "work", "-l"}, "", kOffline);
  const size_t body = r.out.find(kHeading);
  ASSERT_NE(body, std::string::npos);
  const std::string page = r.out.substr(body + kHeading.size());
  EXPECT_EQ(std::count(page.begin(), page.end(), '\n'), 997);  // 996 rows and the rule
  EXPECT_NE(page.find(Row(996, false, "0995", "", "", "x") + kRule), std::string::npos);
  EXPECT_EQ(page.find("0996 "), std::string::npos);
}

TEST_F(StoreListE2E, MissingFolderShowsAnEmptyPage) {
  RunResult r = box.Run({"-t", "nothere", "-l"}, "", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\nSearching" + kHeading + kRule);
}

}  // namespace
}  // namespace quillo::test
