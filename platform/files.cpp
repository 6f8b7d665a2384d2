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
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "platform/held_names.h"
#include "platform/strings.h"

namespace quillo {

namespace {

using namespace held;

// An open directory, closed with its owner.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  explicit DirectoryHandle(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~DirectoryHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryHandle(DirectoryHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The directories kept open by a DirectoryOpenScope.
struct OpenDirectory {
  int holders = 0;
  DirectoryHandle handle;
};

std::map<std::string, OpenDirectory, std::less<>>& OpenDirectories() {
  static std::map<std::string, OpenDirectory, std::less<>> open;
  return open;
}

// Where a system call finds `path`: from its open directory when there is
// one, else as it stands. The name points into `path`.
struct Located {
  int dirFd;
  const char* name;
};

Located Locate(const std::string& path) {
  auto& open = OpenDirectories();
  if (open.empty()) return {AT_FDCWD, path.c_str()};
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return {AT_FDCWD, path.c_str()};
  auto it = open.find(DirectoryKey(DirectoryPart(path)));
  if (it == open.end()) return {AT_FDCWD, path.c_str()};
  return {it->second.handle.Fd(), path.c_str() + slash + 1};
}

}  // namespace

PathKind StatPath(const std::string& path) {
  struct stat st {};
  if (path.empty()) return PathKind::kNone;
  const Located at = Locate(path);
  if (fstatat(at.dirFd, at.name, &st, 0) != 0) return PathKind::kNone;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

bool SyncToDisk(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
#ifdef __linux__
  // One flush of the whole file system, not one per file.
  bool ok = ::syncfs(fd) == 0;
#else
  ::sync();
  bool ok = ::fsync(fd) == 0;
#endif
  ::close(fd);
  return ok;
}

bool SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool MakeDirectory(const std::string& path) {
  // The user's mail is nobody else's to read, whatever the umask.
  if (mkdir(path.c_str(), 0700) != 0) return false;
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

bool ForEachDirectoryEntry(const std::string& dir,
                           const std::function<void(std::string_view name, PathKind kind)>& visit) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  while (struct dirent* e = readdir(d)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    PathKind kind = PathKind::kOther;
    switch (e->d_type) {
      case DT_REG: kind = PathKind::kFile; break;
      case DT_DIR: kind = PathKind::kDirectory; break;
      default: kind = StatPath((dir.empty() ? std::string(".") : dir) + "/" + std::string(name)); break;
    }
    visit(name, kind);
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

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (auto existing = HeldOrFoundName(to)) {
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
  const Located source = Locate(from);
  const Located target = Locate(to);
  if (renameat2(source.dirFd, source.name, target.dirFd, target.name, RENAME_NOREPLACE) == 0) {
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

DirectoryOpenScope::DirectoryOpenScope(const std::string& dir) : dir_(DirectoryKey(dir)) {
  auto& open = OpenDirectories();
  if (auto it = open.find(dir_); it != open.end()) {
    ++it->second.holders;
    fd_ = it->second.handle.Fd();
    return;
  }
  DirectoryHandle handle(dir_);
  if (handle.Fd() < 0) {
    dir_.clear();  // not open: its files are reached by their whole paths
    return;
  }
  OpenDirectory& entry = open[dir_];
  entry.holders = 1;
  entry.handle = std::move(handle);
  fd_ = entry.handle.Fd();
}

DirectoryOpenScope::~DirectoryOpenScope() {
  if (dir_.empty()) return;
  auto& open = OpenDirectories();
  auto it = open.find(dir_);
  if (it != open.end() && --it->second.holders == 0) open.erase(it);
}

bool DirectoryNameScope::RenameNoReplace(std::string_view from, std::string_view to) {
#ifdef RENAME_NOREPLACE
  HeldNames* held = dir_.empty() ? nullptr : HeldFor(dir_);
  // The usual case: the new name is free in every letter case.
  if (held && open_.Fd() >= 0 && !held->Find(to)) {
    const std::string fromName(from);
    const std::string toName(to);
    if (renameat2(open_.Fd(), fromName.c_str(), open_.Fd(), toName.c_str(), RENAME_NOREPLACE) == 0) {
      // A name not held (another program's new file) is looked at.
      if (!held->Rename(from, to)) held->Add(to, StatPath(path_ + "/" + toName));
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
  }
#endif
  return quillo::RenameNoReplace(path_ + "/" + std::string(from), path_ + "/" + std::string(to));
}

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

std::optional<FileAccess> AccessOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  FileAccess access;
  access.ownedByUserOrRoot = st.st_uid == geteuid() || st.st_uid == 0;
  access.writableByOthers = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return access;
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

int OpenForReading(const std::string& path) {
  const Located at = Locate(path);
  return ::openat(at.dirFd, at.name, O_RDONLY | O_CLOEXEC);
}

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  const Located at = Locate(path);
  if (fstatat(at.dirFd, at.name, &st, 0) != 0) return std::nullopt;
  return StampOfStat(st);
}

std::optional<FileStamp> StampOfDescriptor(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  return StampOfStat(st);
}

}  // namespace quillo
