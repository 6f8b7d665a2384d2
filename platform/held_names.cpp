// The parts of the file layer that make no system call of their own, shared
// by the POSIX and the Windows implementations.
#include "platform/held_names.h"

#include <chrono>

#include "platform/files.h"
#include "platform/strings.h"

namespace quillo {

namespace held {

std::string_view DirectoryPart(std::string_view path) {
  const size_t slash = LastPathSeparator(path);
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
#ifdef _WIN32
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
#endif
  return path.substr(0, slash);
}

std::string_view NamePart(std::string_view path) {
  const size_t slash = LastPathSeparator(path);
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view DirectoryKey(std::string_view dir) {
  if (dir.empty()) return ".";
  while (dir.size() > 1 && IsPathSeparatorAt(dir, dir.size() - 1)) {
#ifdef _WIN32
    if (dir.size() == 3 && dir[1] == ':') break;
#endif
    dir.remove_suffix(1);
  }
  return dir;
}

HeldMap& HeldDirectories() {
  static HeldMap held;
  return held;
}

HeldNames* HeldFor(std::string_view dir) {
  auto& held = HeldDirectories();
  if (held.empty()) return nullptr;
  auto it = held.find(DirectoryKey(dir));
  return it == held.end() ? nullptr : &it->second;
}

void NoteAdded(const std::string& path, PathKind kind) {
  if (HeldNames* held = HeldFor(DirectoryPart(path))) held->Add(NamePart(path), kind);
}

void NoteRemoved(const std::string& path) {
  if (HeldNames* held = HeldFor(DirectoryPart(path))) held->Remove(NamePart(path));
}

void NoteRenamed(const std::string& from, const std::string& to) {
  if (HeldDirectories().empty()) return;
  HeldNames* source = HeldFor(DirectoryPart(from));
  HeldNames* target = HeldFor(DirectoryPart(to));
  if (source && source == target && source->Rename(NamePart(from), NamePart(to))) return;
  const PathKind kind = source ? source->Remove(NamePart(from)) : PathKind::kNone;
  if (!target) return;
  // The name moves with its kind; a name not held is looked at.
  target->Add(NamePart(to), kind != PathKind::kNone ? kind : StatPath(to));
}

}  // namespace held

using namespace held;

std::string DirectoryOf(const std::string& path) { return std::string(DirectoryPart(path)); }

std::string BaseName(const std::string& path) { return std::string(NamePart(path)); }

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& entries) {
  entries.clear();
  return ForEachDirectoryEntry(
      dir, [&entries](std::string_view name, PathKind kind) { entries.push_back({std::string(name), kind}); });
}

bool ExistsIgnoringCase(const std::string& path) {
  return FindNameIgnoringCase(DirectoryOf(path), BaseName(path)).has_value();
}

std::optional<std::string> HeldOrFoundName(const std::string& path) {
  const std::string_view dir = DirectoryPart(path);
  const std::string_view name = NamePart(path);
  const HeldNames* held = HeldFor(dir);
  if (!held) return FindNameIgnoringCase(std::string(dir), std::string(name));
  const std::string* found = held->Find(name);
  if (!found) return std::nullopt;
  if (StatPath(std::string(dir) + "/" + *found) != PathKind::kNone) return *found;
  return FindNameIgnoringCase(std::string(dir), std::string(name));
}

DirectoryNameScope::DirectoryNameScope(const std::string& dir)
    : path_(DirectoryKey(dir)), dir_(path_), open_(dir) {
  auto& held = HeldDirectories();
  if (auto it = held.find(dir_); it != held.end()) {
    ++it->second.holders;
    return;
  }
  HeldNames names;
  names.holders = 1;
  if (!ForEachDirectoryEntry(dir_, [&names](std::string_view name, PathKind kind) { names.Add(name, kind); })) {
    dir_.clear();  // nothing held: look-ups there scan as usual
    return;
  }
  held.emplace(dir_, std::move(names));
}

DirectoryNameScope::~DirectoryNameScope() {
  if (dir_.empty()) return;
  auto& held = HeldDirectories();
  auto it = held.find(dir_);
  if (it != held.end() && --it->second.holders == 0) held.erase(it);
}

bool ForEachKnownEntry(const std::string& dir,
                       const std::function<void(std::string_view name, PathKind kind)>& visit) {
  const HeldNames* held = HeldFor(dir);
  if (!held) return ForEachDirectoryEntry(dir, visit);
  held->ForEach(visit);
  return true;
}

std::optional<int> HeldFileCount(const std::string& dir, const std::string& extension) {
  const HeldNames* held = HeldFor(dir);
  if (!held) return std::nullopt;
  return held->FileCount(extension);
}

void NoteNewFile(const std::string& path) { NoteAdded(path, PathKind::kFile); }

WorkingDirectoryScope::WorkingDirectoryScope(const std::string& directory) : saved_(CurrentDirectory()) {
  entered_ = !saved_.empty() && ChangeDirectory(directory.empty() ? std::string(".") : directory);
}

WorkingDirectoryScope::~WorkingDirectoryScope() {
  if (entered_) ChangeDirectory(saved_);
}

bool StampSettled(const FileStamp& stamp) {
  // Two seconds covers the coarsest clock a file system keeps (FAT's).
  constexpr long long kClockStepNs = 2'000'000'000LL;
  const long long nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
  return stamp.writtenNs <= nowNs - kClockStepNs;
}

}  // namespace quillo
