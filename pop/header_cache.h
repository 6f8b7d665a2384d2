// The header cache "poplist.ini" in the mailbox directory: the display line
// and size of each message of the last saved list, so that a message whose
// size still matches costs no TOP.
#pragma once

#include <string>
#include <unordered_map>

#include "pop/header_list.h"

namespace quillo {

class KeyValueFile;

std::string HeaderCachePath();

// The cached display line of slot `slot` when the trust rule holds: the
// slot's size equals `size` and its line is not empty. "" otherwise.
std::string TrustedCacheLine(const KeyValueFile& cache, int slot, long size);

// The slots of a loaded cache by the id each was saved with ("Uidl%04d"),
// so that a message is found whatever number it has now.
class CachedSlots {
 public:
  explicit CachedSlots(const KeyValueFile& cache);
  // The cached line for message `number`: by `uidl` when the server gave
  // one (the slot's size must equal `size` too), by the slot `number` only
  // when the file holds no ids at all (a file of an earlier version), or
  // with no id to compare. "" when no slot is trusted.
  std::string TrustedLine(int number, const std::string& uidl, long size) const;

 private:
  const KeyValueFile& cache_;
  std::unordered_map<std::string, int> slotByUidl_;
};

// Writes the entries of `list` that are not taken as slots 1, 2, ... (the
// server's numbering once this run's deletions take effect) with each
// one's id, drops the slots an earlier save wrote beyond them and records
// their number. When
// the file cannot be rewritten it stays as it was, and the user is told.
void SaveHeaderCache(const HeaderList& list, int count);

// Makes `list` from the cache alone. 0 with the number of entries in
// `count`, 1 when no list could be had (after "Not memory!\n").
int LoadHeaderCache(HeaderList& list, int& count);

}  // namespace quillo
