#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace quillo::test {
namespace {

const std::string kBanner = "Quillo Ver.0.61 - console mail client\n";
const std::string kUsage =
    "\r\nusage1>quillo -g [-a] [-p <password>]\r\n"
    "usage2>quillo -s\r\n"
    "usage3>quillo -b [-a] [-p <password>]\r\n"
    "usage4>quillo [-e{0|1}] -w [<address>] [-i <insert-file>] [-attach <file>]...\r\n"
    "usage5>quillo [-e{0|1}] -f <forrow-orginal-file>\r\n"
    "usage6>quillo [-t <target-folder>] -m <target-file>\r\n"
    "usage7>quillo [-t <target-folder>] [-o] [-/] -l\r\n"
    "usage8>quillo [-p <password>] [-e{0|1}]\r\n"
    "usage9>quillo [-p <password>] --check\r\n";

TEST(StartupHelp, EveryHelpSpellingPrintsUsageEvenWithoutSettings) {
  Sandbox box;  // no quillo.ini anywhere
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"-?"}, {"/?"}, {"-help"}, {"/HELP"}, {"--help"}, {"-x", "-?"}, {"-g", "-Help"}}) {
    RunResult r = box.Run(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_EQ(r.err, kBanner + kUsage) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
  }
}

TEST(StartupHelp, VersionPrintsAndSucceeds) {
  Sandbox box;
  RunResult r = box.Run({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "quillo 0.61\n");
}

struct OptionErrorCase {
  std::vector<std::string> args;
  std::string message;
};

TEST(StartupOptions, ErrorsEndWithStatusOne) {
  Sandbox box;
  box.WriteIni();
  box.MakeMailbox();
  const std::vector<OptionErrorCase> cases = {
      {{"-p"}, "\r\nPassword error!\r\n"},
      {{"-e2", "-g"}, "\r\nEdit Frag Error!\r\n"},
      {{"-e"}, "\r\nEdit Frag Error!\r\n"},
      {{"-Ex"}, "\r\nEdit Frag Error!\r\n"},
      {{"-i"}, "\r\nInsertfile error!\r\n"},
      {{"-include"}, "\r\nInsertfile error!\r\n"},
      {{"-t"}, "\r\ntarget folder error!\r\n"},
      {{"-m"}, "\r\ntarget file error!\r\n"},
      {{"/F"}, "\r\ntarget file error!\r\n"},
      // An error ends the parse at once: later options are not looked at.
      {{"-e5", "-p"}, "\r\nEdit Frag Error!\r\n"},
      // A required argument is taken whole, even when it looks like an option.
      {{"-t", "-p", "-m"}, "\r\ntarget file error!\r\n"},
  };
  for (const auto& c : cases) {
    RunResult r = box.Run(c.args, "", {{"QUILLO_OFFLINE", "1"}});
    EXPECT_EQ(r.exitCode, 1) << c.args[0];
    EXPECT_EQ(r.err, kBanner + c.message) << c.args[0];
  }
}

TEST(StartupOptions, OptionalAddressIsTakenOnlyWhenItIsNoOption) {
  Sandbox box;
  box.WriteIni();
  box.MakeMailbox();
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"-w", "-i", "memo.txt"}, "[]\n"},
      {{"-w", "taro@example.jp"}, "[taro@example.jp]\n"},
      {{"-W", "/g"}, "[]\n"},
      {{"-w", "/home/u/addr"}, "[/home/u/addr]\n"},
      {{"-w"}, "[]\n"},
  };
  for (const auto& c : cases) {
    // End of input ends any question the draft job may ask.
    RunResult r = box.Run(c.args, "", {{"QUILLO_OFFLINE", "1"}});
    EXPECT_EQ(r.exitCode, 0) << c.args[1 % c.args.size()];
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.args[1 % c.args.size()];
  }
}

