// Moving when things break: the program killed in the middle of a move of
// many messages, and a full disk under the menu's renumbering and deleting.
// Afterwards every message is in its old or its new folder, byte for byte,
// and the next run finishes the work.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/fault_fixture.h"
#include "tests/support/harness.h"
#include "tests/support/other_file_system.h"

namespace quillo::test {
namespace {

std::string Format4(int n) {
  char name[16];
  std::snprintf(name, sizeof name, "%04d", n);
  return name;
}

// The contents of the messages in `dir` (a sandbox path, or an absolute one).
std::vector<std::string> ContentsIn(const Sandbox& box, const std::string& dir) {
  if (!dir.empty() && dir[0] == '/') {
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      std::string name = e.path().filename().string();
      if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".txt") == 0) {
        std::ifstream in(e.path(), std::ios::binary);
        all.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
    }
    return all;
  }
  return MessageContents(box, dir);
}

// A move killed at three points, then run again to its end. Within one file
// system a message changes its name in one step, so it is never in two
// places; from another file system it is copied first and its source
// removed after, and a kill between the two leaves it in both places, whole:
// that one duplicate per kill cannot be avoided when the bytes must be
// copied. No kill leaves part of a message where a listing shows it.
TEST(FaultMove, AMoveKilledHalfWayLosesNoMessage) {
  constexpr int kMessages = 1500;
  struct Case {
    const char* name;
    bool fromOtherFileSystem;
    size_t duplicatesPerKill;
  };
  const std::vector<Case> cases = {
      {"within the mailbox", false, 0},
      {"from another file system", true, 1},
  };
  for (const Case& c : cases) {
    Sandbox box;
    OtherFileSystem other(box);
    if (c.fromOtherFileSystem && !other.Usable()) {
      std::fprintf(stderr, "no second file system (/dev/shm) here: case \"%s\" not run\n", c.name);
      continue;
    }
    box.MakeMailbox();
    box.MakeDir("mbox/work");
    box.WriteIni();
    const std::string sourceDir = c.fromOtherFileSystem ? other.dir() : box.Path("mbox/inbox");
    // Every 25th message is large, so that a kill often finds a copy under way.
    std::map<std::string, int> expected;
    for (int i = 0; i < kMessages; ++i) {
      std::string content = "Subject: message " + std::to_string(i) + "\n\nbody " + std::to_string(i) + "\n";
      if (i % 25 == 0) content += std::string(512 * 1024, static_cast<char>('a' + i % 26)) + "\n";
      std::ofstream(sourceDir + "/" + Format4(i) + ".TXT", std::ios::binary) << content;
      ++expected[content];
    }
    const std::vector<std::string> args{"-m", sourceDir + "/*.TXT", "-t", "work"};

    size_t kills = 0;
    size_t interrupted = 0;  // kills that found the move under way
    for (size_t point : {size_t{1}, size_t{300}, size_t{900}}) {
      KillWhenReached(Spawn(box, args), box, "mbox/work", point);
      ++kills;
      std::map<std::string, int> found;
      const std::vector<std::string> left = ContentsIn(box, sourceDir);
      if (!left.empty()) ++interrupted;
      for (const std::string& content : left) ++found[content];
      for (const std::string& content : ContentsIn(box, "mbox/work")) ++found[content];
      size_t duplicates = 0;
      for (const auto& [content, n] : found) {
        ASSERT_TRUE(expected.count(content)) << c.name << ": a message file that is no whole message, "
                                             << content.size() << " bytes, after kill " << kills;
        duplicates += static_cast<size_t>(n - 1);
      }
      EXPECT_EQ(found.size(), expected.size()) << c.name << ": messages lost after kill " << kills;
      EXPECT_LE(duplicates, c.duplicatesPerKill * kills) << c.name;
    }

    EXPECT_GT(interrupted, 0u) << c.name << ": no kill came before the move's end";

    RunResult last = box.Run(args);
    EXPECT_EQ(last.exitCode, 0) << c.name << last.err;
    EXPECT_EQ(last.out.find("mail move error!"), std::string::npos) << c.name;
    EXPECT_TRUE(ContentsIn(box, sourceDir).empty()) << c.name;
    std::map<std::string, int> moved;
    for (const std::string& content : ContentsIn(box, "mbox/work")) ++moved[content];
    EXPECT_EQ(moved.size(), expected.size()) << c.name;
    size_t duplicates = 0;
    for (const auto& [content, n] : moved) duplicates += static_cast<size_t>(n - 1);
    EXPECT_LE(duplicates, c.duplicatesPerKill * kills) << c.name;
  }
}

// Renumbering and deleting need no room on the disk: a message only changes
// its name. With not one byte to spare both still work and lose nothing.
TEST(FaultMove, AFullDiskStopsNeitherRenumberingNorDeleting) {
  Sandbox box;
  box.MakeMailbox();
  box.WriteIni();
  const std::vector<std::string> contents = {"Subject: a\n\nfirst\n", "Subject: b\n\nsecond\n", "Subject: c\n\nthird\n"};
  box.WriteFile("mbox/inbox/0003.TXT", contents[0]);
  box.WriteFile("mbox/inbox/0007.TXT", contents[1]);
  box.WriteFile("mbox/inbox/0010.TXT", contents[2]);
  RunResult r;
  {
    FileSizeLimit limit(1);
    r = box.Run({}, "n\nd\nq\n", {{"QUILLO_OFFLINE", "1"}});
  }
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Renumbering txt->tmp....\nRenumbering tmp->txt....\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("File Moveing " + box.Path("mbox/inbox/0000.txt") + "->" + box.Path("mbox/trash/0000.txt")),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("mail move error!"), std::string::npos) << r.out;
  EXPECT_EQ(box.List("mbox/inbox"), (std::vector<std::string>{"0001.txt", "0002.txt"}));
  EXPECT_EQ(box.ReadFile("mbox/inbox/0001.txt"), contents[1]);
  EXPECT_EQ(box.ReadFile("mbox/inbox/0002.txt"), contents[2]);
  EXPECT_EQ(box.List("mbox/trash"), std::vector<std::string>{"0000.txt"});
  EXPECT_EQ(box.ReadFile("mbox/trash/0000.txt"), contents[0]);
}

}  // namespace
}  // namespace quillo::test
