#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "pop/header_cache.h"
#include "pop/header_list.h"
#include "pop/select.h"
#include "tests/unit/pop_fixture.h"

namespace quillo::test {
namespace {

const std::string kKeys = "0123456789aA+-qQ";

TEST(PopSelectTokens, RunsOfKeyCharactersAndTheirNumbers) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"2 4", {"2", "4"}},
      {"3,5 q", {"3", "5", "q"}},
      {"  12a,+3;-2 x+- A3", {"12a", "+3", "-2", "+-", "A3"}},
      {"", {}},
      {"xyz", {}},
  };
  for (const auto& [line, tokens] : cases) EXPECT_EQ(SelectionTokens(line, kKeys), tokens) << line;
  // Without "a" in the set, the letter only separates.
  EXPECT_EQ(SelectionTokens("1a3", "0123456789+-qQ"), (std::vector<std::string>{"1", "3"}));

  const std::vector<std::pair<std::string, int>> numbers = {
      {"12a", 12}, {"+3", 3}, {"-2", -2}, {"a", 0}, {"+-", 0}, {"A3", 0}, {"00", 0}, {"99999999999", 2147483647},
  };
  for (const auto& [token, value] : numbers) EXPECT_EQ(TokenNumber(token), value) << token;
}

class PopSelect : public PopFixture {
 protected:
  void MakeList(int count) {
    ASSERT_TRUE(AllocateHeaderList(list_, count));
    for (int k = 1; k <= count; ++k) list_[static_cast<size_t>(k - 1)] = {100, Format("%4d entry", k)};
  }

  // Runs a selection over `count` entries with `keys`; records the numbers
  // acted on and returns the first entry number of every page shown.
  std::vector<int> Select(int count, const std::string& keys, bool withAll = true) {
    MakeList(count);
    RemoveFile(HeaderCachePath());
    acted_.clear();
    allRuns_ = 0;
    const int total = count;
    output_ = WithPipedKeys(keys, [&] {
      SelectFromHeaderList(
          list_, count, "Pick.\n", withAll ? kKeys : "0123456789+-qQ",
          [this, total](int k) {
            acted_.push_back(k);
            if (k >= 1 && k <= total) list_[static_cast<size_t>(k - 1)].size = kSizeTaken;
          },
          withAll ? AllAction([this] { ++allRuns_; }) : AllAction());
    });
    std::vector<int> firsts;
    std::istringstream lines(output_);
    std::string line;
    bool afterHeading = false;
    while (std::getline(lines, line)) {
      if (afterHeading && line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[3])))
        firsts.push_back(std::stoi(line.substr(0, 4)));
      afterHeading = line.find("-No-|") != std::string::npos;
    }
    return firsts;
  }

  HeaderList list_;
  std::vector<int> acted_;
  int allRuns_ = 0;
  std::string output_;
};

TEST_F(PopSelect, PagesMoveByTheirHeightAndStopAtTheEnds) {
  // lines = 25: 22 a page, starting at 1, 23 and 45.
  EXPECT_EQ(Select(50, "+\n+\n+\n-\n-\n-\n-\nq\n"), (std::vector<int>{1, 23, 45, 50, 28, 6, 1, 1}));
  EXPECT_EQ(Select(44, "+\n+\nq\n"), (std::vector<int>{1, 23, 44}));
  EXPECT_TRUE(acted_.empty());
}

TEST_F(PopSelect, TypedLinesActAndEndAsTheTokensSay) {
  struct Case {
    std::string keys;
    std::vector<int> acted;
    size_t pages;
  };
  const std::vector<Case> cases = {
      {"3,5 q\n", {3, 5}, 1},   {"0\n", {}, 1},          {"q 3\n", {}, 1},
      {"3 0\n", {3}, 1},        {"0 3\nq\n", {3}, 2},    {"\n\nQ\n", {}, 3},
      {"12a +3 -2\nq\n", {12, 3, -2}, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Select(5, c.keys).size(), c.pages) << c.keys;
    EXPECT_EQ(acted_, c.acted) << c.keys;
  }
  // A taken entry leaves the page.
  Select(5, "2\nq\n");
  EXPECT_NE(output_.find("   1 entry\n   3 entry\n"), std::string::npos) << output_;
}

TEST_F(PopSelect, AllRunsOnceAndDropsTheRestOfItsLine) {
  Select(5, "a 3\nq\n");
  EXPECT_EQ(allRuns_, 1);
  EXPECT_TRUE(acted_.empty());
  // Where there is no all action, "a" only separates numbers.
  Select(5, "1a3\nq\n", false);
  EXPECT_EQ(acted_, (std::vector<int>{1, 3}));
}

TEST_F(PopSelect, EndsByItselfWhenNothingIsLeftToShow) {
  // Every entry of the page taken: the selection ends without asking again,
  // although a later page still holds entries.
  GetSettings().lines = 10;
  EXPECT_EQ(Select(30, "1 2 3 4 5 6 7\n").size(), 1u);
  EXPECT_EQ(acted_, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(output_.find("Select:"), output_.rfind("Select:"));
  // No room for an entry at all: only the heading and the save.
  GetSettings().lines = 3;
  EXPECT_TRUE(Select(5, "1\n").empty());
  EXPECT_TRUE(acted_.empty());
  EXPECT_EQ(output_, "-No-|-From----------|-Subject----------\nSave poplist.....\n");
  // Keys that run out end it as well.
  GetSettings().lines = 25;
  Select(5, "");
  EXPECT_NE(output_.find("Save poplist"), std::string::npos);
}

}  // namespace
}  // namespace quillo::test
