#include "store/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "platform/output.h"

namespace quillo {
namespace {

std::vector<std::string> Names(const MailList& list) {
  std::vector<std::string> names;
  for (const auto& e : list) names.push_back(e.name);
  return names;
}

// A display text as the message list holds it: file number, long date,
// sender and subject in their columns.
ListEntry Entry(const std::string& name, const std::string& date, const std::string& sender,
                const std::string& subject = "s") {
  return {name, name.substr(0, 4) + Format(" %14s %15s %s", date.c_str(), sender.c_str(), subject.c_str())};
}

TEST(StoreSortByName, UnsignedByteOrderAndPrefixesFirst) {
  MailList list = {{"b.txt", ""},      {"\x82\xa0.txt", ""}, {"A.TXT", ""}, {"0001.TXT0", ""},
                   {"0001.TXT", ""},   {"a.txt", ""},        {"_x.txt", ""}};
  SortListByName(list, static_cast<int>(list.size()));
  EXPECT_EQ(Names(list),
            (std::vector<std::string>{"0001.TXT", "0001.TXT0", "A.TXT", "_x.txt", "a.txt", "b.txt", "\x82\xa0.txt"}));
}

// Names that share their first eight bytes, shorter ones, and bytes above
// 0x7F, against a plain sort; each text stays with its name.
TEST(StoreSortByName, AnyNamesSortAsUnsignedBytes) {
  std::mt19937 random(7);
  const std::string alphabet = std::string("0.TXtx\x82\xa0\xff", 9);
  for (int round = 0; round < 50; ++round) {
    MailList list;
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
      std::string name = random() % 2 ? "0001.TXT" : "";
      for (size_t k = random() % 6; k > 0; --k) name += alphabet[random() % alphabet.size()];
      if (seen.insert(name).second) list.push_back({name, "text of " + name});
    }
    std::vector<std::string> expected(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
      return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                          [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
    });
    SortListByName(list, static_cast<int>(list.size()));
    ASSERT_EQ(Names(list), expected) << "round " << round;
    for (const ListEntry& e : list) ASSERT_EQ(e.text, "text of " + e.name);
  }
}

TEST(StoreSortByName, OnlyTheFirstCountEntries) {
  MailList list = {{"c", ""}, {"b", ""}, {"a", ""}};
  SortListByName(list, 2);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"b", "c", "a"}));
}

TEST(StoreDateSortKey, CenturyFromTheTwoDigitYear) {
  struct Case {
    ListEntry entry;
    std::string key;
  };
  const std::vector<Case> cases = {
      {Entry("0001.TXT", "99/01/02 03:04", "a"), "1999/01/02 03:04               a s"},
      {Entry("0002.TXT", "70/01/01 00:00", "a"), "1970/01/01 00:00               a s"},
      {Entry("0003.TXT", "69/12/31 23:59", "a"), "2069/12/31 23:59               a s"},
      {Entry("0004.TXT", "24/01/15 10:30", "a"), "2024/01/15 10:30               a s"},
      // Undated: the number is read from the sender column, when it starts with one.
      {Entry("0005.TXT", "", "1999x"), "19" + std::string(15, ' ') + std::string(10, ' ') + "1999x s"},
      {Entry("0006.TXT", "", "75", ""), "19" + std::string(15, ' ') + std::string(13, ' ') + "75 "},
      {Entry("0007.TXT", "", "abc"), "20" + std::string(15, ' ') + std::string(12, ' ') + "abc s"},
      // An entry without a summary has no date column at all.
      {{"0008.TXT", "0008"}, "20"},
  };
  for (const Case& c : cases) EXPECT_EQ(DateSortKey(c.entry), c.key) << c.entry.name;
}

TEST(StoreSortByDate, OldestFirstAcrossCenturiesWithUndatedBetween) {
  MailList list = {
      Entry("0000.TXT", "24/03/01 12:00", "x"), Entry("0001.TXT", "", "nobody"),
      Entry("0002.TXT", "99/12/31 23:59", "x"), Entry("0003.TXT", "01/06/01 08:00", "x"),
      Entry("0004.TXT", "75/01/01 00:00", "x"),
  };
  EXPECT_EQ(SortListByDate(list, 5), 5);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"0004.TXT", "0002.TXT", "0001.TXT", "0003.TXT", "0000.TXT"}));
}

