#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tests/support/harness.h"

namespace quillo {
namespace {

const char* const kVariables[] = {"MBOX", "POPSERVER", "USER", "EDITOR", "SIGNATURE", "TMP",
                                  "NAME", "LINE",      "PAGER", "QUILLO"};

// Loads settings inside a sandbox with only the given variables set.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDir_ = std::filesystem::current_path();
    for (const char* v : kVariables) {
      if (const char* old = getenv(v)) saved_.emplace_back(v, old);
      unsetenv(v);
    }
    std::filesystem::current_path(box.dir());
  }
  void TearDown() override {
    std::filesystem::current_path(oldDir_);
    for (const char* v : kVariables) unsetenv(v);
    for (const auto& [k, v] : saved_) setenv(k.c_str(), v.c_str(), 1);
  }
  int Load(std::vector<std::string>* folders = nullptr) {
    GetSettings() = Settings{};
    testing::internal::CaptureStderr();
    int rc = LoadSettings("/nonexistent/bin/quillo", [folders](const std::string& f) {
      if (folders) folders->push_back(f);
      return 1;
    });
    err = testing::internal::GetCapturedStderr();
    return rc;
  }
  test::Sandbox box;
  std::string err;

 private:
  std::filesystem::path oldDir_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(SettingsTest, PrecedenceDefaultsEnvironmentFile) {
  setenv("MBOX", "/env/mail/", 1);
  setenv("EDITOR", "env-editor", 1);
  setenv("LINE", "50", 1);
  setenv("TMP", "/var/tmp/", 1);
  box.WriteFile("quillo.ini", "POPserver=pop.example\nPOPLogin=taro\nmailto=t@example.jp\neditor=vi\nlines=\n");
  std::vector<std::string> folders;
  ASSERT_EQ(Load(&folders), 0) << err;
  const Settings& s = GetSettings();
  EXPECT_EQ(s.mailbox, "/env/mail");
  EXPECT_EQ(s.editor, "vi");  // the file beats the environment
  EXPECT_EQ(s.lines, 50);     // an empty file value keeps the environment's
  EXPECT_EQ(s.tmp, "/var/tmp");
  EXPECT_EQ(s.SMTPserver, "pop.example");
  EXPECT_EQ(s.smtpServerGiven, 0);
  EXPECT_EQ(s.headlist, 1);
  EXPECT_EQ(s.quotePrefix, ">");
  EXPECT_EQ(s.timeout, 60);
  EXPECT_EQ(folders, (std::vector<std::string>{"inbox", "outbox", "trash"}));
}

TEST_F(SettingsTest, NumbersFlagsAndCuts) {
  box.WriteFile("quillo.ini",
                "POPserver=h\nPOPLogin=" + std::string(60, 'L') + "\nmailto=a@b\nSMTPserver=smtp.example\n"
                "serverdel=257\nheadlist=0\nLogdisp= 1x\nReciveheadlong=-1\nlines=2\ntimeout=5\n"
                "passwd=" + std::string(30, 'p') + "\nmailbox=/m/\nSMTPpasswd=" + std::string(20000, 's') +
                "\npasswdcmd=" + std::string(70000, 'c') + "\n");
  ASSERT_EQ(Load(), 0) << err;
  const Settings& s = GetSettings();
  EXPECT_EQ(s.POPLogin, std::string(39, 'L'));
  // Passwords and tokens are not cut below 64 KiB; a command past that is.
  EXPECT_EQ(s.passwd, std::string(30, 'p'));
  EXPECT_EQ(s.SMTPpasswd, std::string(20000, 's'));
  EXPECT_EQ(s.passwdcmd, std::string(64 * 1024, 'c'));
  EXPECT_EQ(s.serverdel, 1);  // the low 8 bits
  EXPECT_EQ(s.headlist, 0);
  EXPECT_EQ(s.Logdisp, 1);
  EXPECT_EQ(s.Reciveheadlong, 255);
  EXPECT_EQ(s.lines, 4);  // too few lines would break paging
  EXPECT_EQ(s.timeout, 5);
  EXPECT_EQ(s.mailbox, "/m");
  EXPECT_EQ(s.smtpServerGiven, 1);
}

TEST_F(SettingsTest, FileLocations) {
  box.WriteFile("conf/quillo.ini", "POPserver=from-quillo-var\nPOPLogin=u\nmailto=a@b\n");
  setenv("QUILLO", box.Path("conf").c_str(), 1);
  ASSERT_EQ(Load(), 0) << err;
  EXPECT_EQ(GetSettings().POPserver, "from-quillo-var");
  box.WriteFile("quillo.ini", "POPserver=from-cwd\nPOPLogin=u\nmailto=a@b\n");
  ASSERT_EQ(Load(), 0) << err;
  EXPECT_EQ(GetSettings().POPserver, "from-cwd");
}

TEST_F(SettingsTest, FolderFailureIsReported) {
  box.WriteFile("quillo.ini", "POPserver=h\nPOPLogin=u\nmailto=a@b\n");
  GetSettings() = Settings{};
  testing::internal::CaptureStderr();
  std::vector<std::string> asked;
  int rc = LoadSettings("", [&](const std::string& f) {
    asked.push_back(f);
    return f == "outbox" ? 0 : 1;
  });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "folder error!\a\n");
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(asked, (std::vector<std::string>{"inbox", "outbox"}));
}

// Without LINE and lines the console's height is the terminal's; output
// that goes to a pipe keeps the default.
TEST_F(SettingsTest, LinesFromTheTerminalWhenNothingSetsThem) {
  struct Case {
    const char* name;
    unsigned short rows;  // of the terminal
    const char* line;     // LINE, or null
    std::string file;     // extra settings lines
    int expected;
  };
  const std::vector<Case> cases = {
      {"the terminal's height", 40, nullptr, "", 40},
      {"LINE wins", 40, "30", "", 30},
      {"the file wins", 40, nullptr, "lines=12\n", 12},
      {"an empty value sets nothing", 33, nullptr, "lines=\n", 33},
      {"a tiny terminal still gets the least", 2, nullptr, "", 4},
  };
  for (const Case& c : cases) {
    box.WriteFile("quillo.ini", "POPserver=h\nPOPLogin=u\nmailto=a@b\n" + c.file);
    const test::PtyCallResult r = test::PtyCall(
        [&c] {
          struct winsize size {};
          size.ws_row = c.rows;
          size.ws_col = 80;
          if (ioctl(STDOUT_FILENO, TIOCSWINSZ, &size) != 0) return -2;
          if (c.line) setenv("LINE", c.line, 1);
          GetSettings() = Settings{};
          if (LoadSettings("/nonexistent/bin/quillo", [](const std::string&) { return 1; }) != 0) return -3;
          return GetSettings().lines;
        },
        "");
    EXPECT_EQ(r.result, c.expected) << c.name << r.output;
  }
  box.WriteFile("quillo.ini", "POPserver=h\nPOPLogin=u\nmailto=a@b\n");
  int rc = -1;
  test::WithPipedKeys("", [&] { rc = Load(); });
  EXPECT_EQ(rc, 0) << err;
  EXPECT_EQ(GetSettings().lines, 25);
}

}  // namespace
}  // namespace quillo
