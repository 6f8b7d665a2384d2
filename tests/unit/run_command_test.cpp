#include "console/run_command.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>

#include "console/pager.h"
#include "platform/files.h"
#include "platform/process.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

using test::Sandbox;
using test::WithPipedKeys;

// A program that records its directory and each argument in `where`.
std::string MakeRecorder(const Sandbox& box) {
  box.WriteFile("bin/rec", "#!/bin/sh\n{ pwd; printf '%s|\\n' \"$@\"; } > '" + box.Path("where") + "'\n");
  std::filesystem::permissions(box.Path("bin/rec"), std::filesystem::perms::owner_all);
  return box.Path("bin/rec");
}

std::string Canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

// Runs `body` with the current directory set to `dir`, and puts it back.
void InDirectory(const std::string& dir, const std::function<void()>& body) {
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(dir));
  body();
  ChangeDirectory(before);
}

struct PathCase {
  const char* name;
  std::string folder;  // relative to the sandbox
  bool relative;       // hand the path over relative to the sandbox
};

const std::vector<PathCase> kPathCases = {
    {"plain", "mbox/inbox", false},
    {"blank and quote", "my mail/it's", false},
    {"shell characters", "x;$(touch pwned)`y`", false},
    {"relative path", "mbox/inbox", true},
};

class RunCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings() = Settings{};
    recorder = MakeRecorder(box);
  }
  void TearDown() override { GetSettings() = Settings{}; }

  Sandbox box;
  std::string recorder;
};

TEST_F(RunCommandTest, CommandGetsThePathAsOneArgumentInItsDirectory) {
  for (const PathCase& c : kPathCases) {
    box.WriteFile(c.folder + "/0001.TXT", "x\n");
    const std::string absolute = box.Path(c.folder + "/0001.TXT");
    const std::string given = c.relative ? c.folder + "/0001.TXT" : absolute;
    std::string out;
    InDirectory(box.dir(), [&] {
      out = WithPipedKeys(recorder + "\n", [&] { RunCommandOnFile(given); });
      EXPECT_EQ(CurrentDirectory(), box.dir()) << c.name;
    });
    EXPECT_EQ(out, "Target file:" + given + "\ncommand:" + recorder + "\r\n" + recorder + " " +
                       ShellQuote(absolute) + "\n")
        << c.name;
    EXPECT_EQ(box.ReadFile("where"), Canonical(box.Path(c.folder)) + "\n" + absolute + "|\n") << c.name;
    EXPECT_FALSE(box.Exists("pwned")) << c.name;
    std::filesystem::remove(box.Path("where"));
  }
}

TEST_F(RunCommandTest, NothingRunsWithoutACommand) {
  box.WriteFile("mbox/inbox/0001.TXT", "x\n");
  const std::string file = box.Path("mbox/inbox/0001.TXT");
  // Made runnable, a message would be run by the shell as a command.
  box.WriteFile("mbox/inbox/0001.TXT", "#!/bin/sh\ntouch '" + box.Path("ran") + "'\n");
  std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  struct Case {
    std::string keys;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"\n", "Target file:" + file + "\ncommand:\r\n"},
      {"  \n", "Target file:" + file + "\ncommand:  \r\n"},
      {"abc\x1b", "Target file:" + file + "\ncommand:abc\r\n"},
      {"", "Target file:" + file + "\ncommand:\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithPipedKeys(c.keys, [&] { RunCommandOnFile(file); }), c.out) << c.keys;
    EXPECT_FALSE(box.Exists("ran")) << c.keys;
  }
}

TEST_F(RunCommandTest, ExternalPagerGetsThePathAsOneArgumentInItsDirectory) {
  // The pager setting may carry its own options.
  GetSettings().pager = recorder + " -n";
  for (const PathCase& c : kPathCases) {
    box.WriteFile(c.folder + "/0001.TXT", "x\n");
    const std::string absolute = box.Path(c.folder + "/0001.TXT");
    std::string out;
    InDirectory(box.dir(), [&] {
      out = WithPipedKeys("", [&] { ShowFile(c.relative ? c.folder + "/0001.TXT" : absolute); });
      EXPECT_EQ(CurrentDirectory(), box.dir()) << c.name;
    });
    EXPECT_EQ(out, "") << c.name;
    EXPECT_EQ(box.ReadFile("where"), Canonical(box.Path(c.folder)) + "\n-n|\n" + absolute + "|\n") << c.name;
    EXPECT_FALSE(box.Exists("pwned")) << c.name;
  }
}

class RunShellTest : public RunCommandTest {
 protected:
  void SetUp() override {
    RunCommandTest::SetUp();
    saved = GetEnv("SHELL");
  }
  void TearDown() override {
    if (saved) {
      setenv("SHELL", saved->c_str(), 1);
    } else {
      unsetenv("SHELL");
    }
    RunCommandTest::TearDown();
  }
  std::optional<std::string> saved;
};

TEST_F(RunShellTest, StartsTheShellWithoutACommandInTheFolder) {
  box.MakeDir("mbox/inbox");
  box.WriteFile("bin/shell", "#!/bin/sh\n{ pwd; echo \"$#\"; } > '" + box.Path("where") + "'\n");
  std::filesystem::permissions(box.Path("bin/shell"), std::filesystem::perms::owner_all);
  setenv("SHELL", box.Path("bin/shell").c_str(), 1);
  const std::string before = CurrentDirectory();
  const std::string out = WithPipedKeys("", [&] { RunShell(box.Path("mbox/inbox") + "/"); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(box.ReadFile("where"), Canonical(box.Path("mbox/inbox")) + "\n0\n");
  EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(RunShellTest, WithoutShellNothingStarts) {
  for (bool empty : {false, true}) {
    if (empty) {
      setenv("SHELL", "", 1);
    } else {
      unsetenv("SHELL");
    }
    EXPECT_EQ(WithPipedKeys("", [&] { RunShell(box.dir() + "/"); }), "child process not execute!\n");
  }
}

}  // namespace
}  // namespace quillo
