// File system operations. Names inside a folder compare without regard to
// letter case on every file system, so existence tests here ignore case.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

enum class PathKind { kNone, kFile, kDirectory, kOther };

// What is at `path`, links followed. kFile means a regular file.
PathKind StatPath(const std::string& path);

// Makes the directory with mode 0700; false when it cannot be made.
[[nodiscard]] bool MakeDirectory(const std::string& path);
// Writes everything written to the file system that holds the directory
// `dir` out to the disk, and waits for it. False when `dir` cannot be opened
// or the writing failed.
[[nodiscard]] bool SyncToDisk(const std::string& dir);

// Waits until the names in the directory `dir` (files created, renamed or
// removed there) are on the disk, not its files' contents. False when `dir`
// cannot be opened or the writing failed.
[[nodiscard]] bool SyncDirectory(const std::string& dir);
bool RemoveDirectory(const std::string& path);
bool RemoveFile(const std::string& path);

// Renames `from` to `to`; fails (and changes nothing) when `to` exists, in any
// letter case.
[[nodiscard]] bool RenameNoReplace(const std::string& from, const std::string& to);

// Replaces `to` with `from` in one step (for rewriting a file atomically).
[[nodiscard]] bool RenameReplace(const std::string& from, const std::string& to);

// Gives the regular file `from` the name `to` in one step, as RenameNoReplace
// does, when that leaves it as independent as a copy would be: `from` is no
// symbolic link, has no second name, and lies on the file system of `to`.
// False (nothing changed) otherwise.
[[nodiscard]] bool MoveOwnFile(const std::string& from, const std::string& to);

// A name beside `path` for a file while it is being written, one that no
// other running process uses and that is no message name:
// "<path>.<process id>.part".
std::string PartialPath(const std::string& path);

struct DirEntry {
  std::string name;
  PathKind kind = PathKind::kNone;
};

// The entries of a directory (without "." and ".."), in the order the system
// gives them. Returns false when the directory cannot be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& entries);

// The same entries one at a time, nothing kept: a folder of thousands of
// files is gone through without a copy of all its names. The name is valid
// during the call only.
bool ForEachDirectoryEntry(const std::string& dir,
                           const std::function<void(std::string_view name, PathKind kind)>& visit);

// The name under which `name` exists in `dir`, compared without regard to case
// (an exact match preferred); nothing when no entry matches.
std::optional<std::string> FindNameIgnoringCase(const std::string& dir, const std::string& name);

// True when `path` exists, its last component compared without regard to case.
bool ExistsIgnoringCase(const std::string& path);

// The name under which `path` exists in any letter case, as
// FindNameIgnoringCase gives it; but where a DirectoryNameScope holds the
// directory's names they answer without a look at the exact name, which a
// folder's renumber would pay for every free number. A file another program
// made under exactly that name meanwhile still stops a no-replace rename.
std::optional<std::string> HeldOrFoundName(const std::string& path);

// Keeps the names of one directory in memory while a job adds files to it, so
// that a case-insensitive look-up there costs no scan of the directory (a scan
// per new file grows with the square of the folder). This program's own
// creations, renames and removals keep the names up to date; a file another
// program adds meanwhile is still found when the letter case matches exactly.
// Scopes may nest, also for the same directory.
// Keeps a directory open while a job works on many of its files: they are
// opened, looked at and renamed from it by name, without a walk down the
// whole path for each. Scopes may nest, also for the same directory.
class DirectoryOpenScope {
 public:
  explicit DirectoryOpenScope(const std::string& dir);
  ~DirectoryOpenScope();
  DirectoryOpenScope(const DirectoryOpenScope&) = delete;
  DirectoryOpenScope& operator=(const DirectoryOpenScope&) = delete;

  // The open directory's descriptor; -1 when it could not be opened.
  int Fd() const { return fd_; }

 private:
  std::string dir_;
  int fd_ = -1;
};

// The directory is also kept open meanwhile (DirectoryOpenScope).
class DirectoryNameScope {
 public:
  explicit DirectoryNameScope(const std::string& dir);
  ~DirectoryNameScope();
  DirectoryNameScope(const DirectoryNameScope&) = delete;
  DirectoryNameScope& operator=(const DirectoryNameScope&) = delete;

  // RenameNoReplace for two names in this directory; the held names answer
  // whether `to` is free without a path being taken apart for each file.
  [[nodiscard]] bool RenameNoReplace(std::string_view from, std::string_view to);

 private:
  std::string path_;  // the directory as named
  std::string dir_;   // its key among the held directories; empty when none are held
  DirectoryOpenScope open_;
};

// Opens `path` for reading: a descriptor, or -1 (errno set). From its
// directory when a DirectoryOpenScope keeps that open.
int OpenForReading(const std::string& path);

// The entries of `dir` as a DirectoryNameScope holding it knows them (this
// program's own changes included, another program's since it was read not),
// in no particular order and without reading the directory again; as
// ForEachDirectoryEntry when no scope holds it.
bool ForEachKnownEntry(const std::string& dir,
                       const std::function<void(std::string_view name, PathKind kind)>& visit);

// The number of regular files in `dir` whose name ends in "." and `extension`
// (any letter case), when a DirectoryNameScope holds the directory's names;
// nothing otherwise.
std::optional<int> HeldFileCount(const std::string& dir, const std::string& extension);

// Tells the held names of the file's directory (if any) that `path` was created.
void NoteNewFile(const std::string& path);

// Splits a path at its last '/': the directory ("." when there is none) and the name.
std::string DirectoryOf(const std::string& path);
std::string BaseName(const std::string& path);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

// Makes `directory` ("" for ".") the current directory for the scope's
// lifetime, and the one before it current again at its end. Scopes nest.
class WorkingDirectoryScope {
 public:
  explicit WorkingDirectoryScope(const std::string& directory);
  ~WorkingDirectoryScope();
  WorkingDirectoryScope(const WorkingDirectoryScope&) = delete;
  WorkingDirectoryScope& operator=(const WorkingDirectoryScope&) = delete;

  // False when the directory could not be entered (nothing changed then).
  bool Entered() const { return entered_; }

 private:
  std::string saved_;
  bool entered_ = false;
};

// The directory of the running program (with a trailing '/'), or "" when unknown.
std::string ProgramDirectory(const char* argv0);

// Who besides the user may change the file at `path` (links followed).
struct FileAccess {
  bool ownedByUserOrRoot = false;
  bool writableByOthers = false;  // by its group or by everyone
};
// Nothing when the file cannot be looked at.
std::optional<FileAccess> AccessOf(const std::string& path);

// Size of a file in bytes, or -1.
long long FileSize(const std::string& path);

// What tells, without reading a file, that it is the file seen before and
// unchanged: the file itself (a rename keeps it), its size and when it was
// last written.
struct FileStamp {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  long long size = 0;
  long long writtenNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file at `path`; nothing when there is none.
std::optional<FileStamp> StampOf(const std::string& path);
// The same for a file already open (no look-up of its path).
std::optional<FileStamp> StampOfDescriptor(int fd);

// True when the file was last written long enough ago that a later change
// would show in its stamp even on a file system that keeps coarse times.
bool StampSettled(const FileStamp& stamp);

}  // namespace quillo
