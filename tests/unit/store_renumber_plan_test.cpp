// The one-rename renumber plan, played on a simulated folder whose names
// compare without regard to letter case and whose renames never replace.
#include "store/renumber_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output.h"

namespace quillo {
namespace {

std::string Folded(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// Folded name -> (name as written, content).
using Folder = std::map<std::string, std::pair<std::string, std::string>>;

// A step kept beyond the call that gave it.
struct Step {
  std::string from;
  std::string to;
  size_t ring;
  bool aside;
};

std::vector<std::string_view> Views(const std::vector<std::string>& names) {
  return std::vector<std::string_view>(names.begin(), names.end());
}

std::optional<std::vector<Step>> Plan(const std::vector<std::string>& names, const std::vector<std::string>& targets,
                                      const std::function<bool(std::string_view)>& takenOutside) {
  std::vector<Step> steps;
  const bool planned = PlanRenames(Views(names), Views(targets), takenOutside, [&steps](const RenameStep& s) {
    steps.push_back({std::string(s.from), std::string(s.to), s.ring, s.aside});
  });
  if (!planned) {
    EXPECT_TRUE(steps.empty()) << "a plan that fails gives no step";
    return std::nullopt;
  }
  return steps;
}

// False as soon as a step would replace a file or moves a file that is not there.
bool Play(Folder& folder, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    auto from = folder.find(Folded(step.from));
    if (from == folder.end() || from->second.first != step.from) return false;
    const std::string content = from->second.second;
    const bool caseOnly = Folded(step.to) == Folded(step.from);
    if (!caseOnly && folder.count(Folded(step.to))) return false;
    folder.erase(from);
    folder[Folded(step.to)] = {step.to, content};
  }
  return true;
}

std::vector<std::string> Targets(size_t n) {
  std::vector<std::string> targets;
  for (size_t i = 0; i < n; ++i) targets.push_back(Format("%04zu.txt", i));
  return targets;
}

const auto kNothingOutside = [](std::string_view) { return false; };

TEST(StoreRenumberPlan, StepsForSmallFolders) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    size_t steps;
  };
  const std::vector<Case> cases = {
      {"already numbered", {"0000.txt", "0001.txt"}, 0},
      {"letter case only", {"0000.TXT", "0001.txt"}, 1},
      {"gaps close", {"0005.TXT", "0009.TXT"}, 2},
      {"each waits for the one before", {"0001.txt", "0002.txt", "0003.txt"}, 3},
      {"a ring of two opens through one aside", {"0001.txt", "0000.txt"}, 3},
      {"a ring of three and a file in place", {"0001.txt", "0002.txt", "0000.txt", "0003.TXT"}, 5},
      {"two rings", {"0001.txt", "0000.txt", "0003.txt", "0002.txt"}, 6},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> targets = Targets(c.names.size());
    std::optional<std::vector<Step>> steps = Plan(c.names, targets, kNothingOutside);
    ASSERT_TRUE(steps) << c.what;
    EXPECT_EQ(steps->size(), c.steps) << c.what;
    Folder folder;
    for (const std::string& name : c.names) folder[Folded(name)] = {name, "from " + name};
    ASSERT_TRUE(Play(folder, *steps)) << c.what;
    for (size_t i = 0; i < targets.size(); ++i) {
      EXPECT_EQ(folder[Folded(targets[i])], std::make_pair(targets[i], "from " + c.names[i])) << c.what;
    }
  }
}

TEST(StoreRenumberPlan, FoldersItCannotOrder) {
  EXPECT_FALSE(Plan({"0000.txt", "0000.TXT"}, Targets(2), kNothingOutside)) << "one name twice";
  EXPECT_FALSE(Plan({"0003.txt"}, Targets(1), [](std::string_view name) { return name == "0000.txt"; }))
      << "a target taken by a file outside the list";
  // A file outside the list under a name nobody takes does not matter.
  EXPECT_TRUE(Plan({"0003.txt"}, Targets(1), [](std::string_view name) { return name == "0007.txt"; }));
}

// Any order of any numbered names in any letter case ends in list order with
// every content once, at one rename a file plus one for each ring.
TEST(StoreRenumberPlan, RandomFoldersEndInListOrder) {
  std::mt19937 rng(11);
  const char* extensions[] = {".txt", ".TXT", ".Txt"};
  for (int trial = 0; trial < 300; ++trial) {
    const size_t n = 1 + rng() % 120;
    std::vector<int> numbers(n * 2);
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<int>(i);
    std::shuffle(numbers.begin(), numbers.end(), rng);
    std::vector<std::string> names;
    for (size_t i = 0; i < n; ++i) names.push_back(Format("%04d", numbers[i]) + extensions[rng() % 3]);
    const std::vector<std::string> targets = Targets(n);
    std::optional<std::vector<Step>> steps = Plan(names, targets, kNothingOutside);
    ASSERT_TRUE(steps) << trial;
    const size_t asides = static_cast<size_t>(
        std::count_if(steps->begin(), steps->end(), [](const Step& s) { return s.aside; }));
    EXPECT_LE(steps->size(), n + asides) << trial;
    Folder folder;
    for (const std::string& name : names) folder[Folded(name)] = {name, "from " + name};
    ASSERT_TRUE(Play(folder, *steps)) << trial;
    ASSERT_EQ(folder.size(), n) << trial;
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(folder[Folded(targets[i])], std::make_pair(targets[i], "from " + names[i])) << trial;
    }
  }
}

}  // namespace
}  // namespace quillo
