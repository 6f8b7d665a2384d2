// The folder menu driven by keys piped into standard input.
#include <gtest/gtest.h>
#include <iconv.h>

#include <filesystem>

#include "tests/e2e/menu_fixture.h"
#include "tests/support/shell_scripts.h"

namespace quillo::test {
namespace {

const std::string kWipe = "\r       \r";

TEST(MenuPiped, EndOfInputLeavesAtOnce) {
  Sandbox box;
  MakeMenuBox(box, 2);
  RunResult r = box.Run({}, "", kOffline, 10);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(Occurrences(r.out, "(inbox):"), 1);
}

TEST(MenuPiped, QuitWordsAndWordsThatOnlyRedraw) {
  struct Case {
    std::string keys;
    int prompts;  // pages shown before the menu ended
  };
  const std::vector<Case> cases = {
      {"q\n", 1}, {"Q\n", 1}, {"0\n", 1},
      // "00" is worth 0 but is neither quit word; 9 is past the count; x and
      // -2 name nothing; an empty line names nothing.
      {"00\nq\n", 2}, {"9\nq\n", 2}, {"x\nq\n", 2}, {"-2\nq\n", 2}, {"\nq\n", 2}, {"q\nq\n", 1},
      // Escape acts on what was typed, like Enter; the input then goes on.
      {"\x1bq\n", 2}, {"q\x1b" "9\n", 1}, {"x\x1bq\x1b", 2},
  };
  Sandbox box;
  MakeMenuBox(box, 3);
  for (const Case& c : cases) {
    RunResult r = box.Run({}, c.keys, kOffline);
    EXPECT_EQ(r.exitCode, 0) << c.keys;
    EXPECT_EQ(Occurrences(r.out, "(inbox):"), c.prompts) << c.keys;
    EXPECT_EQ(r.out.find("Subject: "), std::string::npos) << c.keys;
    EXPECT_EQ(box.List("mbox/inbox").size(), 3u) << c.keys;
  }
}

TEST(MenuPiped, NumberOpensThePagerWhichPagesAndStopsOnQ) {
  Sandbox box;
  MakeMenuBox(box, 0, 6, "headers=all\n");  // a screen of 5 lines
  const std::string message = MenuMessage(0, 3, 12);
  box.WriteFile("mbox/inbox/0000.TXT", message);
  RunResult r = box.Run({}, "1\n q" "q\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  std::vector<std::string> lines;
  for (size_t pos = 0, next; (next = message.find('\n', pos)) != std::string::npos; pos = next + 1)
    lines.push_back(message.substr(pos, next + 1 - pos));
  std::string shown = "(inbox):1\r\n";
  for (int i = 0; i < 10; ++i) {
    shown += lines[static_cast<size_t>(i)];
    if (i == 4) shown += "-more-" + kWipe;
  }
  shown += "-more-\n\n--No-file";
  EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("-Hit Any Key-"), std::string::npos);
}

TEST(MenuPiped, OpenedMessageIsMarkedAndDeleteMovesItToTrash) {
  Sandbox box;
  MakeMenuBox(box, 3);
  RunResult r = box.Run({}, "2\nxd\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Subject: subject1\n"), std::string::npos);
  EXPECT_NE(r.out.find(Row(2, true, 1)), std::string::npos);
  const std::string move =
      "File Moveing " + box.Path("mbox/inbox/0001.TXT") + "->" + box.Path("mbox/trash/0001.TXT") + "\n";
  const size_t at = r.out.find(move);
  ASSERT_NE(at, std::string::npos) << r.out;
  // The list is read again and the mark returns to the top.
  const std::string after = r.out.substr(at);
  EXPECT_NE(after.find("Searching...\nGetting Header...\n"), std::string::npos);
  EXPECT_NE(after.find(Row(1, true, 0) + "24/01/20"), std::string::npos);
  EXPECT_NE(after.find(Row(2, false, 2) + "24/01/18"), std::string::npos);
  EXPECT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0000.TXT", "0002.TXT"}));
  EXPECT_EQ(box.ReadFile("mbox/trash/0001.TXT"), MenuMessage(1, 19));
}

TEST(MenuPiped, DescendingOrderActsOnTheRowShown) {
  Sandbox box;
  MakeMenuBox(box, 4);
  // Position 2 of the reversed page is 0002; "d" then takes the marked row.
  RunResult r = box.Run({}, "/\n2\nxd\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find(Row(1, true, 3) + "24/01/17"), std::string::npos);
  EXPECT_NE(r.out.find("Subject: subject2\n"), std::string::npos);
  EXPECT_NE(r.out.find(Row(2, true, 2)), std::string::npos);
  EXPECT_EQ(box.List("mbox/trash"), (std::vector<std::string>{"0002.TXT"}));
  EXPECT_EQ(box.ReadFile("mbox/trash/0002.TXT"), MenuMessage(2, 18));
  // Still descending after the reload.
  const std::string after = r.out.substr(r.out.find("File Moveing"));
  EXPECT_NE(after.find(Row(1, true, 3) + "24/01/17"), std::string::npos);
  EXPECT_NE(after.find(Row(3, false, 0) + "24/01/20"), std::string::npos);
}

TEST(MenuPiped, SortByDateThenRenumberFollowsTheSortedOrder) {
  Sandbox box;
  MakeMenuBox(box, 3);  // 0000 is the newest
  RunResult r = box.Run({}, "o\nn\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  const size_t sorted = r.out.find("Date&Time Sort\n");
  ASSERT_NE(sorted, std::string::npos);
  // The sort changes the page only; the names on disk wait for "n".
  EXPECT_NE(r.out.find(Row(1, true, 2) + "24/01/18", sorted), std::string::npos);
  EXPECT_NE(r.out.find("Renumbering txt->tmp....\nRenumbering tmp->txt....\n", sorted), std::string::npos);
  // The oldest message now holds the first number.
  for (int n = 0; n < 3; ++n) {
    std::string name = MessageName(n);
    if (!box.Exists("mbox/inbox/" + name)) name.replace(5, 3, "txt");
    EXPECT_EQ(box.ReadFile("mbox/inbox/" + name), MenuMessage(2 - n, 18 + n)) << n;
  }
  EXPECT_EQ(box.List("mbox/inbox").size(), 3u);
  // The page after the renumber shows the new numbers with their messages.
  const size_t renumbered = r.out.find("Renumbering tmp->txt....\n", sorted);
  ASSERT_NE(renumbered, std::string::npos);
  const std::string page = r.out.substr(renumbered);
  for (int n = 0; n < 3; ++n) {
    const size_t row = page.find(Row(n + 1, n == 0, n) + "24/01/" + std::to_string(18 + n));
    ASSERT_NE(row, std::string::npos) << n;
    EXPECT_NE(page.find("subject" + std::to_string(2 - n), row), std::string::npos) << n;
  }
}

TEST(MenuPiped, ChangeFolderShowsTheChosenFolder) {
  Sandbox box;
  MakeMenuBox(box, 1);
  box.WriteFile("mbox/work/0000.TXT", MenuMessage(7, 7));
  RunResult r = box.Run({}, "c\n4\n1\nxq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Change Folder\n--------------------\n1 inbox\n2 outbox\n3 trash\n4 work\n"), std::string::npos);
  const size_t work = r.out.find("(work):");
  ASSERT_NE(work, std::string::npos);
  EXPECT_NE(r.out.find("Subject: subject7\n", work), std::string::npos);

  // Leaving the chooser keeps the folder.
  r = box.Run({}, "c\nq\nq\n", kOffline);
  EXPECT_EQ(Occurrences(r.out, "(inbox):"), 2);
}

TEST(MenuPiped, MakeAndRemoveFolders) {
  Sandbox box;
  MakeMenuBox(box, 1);
  RunResult r = box.Run({}, "k\nwork\nq\n", kOffline);
  EXPECT_NE(r.out.find("New Folder name:work\r\nMaking folder 'work'\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(box.Path("mbox/work")));

  box.WriteFile("mbox/work/0000.TXT", MenuMessage(1, 1));
  r = box.Run({}, "v\n4\nq\n", kOffline);
  EXPECT_NE(r.out.find("Remove Folder\n--------------------\n"), std::string::npos);
  EXPECT_NE(r.err.find("Folder Remove error!\r\n"), std::string::npos);
  EXPECT_TRUE(box.Exists("mbox/work/0000.TXT"));

  box.WriteFile("mbox/work/0000.TXT", "");
  std::filesystem::remove(box.Path("mbox/work/0000.TXT"));
  r = box.Run({}, "v\n4\nq\n", kOffline);
  EXPECT_NE(r.out.find("Folder work Removed\r\n"), std::string::npos);
  EXPECT_FALSE(box.Exists("mbox/work"));
}

// A command on PATH that records where it ran and what it was given;
// its name for the program.
std::string WriteRecorder(const Sandbox& box, const std::string& name, const std::string& record) {
  const std::string target = ShellQuoted(ProgramPath(box.Path(record)));
  return WriteScript(box, "bin/" + name, "{ pwd; printf '%s|\\n' \"$@\"; } > " + target + "\n",
                     "cd > " + target + "\nfor %%a in (%*) do echo %%~a^|>> " + target + "\n");
}

// What the recorder wrote for a run in `dir` given `argument`.
std::string Recorded(const std::string& dir, const std::string& argument) {
  const std::string end = ShellLineEnd();
  return ProgramPath(std::filesystem::canonical(dir).string()) + end + argument + "|" + end;
}

Env WithBin(const Sandbox& box, Env env = {}) { return Offline(WithSearchDirectory(env, box.Path("bin"))); }

TEST(MenuPiped, CommandRunsOnTheSelectedFileInItsDirectory) {
  Sandbox box;
  MakeMenuBox(box, 3);
  WriteRecorder(box, "rec", "where");
  const std::string file = box.Path("mbox/inbox/0001.TXT");
  RunResult r = box.Run({}, "2\nx!\nrec\nq\n", WithBin(box));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Exequte\nTarget file:" + file + "\ncommand:rec\r\nrec " + ShellQuoted(file) + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(box.ReadFile("where"), Recorded(box.Path("mbox/inbox"), file));
}

TEST(MenuPiped, CommandEdgeCases) {
  struct Case {
    const char* name;
    int messages;
    std::string keys;
    bool runs;
  };
  const std::vector<Case> cases = {
      // Without a command the shell would try to run the message itself.
      {"empty answer runs nothing", 1, "!\n\nq\n", false},
      {"blank answer runs nothing", 1, "!\n  \nq\n", false},
      {"escape runs nothing", 1, "!\nrec\x1bq\n", false},
      {"empty folder gives the folder path", 0, "!\nrec\nq\n", true},
  };
  for (const Case& c : cases) {
    Sandbox one;
    MakeMenuBox(one, c.messages);
    WriteRecorder(one, "rec", "where");
    RunResult r = one.Run({}, c.keys, WithBin(one));
    EXPECT_EQ(r.exitCode, 0) << c.name;
    if (!c.runs) {
      EXPECT_FALSE(one.Exists("where")) << c.name;
    } else {
      EXPECT_EQ(one.ReadFile("where"), Recorded(one.Path("mbox/inbox"), one.Path("mbox/inbox") + "/")) << c.name;
    }
    EXPECT_EQ(Occurrences(r.out, "(inbox):"), 2) << c.name;
  }
}

TEST(MenuPiped, EditRunsTheEditorOnTheSelectedFile) {
  struct Case {
    int messages;
    std::string keys;
    std::string file;  // relative to the inbox
    int prompts;
  };
  // In an empty folder the editor gets the folder path with no file name.
  for (const Case& c : std::vector<Case>{{3, "2\nxe\nq\n", "0001.TXT", 3}, {0, "E\nq\n", "", 2}}) {
    Sandbox box;
    const std::string editor = WriteRecorder(box, "rec", "where");
    MakeMenuBox(box, c.messages, 25, "editor=" + editor + "\n");
    RunResult r = box.Run({}, c.keys, WithBin(box));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Edit mail\n"), std::string::npos) << c.keys;
    EXPECT_EQ(box.ReadFile("where"), Recorded(box.Path("mbox/inbox"), box.Path("mbox/inbox/") + c.file)) << c.keys;
    EXPECT_EQ(Occurrences(r.out, "(inbox):"), c.prompts) << c.keys;
  }
}

TEST(MenuPiped, RenumberAfterAnEditShowsTheEditedMessage) {
  Sandbox box;
  // The editor changes the subject in the file itself (the same file, not a
  // new one under the old name).
  box.WriteFile("bin/retitle", "#!/bin/sh\nsed 's/subject0/edited0/' \"$1\" > \"$1.new\" && cat \"$1.new\" > \"$1\" && rm \"$1.new\"\n");
  std::filesystem::permissions(box.Path("bin/retitle"), std::filesystem::perms::owner_all);
  MakeMenuBox(box, 3, 25, "editor=" + box.Path("bin/retitle") + "\n");
  // The first row is selected: 0000.TXT, the newest, which the sort puts last.
  RunResult r = box.Run({}, "e\no\nn\nq\n", WithBin(box));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(box.ReadFile("mbox/inbox/0002.txt"), "From: from0@x\nSubject: edited0\nDate: Mon, 20 Jan 2024 09:05:00 +0900\n----------\nbody0 line 1\n");
  const size_t renumbered = r.out.find("Renumbering tmp->txt....\n");
  ASSERT_NE(renumbered, std::string::npos);
  const std::string page = r.out.substr(renumbered);
  EXPECT_NE(page.find("edited0"), std::string::npos);
  EXPECT_EQ(page.find("subject0"), std::string::npos);
}

TEST(MenuPiped, RefreshShowsFilesAddedMeanwhile) {
  Sandbox box;
  MakeMenuBox(box, 2);
  // The command copies the selected message twice within its folder.
  const std::string copier = WriteScript(box, "bin/copier", "cp \"$1\" 0008.TXT; cp \"$1\" 0009.TXT\n",
                                         "copy /y %1 0008.TXT >nul\ncopy /y %1 0009.TXT >nul\n");
  RunResult r = box.Run({}, "!\n" + copier + "\nr\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  const size_t refresh = r.out.find("Reflesh\nSearching.....\n");
  ASSERT_NE(refresh, std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Row(3, false, 8), refresh), std::string::npos);
  EXPECT_NE(r.out.find(Row(4, false, 9), refresh), std::string::npos);
}

TEST(MenuPiped, MoveTakesTheSelectedMessageToTheChosenFolder) {
  Sandbox box;
  MakeMenuBox(box, 3);
  box.MakeDir("mbox/work");
  RunResult r = box.Run({}, "3\nxm\n4\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Move mail\nSelect Target!\n"), std::string::npos) << r.out;
  EXPECT_EQ(box.List("mbox/work"), (std::vector<std::string>{"0002.TXT"}));
  // The job ran, so the list was made anew for the same folder.
  const std::string after = r.out.substr(r.out.find("File Moveing"));
  EXPECT_NE(after.find(Row(1, true, 0)), std::string::npos);
  EXPECT_EQ(after.find(Row(3, false, 2)), std::string::npos);
  EXPECT_EQ(Occurrences(after, "(inbox):"), 1);
}

TEST(MenuPiped, ChildShellRunsInTheFolderAndTheListIsMadeAnew) {
  Sandbox box;
  MakeMenuBox(box, 1);
  box.WriteFile("bin/myshell",
                "#!/bin/sh\npwd > \"$HOME/shell-dir\"\necho \"$#\" >> \"$HOME/shell-dir\"\n"
                "cp 0000.TXT 0005.TXT\n");
  std::filesystem::permissions(box.Path("bin/myshell"), std::filesystem::perms::owner_all);
  RunResult r = box.Run({}, "z\nq\n", WithBin(box, {{"SHELL", box.Path("bin/myshell")}}));
  EXPECT_EQ(r.exitCode, 0);
  const std::string inbox = std::filesystem::canonical(box.Path("mbox/inbox")).string();
  EXPECT_EQ(box.ReadFile("shell-dir"), inbox + "\n0\n");
  const size_t child = r.out.find("Child Process\nSearching...\nGetting Header...\n");
  ASSERT_NE(child, std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Row(2, false, 5), child), std::string::npos);
}

TEST(MenuPiped, ChildShellWithoutShellVariable) {
  Sandbox box;
  MakeMenuBox(box, 1);
  for (const Env& env : {Env{}, Env{{"SHELL", ""}}}) {
    RunResult r = box.Run({}, "z\nq\n", Offline(env));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Child Process\nchild process not execute!\nSearching..\n"), std::string::npos) << r.out;
    EXPECT_EQ(Occurrences(r.out, "(inbox):"), 2);
  }
}

// The help text as the Japanese console shows it.
std::string ShiftJis(const std::string& utf8) {
  iconv_t cd = iconv_open("SHIFT_JIS", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string in = utf8, out(utf8.size() * 2, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t srcLeft = in.size(), dstLeft = out.size();
  EXPECT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

TEST(MenuPiped, HelpScreenBytes) {
  Sandbox box;
  MakeMenuBox(box, 1);
  RunResult r = box.Run({}, "?\nxq\n", kOffline);
  const std::string help = ShiftJis(kMenuHelpText);
  const std::string rule = "--------------------------\n";
  EXPECT_NE(r.out.find("(inbox):?\r\n" + rule + help + rule + "-Hit Any Key-\r\n\n--No-file"), std::string::npos)
      << r.out;
  EXPECT_EQ(Occurrences(r.out, "(inbox):"), 2);
}

TEST(MenuPiped, PagingEdges) {
  struct Case {
    int messages;
    int lines;
    std::string keys;
    int firstRow;  // first position on the last page shown
  };
  const std::vector<Case> cases = {
      {30, 25, "+\nq\n", 23},  // 22 rows a page
      {30, 25, "+\n+\nq\n", 30},  // past the end: the last entry stays visible
      {30, 25, "+\n+\n+\nq\n", 30},
      {30, 25, "+\n-\nq\n", 1},
      {30, 25, "-\nq\n", 1},
      {30, 25, "+\n+\n-\nq\n", 8},
      {4, 5, "+\n+\nq\n", 4},  // a step that lands exactly on the count
      {4, 5, "+\nq\n", 3},
  };
  for (const Case& c : cases) {
    Sandbox box;
    MakeMenuBox(box, c.messages, c.lines);
    RunResult r = box.Run({}, c.keys, kOffline);
    const std::string last = r.out.substr(r.out.rfind("--No-file"));
    const std::string firstRow = Row(c.firstRow, c.firstRow == 1, c.firstRow - 1);
    EXPECT_NE(last.find("-----\n" + firstRow), std::string::npos) << c.keys << last;
    if (c.firstRow > 1) {
      EXPECT_EQ(last.find(Row(c.firstRow - 1, false, c.firstRow - 2)), std::string::npos) << c.keys;
    }
  }
}

TEST(MenuPiped, NumbersWithASignOrEndedByEscapeOpenTheMessage) {
  Sandbox box;
  MakeMenuBox(box, 3);
  for (const std::string keys : {"+2\nxq\n", "2\x1bxq\n"}) {
    RunResult r = box.Run({}, keys, kOffline);
    EXPECT_NE(r.out.find("Subject: subject1\n"), std::string::npos) << keys;
    EXPECT_NE(r.out.find(Row(2, true, 1)), std::string::npos) << keys;
  }
}

TEST(MenuPiped, EmptyFolder) {
  Sandbox box;
  MakeMenuBox(box, 0);
  RunResult r = box.Run({}, "+\n-\n1\nd\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  const std::string emptyPage =
      "\n--No-file|-Date&Time----|-From----------|-Subject&Body-----------------------\n"
      "-----------------------------------------------------------------------------\n(inbox):";
  EXPECT_EQ(Occurrences(r.out, emptyPage), 5);
  // "d" has no message to move; nothing lands in trash.
  EXPECT_NE(r.out.find("mail move error!(" + box.Path("mbox/inbox/") + ")\n"), std::string::npos);
  EXPECT_TRUE(box.List("mbox/trash").empty());
}

TEST(MenuPiped, DeleteInTrashRenumbersWithinTrash) {
  Sandbox box;
  MakeMenuBox(box, 0);
  box.WriteFile("mbox/trash/0000.TXT", MenuMessage(4, 4));
  RunResult r = box.Run({}, "c\n3\nd\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(box.List("mbox/trash"), (std::vector<std::string>{"0001.TXT"}));
  EXPECT_EQ(box.ReadFile("mbox/trash/0001.TXT"), MenuMessage(4, 4));
  EXPECT_NE(r.out.find(Row(1, true, 1)), std::string::npos);
  EXPECT_EQ(Occurrences(r.out, "(trash):"), 2);
}

TEST(MenuPiped, ReceiveSwitchesToInboxEvenWhenRefused) {
  Sandbox box;
  MakeMenuBox(box, 1);
  box.MakeDir("mbox/work");
  RunResult r = box.Run({}, "c\n4\ng\nq\n", kOffline);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("Network Driver not detect!\r\ncannot getting!\r\n"), std::string::npos);
  const size_t work = r.out.find("(work):g\r\n");
  ASSERT_NE(work, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Searching..\nGetting Header..\n", work), std::string::npos);
  EXPECT_NE(r.out.find("(inbox):q", work), std::string::npos);
}

TEST(MenuPiped, RefreshAndUnknownWordsKeepTheFolder) {
  Sandbox box;
  MakeMenuBox(box, 1);
  box.MakeDir("mbox/work");
  // "s" is refused offline but still reloads the current folder; "x" is no job.
  RunResult r = box.Run({}, "c\n4\ns\nR\nx\nq\n", kOffline);
  EXPECT_EQ(Occurrences(r.out, "(work):"), 4);
  EXPECT_NE(r.out.find("(work):R\r\nReflesh\nSearching"), std::string::npos);
  EXPECT_EQ(r.out.find("(inbox):", r.out.find("(work):")), std::string::npos);
}

}  // namespace
}  // namespace quillo::test
