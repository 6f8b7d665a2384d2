// Orders of a MailList: by file name and by date.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/mail_list.h"

namespace quillo {

// Orders the first `count` entries by name, bytes compared as unsigned values.
void SortListByName(MailList& list, int count);

// "19" or "20" (by the two-digit year) followed by the display text from its
// date column on.
std::string DateSortKey(const ListEntry& entry);

// DateSortKey in its two parts, pointing into the entry: it compares as the
// spelled-out key does, without a copy of every entry's text.
struct DateKey {
  std::string_view century;  // "19" or "20"
  std::string_view tail;     // the display text from its date column on
  int compare(const DateKey& other) const;
  bool operator==(const DateKey& other) const = default;
};
DateKey DateKeyOf(const ListEntry& entry);

// The order in which the pairwise exchange procedure (for each position i,
// every later element with a smaller key is exchanged into i) leaves `keys`:
// element order[i] ends at position i. Keys compare as unsigned bytes. Takes
// n log n steps, not the procedure's n squared. For std::string and DateKey.
template <class Key>
std::vector<size_t> ExchangeSortOrder(const std::vector<Key>& keys);

// Orders the first `count` entries by DateSortKey with the exchange procedure
// the list has always used (entries with equal keys keep that procedure's
// order). Returns count.
int SortListByDate(MailList& list, int count);

}  // namespace quillo
