// A folder's message list: building it from disk and printing its pages.
#pragma once

#include <string>
#include <vector>

#include "store/mail_list.h"

namespace quillo {

// When the display texts of a list's files are read: all at once, or only
// for the entries a page shows (ReadListTexts), so that a list of thousands
// opens, renumbers and is made again without reading every file each time.
enum class TextReading { kAll, kWhenShown };

// Fills `list` with the message files of the folder at `folderPath`, in name
// order, each with its display text (file number and long summary), printing
// the "Searching" and "Getting Header" progress. Returns the count. With
// kWhenShown the texts are left empty for ReadListTexts.
int BuildMessageList(const std::string& folderPath, MailList& list, TextReading reading = TextReading::kAll);

// Reads the display texts still missing for `rows` display positions from
// `first` (as ShowListPage counts them), every entry when `rows` >= `count`.
void ReadListTexts(const std::string& folderPath, MailList& list, int count, int first, int rows);

// BuildMessageList after RenumberFolder renamed the first `count` files of
// `list` (the list as it was then; `placed` tells which of them are now under
// their new names). A file the renumber placed keeps the text it had, with its
// new number: a rename leaves a file's contents as they were, and the list was
// sorted and renumbered by those texts. Every other file is left for
// ReadListTexts, as BuildMessageList does with kWhenShown. Same progress and
// result as BuildMessageList unless another program changed a file in between.
int BuildRenumberedList(const std::string& folderPath, MailList& list, int count, const std::vector<bool>& placed);

// Prints one page of `list`: `lines` - 3 entries from display position
// `first` (0-based), the entry at `cursor` marked ">". With `descending` on,
// display position p shows entry count - 1 - p.
void ShowListPage(const MailList& list, int count, int first, int cursor);

// The command-line listing: the whole folder as one page (sets `lines` to
// 999 for the rest of the run), sorted by date first when `sortByDate`.
void ListFolder(const std::string& folder, int sortByDate);

}  // namespace quillo
