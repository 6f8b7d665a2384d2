// Where folders and message files live, and how new messages get numbers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/mail_list.h"

namespace quillo {

// "mailbox/folder".
std::string FolderPath(const std::string& folder);
// "mailbox/folder/%04d.TXT": the name every new message file is created under.
std::string NewMessagePath(const std::string& folder, int number);

// True when `name` ends in ".txt", in any letter case.
bool IsMessageName(std::string_view name);

// The number of message files ("*.txt" in any letter case, regular files only).
int CountMessages(const std::string& folder);

// The number for a new message file: the count, or the first number from the
// count on whose "%04d.TXT" is free (in any letter case).
int NextMessageNumber(const std::string& folder);

// Renames the `count` files named by `list` to 0000.txt, 0001.txt, ... in list
// order. A file moves once, as soon as its new name is free; a ring of files
// waiting for each other's names is opened through a "%04d.tmp" name. Folders
// whose names cannot be ordered so (two names one in another letter case, a
// new name taken by a file outside the list) take every file through a
// "%04d.tmp" name first. Returns count.
int RenumberFolder(const std::string& folder, const MailList& list, int count);
// The same, telling for each of the `count` files whether it is now under its
// new name (`placed`, by list position).
int RenumberFolder(const std::string& folder, const MailList& list, int count, std::vector<bool>& placed);

// The list position a renumber gives the name `name` to ("0012.txt" for 12);
// nothing for any other name.
std::optional<size_t> RenumberedPosition(std::string_view name);

// True when `name` may be used as a folder name: not empty or blank, not "."
// or "..", not beginning with '.', without '/' or '\\'.
bool IsSafeFolderName(const std::string& name);

}  // namespace quillo
