#include "pop/header_cache.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/output.h"
#include "platform/strings.h"
#include "pop/header_list.h"
#include "pop/uidl.h"
#include "settings/key_value_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

std::string SizeKey(int slot) { return Format("Mail%04d", slot); }
std::string LineKey(int slot) { return Format("Head%04d", slot); }

std::string UidlKey(int slot) { return Format("Uidl%04d", slot); }

void ClearSlot(KeyValueFile& cache, int slot) {
  cache.Set(SizeKey(slot), "0");
  cache.Set(LineKey(slot), "");
}

// The slot a key "Mail…", "Head…" or "Uidl…" is for (any letter case); 0
// for every other key.
int SlotOfKey(std::string_view key) {
  if (key.size() < 5) return 0;
  const std::string_view prefix = key.substr(0, 4);
  if (!EqualsIgnoreCase(prefix, "Mail") && !EqualsIgnoreCase(prefix, "Head") && !EqualsIgnoreCase(prefix, "Uidl")) {
    return 0;
  }
  const std::string_view digits = key.substr(4);
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  return static_cast<int>(DecimalValue(digits));
}

// The slot count of the last save. An edited or broken file cannot claim
// more slots than it has lines: neither a save nor an offline list goes
// past them.
int PreviousSlotCount(const KeyValueFile& cache) {
  long previous = DecimalValue(cache.Get("oldmax"));
  return static_cast<int>(std::clamp<long>(previous, 0, static_cast<long>(cache.LineCount())));
}

}  // namespace

std::string HeaderCachePath() { return GetSettings().mailbox + "/poplist.ini"; }

std::string TrustedCacheLine(const KeyValueFile& cache, int slot, long size) {
  // A size too large to hold is never taken for the largest one that is.
  const std::optional<long> cachedSize = FittingDecimalValue(cache.Get(SizeKey(slot)));
  if (!cachedSize || *cachedSize != size) return {};
  return cache.Get(LineKey(slot));
}

CachedSlots::CachedSlots(const KeyValueFile& cache) : cache_(cache) {
  cache.ForEachValue([this](std::string_view key, std::string_view value) {
    if (!EqualsIgnoreCase(key.substr(0, 4), "Uidl")) return;
    const int slot = SlotOfKey(key);
    // As a reader of the file would, the last line for a slot wins.
    if (slot > 0 && IsUniqueId(value)) slotByUidl_[std::string(value)] = slot;
  });
}

std::string CachedSlots::TrustedLine(int number, const std::string& uidl, long size) const {
  if (uidl.empty() || slotByUidl_.empty()) return TrustedCacheLine(cache_, number, size);
  const auto it = slotByUidl_.find(uidl);
  if (it == slotByUidl_.end() || cache_.Get(UidlKey(it->second)) != uidl) return {};
  return TrustedCacheLine(cache_, it->second, size);
}

void SaveHeaderCache(const HeaderList& list, int count) {
  WriteOut("Save poplist");
  KeyValueFile cache(HeaderCachePath());
  cache.Load();
  const int previous = PreviousSlotCount(cache);
  const size_t entries = std::min(list.size(), static_cast<size_t>(std::max(count, 0)));
  int slot = 0;
  std::vector<int> withUidl;  // ascending
  for (size_t i = 0; i < entries; ++i) {
    const HeaderEntry& entry = list[i];
    if (entry.Taken()) continue;
    WriteOut(".");
    ++slot;
    // A message of unknown size keeps its place in the numbering, but there
    // is nothing to trust about it next time.
    if (entry.SizeKnown()) {
      cache.Set(SizeKey(slot), Format("%ld", entry.size));
      cache.Set(LineKey(slot), entry.line);
      if (!entry.uidl.empty()) {
        cache.Set(UidlKey(slot), entry.uidl);
        withUidl.push_back(slot);
      }
    } else {
      ClearSlot(cache, slot);
    }
  }
  // The slots beyond the new ones go from the file, however many an earlier
  // save (or an edit) claimed: a reader takes a missing slot for a cleared one.
  if (previous > slot) WriteOut(".");
  // An id stays only with the slot it was written for.
  cache.DropKeys([slot, &withUidl](std::string_view key) {
    const int keySlot = SlotOfKey(key);
    if (keySlot > slot) return true;
    return keySlot > 0 && EqualsIgnoreCase(key.substr(0, 4), "Uidl") &&
           !std::binary_search(withUidl.begin(), withUidl.end(), keySlot);
  });
  cache.Set("oldmax", Format("%d", slot));
  const bool saved = cache.Save();
  WriteOut("\n");
  // The old cache stays whole; the user must know that it was not renewed.
  if (!saved) PrintErr("savefile(%s) write error!\a\n", HeaderCachePath().c_str());
}

int LoadHeaderCache(HeaderList& list, int& count) {
  KeyValueFile cache(HeaderCachePath());
  cache.Load();
  const int oldmax = PreviousSlotCount(cache);
  if (!AllocateHeaderList(list, oldmax)) return 1;
  for (size_t i = 0; i < list.size(); ++i) {
    const int slot = static_cast<int>(i) + 1;
    list[i].size = kSizeTaken;
    list[i].line = Renumbered(slot, cache.Get(LineKey(slot)));
  }
  count = oldmax;
  return 0;
}

}  // namespace quillo
