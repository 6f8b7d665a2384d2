#include "store/summary.h"

#include <gtest/gtest.h>

#include <climits>

#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

TEST(StoreListDate, FormsOfADateValue) {
  struct Case {
    const char* value;
    int result;
    const char* longForm;
    const char* shortForm;
  };
  const std::vector<Case> cases = {
      {" Mon, 15 Jan 2024 10:30:00 +0900\n", 1, "24/01/15 10:30", "01/15"},
      {" Mon, 5 Jan 2024 09:05:00 +0900", 1, "24/01/05 09:05", "01/05"},
      {" 1 Jan 1998 00:00:00 GMT", 1, "98/01/01 00:00", "01/01"},
      {"Thu, 31 Dec 2099 23:59:59", 1, "99/12/31 23:59", "12/31"},
      // Runs of blanks are one separator; a short time is right-aligned.
      {"  Tue,   6  Feb   2001   7:08\n", 1, "01/02/06  7:08", "02/06"},
      // A value that ends after the year shows a blank time, not its line end.
      {" Mon, 15 Jan 2024\n", 1, "24/01/15      ", "01/15"},
      {" Mon, 15 Jan 2024 \n", 1, "24/01/15      ", "01/15"},
      // A tab is no separator: "Mon,\t5" is the day token, read as 0.
      {" Mon,\t5 Jan 2024 10:00", 1, "24/01/00 10:00", "01/00"},
      // Without a recognised month nothing is taken.
      {" 2024-01-05 10:30:00", 0, "keep", "keep"},
      {" 05.01.2024 10:30", 0, "keep", "keep"},
      {" Mon, 15 jan 2024 10:30", 0, "keep", "keep"},
      // The first token is never the month, and a month with a line end is no month.
      {" Jan 15 2024", 0, "keep", "keep"},
      {" 15 Jan\n", 0, "keep", "keep"},
      {"", 0, "keep", "keep"},
  };
  for (const Case& c : cases) {
    std::string longDate = "keep", shortDate = "keep";
    EXPECT_EQ(ListDate(c.value, DateForm::kLong, longDate), c.result) << c.value;
    EXPECT_EQ(ListDate(c.value, DateForm::kShort, shortDate), c.result) << c.value;
    EXPECT_EQ(longDate, c.longForm) << c.value;
    EXPECT_EQ(shortDate, c.shortForm) << c.value;
  }
}

class StoreSummaryTest : public ::testing::Test {
 protected:
  void SetUp() override { GetSettings() = Settings{}; }
  std::string Write(const std::string& content) {
    box.WriteFile("m.txt", content);
    return box.Path("m.txt");
  }
  test::Sandbox box;
};

