// The in-memory list of a folder's files (or of the mailbox's folders).
#pragma once

#include <string>
#include <vector>

namespace quillo {

struct ListEntry {
  std::string name;  // file name (held whole) or folder name (at most 19 bytes)
  std::string text;  // display text (at most 84 bytes); empty until read
};

using MailList = std::vector<ListEntry>;

}  // namespace quillo
