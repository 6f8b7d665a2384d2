// The console charset: Shift_JIS shown on a UTF-8 terminal, typed UTF-8
// stored as Shift_JIS, and the choice between them.
#include "platform/console_charset.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "platform/output.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

using test::WithPipedKeys;

const std::string kGeta = "\xE3\x80\x93";

struct ShownCase {
  const char* name;
  std::string sjis;
  std::string utf8;
};

const std::vector<ShownCase> kShownCases = {
    {"plain text passes", "plain\ttext\r\n~\\", "plain\ttext\r\n~\\"},
    {"hiragana and kanji", "\x82\xa0\x93\xfa\x96{\x8c\xea", "あ日本語"},
    {"a trail byte in the lead range", "\x88\x9f\x88\x9f", "亜亜"},
    {"half-width katakana", "\xb6\xc0\xb6\xc5", "ｶﾀｶﾅ"},
    {"NEC row 13", "\x87\x40\x87\x54", "①Ⅰ"},
    {"NEC-selected IBM extension", "\xed\x40", "纊"},
    {"IBM extension", "\xfa\x40\xfb\xfc", "ⅰ髙"},
    {"the CP932 tilde, not the wave dash", "\x81\x60", "～"},
    {"the geta mark itself", "\x81\xac", kGeta},
    {"unassigned pair", "a\x85\x40z", "a" + kGeta + "z"},
    {"user-defined row", "\xf0\x40\xf9\xfc", kGeta + kGeta},
    {"single bytes without a character keep one column", "\x80|\xa0|\xfd|\xff", "?|?|?|?"},
    {"a lead byte cut by a line end", "ab\x82\n", "ab?\n"},
    {"a lead byte before a control code", "\x93\x7f", "?\x7f"},
};

std::string Shown(const std::string& sjis) {
  SjisToUtf8Stream stream;
  std::string out;
  stream.Convert(sjis, out);
  return out;
}

TEST(ConsoleCharsetShown, Cases) {
  for (const ShownCase& c : kShownCases) EXPECT_EQ(Shown(c.sjis), c.utf8) << c.name;
}

// Writers hand over text in arbitrary pieces; the result must not depend on
// where a piece ends.
TEST(ConsoleCharsetShown, PiecesOfAnySizeGiveTheSameText) {
  const std::string sjis = "x\x82\xa0\xb6\x88\x9f\x87\x40 \x85\x40\x82\n\x93\xfa";
  const std::string whole = Shown(sjis);
  ASSERT_EQ(whole, "xあｶ亜① " + kGeta + "?\n日");
  for (size_t cut = 0; cut <= sjis.size(); ++cut) {
    SjisToUtf8Stream stream;
    std::string out;
    stream.Convert(sjis.substr(0, cut), out);
    stream.Convert(sjis.substr(cut), out);
    EXPECT_EQ(out, whole) << "cut at " << cut;
  }
  SjisToUtf8Stream stream;
  std::string out;
  for (char c : sjis) stream.Convert(std::string(1, c), out);
  EXPECT_EQ(out, whole) << "byte by byte";
}

// Plain text is skipped eight bytes at a time; a character anywhere in a
// word must still be found.
TEST(ConsoleCharsetShown, ACharacterAtAnyPlaceAmongPlainText) {
  for (size_t at = 0; at < 20; ++at) {
    std::string sjis(20, 'a');
    sjis.insert(at, kShownCases[1].sjis.substr(0, 2));
    EXPECT_EQ(AsciiPrefixLength(sjis), at);
    EXPECT_EQ(Shown(sjis), std::string(at, 'a') + "あ" + std::string(20 - at, 'a')) << at;
  }
  EXPECT_EQ(AsciiPrefixLength(std::string(19, 'a')), 19u);
}

