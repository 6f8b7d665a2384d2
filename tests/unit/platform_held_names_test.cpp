// The names a job holds for a folder must answer as the folder itself would,
// through any mix of the job's own creations, removals and renames.
#include <gtest/gtest.h>
#include <strings.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

// What a look at the folder itself finds for `name`: the exact name if it is
// there, else one in another letter case.
std::optional<std::string> Scanned(const std::string& dir, const std::string& name) {
  std::optional<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string entryName = entry.path().filename().string();
    if (entryName == name) return entryName;
    if (!found && strcasecmp(entryName.c_str(), name.c_str()) == 0) found = entryName;
  }
  return found;
}

std::set<std::string> ScannedNames(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

int ScannedTxtFiles(const std::string& dir) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".txt") == 0)
      ++count;
  }
  return count;
}

TEST(PlatformHeldNames, AnswerAsTheFolderDoesThroughThousandsOfChanges) {
  test::Sandbox box;
  box.MakeDir("f");
  const std::string dir = box.Path("f");
  const char* extensions[] = {".txt", ".TXT", ".Txt", ".tmp", ""};
  std::mt19937 rng(5);
  auto randomName = [&] { return Format("%04u", static_cast<unsigned>(rng() % 400)) + extensions[rng() % 5]; };
  // Some files are there before the names are held.
  for (int i = 0; i < 50; ++i) {
    const std::string name = randomName();
    if (!Scanned(dir, name)) box.WriteFile("f/" + name, "x");
  }
  DirectoryNameScope names(dir);
  for (int step = 0; step < 2000; ++step) {
    const std::string a = randomName();
    const std::string b = randomName();
    switch (rng() % 3) {
      case 0:
        // Created as the job creates its files: only where no name in any
        // letter case is taken.
        if (!ExistsIgnoringCase(dir + "/" + a)) {
          box.WriteFile("f/" + a, "x");
          NoteNewFile(dir + "/" + a);
        }
        break;
      case 1:
        RemoveFile(dir + "/" + a);
        break;
      default: {
        // Only to a name free in every letter case, or to the same file in
        // another letter case.
        const std::optional<std::string> taken = Scanned(dir, b);
        const bool expected = Scanned(dir, a) == a && (!taken || *taken == a);
        // By whole paths, or by names through the scope that holds them.
        const bool renamed =
            rng() % 2 ? RenameNoReplace(dir + "/" + a, dir + "/" + b) : names.RenameNoReplace(a, b);
        EXPECT_EQ(renamed, expected) << a << " -> " << b;
        break;
      }
    }
    const std::string probe = randomName();
    const std::optional<std::string> held = FindNameIgnoringCase(dir, probe);
    const std::optional<std::string> scanned = Scanned(dir, probe);
    ASSERT_EQ(held.has_value(), scanned.has_value()) << "step " << step << ": " << probe;
    if (held) {
      ASSERT_EQ(strcasecmp(held->c_str(), probe.c_str()), 0) << probe;
    }
    if (scanned == probe) {
      ASSERT_EQ(held, probe);
    }
    // Answered from the held names alone, the same.
    ASSERT_EQ(HeldOrFoundName(dir + "/" + probe).has_value(), scanned.has_value()) << probe;
    if (step % 100 == 0) {
      std::set<std::string> known;
      ASSERT_TRUE(ForEachKnownEntry(dir, [&known](std::string_view name, PathKind) { known.emplace(name); }));
      ASSERT_EQ(known, ScannedNames(dir)) << "step " << step;
    }
    ASSERT_EQ(HeldFileCount(dir, "TXT"), ScannedTxtFiles(dir)) << "step " << step;
  }
}

// Held names are the folder as this program left it: a file another program
// adds shows in a listing only once no job holds the names any more.
TEST(PlatformHeldNames, KnownEntriesAreTheHeldOnesWhileHeldAndTheFoldersAfter) {
  test::Sandbox box;
  box.MakeDir("f");
  const std::string dir = box.Path("f");
  box.WriteFile("f/0001.TXT", "x");
  auto known = [&dir] {
    std::set<std::string> names;
    EXPECT_TRUE(ForEachKnownEntry(dir, [&names](std::string_view name, PathKind) { names.emplace(name); }));
    return names;
  };
  {
    DirectoryNameScope names(dir);
    ASSERT_TRUE(names.RenameNoReplace("0001.TXT", "0000.txt"));
    box.WriteFile("f/0005.txt", "made by another program");
    EXPECT_EQ(known(), std::set<std::string>{"0000.txt"});
    // What it answers for a free name stays safe: the no-replace rename
    // still refuses the other program's file.
    EXPECT_FALSE(HeldOrFoundName(dir + "/0005.TXT").has_value());
    EXPECT_FALSE(names.RenameNoReplace("0000.txt", "0005.txt"));
  }
  EXPECT_EQ(known(), (std::set<std::string>{"0000.txt", "0005.txt"}));
  EXPECT_FALSE(ForEachKnownEntry(box.Path("missing"), [](std::string_view, PathKind) {}));
}

}  // namespace
}  // namespace quillo