TEST(StartupOptions, SkippedWordsOpenTheMenu) {
  Sandbox box;
  box.WriteIni();
  box.MakeMailbox();
  // Plain words, -I (matches nothing) and its argument are skipped.
  RunResult r = box.Run({"hello", "-I", "memo.txt", "-zz"}, "", {{"QUILLO_OFFLINE", "1"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, kBanner + "\r\nNetwork Driver not detect!\r\n");
}

TEST(StartupSettings, ReportsMissingFileAndValuesInOrder) {
  struct Case {
    std::string ini;  // "" : no file at all
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "not ditected setupfile(quillo.ini)!\a\nlooked for: quillo.ini, " QUILLO_BIN_DIR "/quillo.ini, <home>/.config/quillo/quillo.ini\n"},
      {"POPLogin=u\nmailto=a@b\n", "POPserver error!\a\r\n"},
      {"POPserver=h\nmailto=a@b\n", "Login username error!\a\r\n"},
      {"POPserver=h\nPOPLogin=u\n", "mailaddres error!\a\r\n"},
      // An empty value counts as absent.
      {"POPserver=\nPOPLogin=u\nmailto=a@b\n", "POPserver error!\a\r\n"},
  };
  for (const auto& c : cases) {
    Sandbox box;
    box.MakeMailbox();
    if (!c.ini.empty()) box.WriteFile("quillo.ini", "mailbox=" + box.Path("mbox") + "\n" + c.ini);
    RunResult r = box.Run({"-l"});
    std::string message = c.message;
    if (auto home = message.find("<home>"); home != std::string::npos) message.replace(home, 6, box.dir());
    EXPECT_EQ(r.exitCode, 1) << c.ini;
    EXPECT_EQ(r.err, kBanner + message) << c.ini;
  }
}

TEST(StartupSettings, FileFoundWhereUnixUsersKeepIt) {
  const std::string ini = "POPserver=h\nPOPLogin=u\nmailto=a@b\n";
  {
    Sandbox box;
    box.MakeMailbox();
    box.WriteFile(".config/quillo/quillo.ini", "mailbox=" + box.Path("mbox") + "\n" + ini);
    RunResult r = box.Run({}, "", {{"QUILLO_OFFLINE", "1"}});  // HOME is the sandbox
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  {
    Sandbox box;
    box.MakeMailbox();
    box.WriteFile("xdg/quillo/quillo.ini", "mailbox=" + box.Path("mbox") + "\n" + ini);
    RunResult r = box.Run({}, "", {{"QUILLO_OFFLINE", "1"}, {"XDG_CONFIG_HOME", box.Path("xdg") + "/"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The current directory still comes first.
    box.WriteFile("quillo.ini", "mailbox=" + box.Path("mbox") + "\nPOPLogin=u\nmailto=a@b\n");
    r = box.Run({"-l"}, "", {{"XDG_CONFIG_HOME", box.Path("xdg")}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, kBanner + "POPserver error!\a\r\n");
  }
}

TEST(StartupSettings, FileFoundThroughQuilloVariableWithoutTrailingSlash) {
  Sandbox box;
  box.MakeMailbox();
  box.WriteFile("conf/quillo.ini", "mailbox=" + box.Path("mbox") + "\nPOPserver=h\nPOPLogin=u\nmailto=a@b\n");
  RunResult r = box.Run({}, "", {{"QUILLO", box.Path("conf")}, {"QUILLO_OFFLINE", "1"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, kBanner + "\r\nNetwork Driver not detect!\r\n");
}

TEST(StartupSettings, EnvironmentFillsWhatTheFileLeavesOut) {
  Sandbox box;
  box.MakeMailbox();
  // The mailbox comes from MBOX (its trailing slash removed), the server from
  // POPSERVER and the login from USER.
  box.WriteFile("quillo.ini", "mailto=a@b\nlines=\n");
  RunResult r = box.Run({}, "", {{"MBOX", box.Path("mbox") + "/"}, {"POPSERVER", "pop.example"}, {"USER", "taro"},
                                 {"QUILLO_OFFLINE", "1"}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(StartupFolders, MissingMailboxAndFoldersAreCreatedWithConsent) {
  Sandbox box;
  box.WriteIni();
  RunResult r = box.Run({}, "y\ny\ny\ny\n", {{"QUILLO_OFFLINE", "1"}});
  EXPECT_EQ(r.exitCode, 0);
  const std::string questions = "no identify folder directry(" + box.Path("mbox") + ")\n create?(Y/N) : y\r\n" +
                                "no identify folder(inbox)  create?(Y/N) : y\r\n" +
                                "no identify folder(outbox)  create?(Y/N) : y\r\n" +
                                "no identify folder(trash)  create?(Y/N) : y\r\n";
  // The menu of the new, empty inbox follows and ends with the input.
  EXPECT_EQ(r.out.substr(0, questions.size()), questions);
  EXPECT_TRUE(r.out.ends_with("(inbox):\r\n")) << r.out;
  EXPECT_EQ(r.err, kBanner + "created.\ncreated.\ncreated.\ncreated.\n\r\nNetwork Driver not detect!\r\n");
  EXPECT_EQ(box.List("mbox"), (std::vector<std::string>{"inbox", "outbox", "trash"}));
}

TEST(StartupFolders, RefusedFolderFailsSettings) {
  Sandbox box;
  box.WriteIni();
  box.MakeDir("mbox/inbox");
  RunResult r = box.Run({"-l"}, "n\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "no identify folder(outbox)  create?(Y/N) : n\r\n");
  EXPECT_EQ(r.err, kBanner + "folder error!\a\n");
  EXPECT_FALSE(box.Exists("mbox/outbox"));
}

TEST(StartupFolders, MailboxThatIsAFileIsRefusedWithoutAQuestion) {
  Sandbox box;
  box.WriteIni();
  box.WriteFile("mbox", "not a directory");
  RunResult r = box.Run({"-l"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kBanner + "file already!(" + box.Path("mbox") + ")\a\nfolder error!\a\n");
}

TEST(StartupFolders, EndOfInputAnswersNo) {
  Sandbox box;
  box.WriteIni();
  RunResult r = box.Run({"-l"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(box.Exists("mbox"));
}

}  // namespace
}  // namespace quillo::test
