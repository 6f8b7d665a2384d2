#include "store/sort.h"

#include <algorithm>
#include <cstdint>
#include <deque>
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

// Byte-by-byte comparison of unsigned values: std::string compares its
// bytes as unsigned char whatever the signedness of char.
bool LessUnsigned(const std::string& a, const std::string& b) { return a.compare(b) < 0; }

// The first eight bytes as one number that orders as the bytes do (a
// shorter text padded with zero bytes): most keys differ within them.
uint64_t LeadingBytes(std::string_view text) {
  uint64_t head = 0;
  for (size_t b = 0; b < 8; ++b) head = head << 8 | (b < text.size() ? static_cast<unsigned char>(text[b]) : 0u);
  return head;
}

// A key's first sixteen bytes as two such numbers: dates share their first
// eight bytes ("2024/01/") by the hundred, rarely the next eight.
struct Head {
  uint64_t first;
  uint64_t second;
  bool operator<(const Head& other) const { return first != other.first ? first < other.first : second < other.second; }
  bool operator!=(const Head& other) const { return first != other.first || second != other.second; }
};

std::string_view From(std::string_view text, size_t offset) { return text.substr(std::min(offset, text.size())); }

Head HeadOf(const std::string& key) { return {LeadingBytes(key), LeadingBytes(From(key, 8))}; }

Head HeadOf(const DateKey& key) {
  // The century is always two bytes; the tail fills the rest.
  return {LeadingBytes(key.century) | LeadingBytes(key.tail) >> 16, LeadingBytes(From(key.tail, 6))};
}

// Positions 0 .. n-1 that hold a counted element; Fenwick tree.
class PositionCounter {
 public:
  explicit PositionCounter(size_t n) : tree_(n + 1, 0) {}
  void Add(size_t position) {
    for (size_t i = position + 1; i < tree_.size(); i += i & (~i + 1)) ++tree_[i];
  }
  // Counted positions below `end`.
  size_t Below(size_t end) const {
    size_t sum = 0;
    for (size_t i = end; i > 0; i -= i & (~i + 1)) sum += tree_[i];
    return sum;
  }

 private:
  std::vector<size_t> tree_;
};

// Moves the first `steps` elements of `queue` to its back, the shorter way round.
void RotateLeft(std::deque<size_t>& queue, size_t steps) {
  if (queue.empty()) return;
  steps %= queue.size();
  if (steps <= queue.size() / 2) {
    for (size_t i = 0; i < steps; ++i) {
      queue.push_back(queue.front());
      queue.pop_front();
    }
  } else {
    for (size_t i = steps; i < queue.size(); ++i) {
      queue.push_front(queue.back());
      queue.pop_back();
    }
  }
}

// Puts the entry at order[i] in place i for every i, moving each entry once
// along its cycle of the permutation: no second list of thousands of entries.
void ApplyOrder(MailList& list, std::vector<size_t>& order) {
  for (size_t start = 0; start < order.size(); ++start) {
    if (order[start] == start) continue;
    ListEntry held = std::move(list[start]);
    size_t place = start;
    while (order[place] != start) {
      const size_t source = order[place];
      list[place] = std::move(list[source]);
      order[place] = place;
      place = source;
    }
    list[place] = std::move(held);
    order[place] = place;
  }
}

}  // namespace

template <class Key>
std::vector<size_t> ExchangeSortOrder(const std::vector<Key>& keys) {
  // The exchange procedure puts the smallest key at the front in each pass, so
  // the result is ordered by key; only the order within a run of equal keys
  // needs working out. For one key value v, seen against the elements with
  // smaller keys only (larger ones never change it), a pass does this: when
  // the front element has a smaller key, it leaves and nothing else changes
  // for v; when the front is a v element and a smaller key follows, that
  // element takes the place of the first smaller one, behind the other v
  // elements before it. Read from left to right this is a queue of the v
  // elements met so far, turned by one for every smaller key met after them;
  // the queue's final order is the order in which the v elements leave.
  const size_t n = keys.size();
  std::vector<std::pair<Head, size_t>> heads(n);
  for (size_t i = 0; i < n; ++i) heads[i] = {HeadOf(keys[i]), i};
  std::sort(heads.begin(), heads.end(), [&keys](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    const int order = keys[a.second].compare(keys[b.second]);
    return order != 0 ? order < 0 : a.second < b.second;
  });
  std::vector<size_t> byKey(n);
  for (size_t i = 0; i < n; ++i) byKey[i] = heads[i].second;
  std::vector<size_t> order;
  order.reserve(n);
  PositionCounter smaller(n);
  std::deque<size_t> queue;
  for (size_t first = 0; first < n;) {
    size_t last = first + 1;
    while (last < n && keys[byKey[last]] == keys[byKey[first]]) ++last;
    queue.clear();
    for (size_t k = first; k < last; ++k) {
      const size_t position = byKey[k];
      const size_t next = k + 1 < last ? byKey[k + 1] : n;
      queue.push_back(position);
      RotateLeft(queue, smaller.Below(next) - smaller.Below(position + 1));
    }
    order.insert(order.end(), queue.begin(), queue.end());
    for (size_t k = first; k < last; ++k) smaller.Add(byKey[k]);
    first = last;
  }
  return order;
}

template std::vector<size_t> ExchangeSortOrder(const std::vector<std::string>& keys);
template std::vector<size_t> ExchangeSortOrder(const std::vector<DateKey>& keys);

void SortListByName(MailList& list, int count) {
  const size_t n = Clamp(list, count);
  // Most names differ within their first eight bytes, which compare as one
  // number; the entries themselves move once, when the order is known.
  struct Key {
    uint64_t head;
    size_t index;
  };
  std::vector<Key> keys(n);
  for (size_t i = 0; i < n; ++i) keys[i] = {LeadingBytes(list[i].name), i};
  std::sort(keys.begin(), keys.end(), [&list](const Key& a, const Key& b) {
    if (a.head != b.head) return a.head < b.head;
    return LessUnsigned(list[a.index].name, list[b.index].name);
  });
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = keys[i].index;
  ApplyOrder(list, order);
}

int DateKey::compare(const DateKey& other) const {
  // Both centuries are two bytes long: comparing the parts one after the
  // other compares the joined texts.
  const int order = century.compare(other.century);
  return order != 0 ? order : tail.compare(other.tail);
}

DateKey DateKeyOf(const ListEntry& entry) {
  const std::string_view text = entry.text;
  const std::string_view tail = text.size() > kDateColumn ? text.substr(kDateColumn) : std::string_view();
  return {DecimalValue(tail) >= 70 ? "19" : "20", tail};
}

std::string DateSortKey(const ListEntry& entry) {
  const DateKey key = DateKeyOf(entry);
  std::string text(key.century);
  text += key.tail;
  return text;
}

int SortListByDate(MailList& list, int count) {
  const size_t n = Clamp(list, count);
  std::vector<DateKey> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) keys.push_back(DateKeyOf(list[i]));
  std::vector<size_t> order = ExchangeSortOrder(keys);
  ApplyOrder(list, order);
  return count;
}

}  // namespace quillo
