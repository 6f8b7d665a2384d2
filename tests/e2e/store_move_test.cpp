#include <gtest/gtest.h>

#include <regex>

#include "platform/output.h"
#include "tests/support/harness.h"

namespace quillo::test {
namespace {

const Env kOffline = {{"QUILLO_OFFLINE", "1"}};

class StoreMoveE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WriteIni();
    box.MakeMailbox();
    box.MakeDir("mbox/work");
  }
  std::string Moved(const std::string& from, const std::string& toRelative) const {
    return "File Moveing " + from + "->" + box.Path("mbox/" + toRelative) + "\n";
  }
  Sandbox box;
};

TEST_F(StoreMoveE2E, SameNameGetsTheNextFreeNumber) {
  box.WriteFile("mbox/inbox/0003.TXT", "first\n");
  box.WriteFile("mbox/outbox/0003.TXT", "second\n");
  RunResult r = box.Run({"-m", "mbox/inbox/0003.TXT", "-t", "work"}, "", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\nMove mail\nSearching..\n" + Moved("mbox/inbox/0003.TXT", "work/0003.TXT"));
  r = box.Run({"-t", "work", "-m", "mbox/outbox/0003.TXT"}, "", kOffline);
  EXPECT_EQ(r.out, "\nMove mail\nSearching..\n" + Moved("mbox/outbox/0003.TXT", "work/0001.TXT"));
  EXPECT_EQ(box.List("mbox/work"), (std::vector<std::string>{"0001.TXT", "0003.TXT"}));
  EXPECT_EQ(box.ReadFile("mbox/work/0003.TXT"), "first\n");
  EXPECT_EQ(box.ReadFile("mbox/work/0001.TXT"), "second\n");
  EXPECT_TRUE(box.List("mbox/inbox").empty());
  EXPECT_TRUE(box.List("mbox/outbox").empty());
}

TEST_F(StoreMoveE2E, WildcardMovesInNameOrderNumberingCollisions) {
  box.WriteFile("mbox/inbox/0002.TXT", "two\n");
  box.WriteFile("mbox/inbox/0000.txt", "zero\n");
  box.WriteFile("mbox/inbox/0001.TXT", "one\n");
  box.WriteFile("mbox/inbox/note.doc", "not matched\n");
  box.WriteFile("mbox/inbox/1000.TXT", "not matched\n");
  box.WriteFile("mbox/work/0001.TXT", "already\n");
  RunResult r = box.Run({"-m", "mbox/inbox/00*.TXT", "-t", "work"}, "", kOffline);
  EXPECT_EQ(r.out, "\nMove mail\nSearching....\n" + Moved("mbox/inbox/0000.txt", "work/0000.txt") +
                       Moved("mbox/inbox/0001.TXT", "work/0002.TXT") + Moved("mbox/inbox/0002.TXT", "work/0003.TXT"));
  EXPECT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"1000.TXT", "note.doc"}));
  EXPECT_EQ(box.ReadFile("mbox/work/0001.TXT"), "already\n");
  EXPECT_EQ(box.ReadFile("mbox/work/0002.TXT"), "one\n");
  EXPECT_EQ(box.ReadFile("mbox/work/0003.TXT"), "two\n");
}

TEST_F(StoreMoveE2E, PatternsAndFailures) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    std::vector<std::string> inboxAfter;
  };
  const std::vector<Case> cases = {
      {"question mark, any letter case", {"-m", "mbox/inbox/000?.tXt", "-t", "work"},
       "\nMove mail\nSearching..\n" + Moved("mbox/inbox/0005.TXT", "work/0005.TXT"), {"0010.TXT", "memo"}},
      {"nothing matches", {"-m", "mbox/inbox/*.eml", "-t", "work"}, "\nMove mail\nSearching", {"0010.TXT", "memo"}},
      {"missing source directory", {"-m", "mbox/none/*", "-t", "work"}, "\nMove mail\nSearching", {"0010.TXT", "memo"}},
      {"missing folder", {"-m", "mbox/inbox/0010.TXT", "-t", "nowhere"},
       "\nMove mail\nSearching..\n" + Moved("mbox/inbox/0010.TXT", "nowhere/0010.TXT") +
           "mail move error!(mbox/inbox/0010.TXT)\n",
       {"0010.TXT", "memo"}},
      {"a name without .txt is kept", {"-m", "mbox/inbox/memo", "-t", "work"},
       "\nMove mail\nSearching..\n" + Moved("mbox/inbox/memo", "work/memo"), {"0010.TXT"}},
  };
  box.WriteFile("mbox/inbox/0005.TXT", "5\n");
  box.WriteFile("mbox/inbox/0010.TXT", "10\n");
  box.WriteFile("mbox/inbox/memo", "memo\n");
  for (const Case& c : cases) {
    RunResult r = box.Run(c.args, "", kOffline);
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(box.List("mbox/inbox"), c.inboxAfter) << c.name;
  }
  EXPECT_FALSE(box.Exists("mbox/nowhere"));
  EXPECT_EQ(box.List("mbox/work"), (std::vector<std::string>{"0005.TXT", "memo"}));
}