TEST(ConsoleCharsetShown, ALeadByteWaitsForItsTrail) {
  SjisToUtf8Stream stream;
  std::string out;
  stream.Convert("a\x82", out);
  EXPECT_EQ(out, "a");
  EXPECT_TRUE(stream.Pending());
  stream.Convert("", out);
  EXPECT_TRUE(stream.Pending());
  stream.Convert("\xa0", out);
  EXPECT_EQ(out, "aあ");
  EXPECT_FALSE(stream.Pending());
}

TEST(ConsoleCharsetTyped, Utf8CharacterToSjis) {
  struct Case {
    std::string utf8;
    std::optional<std::string> sjis;
  };
  const std::vector<Case> cases = {
      {"あ", "\x82\xa0"},
      {"ｶ", "\xb6"},
      {"①", "\x87\x40"},
      {"髙", "\xfb\xfc"},
      {"〓", "\x81\xac"},
      {"a", "a"},
      {"é", std::nullopt},
      {"€", std::nullopt},
      {"😀", std::nullopt},
      {"ああ", std::nullopt},            // two characters
      {"\xe3\x81", std::nullopt},        // incomplete
      {"\xc0\xaf", std::nullopt},        // overlong '/'
      {"\xed\xa0\x80", std::nullopt},    // a surrogate
      {"\x82", std::nullopt},            // no UTF-8 lead byte
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    std::string sjis = "stale";
    const bool ok = Utf8CharToSjis(c.utf8, sjis);
    EXPECT_EQ(ok, c.sjis.has_value()) << c.utf8;
    if (ok && c.sjis) {
      EXPECT_EQ(sjis, *c.sjis) << c.utf8;
    }
  }
}

using Vars = std::map<std::string, std::optional<std::string>>;

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
 public:
  explicit ScopedEnv(const Vars& values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ConsoleCharsetLocale, CodesetOfTheEnvironmentDecides) {
  // The UTF-8 cases use the C.UTF-8 locale, which glibc's libc-bin package provides.
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr) << "the C.UTF-8 locale is missing (package libc-bin)";
  std::setlocale(LC_CTYPE, "C");
  const std::nullopt_t unset = std::nullopt;
  struct Case {
    const char* name;
    Vars vars;
    ConsoleCharset expected;
  };
  const std::vector<Case> cases = {
      {"LANG", {{"LC_ALL", unset}, {"LC_CTYPE", unset}, {"LANG", "C.UTF-8"}}, ConsoleCharset::kUtf8},
      {"empty LC_ALL is no setting", {{"LC_ALL", ""}, {"LC_CTYPE", unset}, {"LANG", "C.UTF-8"}},
       ConsoleCharset::kUtf8},
      {"LC_ALL=C wins", {{"LC_ALL", "C"}, {"LC_CTYPE", unset}, {"LANG", "C.UTF-8"}}, ConsoleCharset::kShiftJis},
      {"LC_CTYPE over LANG", {{"LC_ALL", unset}, {"LC_CTYPE", "C.UTF-8"}, {"LANG", "C"}}, ConsoleCharset::kUtf8},
      {"POSIX", {{"LC_ALL", unset}, {"LC_CTYPE", unset}, {"LANG", "POSIX"}}, ConsoleCharset::kShiftJis},
      {"nothing set", {{"LC_ALL", unset}, {"LC_CTYPE", unset}, {"LANG", unset}}, ConsoleCharset::kShiftJis},
      // A locale that is not installed still names its codeset.
      {"missing UTF-8 locale", {{"LC_ALL", unset}, {"LC_CTYPE", unset}, {"LANG", "xx_YY.utf8@euro"}},
       ConsoleCharset::kUtf8},
      {"missing other locale", {{"LC_ALL", unset}, {"LC_CTYPE", unset}, {"LANG", "xx_YY.ISO-8859-1"}},
       ConsoleCharset::kShiftJis},
  };
  for (const Case& c : cases) {
    ScopedEnv env(c.vars);
    EXPECT_EQ(LocaleConsoleCharset(), c.expected) << c.name;
    // The question must leave the process's own character classes alone.
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C") << c.name;
  }
}

