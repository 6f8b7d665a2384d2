#include "store/sort.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/strings.h"

namespace quillo {

namespace {

// Column 6 of a message's display text, where its date begins.
constexpr size_t kDateColumn = 5;

size_t Clamp(const MailList& list, int count) {
  return count <= 0 ? 0 : std::min(list.size(), static_cast<size_t>(count));
}

// Byte-by-byte comparison of unsigned values (std::string's char may be signed).
bool LessUnsigned(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

}  // namespace

void SortListByName(MailList& list, int count) {
  const size_t n = Clamp(list, count);
  std::sort(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n),
            [](const ListEntry& a, const ListEntry& b) { return LessUnsigned(a.name, b.name); });
}

std::string DateSortKey(const ListEntry& entry) {
  const std::string tail = entry.text.size() > kDateColumn ? entry.text.substr(kDateColumn) : std::string();
  return (DecimalValue(tail) >= 70 ? "19" : "20") + tail;
}

int SortListByDate(MailList& list, int count) {
  const size_t n = Clamp(list, count);
  // Each key once; the exchanges below move keys with their entries, so the
  // order is the one the pairwise procedure gives on the entries themselves.
  std::vector<std::string> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) keys.push_back(DateSortKey(list[i]));
  for (size_t i = 0; i + 1 < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      if (LessUnsigned(keys[j], keys[i])) {
        std::swap(keys[i], keys[j]);
        std::swap(list[i], list[j]);
      }
    }
  }
  return count;
}

}  // namespace quillo