TEST_F(StoreMoveE2E, ChooserPagesThroughThirtyFolders) {
  box.WriteIni("lines=25\n");
  for (int i = 1; i <= 27; ++i) box.MakeDir(Format("mbox/f%02d", i));
  box.WriteFile("mbox/inbox/0000.TXT", "x\n");
  // Name order: f01 ... f27, inbox, outbox, trash (and work, which makes 31).
  std::vector<std::string> names;
  for (int i = 1; i <= 27; ++i) names.push_back(Format("f%02d", i));
  for (const char* n : {"inbox", "outbox", "trash", "work"}) names.push_back(n);
  auto page = [&](size_t from, size_t to) {
    std::string text = "--------------------\n";
    for (size_t i = from; i <= to; ++i) text += Format("%zu %s\n", i, names[i - 1].c_str());
    return text + "--------------------\nSelect Folder\nSelect:";
  };
  RunResult r = box.Run({"-m", "mbox/inbox/0000.TXT"}, "+\n+\n-\n-\n25\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  // A second "+" past the end starts the page at the last folder.
  EXPECT_EQ(r.out, "\nMove mail\nSelect Target!\n" + page(1, 22) + "+\r\n" + page(23, 31) + "+\r\n" + page(31, 31) +
                       "-\r\n" + page(9, 30) + "-\r\n" + page(1, 22) + "25\r\n" + "Searching..\n" +
                       Moved("mbox/inbox/0000.TXT", "f25/0000.TXT"));
  EXPECT_TRUE(box.Exists("mbox/f25/0000.TXT"));
}

TEST_F(StoreMoveE2E, LeavingTheChooserEndsWithStatusOne) {
  box.WriteFile("mbox/inbox/0000.TXT", "x\n");
  for (const std::string keys : {"q\n", "0\n", "", "7\n\x1b"}) {
    RunResult r = box.Run({"-m", "mbox/inbox/0000.TXT"}, keys, kOffline);
    EXPECT_EQ(r.exitCode, 1) << keys;
    EXPECT_EQ(r.out.find("Searching"), std::string::npos) << keys;
    EXPECT_TRUE(box.Exists("mbox/inbox/0000.TXT")) << keys;
  }
}

class StoreMimeE2E : public StoreMoveE2E {};

TEST_F(StoreMimeE2E, ImportFilesADecodedCopyIntoInbox) {
  box.WriteFile("mbox/inbox/0000.TXT", "old\n");
  const std::string original = "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\nFrom: a\n\nbody\n";
  box.WriteFile("saved.eml", original);
  RunResult r = box.Run({"-mime", "saved.eml"}, "", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  // Decoded in the run's own directory in tmp.
  EXPECT_TRUE(std::regex_match(r.out, std::regex("File Moveing " + box.Path("tmp") + "/quillo-\\w{6}/tmp\\.txt->" +
                                                 box.Path("mbox/inbox/0001.TXT") + "\n")))
      << r.out;
  EXPECT_EQ(box.ReadFile("mbox/inbox/0001.TXT"), "Subject: \x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\nFrom: a\n\nbody\n");
  EXPECT_EQ(box.ReadFile("saved.eml"), original);
  EXPECT_TRUE(box.List("tmp").empty());
}

TEST_F(StoreMimeE2E, NothingToImport) {
  for (std::vector<std::string> args : {std::vector<std::string>{"-mime"}, {"-mime", "missing.eml"}}) {
    RunResult r = box.Run(args, "", kOffline);
    EXPECT_EQ(r.exitCode, 0) << args.size();
    EXPECT_EQ(r.out, "") << args.size();
    EXPECT_TRUE(box.List("mbox/inbox").empty()) << args.size();
    EXPECT_TRUE(box.List("tmp").empty()) << args.size();
  }
}

}  // namespace
}  // namespace quillo::test
