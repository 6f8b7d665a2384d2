#include "platform/partial_file.h"

#include <errno.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/files.h"

namespace quillo {

namespace {

#ifdef _WIN32
// Windows files have no permission bits: the directory's ACL decides.
bool PermissionsOf(const std::string&, unsigned&) { return false; }

bool RemoveLeftover(const std::string& path) {
  const PathKind kind = StatPath(path);
  if (kind == PathKind::kNone) return true;
  return kind != PathKind::kDirectory && RemoveFile(path);
}
#else
// The permission bits of the regular file at `path`, or nothing.
bool PermissionsOf(const std::string& path, unsigned& mode) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  mode = static_cast<unsigned>(st.st_mode & 07777);
  return true;
}

// A name left by an earlier run under this process number. A directory
// there is no such leftover and stays.
bool RemoveLeftover(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return !S_ISDIR(st.st_mode) && RemoveFile(path);
}
#endif

}  // namespace

PartialFile::~PartialFile() { Discard(); }

bool PartialFile::Open(const std::string& target, Use use, Sync sync) {
  Discard();
  sync_ = sync;
  finished_ = false;
  target_ = target;
  const std::string partial = PartialPath(target);
  bool open = out_.Open(partial, OutputFile::Mode::kCreatePrivate);
  if (!open && errno == EEXIST && RemoveLeftover(partial)) {
    open = out_.Open(partial, OutputFile::Mode::kCreatePrivate);
  }
  if (!open) return false;
  partial_ = partial;
  unsigned mode = 0;
  if (use == Use::kReplace && PermissionsOf(target, mode) && !out_.SetPermissions(mode)) {
    Discard();
    return false;
  }
  return true;
}

bool PartialFile::Finish() {
  if (partial_.empty()) return false;
  if (finished_) return true;
#ifdef _WIN32
  // Windows writes a directory's files out one at a time only: each is
  // written out as it is finished.
  finished_ = out_.CloseSynced();
#else
  finished_ = sync_ == Sync::kNow ? out_.CloseSynced() : out_.Close();
#endif
  if (!finished_) Discard();
  return finished_;
}

bool PartialFile::Replace() {
  if (!Finish()) return false;
  if (!RenameReplace(partial_, target_)) {
    Discard();
    return false;
  }
  partial_.clear();
  return true;
}

bool PartialFile::NameAs(const std::string& to) {
  if (!Finish() || !RenameNoReplace(partial_, to)) return false;
  partial_.clear();
  return true;
}

void PartialFile::Discard() {
  out_.Close();
  if (!partial_.empty()) RemoveFile(partial_);
  partial_.clear();
}

bool ReplaceFileWith(const std::string& target, std::string_view content) {
  PartialFile file;
  return file.Open(target, PartialFile::Use::kReplace) && file.Write(content) && file.Replace();
}

}  // namespace quillo
