// Choosing a recipient from mailidx.txt.
#include "console/address_book.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/compose_fixture.h"

namespace quillo::composetest {
namespace {

class ComposeAddressBook : public ComposeFixture {
 protected:
  struct Choice {
    std::string recipient;
    std::string out;
  };
  Choice Select(const std::string& keys) {
    Choice c{"previous", ""};
    c.out = Call([&] {
              SelectAddress(c.recipient);
              return 0;
            },
                 keys)
                .out;
    return c;
  }
};

TEST_F(ComposeAddressBook, EntriesCountsAndAnswers) {
  struct Case {
    const char* name;
    std::string book;  // empty: no file
    std::string keys;
    std::string recipient;
    int pagesShown;
  };
  const std::vector<Case> cases = {
      {"three of five lines", "3\nTaro <taro@x>\nhanako@x\n  jiro@x \nfour@x\nfive@x\n", "3\n", "  jiro@x ", 1},
      {"five announced, two present", "5\na@x\nb@x\n", "5\n2\n", "b@x", 2},
      {"leave with q", "2\na@x\nb@x\n", "Q\n", "", 1},
      {"leave with 0 after a number out of range", "2\na@x\nb@x\n", "9\n0\n", "", 2},
      {"input ends", "2\na@x\nb@x\n", "x\n", "", 2},
      {"last line without line feed is not read", "2\na@x\nb@x", "2\nq\n", "", 2},
  };
  for (const Case& c : cases) {
    box.WriteFile("mbox/mailidx.txt", c.book);
    Choice got = Select(c.keys);
    EXPECT_EQ(got.recipient, c.recipient) << c.name;
    int rules = 0;
    for (size_t p = got.out.find("Select Addr:"); p != std::string::npos; p = got.out.find("Select Addr:", p + 1)) {
      ++rules;
    }
    EXPECT_EQ(rules, c.pagesShown) << c.name << "\n" << got.out;
  }
}

TEST_F(ComposeAddressBook, TheListAndItsMessages) {
  box.WriteFile("mbox/mailidx.txt", "3\nTaro <taro@x>\nhanako@x\njiro@x\nfour@x\n");
  EXPECT_EQ(Select("q\n").out,
            "Serching mailidx.txt...\n------------------------\n  1 Taro <taro@x>\n  2 hanako@x\n  3 jiro@x\n"
            "------------------------\nSelect Addr:q\r\n");
  struct Case {
    std::string book;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"", "Serching mailidx.txtfile nothing\n"},
      {"none\na@x\n", "Serching mailidx.txtnothing\n"},
      {"0\na@x\n", "Serching mailidx.txtnothing\n"},
      {"", "Serching mailidx.txt"},  // an empty file: nothing to say
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    if (i == 0) {
      std::filesystem::remove(box.Path("mbox/mailidx.txt"));
    } else {
      box.WriteFile("mbox/mailidx.txt", cases[i].book);
    }
    Choice got = Select("1\n");
    EXPECT_EQ(got.out, cases[i].out) << i;
    EXPECT_EQ(got.recipient, "") << i;
  }
}

// One entry per line of the book, however long the line: its first 80
// columns are shown and chosen, the rest of it is no entry of its own.
TEST_F(ComposeAddressBook, HostileBooks) {
  struct Case {
    const char* name;
    std::string book;
    std::string keys;
    std::string recipient;
    std::string shown;  // in the output
  };
  std::string thousands = "99999999999\n";
  for (int i = 1; i <= 5000; ++i) thousands += "n" + std::to_string(i) + "@x\n";
  const std::vector<Case> cases = {
      {"a line of 10,000 bytes", "2\n" + std::string(10'000, 'a') + "\nb@x\n", "2\n", "b@x",
       "  1 " + std::string(80, 'a') + "\n  2 b@x\n"},
      {"a count line of 10,000 digits", std::string(10'000, '9') + "\nx@y\n", "1\n", "x@y", "  1 x@y\n"},
      // Three digits can choose no more than 999 entries; none past them is read.
      {"a count beyond any choice", thousands, "999\n", "n999@x", "Serching mailidx.txt" + std::string(999, '.') + "\n"},
      {"escape sequences", "1\n\x1b[2Jevil\x07 <e@x>\n", "1\n", "\x1b[2Jevil\x07 <e@x>", "  1 ?[2Jevil? <e@x>\n"},
      {"NUL bytes", std::string("1\n\0a@x\0\n", 8), "1\n", std::string("\0a@x\0", 5), "  1 ?a@x?\n"},
  };
  for (const Case& c : cases) {
    box.WriteFile("mbox/mailidx.txt", c.book);
    Choice got = Select(c.keys);
    EXPECT_EQ(got.recipient, c.recipient) << c.name;
    EXPECT_NE(got.out.find(c.shown), std::string::npos) << c.name << "\n" << got.out.substr(0, 2000);
    EXPECT_EQ(got.out.find('\x1b'), std::string::npos) << c.name;
  }
}

TEST_F(ComposeAddressBook, PagesOfLinesMinusThreeRows) {
  GetSettings().lines = 5;  // two rows a page
  box.WriteFile("mbox/mailidx.txt", "5\na1\na2\na3\na4\na5\n");
  const std::string out = Select("+\n+\n+\n-\nq\n").out;
  std::vector<std::string> firstRows;
  const std::string rule = "------------------------\n";
  for (size_t p = out.find(rule); p != std::string::npos; p = out.find(rule, p + 1)) {
    firstRows.push_back(out.substr(p + rule.size(), 6));
    p = out.find(rule, p + 1);  // the closing rule of the page
    if (p == std::string::npos) break;
  }
  // "+" on the last page keeps the last entry in view.
  EXPECT_EQ(firstRows, (std::vector<std::string>{"  1 a1", "  3 a3", "  5 a5", "  5 a5", "  3 a3"})) << out;
}

}  // namespace
}  // namespace quillo::composetest
