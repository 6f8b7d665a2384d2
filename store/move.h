// Moving message files between folders.
#pragma once

#include <string>

namespace quillo {

// How a moved file is named in its new folder.
enum class MoveName {
  kKeep,      // its own name, or the next free "%04d.TXT" when that is taken
  kNumbered,  // always the next free "%04d.TXT" (a file filed as a new message)
};

// Moves the file at `source` into the folder `folder` of the mailbox: one
// rename on the same file system, else a copy that takes its name only once
// complete, the source deleted after it. Returns 0 on success, 1 on failure
// (after "mail move error!(%s)\n"; the source stays where it was).
int MoveMessage(const std::string& source, const std::string& folder, MoveName naming = MoveName::kKeep);

// Moves every file matching `pattern` ("*" and "?" in its last part, letters
// compared without regard to case) into `folder`, in name order. A plain path
// moves that one file.
void MoveMatching(const std::string& pattern, const std::string& folder);

}  // namespace quillo
