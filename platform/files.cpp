#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace quillo {

PathKind StatPath(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return PathKind::kNone;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

bool MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }
bool RemoveDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }
bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

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

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (auto existing = FindNameIgnoringCase(DirectoryOf(to), BaseName(to))) {
    // Only a change of letter case of the same file may proceed.
    const bool sameFile = DirectoryOf(to) == DirectoryOf(from) && *existing == BaseName(from);
    if (!sameFile) {
      errno = EEXIST;
      return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
  }
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // File systems without the no-replace rename: a hard link fails when the
  // target exists, so the source is only unlinked once the new name is in place.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  return unlink(from.c_str()) == 0;
}

bool RenameReplace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
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

long long FileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace quillo
