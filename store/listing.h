// A folder's message list: building it from disk and printing its pages.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/mail_list.h"

namespace quillo {

// A new, empty list sized for the folder, and the folder path
// ("mailbox/folder") in `folderPath` for BuildMessageList. Nothing when
// memory is exhausted.
std::optional<MailList> NewMailList(std::string& folderPath, const std::string& folder);

// Fills `list` with the message files of the folder at `folderPath`, in name
// order, each with its display text (file number and long summary), printing
// the "Searching" and "Getting Header" progress. Returns the count.
int BuildMessageList(const std::string& folderPath, MailList& list);

// BuildMessageList after RenumberFolder renamed the first `count` files of
// `list` (the list as it was then; `placed` tells which of them are now under
// their new names). A file the renumber placed keeps the text it had, with its
// new number: a rename leaves a file's contents as they were, and the list was
// sorted and renumbered by those texts. Every other file is looked at as
// BuildMessageList does. Same progress and result as BuildMessageList unless
// another program changed a file in between.
int BuildRenumberedList(const std::string& folderPath, MailList& list, int count, const std::vector<bool>& placed);

// Prints one page of `list`: `lines` - 3 entries from display position
// `first` (0-based), the entry at `cursor` marked ">". With `descending` on,
// display position p shows entry count - 1 - p.
void ShowListPage(const MailList& list, int count, int first, int cursor);

// The command-line listing: the whole folder as one page (sets `lines` to
// 999 for the rest of the run), sorted by date first when `sortByDate`.
void ListFolder(const std::string& folder, int sortByDate);

}  // namespace quillo
