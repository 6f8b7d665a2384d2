// The folder menu on a real terminal: raw keys, the pager's prompt, and
// programs that take the terminal over for a while.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/menu_fixture.h"

namespace quillo::test {
namespace {

void WriteScript(const Sandbox& box, const std::string& name, const std::string& body) {
  box.WriteFile("bin/" + name, "#!/bin/sh\n" + body);
  std::filesystem::permissions(box.Path("bin/" + name), std::filesystem::perms::owner_all);
}

std::string Canonical(const Sandbox& box, const std::string& relative) {
  return std::filesystem::canonical(box.Path(relative)).string();
}

TEST(MenuPty, PagerDeleteAndDescendingOrder) {
  Sandbox box;
  MakeMenuBox(box, 3, 6, "headers=all\n");  // screens of 5 lines
  box.WriteFile("mbox/inbox/0000.TXT", MenuMessage(0, 20, 12));
  PtySession pty(box, {}, kOffline);
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("1\r");
  ASSERT_TRUE(pty.WaitFor("-more-")) << pty.Output();
  pty.Send(" ");
  ASSERT_TRUE(pty.WaitFor("body0 line 6")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("-more-")) << pty.Output();
  pty.Send("q");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  EXPECT_EQ(pty.Output().find("body0 line 7"), std::string::npos);
  EXPECT_EQ(pty.Output().find("-Hit Any Key-"), std::string::npos);

  pty.Send("d\r");
  ASSERT_TRUE(pty.WaitFor("File Moveing")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();

  // Reversed, position 2 of the page is 0001.
  pty.Send("/\r");
  ASSERT_TRUE(pty.WaitFor(Row(1, true, 2))) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("2\r");
  ASSERT_TRUE(pty.WaitFor("Subject: subject1")) << pty.Output();
  // Its five lines fill a screen: "-more-" first, then the closing prompt.
  ASSERT_TRUE(pty.WaitFor("body1 line 1")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("-more-")) << pty.Output();
  pty.Send(" ");
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor(Row(2, true, 1))) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("d\r");
  ASSERT_TRUE(pty.WaitFor("File Moveing")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("q\r");
  EXPECT_EQ(pty.Finish(), 0);
  EXPECT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0002.TXT"}));
  EXPECT_EQ(box.List("mbox/trash"), (std::vector<std::string>{"0000.TXT", "0001.TXT"}));
}

TEST(MenuPty, HelpCommandShellAndFolders) {
  Sandbox box;
  MakeMenuBox(box, 2);
  WriteScript(box, "rec", "{ pwd; printf '%s|\\n' \"$@\"; } > \"$HOME/where\"\n");
  Env env = Offline({{"PATH", box.Path("bin") + ":/usr/bin:/bin"}, {"SHELL", "/bin/sh"}, {"PS1", "child$ "}});
  PtySession pty(box, {}, env);
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();

  pty.Send("?\r");
  ASSERT_TRUE(pty.WaitFor("q,0:exit")) << pty.Output();
  EXPECT_NE(pty.Output().find("num:\x83\x81\x81[\x83\x8b\x95\\\x8e\xa6"), std::string::npos);
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();

  pty.Send("2\r");
  ASSERT_TRUE(pty.WaitFor("-Hit Any Key-")) << pty.Output();
  pty.Send("x");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("!\r");
  ASSERT_TRUE(pty.WaitFor("command:")) << pty.Output();
  pty.Send("rec\r");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  EXPECT_EQ(box.ReadFile("where"), Canonical(box, "mbox/inbox") + "\n" + box.Path("mbox/inbox/0001.TXT") + "|\n");

  // A real interactive shell gets a working terminal and the folder as its
  // directory; what it leaves there shows in the new list.
  pty.Send("z\r");
  ASSERT_TRUE(pty.WaitFor("child$ ")) << pty.Output();
  pty.Send("pwd > \"$HOME/shell-dir\"; cp 0000.TXT 0007.TXT; exit\r");
  ASSERT_TRUE(pty.WaitFor(Row(3, false, 7))) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  EXPECT_EQ(box.ReadFile("shell-dir"), Canonical(box, "mbox/inbox") + "\n");

  pty.Send("k\r");
  ASSERT_TRUE(pty.WaitFor("New Folder name:")) << pty.Output();
  pty.Send("work\r");
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("c\r");
  ASSERT_TRUE(pty.WaitFor("4 work")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("Select:")) << pty.Output();
  pty.Send("4\r");
  ASSERT_TRUE(pty.WaitFor("(work):")) << pty.Output();
  // Receiving is refused offline, and the menu still returns to inbox.
  pty.Send("g\r");
  ASSERT_TRUE(pty.WaitFor("cannot getting!")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("v\r");
  ASSERT_TRUE(pty.WaitFor("Select:")) << pty.Output();
  pty.Send("4\r");
  ASSERT_TRUE(pty.WaitFor("Folder work Removed")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("Q\r");
  EXPECT_EQ(pty.Finish(), 0);
  EXPECT_FALSE(box.Exists("mbox/work"));
}

TEST(MenuPty, ShellVariableUnset) {
  Sandbox box;
  MakeMenuBox(box, 1);
  PtySession pty(box, {}, kOffline);
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("z\r");
  ASSERT_TRUE(pty.WaitFor("child process not execute!")) << pty.Output();
  ASSERT_TRUE(pty.WaitFor("(inbox):")) << pty.Output();
  pty.Send("0\r");
  EXPECT_EQ(pty.Finish(), 0);
}

}  // namespace
}  // namespace quillo::test
