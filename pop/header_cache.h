// The header cache "poplist.ini" in the mailbox directory: the display line
// and size of each message of the last saved list, so that a message whose
// size still matches costs no TOP.
#pragma once

#include <string>

namespace quillo {

class KeyValueFile;

std::string HeaderCachePath();

// The cached display line of slot `slot` when the trust rule holds: the
// slot's size equals `size` and its line is not empty. "" otherwise.
std::string TrustedCacheLine(const KeyValueFile& cache, int slot, long size);

// Writes the list's entries that are not taken as slots 1, 2, ... (the
// server's numbering once this run's deletions take effect), clears the
// slots an earlier save wrote beyond them and records their number. When
// the file cannot be rewritten it stays as it was, and the user is told.
void SaveHeaderCache(int count);

// Makes the header list from the cache alone. 0 with the number of entries
// in `count`, 1 when no list could be had (after "Not memory!\n").
int LoadHeaderCache(int& count);

}  // namespace quillo
