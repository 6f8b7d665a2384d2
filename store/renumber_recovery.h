// Giving back the files a renumber left half-way: a renumber moves messages
// aside to "NNNN.tmp" before they take their "NNNN.txt" names; a process killed
// in between leaves messages under names no listing shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace quillo {

// True for a name a renumber's first pass gives: four or more digits and
// ".tmp", in any letter case.
bool IsRenumberLeftover(std::string_view name);

// The process number of a name a partial copy takes ("<name>.<pid>.part");
// 0 for any other name.
long PartialCopyOwner(std::string_view name);

// Removes those of the partial copies `names` in the folder at `folderPath`
// whose process no longer runs: what a killed move or copy left. Returns how
// many went.
int RemovePartialLeftovers(const std::string& folderPath, const std::vector<std::string>& names);

// Renames every renumber leftover in the folder at `folderPath` to "NNNN.txt"
// with its own number, or with the first higher number whose ".txt" name is
// free in any letter case. Nothing is ever replaced. Returns how many files
// were given back.
int RecoverRenumberLeftovers(const std::string& folderPath);
// The same with the folder's entries already listed.
int RecoverRenumberLeftovers(const std::string& folderPath, const std::vector<DirEntry>& entries);

}  // namespace quillo
