#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "settings/key_value_file.h"
#include "pop/header_cache.h"
#include "pop/header_list.h"
#include "settings/key_value.h"
#include "tests/unit/pop_fixture.h"

namespace quillo::test {
namespace {

class PopCacheFile : public PopFixture {};

// One pass each way must leave what the key-by-key functions would.
TEST_F(PopCacheFile, AgreesWithReadKeyAndWriteKey) {
  // Random bytes, with line ends, NUL bytes, '=' and keys among them. No CR:
  // each key-by-key rewrite reads CR CR LF once more in text mode, so runs
  // of CRs shrink with the number of rewrites (the case of its own below).
  std::mt19937 random(9);
  std::string binary;
  const std::string pieces("\nMail0001=\noldmax=7\0=", 21);
  for (int i = 0; i < 200'000; ++i) {
    const unsigned r = random() % 300;
    const char c = r < 256 ? static_cast<char>(r) : pieces[r % pieces.size()];
    binary += c == '\r' ? 'r' : c;
  }
  struct Case {
    std::string name;
    std::string content;
    std::vector<std::pair<std::string, std::string>> sets;
    std::vector<std::string> gets;
  };
  const std::vector<Case> cases = {
      {"five digits are not four", "Mail10000=5\nMail1000=4\nHead1000=x\n", {{"Mail1000", "7"}, {"Head10000", "y"}},
       {"Mail1000", "Mail10000", "Mail100", "Head10000"}},
      {"case, blanks and tabs", "mail0001 =1\nMAIL0002\t=2\nMail0003x=3\nMail0004\n", {{"Mail0004", "4"}},
       {"Mail0001", "mail0002", "Mail0003", "Mail0004"}},
      {"duplicates: last read, all written", "oldmax=1\nother\noldmax=2\n", {{"oldmax", "3"}}, {"oldmax"}},
      {"CR LF lines and other lines", "; note\r\nMail0001=9\r\nHead0001=   1 x\r\n", {{"Mail0002", "8"}},
       {"Mail0001", "Head0001", "Mail0002"}},
      {"a missing file", "", {{"oldmax", "0"}}, {"oldmax"}},
      {"a long value is cut", "Head0001=" + std::string(300, 'z') + "\n", {}, {"Head0001"}},
      // Hostile files: the tail of a long line is never a line of its own,
      // and a rewrite keeps such a line whole.
      {"keys past a long line's first 999 bytes", "Mail0001=1\n" + std::string(999, 'x') + "Mail0001=2\n" +
           std::string(10'000, 'y') + "\noldmax=1\n",
       {{"Mail0001", "3"}, {"Mail0002", "4"}}, {"Mail0001", "oldmax"}},
      {"an '=' past the first 999 bytes", "Head0001 " + std::string(1200, 'h') + "=late\n", {{"oldmax", "1"}},
       {"Head0001"}},
      {"no line end at all", "oldmax=5" + std::string(3'000'000, '5'), {{"Mail0001", "1"}}, {"oldmax"}},
      {"no line end, key rewritten", "oldmax=5" + std::string(50'000, '5'), {{"oldmax", "1"}}, {"oldmax"}},
      {"NUL bytes", std::string("Mail0001=12\0 34\n\0Mail0002=5\nHead\0001=x\nHead0001=a\0b\n", 50),
       {{"Mail0002", "6"}}, {"Mail0001", "Mail0002", "Head0001"}},
      {"random bytes", binary, {{"Mail0001", "1"}, {"Head0001", "h"}}, {"Mail0001", "oldmax", "Head0001"}},
      {"a CR alone and CR LF", "Mail0001=1\rMail0002=2\r\n\r\r\n", {{"Mail0002", "3"}}, {"Mail0001", "Mail0002"}},
  };
  for (const Case& c : cases) {
    const std::string batchPath = box_.Path("batch.ini");
    const std::string keyPath = box_.Path("bykey.ini");
    RemoveFile(batchPath);
    RemoveFile(keyPath);
    if (!c.content.empty()) {
      box_.WriteFile("batch.ini", c.content);
      box_.WriteFile("bykey.ini", c.content);
    }
    KeyValueFile file(batchPath);
    ASSERT_TRUE(file.Load()) << c.name;
    for (const std::string& key : c.gets) {
      std::string value = "untouched";
      ReadKey(key, value, keyPath);
      if (value == "untouched") value.clear();
      EXPECT_EQ(file.Get(key), value) << c.name << " " << key;
    }
    for (const auto& [key, value] : c.sets) {
      file.Set(key, value);
      ASSERT_EQ(WriteKey(key, value, keyPath), 1) << c.name;
    }
    ASSERT_TRUE(file.Save()) << c.name;
    EXPECT_EQ(box_.ReadFile("batch.ini"), box_.ReadFile("bykey.ini")) << c.name;
    for (const std::string& name : box_.List("")) EXPECT_FALSE(name.ends_with(".part")) << c.name << " " << name;
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The peak memory of loading and saving the file at `path` in a child
// process, beyond what the child began with, in KB; -1 when the child failed.
long CacheRoundTripGrowthKb(const std::string& path, size_t lines) {
  long startKb = 0;
  std::ifstream("/proc/self/statm") >> startKb >> startKb;  // resident pages
  startKb *= sysconf(_SC_PAGESIZE) / 1024;
  const pid_t pid = fork();
  if (pid == 0) {
    KeyValueFile file(path);
    const bool ok = file.Load() && file.LineCount() == lines;
    file.Set("oldmax", "1");
    _exit(ok && file.Save() ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss - startKb;
}

// A file of millions of empty or short key lines is held in a few times its
// own size, not in a string and an index entry per line.
TEST_F(PopCacheFile, MillionsOfShortLinesCostAFewTimesTheFile) {
  struct Case {
    const char* name;
    std::string line;
    size_t lines;
  };
  const std::vector<Case> cases = {{"line ends", "\n", 8'000'000}, {"key lines", "a=\n", 3'000'000}};
  for (const Case& c : cases) {
    std::string content;
    content.reserve(c.line.size() * c.lines);
    for (size_t i = 0; i < c.lines; ++i) content += c.line;
    box_.WriteFile("big.ini", content);
    const long fileKb = static_cast<long>(content.size() / 1024);
    const long growthKb = CacheRoundTripGrowthKb(box_.Path("big.ini"), c.lines);
    ASSERT_NE(growthKb, -1) << c.name;
    // Under AddressSanitizer freed memory is held back and the parent's
    // shadow pages blur the baseline: the bound means nothing there.
    if (!kSanitized) {
      ASSERT_GE(growthKb, 0) << c.name;
      EXPECT_LT(growthKb, 6 * fileKb) << c.name << ": " << growthKb << " KB for a file of " << fileKb << " KB";
    }
    EXPECT_EQ(box_.ReadFile("big.ini"), content + "oldmax=1\n") << c.name;
  }
}

class PopDisplayLine : public PopFixture {};

TEST_F(PopDisplayLine, LayoutsAndSizes) {
  const std::string text = " " + std::string(15, 's') + " " + std::string(60, 'x');
  struct Case {
    int longLayout;
    int number;
    long size;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {0, 1, 500, "   1" + text.substr(0, 35)},
      {1, 1, 500, "   1 (  1KB)" + text.substr(0, 66)},
      {1, 2, 20480, "   2 ( 20KB)" + text.substr(0, 66)},
      {1, 3, 2047, "   3 (  1KB)" + text.substr(0, 66)},
      {1, 4, 1024 * 1500, "   4 (1500KB)" + text.substr(0, 66)},
      {1, 5, kSizeUnknown, "   5 (  ?KB)" + text.substr(0, 66)},
  };
  for (const Case& c : cases) {
    GetSettings().Reciveheadlong = c.longLayout;
    EXPECT_EQ(MakeDisplayLine(c.number, c.size, text), c.expected) << c.size;
  }
}

TEST_F(PopDisplayLine, RenumberingReplacesTheWholeNumberField) {
  const std::vector<std::tuple<int, std::string, std::string>> cases = {
      {12, "   1 sender subject", "  12 sender subject"},
      {3, "10000 sender", "   3 sender"},
      {10000, "   3 sender", "10000 sender"},
      {10000, "10000 sender", "10000 sender"},
      {2, "   1 (  1KB) sender", "   2 (  1KB) sender"},
      {5, "", "   5"},
      {5, "   ", "   5"},
      {6, "abcdefg", "   6efg"},
      {7, "   1 " + std::string(100, 'y'), "   7 " + std::string(82, 'y')},
  };
  for (const auto& [number, stored, expected] : cases) EXPECT_EQ(Renumbered(number, stored), expected) << stored;
}

class PopHeaderCache : public PopFixture {};

// More than 10,000 slots: "Mail10000" is not "Mail1000", and the number of
// an entry past 9,999 stays as wide as it is through save and load.
TEST_F(PopHeaderCache, TenThousandAndMoreSlotsRoundTrip) {
  const int count = 10'003;
  HeaderList list;
  ASSERT_TRUE(AllocateHeaderList(list, count));
  for (int k = 1; k <= count; ++k) {
    list[static_cast<size_t>(k - 1)].size = 100 + k;
    list[static_cast<size_t>(k - 1)].line = MakeDisplayLine(k, 100 + k, " sender" + std::to_string(k));
  }
  list[0].size = kSizeTaken;  // retrieved in this run: every later slot moves up one
  std::string out = WithPipedKeys("", [&] { SaveHeaderCache(list, count); });
  EXPECT_EQ(out, "Save poplist" + std::string(count - 1, '.') + "\n");

  const std::string path = HeaderCachePath();
  std::string value;
  ReadKey("Mail1000", value, path);
  EXPECT_EQ(value, "1101");
  ReadKey("Mail10000", value, path);
  EXPECT_EQ(value, "10101");
  ReadKey("Head10000", value, path);
  EXPECT_EQ(value, "10001 sender10001");
  ReadKey("oldmax", value, path);
  EXPECT_EQ(value, "10002");

  KeyValueFile cache(path);
  ASSERT_TRUE(cache.Load());
  EXPECT_EQ(TrustedCacheLine(cache, 10000, 10101), "10001 sender10001");
  EXPECT_EQ(TrustedCacheLine(cache, 1000, 10101), "");

  for (int round = 0; round < 2; ++round) {
    int loaded = -1;
    ASSERT_EQ(LoadHeaderCache(list, loaded), 0);
    ASSERT_EQ(loaded, count - 1);
    EXPECT_EQ(list[999].line, "1000 sender1001");
    EXPECT_EQ(list[9999].line, "10000 sender10001");
    EXPECT_EQ(list[10001].line, "10002 sender10003");
    // Saved again under the same numbers, the lines do not grow.
    for (HeaderEntry& e : list) e.size = 1;
    WithPipedKeys("", [&] { SaveHeaderCache(list, loaded); });
  }
}

// An edited or broken cache: a count far beyond its lines, sizes too large
// to hold, a line of 10,000 bytes. The list stays as small as the file and
// nothing too large is taken for the largest size there is.
TEST_F(PopHeaderCache, AHostileFileGivesNoMoreThanItHolds) {
  box_.WriteFile("mbox/poplist.ini", "oldmax=99999999999\nMail0001=99999999999\nHead0001=   1 huge\nMail0002=2147483647\n"
                                     "Head0002=   2 " + std::string(10'000, 'w') + "\n");
  int count = -1;
  int result = -1;
  HeaderList list;
  std::string out = WithPipedKeys("", [&] { result = LoadHeaderCache(list, count); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(count, 5);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].line, "   1 huge");
  // A value is read into 128 bytes, a line kept to 87.
  EXPECT_EQ(list[1].line, "   2 " + std::string(122, 'w').substr(0, 82));
  EXPECT_EQ(list[4].line, "   5");
  KeyValueFile cache(HeaderCachePath());
  ASSERT_TRUE(cache.Load());
  EXPECT_EQ(TrustedCacheLine(cache, 1, 2147483647), "");
  EXPECT_EQ(TrustedCacheLine(cache, 2, 2147483647), "   2 " + std::string(122, 'w'));
}

TEST_F(PopHeaderCache, ASaveClearsTheSlotsOfTheLastOneBeyondItsOwn) {
  box_.WriteFile("mbox/poplist.ini", "[kept]\nMail0001=1\nHead0001=a\nMail0002=2\nHead0002=b\nMail0003=3\n"
                                     "Head0003=c\noldmax=3\n");
  HeaderList list;
  ASSERT_TRUE(AllocateHeaderList(list, 2));
  list[0] = {kSizeTaken, "   1 taken"};
  list[1] = {42, "   2 left"};
  std::string out = WithPipedKeys("", [&] { SaveHeaderCache(list, 2); });
  EXPECT_EQ(out, "Save poplist..\n");
  // The slots beyond the saved one go from the file.
  EXPECT_EQ(box_.ReadFile("mbox/poplist.ini"), "[kept]\nMail0001=42\nHead0001=   2 left\noldmax=1\n");
  // An edited oldmax far beyond the file clears no more than the file holds.
  box_.WriteFile("mbox/poplist.ini", "oldmax=2000000000\n");
  list.clear();
  out = WithPipedKeys("", [&] { SaveHeaderCache(list, 0); });
  EXPECT_EQ(out, "Save poplist.\n");
}

}  // namespace
}  // namespace quillo::test