TEST_F(StoreSummaryTest, ColumnsAndCuts) {
  const std::string date = "Date: Mon, 15 Jan 2024 10:30:00 +0900\n";
  const std::string x40(40, 'x');
  struct Case {
    const char* name;
    std::string content;
    const char* shortLine;
    const char* longLine;
  };
  const std::vector<Case> cases = {
      {"well formed: the display name", date + "From: Taro <taro@example.jp>\nSubject: Hello\n\nbody\n",
       "   7  01/15            Taro Hello", "   7  24/01/15 10:30            Taro Hello"},
      {"short sender is right-aligned", date + "From: abcdef\nSubject: s\n", "   7  01/15          abcdef s",
       "   7  24/01/15 10:30          abcdef s"},
      {"sender without blank after the colon", date + "From:abcdefghijklmnopqrst\nSubject: s\n",
       "   7  01/15 abcdefghijklmno s", "   7  24/01/15 10:30 abcdefghijklmno s"},
      {"subject without blank keeps 36 bytes", date + "From: a\nSubject:" + x40 + "\n",
       "   7  01/15               a xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
       "   7  24/01/15 10:30               a xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
      {"one blank is dropped and 35 bytes follow", date + "From: a\nSubject: " + x40 + "\n",
       "   7  01/15               a xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
       "   7  24/01/15 10:30               a xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
      {"the second of two blanks is shown", date + "From: a\nSubject:  two\n", "   7  01/15               a  two",
       "   7  24/01/15 10:30               a  two"},
      {"header names in any case", "DATE: Mon, 15 Jan 2024 10:30\nfrom: a\nSUBJECT: s\n",
       "   7  01/15               a s", "   7  24/01/15 10:30               a s"},
      {"CR LF lines", "Date: Mon, 15 Jan 2024 10:30\r\nFrom: a\r\nSubject: s\r\n", "   7  01/15               a s",
       "   7  24/01/15 10:30               a s"},
      {"numeric date stays blank", "Date: 2024-01-05\nFrom: a\nSubject: s\n", "   7                      a s",
       "   7                               a s"},
      {"a body line can still give the date",
       "Date: 2024-01-05\nFrom: a\nSubject: s\n\nDate: Fri, 5 Jan 2024 08:00\n", "   7  01/05               a s",
       "   7  24/01/05 08:00               a s"},
      {"no subject: read to the end, a later sender wins", date + "From: first\n\nFrom: second\n",
       "   7  01/15          second ", "   7  24/01/15 10:30          second "},
      {"complete after a line: later lines are not used", date + "From: first\nSubject: s\nFrom: second\n",
       "   7  01/15           first s", "   7  24/01/15 10:30           first s"},
      {"empty file", "", "   7                        ", "   7                                 "},
      // A line of more than 999 bytes arrives in pieces, each read as a line.
      {"a piece after 999 bytes is a line", date + "From: a\n" + std::string(999, 'y') + "Subject: piece\n",
       "   7  01/15               a piece", "   7  24/01/15 10:30               a piece"},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.content);
    std::string shortLine, longLine;
    const int shortLength = MakeSummary(shortLine, 7, path, DateForm::kShort);
    const int longLength = MakeSummary(longLine, 7, path, DateForm::kLong);
    EXPECT_EQ(shortLength, static_cast<int>(shortLine.size())) << c.name;
    EXPECT_EQ(longLength, static_cast<int>(longLine.size())) << c.name;
    EXPECT_EQ(shortLine, c.shortLine) << c.name;
    EXPECT_EQ(longLine, c.longLine) << c.name;
  }
}

// Senders and subjects as mail carries them today: encoded-words in any
// charset, folded, split characters, raw UTF-8, Shift_JIS stored as such.
// The columns stay 15 and 35 bytes of Shift_JIS, never half a character.
TEST_F(StoreSummaryTest, DecodedSendersAndSubjects) {
  const std::string date = "Date: Mon, 15 Jan 2024 10:30:00 +0900\n";
  const std::string nihongo = "\x93\xfa\x96\x7b\x8c\xea";
  const std::string geta = "\x81\xac";
  std::string kanji17;
  for (int i = 0; i < 17; ++i) kanji17 += "\x8a\xbf";
  struct Case {
    const char* name;
    std::string from, subject;  // the raw field lines
    std::string sender, shownSubject;
  };
  const std::vector<Case> cases = {
      {"UTF-8 base64 subject", "From: a@example.jp", "Subject: =?UTF-8?B?5pel5pys6Kqe?=", "a@example.jp", nihongo},
      {"lower-case charset and encoding", "From: a", "Subject: =?utf-8?b?5pel5pys6Kqe?=", "a", nihongo},
      {"character split across folded words", "From: a",
       "Subject: =?UTF-8?B?5pel5g==?=\n =?UTF-8?B?nKzoqp4=?=", "a", nihongo},
      {"ISO-2022-JP base64 subject", "From: a", "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", "a",
       "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"},
      {"Q encoding with underscore", "From: a", "Subject: =?UTF-8?Q?a_b=E6=97=A5?=", "a", "a b\x93\xfa"},
      {"folded plain subject joined", "From: a", "Subject: first\n second", "a", "first second"},
      {"raw UTF-8 subject", "From: a", "Subject: \xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "a", nihongo},
      {"Shift_JIS subject as stored", "From: a", "Subject: " + nihongo, "a", nihongo},
      {"emoji is the geta mark", "From: a", "Subject: =?UTF-8?B?8J+YgA==?= ok", "a", geta + " ok"},
      {"long subject cut between characters", "From: a", "Subject: =?UTF-8?B?" +
       std::string("5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi5ryi") + "?=",
       "a", kanji17},
      {"encoded display name", "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>", "Subject: s", "\x8e\x52\x93\x63", "s"},
      {"quoted display name", "From: \"Yamada, Taro\" <t@example.jp>", "Subject: s", "Yamada, Taro", "s"},
      {"address only in brackets", "From: <only@example.jp>", "Subject: s", "only@example.jp", "s"},
      {"old form with comment", "From: t@example.jp (Taro)", "Subject: s", "Taro", "s"},
      {"Shift_JIS display name", "From: " + std::string("\x8e\x52\x93\x63") + " <y@example.jp>", "Subject: s",
       "\x8e\x52\x93\x63", "s"},
      {"folded sender", "From: =?UTF-8?B?5bGx55Sw?=\n <yamada@example.jp>", "Subject: s", "\x8e\x52\x93\x63", "s"},
  };
  for (const Case& c : cases) {
    const std::string path = Write(date + c.from + "\n" + c.subject + "\nX-Other: x\n\nbody\n");
    std::string line;
    MakeSummary(line, 7, path, DateForm::kShort);
    std::string expected = "   7  01/15 ";
    expected += std::string(15 - std::min<size_t>(15, c.sender.size()), ' ') + c.sender + " " + c.shownSubject;
    EXPECT_EQ(line, expected) << c.name;
  }
}

TEST_F(StoreSummaryTest, ExtremeNumbersStayWithinTheBuffer) {
  const std::string path =
      Write("Date: Mon, 99999999999 Jan 2024 10:30\nFrom: " + std::string(20, 'f') + "\nSubject:" +
            std::string(50, 's') + "\n");
  std::string line;
  EXPECT_EQ(MakeSummary(line, INT_MIN, path, DateForm::kLong), 79);
  EXPECT_EQ(line.size(), 79u);
  EXPECT_EQ(line.substr(0, 12), "-2147483648 ");
}

TEST_F(StoreSummaryTest, UnreadableFileLeavesTheLineAndSaysSo) {
  const std::string path = box.Path("missing.txt");
  std::string line = "before";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MakeSummary(line, 1, path, DateForm::kShort), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(line, "before");
  EXPECT_EQ(err, "\x83\x81\x81\x5b\x83\x8b\x83\x74\x83\x40\x83\x43\x83\x8b(" + path +
                     ")\x82\xcc\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd"
                     "\x81\x42\n");
}

TEST_F(StoreSummaryTest, ReceivedHeadingAndSummaries) {
  const std::string path = Write("Date: Mon, 15 Jan 2024 10:30\nFrom: a\nSubject: s\n");
  std::string out = test::WithPipedKeys("", [&] {
    PrintReceivedHeading();
    PrintReceivedSummary(12, path);
    ::testing::internal::CaptureStderr();
    PrintReceivedSummary(3, box.Path("gone.txt"));
    ::testing::internal::GetCapturedStderr();
  });
  EXPECT_EQ(out,
            "--No---Date--From-------------Subject&Body-------------------------------------\n"
            "  12  01/15               a s\n"
            "   3\n");
}

}  // namespace
}  // namespace quillo
