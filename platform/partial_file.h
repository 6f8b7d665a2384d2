// A file written under a name no listing shows and given its real name only
// once it is whole and on the disk: a run killed or failing at any moment
// leaves either the old file or the new one, never half of one. Every
// program file that replaces or adds a whole file is written through here.
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace quillo {

class PartialFile {
 public:
  PartialFile() = default;
  // A partial file that never got its name is removed.
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // kReplace: the file takes the place of the file at the target, and its
  // permissions. kNew: the file takes a free name (NameAs).
  enum class Use { kReplace, kNew };
  // kNow: Finish() waits for the file's bytes to reach the disk. kLater: the
  // caller writes out the whole directory once for many files (SyncToDisk).
  enum class Sync { kNow, kLater };

  // Creates the partial file beside `target` (PartialPath) exclusively,
  // following no symbolic link, readable by the user alone, or (kReplace)
  // with the permissions of the file at `target` when there is one. What an
  // earlier run of the same process number left under that name is removed
  // first. False when the file cannot be made.
  [[nodiscard]] bool Open(const std::string& target, Use use, Sync sync = Sync::kNow);

  // The file being written; every write is checked by Finish().
  OutputFile& Out() { return out_; }
  bool Write(std::string_view text) { return out_.Write(text); }

  // Flushes and closes the file (once its bytes are on the disk). False when
  // any write, the sync or the close failed; the partial file is then gone.
  [[nodiscard]] bool Finish();

  // The finished file takes the name of the target, replacing what was
  // there (kReplace). False (the partial file removed, the target as it was) on failure.
  [[nodiscard]] bool Replace();

  // The finished file takes the name `to`, which must be free in every
  // letter case. False when it is not: the partial file stays for another
  // name to be tried, and goes with this object.
  [[nodiscard]] bool NameAs(const std::string& to);

  // Removes the partial file (also done by the destructor).
  void Discard();

  const std::string& Path() const { return partial_; }

 private:
  std::string target_;
  std::string partial_;  // empty once named or removed
  OutputFile out_;
  bool finished_ = false;
  Sync sync_ = Sync::kNow;
};

// Writes `content` as the whole of `target` through a PartialFile.
[[nodiscard]] bool ReplaceFileWith(const std::string& target, std::string_view content);

}  // namespace quillo
