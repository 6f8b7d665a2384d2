#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace quillo {

namespace {

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The extension a regular file is counted under: after the last '.', folded.
std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : Folded(std::string_view(name).substr(dot + 1));
}

// The names of one directory while a DirectoryNameScope holds them.
struct HeldNames {
  int holders = 0;
  std::unordered_map<std::string, PathKind> kinds;                     // by name
  std::unordered_map<std::string, std::vector<std::string>> byFolded;  // folded name -> names
  std::unordered_map<std::string, int> filesByExtension;

  void Count(const std::string& name, PathKind kind, int step) {
    if (kind == PathKind::kFile) filesByExtension[ExtensionOf(name)] += step;
  }
  void Add(const std::string& name, PathKind kind) {
    auto it = kinds.find(name);
    if (it != kinds.end()) {
      Count(name, it->second, -1);
      it->second = kind;
    } else {
      kinds.emplace(name, kind);
      byFolded[Folded(name)].push_back(name);
    }
    Count(name, kind, +1);
  }
  void Remove(const std::string& name) {
    auto it = kinds.find(name);
    if (it == kinds.end()) return;
    Count(name, it->second, -1);
    kinds.erase(it);
    auto folded = byFolded.find(Folded(name));
    if (folded == byFolded.end()) return;
    std::vector<std::string>& names = folded->second;
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
    if (names.empty()) byFolded.erase(folded);
  }
  // The name matching `name` in any letter case, an exact match preferred.
  const std::string* Find(const std::string& name) const {
    auto it = byFolded.find(Folded(name));
    if (it == byFolded.end() || it->second.empty()) return nullptr;
    for (const std::string& candidate : it->second) {
      if (candidate == name) return &candidate;
    }
    return &it->second.front();
  }
};

std::map<std::string, HeldNames>& HeldDirectories() {
  static std::map<std::string, HeldNames> held;
  return held;
}

// One spelling per directory: "." for the current one, no trailing '/'.
std::string DirectoryKey(const std::string& dir) {
  std::string key = dir.empty() ? std::string(".") : dir;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

HeldNames* HeldFor(const std::string& dir) {
  auto& held = HeldDirectories();
  if (held.empty()) return nullptr;
  auto it = held.find(DirectoryKey(dir));
  return it == held.end() ? nullptr : &it->second;
}

void NoteAdded(const std::string& path, PathKind kind) {
  if (HeldDirectories().empty()) return;
  if (HeldNames* held = HeldFor(DirectoryOf(path))) held->Add(BaseName(path), kind);
}

void NoteRemoved(const std::string& path) {
  if (HeldDirectories().empty()) return;
  if (HeldNames* held = HeldFor(DirectoryOf(path))) held->Remove(BaseName(path));
}

void NoteRenamed(const std::string& from, const std::string& to) {
  if (HeldDirectories().empty()) return;
  HeldNames* source = HeldFor(DirectoryOf(from));
  HeldNames* target = HeldFor(DirectoryOf(to));
  const std::string fromName = BaseName(from);
  PathKind kind = PathKind::kNone;
  if (source) {
    auto it = source->kinds.find(fromName);
    if (it != source->kinds.end()) kind = it->second;
    source->Remove(fromName);
  }
  if (!target) return;
  // The name moves with its kind; a name not held is looked at.
  target->Add(BaseName(to), kind != PathKind::kNone ? kind : StatPath(to));
}

}  // namespace

PathKind StatPath(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return PathKind::kNone;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0) return false;
  NoteAdded(path, PathKind::kDirectory);
  return true;
}

bool RemoveDirectory(const std::string& path) {
  if (rmdir(path.c_str()) != 0) return false;
  NoteRemoved(path);
  return true;
}

bool RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) return false;
  NoteRemoved(path);
  return true;
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    PathKind kind = PathKind::kOther;
    switch (e->d_type) {
      case DT_REG: kind = PathKind::kFile; break;
      case DT_DIR: kind = PathKind::kDirectory; break;
      default: kind = StatPath((dir.empty() ? std::string(".") : dir) + "/" + name); break;
    }
    entries.push_back({std::move(name), kind});
  }
  closedir(d);
  return true;
}

