#include "console/paging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillo {
namespace {

TEST(ConsolePaging, PagesTurnWithinTheList) {
  struct Case {
    const char* name;
    std::string answer;
    long first, rows, count;
    bool turned;
    long expected;
  };
  const std::vector<Case> cases = {
      {"forward a page", "+", 0, 22, 100, true, 22},
      {"forward stops at the last entry", "+", 88, 22, 100, true, 99},
      {"forward from the last entry stays", "+", 99, 22, 100, true, 99},
      {"forward in a list shorter than a page", "+", 0, 22, 5, true, 4},
      {"forward in an empty list stays at the top", "+", 0, 22, 0, true, 0},
      {"back a page", "-", 44, 22, 100, true, 22},
      {"back stops at the top", "-", 10, 22, 100, true, 0},
      {"back at the top stays", "-", 0, 22, 100, true, 0},
      {"any other answer turns nothing", "++", 10, 22, 100, false, 10},
      {"a number is no page key", "2", 10, 22, 100, false, 10},
      {"nor is an empty answer", "", 10, 22, 100, false, 10},
  };
  for (const Case& c : cases) {
    long first = c.first;
    EXPECT_EQ(TurnPage(c.answer, first, c.rows, c.count), c.turned) << c.name;
    EXPECT_EQ(first, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace quillo
