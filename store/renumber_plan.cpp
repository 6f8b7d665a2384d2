#include "store/renumber_plan.h"

#include <optional>

#include "platform/strings.h"

namespace quillo {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// The positions of names, looked up in any letter case; the names themselves
// stay where they are.
class FoldedIndex {
 public:
  explicit FoldedIndex(const std::vector<std::string_view>& names) : names_(names) {
    size_t size = 16;
    while (size < 2 * names.size()) size <<= 1;
    slots_.assign(size, kNone);
  }
  // False when the name is there already in some letter case.
  bool Add(size_t position) {
    size_t& slot = Slot(names_[position]);
    if (slot != kNone) return false;
    slot = position;
    return true;
  }
  // kNone when no name matches.
  size_t Find(std::string_view name) { return Slot(name); }

 private:
  // The slot holding `name`, or the empty one where it would go.
  size_t& Slot(std::string_view name) {
    const size_t mask = slots_.size() - 1;
    for (size_t s = FoldedHash(name) & mask;; s = (s + 1) & mask) {
      if (slots_[s] == kNone || EqualsIgnoreCase(names_[slots_[s]], name)) return slots_[s];
    }
  }

  const std::vector<std::string_view>& names_;
  std::vector<size_t> slots_;
};

// For each file, the file whose name it is to take (kNone when that name is
// free, itself when it keeps its name in some letter case).
std::optional<std::vector<size_t>> Successors(const std::vector<std::string_view>& names,
                                              const std::vector<std::string_view>& targets,
                                              const std::function<bool(std::string_view)>& takenOutside) {
  const size_t n = names.size();
  FoldedIndex holders(names);
  for (size_t i = 0; i < n; ++i) {
    if (!holders.Add(i)) return std::nullopt;
  }
  std::vector<size_t> next(n, kNone);
  for (size_t i = 0; i < n; ++i) {
    next[i] = holders.Find(targets[i]);
    if (next[i] == kNone && takenOutside(targets[i])) return std::nullopt;
  }
  return next;
}

void Move(std::string_view from, std::string_view to, size_t file, size_t ring,
          const std::function<void(const RenameStep&)>& step) {
  if (from != to) step({from, to, file, ring, false});
}

}  // namespace

std::string AsideName(std::string_view target) {
  const size_t dot = target.rfind('.');
  return std::string(target.substr(0, dot)) + ".tmp";
}

bool PlanRenames(const std::vector<std::string_view>& names, const std::vector<std::string_view>& targets,
                 const std::function<bool(std::string_view)>& takenOutside,
                 const std::function<void(const RenameStep&)>& step) {
  std::optional<std::vector<size_t>> next = Successors(names, targets, takenOutside);
  if (!next) return false;
  const size_t n = names.size();
  std::vector<bool> waitedFor(n, false);
  for (size_t i = 0; i < n; ++i) {
    if ((*next)[i] != kNone && (*next)[i] != i) waitedFor[(*next)[i]] = true;
  }
  std::vector<bool> planned(n, false);
  // Chains: a file nobody waits for heads a chain that ends at a free name;
  // the chain moves from its end back to its head.
  std::vector<size_t> chain;
  for (size_t head = 0; head < n; ++head) {
    if (waitedFor[head]) continue;
    chain.clear();
    for (size_t k = head; k != kNone; k = (*next)[k] == k ? kNone : (*next)[k]) chain.push_back(k);
    for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
      planned[*k] = true;
      Move(names[*k], targets[*k], *k, 0, step);
    }
  }
  // What is left are rings.
  size_t rings = 0;
  for (size_t first = 0; first < n; ++first) {
    if (planned[first]) continue;
    ++rings;
    chain.clear();
    for (size_t k = (*next)[first]; k != first; k = (*next)[k]) chain.push_back(k);
    const std::string aside = AsideName(targets[first]);
    step({names[first], aside, first, rings, true});
    planned[first] = true;
    for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
      planned[*k] = true;
      Move(names[*k], targets[*k], *k, rings, step);
    }
    Move(aside, targets[first], first, rings, step);
  }
  return true;
}

}  // namespace quillo