std::optional<std::string> FindNameIgnoringCase(const std::string& dir, const std::string& name) {
  const std::string base = dir.empty() ? "." : dir;
  if (StatPath(base + "/" + name) != PathKind::kNone) return name;
  if (const HeldNames* held = HeldFor(base)) {
    const std::string* found = held->Find(name);
    if (!found) return std::nullopt;
    // A name held but gone meanwhile (another program removed it): the
    // directory itself decides.
    if (StatPath(base + "/" + *found) != PathKind::kNone) return *found;
  }
  std::vector<DirEntry> entries;
  if (!ListDirectory(base, entries)) return std::nullopt;
  for (const DirEntry& e : entries) {
    if (strcasecmp(e.name.c_str(), name.c_str()) == 0) return e.name;
  }
  return std::nullopt;
}

bool ExistsIgnoringCase(const std::string& path) {
  return FindNameIgnoringCase(DirectoryOf(path), BaseName(path)).has_value();
}

namespace {

// The name under which `to` already exists in any letter case. Where the
// directory's names are held, they answer without a look at the exact name:
// a file another program made under exactly that name still stops the
// no-replace rename itself.
std::optional<std::string> ExistingTarget(const std::string& to) {
  const std::string dir = DirectoryOf(to);
  const HeldNames* held = HeldDirectories().empty() ? nullptr : HeldFor(dir);
  if (!held) return FindNameIgnoringCase(dir, BaseName(to));
  const std::string* found = held->Find(BaseName(to));
  if (!found) return std::nullopt;
  if (StatPath(dir + "/" + *found) != PathKind::kNone) return *found;
  return FindNameIgnoringCase(dir, BaseName(to));
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (auto existing = ExistingTarget(to)) {
    // Only a change of letter case of the same file may proceed.
    const bool sameFile = DirectoryOf(to) == DirectoryOf(from) && *existing == BaseName(from);
    if (!sameFile) {
      errno = EEXIST;
      return false;
    }
    if (rename(from.c_str(), to.c_str()) != 0) return false;
    NoteRenamed(from, to);
    return true;
  }
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    NoteRenamed(from, to);
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // File systems without the no-replace rename: a hard link fails when the
  // target exists, so the source is only unlinked once the new name is in place.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  if (HeldFor(DirectoryOf(to))) NoteAdded(to, StatPath(to));
  if (unlink(from.c_str()) != 0) return false;
  NoteRemoved(from);
  return true;
}

bool RenameReplace(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  NoteRenamed(from, to);
  return true;
}

bool MoveOwnFile(const std::string& from, const std::string& to) {
  struct stat st {};
  if (lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  return RenameNoReplace(from, to);
}

std::string PartialPath(const std::string& path) { return path + "." + std::to_string(getpid()) + ".part"; }

DirectoryNameScope::DirectoryNameScope(const std::string& dir) : dir_(DirectoryKey(dir)) {
  auto& held = HeldDirectories();
  if (auto it = held.find(dir_); it != held.end()) {
    ++it->second.holders;
    return;
  }
  std::vector<DirEntry> entries;
  if (!ListDirectory(dir_, entries)) {
    dir_.clear();  // nothing held: look-ups there scan as usual
    return;
  }
  HeldNames& names = held[dir_];
  names.holders = 1;
  for (const DirEntry& e : entries) names.Add(e.name, e.kind);
}

DirectoryNameScope::~DirectoryNameScope() {
  if (dir_.empty()) return;
  auto& held = HeldDirectories();
  auto it = held.find(dir_);
  if (it != held.end() && --it->second.holders == 0) held.erase(it);
}

std::optional<int> HeldFileCount(const std::string& dir, const std::string& extension) {
  const HeldNames* held = HeldFor(dir);
  if (!held) return std::nullopt;
  auto it = held->filesByExtension.find(Folded(extension));
  return it == held->filesByExtension.end() ? 0 : it->second;
}

void NoteNewFile(const std::string& path) { NoteAdded(path, PathKind::kFile); }

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return {};
  return buf;
}

bool ChangeDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string ProgramDirectory(const char* argv0) {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path;
  if (n > 0) {
    path.assign(buf, static_cast<size_t>(n));
  } else if (argv0) {
    path = argv0;
  }
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return {};
  return path.substr(0, slash + 1);
}

long long FileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

namespace {

std::optional<FileStamp> StampOfStat(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  FileStamp stamp;
  stamp.device = static_cast<unsigned long long>(st.st_dev);
  stamp.inode = static_cast<unsigned long long>(st.st_ino);
  stamp.size = static_cast<long long>(st.st_size);
  stamp.writtenNs = static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec;
  return stamp;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampOfStat(st);
}

std::optional<FileStamp> StampOfDescriptor(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  return StampOfStat(st);
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
