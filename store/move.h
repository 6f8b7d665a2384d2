// Moving message files between folders.
#pragma once

#include <string>

namespace quillo {

// Moves the file at `source` into the folder `folder` of the mailbox, keeping
// its name unless that name is taken there (then it gets the folder's next
// free "%04d.TXT"). The source is deleted only after a complete copy.
// Returns 0 on success, 1 on failure (after "mail move error!(%s)\n").
int MoveMessage(const std::string& source, const std::string& folder);

// Moves every file matching `pattern` ("*" and "?" in its last part, letters
// compared without regard to case) into `folder`, in name order. A plain path
// moves that one file.
void MoveMatching(const std::string& pattern, const std::string& folder);

}  // namespace quillo