TEST(StoreSortByDate, EqualKeysEndInTheExchangeOrder) {
  // B1 and B2 have equal keys from the date column on; a stable sort would keep
  // B1 first, the exchange procedure puts B2 first.
  MailList list = {Entry("B1.TXT", "24/01/02 00:00", "x"), Entry("B2.TXT", "24/01/02 00:00", "x"),
                   Entry("A0.TXT", "24/01/01 00:00", "x")};
  SortListByDate(list, 3);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"A0.TXT", "B2.TXT", "B1.TXT"}));
}

// The procedure as the folder menu has always run it: keys made afresh for
// every comparison.
void ReferenceSort(MailList& list) {
  for (size_t i = 0; i + 1 < list.size(); ++i) {
    for (size_t j = i + 1; j < list.size(); ++j) {
      const std::string a = DateSortKey(list[i]), b = DateSortKey(list[j]);
      if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
          }))
        std::swap(list[i], list[j]);
    }
  }
}

TEST(StoreSortByDate, SameOrderAsTheReferenceProcedure) {
  std::mt19937 rng(42);
  const std::vector<std::string> dates = {"", "98/05/05 10:00", "24/01/01 00:00", "24/01/01 00:00", "69/01/01 00:00",
                                          "70/01/01 00:00"};
  const std::vector<std::string> senders = {"a", "b", "75", "\x82\xa0"};
  for (int round = 0; round < 50; ++round) {
    MailList list;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
      list.push_back(Entry(Format("%04d.TXT", i), dates[rng() % dates.size()], senders[rng() % senders.size()],
                           rng() % 2 ? "s" : "t"));
    }
    MailList expected = list;
    ReferenceSort(expected);
    SortListByDate(list, n);
    EXPECT_EQ(Names(list), Names(expected)) << "round " << round;
  }
}

// The exchange procedure on bare keys: element order[i] ends at position i.
std::vector<size_t> ReferenceOrder(const std::vector<std::string>& keys) {
  std::vector<size_t> order(keys.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    for (size_t j = i + 1; j < order.size(); ++j) {
      if (keys[order[j]] < keys[order[i]]) std::swap(order[i], order[j]);
    }
  }
  return order;
}

TEST(StoreSortByDate, ExchangeOrderOfLongListsWithManyEqualKeys) {
  // Few key values over many elements: long runs of equal keys interleaved
  // with smaller ones, where the exchange order departs furthest from a
  // stable sort.
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    const size_t n = rng() % 300;
    const unsigned values = 1 + rng() % 6;
    // The keys share their first eight or sixteen bytes (or fifteen), or stop
    // short of them, as dates of one month or one minute do.
    const std::string shared = std::vector<std::string>{"", "2026/12/", "2026/12/24 10:30", "2026/12/24 10:3"}[round % 4];
    std::vector<std::string> keys;
    for (size_t i = 0; i < n; ++i) {
      const std::string tail(1, static_cast<char>('a' + rng() % values));
      keys.push_back(shared.empty() || rng() % 4 ? shared + tail
                                                 : shared.substr(0, shared.size() / 2 + rng() % 3) + "\xff");
    }
    EXPECT_EQ(ExchangeSortOrder(keys), ReferenceOrder(keys)) << "round " << round;
  }
}

TEST(StoreSortByDate, ExchangeOrderComparesUnsignedBytes) {
  const std::vector<std::string> keys = {"\x82", "b", "\x82", "a", "b", "\x82\x01", "a"};
  std::vector<size_t> expected = {3, 6, 4, 1, 2, 0, 5};
  EXPECT_EQ(ExchangeSortOrder(keys), ReferenceOrder(keys));
  EXPECT_EQ(ExchangeSortOrder(keys), expected);
}

}  // namespace
}  // namespace quillo
