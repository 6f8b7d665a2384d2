// The names of one held directory (DirectoryNameScope), shared by the
// platform's file implementations. Internal to platform/.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/strings.h"

namespace quillo::held {

// The names of one directory while a DirectoryNameScope holds them. A name is
// found by its spelling in any letter case through an open-addressing table
// of positions: a folder of thousands of files is held without a node or a
// folded copy for each name.
class HeldNames {
 public:
  int holders = 0;

  void Add(std::string_view name, PathKind kind) {
    if (const uint32_t at = Exact(name); at != kEmpty) {
      Count(name, names_[at].kind, -1);
      names_[at].kind = kind;
    } else {
      Place(Store(name, kind));
    }
    Count(name, kind, +1);
  }
  // The kind `name` was held with (kNone when it was not held).
  PathKind Remove(std::string_view name) {
    const uint32_t at = Exact(name);
    if (at == kEmpty) return PathKind::kNone;
    const PathKind kind = names_[at].kind;
    Count(name, kind, -1);
    Unplace(at);
    names_[at].name.clear();
    free_.push_back(at);
    return kind;
  }
  // `from` (held) takes the name `to` in the same directory: the entry is
  // moved, not made anew. False when `from` is not held.
  bool Rename(std::string_view from, std::string_view to) {
    if (from == to) return Exact(from) != kEmpty;
    // A name the rename replaced.
    if (Exact(to) != kEmpty) Remove(to);
    const uint32_t at = Exact(from);
    if (at == kEmpty) return false;
    const PathKind kind = names_[at].kind;
    // Most renames keep the extension, and with it the count.
    const bool sameCount = EqualsIgnoreCase(ExtensionOf(from), ExtensionOf(to));
    if (!sameCount) Count(from, kind, -1);
    Unplace(at);
    names_[at].name.assign(to);
    Place(at);
    if (!sameCount) Count(to, kind, +1);
    return true;
  }
  // The name matching `name` in any letter case, an exact match preferred.
  const std::string* Find(std::string_view name) const {
    const std::string* found = nullptr;
    if (slots_.empty()) return found;
    for (size_t s = Start(name);; s = Next(s)) {
      const uint32_t at = slots_[s];
      if (at == kEmpty) return found;
      if (at == kRemoved || !EqualsIgnoreCase(names_[at].name, name)) continue;
      if (names_[at].name == name) return &names_[at].name;
      if (!found) found = &names_[at].name;
    }
  }
  // Every name held, in no particular order.
  void ForEach(const std::function<void(std::string_view name, PathKind kind)>& visit) const {
    for (const Name& held : names_) {
      if (!held.name.empty()) visit(held.name, held.kind);  // removed names are emptied
    }
  }
  // Regular files whose name ends in "." and `extension`, in any letter case.
  int FileCount(std::string_view extension) const {
    for (const auto& [held, count] : filesByExtension_) {
      if (EqualsIgnoreCase(held, extension)) return count;
    }
    return 0;
  }

 private:
  struct Name {
    std::string name;
    PathKind kind;
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr uint32_t kRemoved = UINT32_MAX - 1;

  // The part after the last '.'; empty without one.
  static std::string_view ExtensionOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  }
  void Count(std::string_view name, PathKind kind, int step) {
    if (kind != PathKind::kFile) return;
    const std::string_view extension = ExtensionOf(name);
    for (auto& [held, count] : filesByExtension_) {
      if (EqualsIgnoreCase(held, extension)) {
        count += step;
        return;
      }
    }
    filesByExtension_.emplace_back(std::string(extension), step);
  }
  size_t Start(std::string_view name) const { return FoldedHash(name) & (slots_.size() - 1); }
  size_t Next(size_t slot) const { return (slot + 1) & (slots_.size() - 1); }
  // The position of exactly `name`, or kEmpty.
  uint32_t Exact(std::string_view name) const {
    if (slots_.empty()) return kEmpty;
    for (size_t s = Start(name);; s = Next(s)) {
      const uint32_t at = slots_[s];
      if (at == kEmpty) return kEmpty;
      if (at != kRemoved && names_[at].name == name) return at;
    }
  }
  uint32_t Store(std::string_view name, PathKind kind) {
    if (!free_.empty()) {
      const uint32_t at = free_.back();
      free_.pop_back();
      names_[at] = {std::string(name), kind};
      return at;
    }
    names_.push_back({std::string(name), kind});
    return static_cast<uint32_t>(names_.size() - 1);
  }
  // Enters the name at `at` into the table, which stays at most half full
  // (removed slots counting as full until the table is made anew).
  void Place(uint32_t at) {
    if (2 * (taken_ + 1) > slots_.size()) {
      // Made anew with every name held, this one included.
      Rebuild(3 * (names_.size() - free_.size()));
      return;
    }
    size_t s = Start(names_[at].name);
    while (slots_[s] != kEmpty && slots_[s] != kRemoved) s = Next(s);
    if (slots_[s] == kEmpty) ++taken_;
    slots_[s] = at;
  }
  void Unplace(uint32_t at) {
    for (size_t s = Start(names_[at].name);; s = Next(s)) {
      if (slots_[s] == at) {
        slots_[s] = kRemoved;
        return;
      }
    }
  }
  void Rebuild(size_t atLeast) {
    size_t size = 16;
    while (size < atLeast) size <<= 1;
    slots_.assign(size, kEmpty);
    taken_ = 0;
    std::vector<bool> unused(names_.size(), false);
    for (const uint32_t at : free_) unused[at] = true;
    for (uint32_t at = 0; at < names_.size(); ++at) {
      if (unused[at]) continue;
      size_t s = Start(names_[at].name);
      while (slots_[s] != kEmpty) s = Next(s);
      slots_[s] = at;
      ++taken_;
    }
  }

  std::vector<Name> names_;
  std::vector<uint32_t> free_;   // positions in names_ of removed names
  std::vector<uint32_t> slots_;  // positions in names_, kEmpty or kRemoved
  size_t taken_ = 0;             // slots not kEmpty
  std::vector<std::pair<std::string, int>> filesByExtension_;
};

// The directory part and the name part of a path, as views into it. On
// Windows "C:\\x" has the directory "C:\\", which is not "C:" (the current
// directory of drive C).
std::string_view DirectoryPart(std::string_view path);
std::string_view NamePart(std::string_view path);

// One spelling per directory: "." for the current one, no trailing separator.
std::string_view DirectoryKey(std::string_view dir);

// Looked up by views: no key is built for a look-up.
using HeldMap = std::map<std::string, HeldNames, std::less<>>;
HeldMap& HeldDirectories();
HeldNames* HeldFor(std::string_view dir);

// What this program did to a file, told to the held names of its directory.
void NoteAdded(const std::string& path, PathKind kind);
void NoteRemoved(const std::string& path);
void NoteRenamed(const std::string& from, const std::string& to);

}  // namespace quillo::held
