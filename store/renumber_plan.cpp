#include "store/renumber_plan.h"

#include <unordered_map>


namespace quillo {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// For each file, the file whose name it is to take (kNone when that name is
// free, itself when it keeps its name in some letter case).
std::optional<std::vector<size_t>> Successors(const std::vector<std::string>& names,
                                              const std::vector<std::string>& targets,
                                              const std::function<bool(const std::string&)>& takenOutside) {
  std::unordered_map<std::string, size_t> holder;
  holder.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (!holder.emplace(Folded(names[i]), i).second) return std::nullopt;
  }
  std::vector<size_t> next(names.size(), kNone);
  for (size_t i = 0; i < names.size(); ++i) {
    if (auto it = holder.find(Folded(targets[i])); it != holder.end()) {
      next[i] = it->second;
    } else if (takenOutside(targets[i])) {
      return std::nullopt;
    }
  }
  return next;
}

void AddMove(const std::string& from, const std::string& to, size_t ring, std::vector<RenameStep>& steps) {
  if (from != to) steps.push_back({from, to, ring, false});
}

}  // namespace

std::string AsideName(const std::string& target) {
  const size_t dot = target.rfind('.');
  return target.substr(0, dot) + ".tmp";
}

std::optional<std::vector<RenameStep>> PlanRenames(const std::vector<std::string>& names,
                                                   const std::vector<std::string>& targets,
                                                   const std::function<bool(const std::string&)>& takenOutside) {
  std::optional<std::vector<size_t>> next = Successors(names, targets, takenOutside);
  if (!next) return std::nullopt;
  const size_t n = names.size();
  std::vector<bool> waitedFor(n, false);
  for (size_t i = 0; i < n; ++i) {
    if ((*next)[i] != kNone && (*next)[i] != i) waitedFor[(*next)[i]] = true;
  }
  std::vector<RenameStep> steps;
  steps.reserve(n + n / 8);
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
      AddMove(names[*k], targets[*k], 0, steps);
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
    steps.push_back({names[first], aside, rings, true});
    planned[first] = true;
    for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
      planned[*k] = true;
      AddMove(names[*k], targets[*k], rings, steps);
    }
    AddMove(aside, targets[first], rings, steps);
  }
  return steps;
}

}  // namespace quillo
