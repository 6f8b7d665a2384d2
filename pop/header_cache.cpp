#include "pop/header_cache.h"

#include <algorithm>
#include <optional>

#include "platform/output.h"
#include "platform/strings.h"
#include "pop/header_list.h"
#include "settings/key_value_file.h"
#include "settings/settings.h"

namespace quillo {

namespace {

std::string SizeKey(int slot) { return Format("Mail%04d", slot); }
std::string LineKey(int slot) { return Format("Head%04d", slot); }

void ClearSlot(KeyValueFile& cache, int slot) {
  cache.Set(SizeKey(slot), "0");
  cache.Set(LineKey(slot), "");
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

void SaveHeaderCache(int count) {
  WriteOut("Save poplist");
  KeyValueFile cache(HeaderCachePath());
  cache.Load();
  const int previous = PreviousSlotCount(cache);
  const HeaderList& list = GetHeaderList();
  const size_t entries = std::min(list.size(), static_cast<size_t>(std::max(count, 0)));
  int slot = 0;
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
    } else {
      ClearSlot(cache, slot);
    }
  }
  for (int m = slot + 1; m <= previous; ++m) {
    WriteOut(".");
    ClearSlot(cache, m);
  }
  cache.Set("oldmax", Format("%d", slot));
  const bool saved = cache.Save();
  WriteOut("\n");
  // The old cache stays whole; the user must know that it was not renewed.
  if (!saved) PrintErr("savefile(%s) write error!\a\n", HeaderCachePath().c_str());
}

int LoadHeaderCache(int& count) {
  KeyValueFile cache(HeaderCachePath());
  cache.Load();
  const int oldmax = PreviousSlotCount(cache);
  if (!AllocateHeaderList(oldmax)) return 1;
  HeaderList& list = GetHeaderList();
  for (size_t i = 0; i < list.size(); ++i) {
    const int slot = static_cast<int>(i) + 1;
    list[i].size = kSizeTaken;
    list[i].line = Renumbered(slot, cache.Get(LineKey(slot)));
  }
  count = oldmax;
  return 0;
}

}  // namespace quillo