TEST(ConsoleCharsetLocale, SettingValues) {
  ScopedEnv env(Vars{{"LC_ALL", "C"}});
  struct Case {
    const char* value;
    std::optional<ConsoleCharset> expected;
  };
  const std::vector<Case> cases = {
      {"auto", ConsoleCharset::kShiftJis},  {"AUTO", ConsoleCharset::kShiftJis},
      {"", ConsoleCharset::kShiftJis},      {"sjis", ConsoleCharset::kShiftJis},
      {"SJIS", ConsoleCharset::kShiftJis},  {"utf-8", ConsoleCharset::kUtf8},
      {"UTF-8", ConsoleCharset::kUtf8},     {"utf8", ConsoleCharset::kUtf8},
      {" utf-8\t", ConsoleCharset::kUtf8}, {"latin1", std::nullopt},
      {"utf 8", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ConsoleCharsetSetting(c.value), c.expected) << c.value;
  ScopedEnv utf8(Vars{{"LC_ALL", "C.UTF-8"}});
  EXPECT_EQ(ConsoleCharsetSetting("auto"), ConsoleCharset::kUtf8);
}

TEST(ConsoleCharsetLocale, SettingsFileKey) {
  test::Sandbox box;
  const auto oldDir = std::filesystem::current_path();
  std::filesystem::current_path(box.dir());
  auto load = [&](const std::string& extra) {
    box.WriteFile("quillo.ini", "POPserver=h\nPOPLogin=u\nmailto=a@b\n" + extra);
    GetSettings() = Settings{};
    testing::internal::CaptureStderr();
    const int rc = LoadSettings("/nonexistent/quillo", [](const std::string&) { return 1; });
    testing::internal::GetCapturedStderr();
    return rc;
  };
  EXPECT_EQ(load(""), 0);
  EXPECT_EQ(GetSettings().console, "auto");
  EXPECT_EQ(load("console = utf-8\n"), 0);
  EXPECT_EQ(GetSettings().console, " utf-8");
  EXPECT_EQ(load("console=" + std::string(40, 's') + "\n"), 0);
  EXPECT_EQ(GetSettings().console, std::string(15, 's'));
  std::filesystem::current_path(oldDir);
}

// The writer converts in UTF-8 mode only; each stream keeps its own
// half-written character.
class ConsoleCharsetWriter : public ::testing::Test {
 protected:
  void TearDown() override { SetConsoleCharset(ConsoleCharset::kShiftJis); }

  // Runs `body` with standard error going to a file; returns what it got.
  static std::string CaptureErr(const std::function<void()>& body) {
    char name[] = "/tmp/quillo-err-XXXXXX";
    const int fd = mkstemp(name);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(fd, 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(fd);
    std::ifstream f(name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    unlink(name);
    return ss.str();
  }
};

TEST_F(ConsoleCharsetWriter, ShiftJisModeWritesTheBytesAsTheyAre) {
  SetConsoleCharset(ConsoleCharset::kShiftJis);
  const std::string out = WithPipedKeys("", [] {
    WriteOut("\x93\xfa");
    PrintOut("%s\n", "\x96{\x85\x40");
  });
  EXPECT_EQ(out, "\x93\xfa\x96{\x85\x40\n");
}

TEST_F(ConsoleCharsetWriter, Utf8ModeConvertsBothStreamsSeparately) {
  SetConsoleCharset(ConsoleCharset::kUtf8);
  std::string err;
  const std::string out = WithPipedKeys("", [&] {
    err = CaptureErr([] {
      WriteOut("(\x82");
      WriteErr("\x93");          // the error stream's own lead byte
      WriteOut("\xa0)");         // completes the output's character
      PrintErr("\xfa%s\n", "");  // and this one the error stream's
      PrintOut("%s|%4d\n", "\x83\x81\x81[\x83\x8b", 7);
    });
  });
  EXPECT_EQ(out, "(あ)メール|   7\n");
  EXPECT_EQ(err, "日\n");
}

}  // namespace
}  // namespace quillo
