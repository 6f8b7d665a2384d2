#include "store/summary_cache.h"

#include <optional>

#include "store/summary.h"

namespace quillo {

const std::string& SummaryCache::Summary(const std::string& path) {
  if (!inUse_) {
    MakeSummary(unkept_, 0, path, DateForm::kLong);
    return unkept_;
  }
  std::optional<FileStamp> stamp;
  // With nothing kept yet there is nothing to look up: the stamp comes with the
  // reading, from the open file.
  if (!previous_.empty()) {
    stamp = StampOf(path);
    if (stamp) {
      if (auto it = previous_.find(*stamp); it != previous_.end()) {
        // The entry moves over to this listing as it is.
        auto kept = current_.insert(previous_.extract(it));
        return kept.position->second;
      }
    }
  }
  MakeSummary(unkept_, 0, path, DateForm::kLong, stamp);
  // A file written just now might change again within the file system's
  // clock step without its stamp showing it: it is read again next time. A
  // settled file written while it was read gets a new stamp, so what was read
  // then is never taken for it.
  if (!stamp || !StampSettled(*stamp)) return unkept_;
  // The summary itself moves into the cache (a second name of a file already
  // kept leaves it where it is).
  return current_.try_emplace(*stamp, std::move(unkept_)).first->second;
}

void SummaryCache::Use(bool inUse) {
  inUse_ = inUse;
  previous_ = Entries{};
  current_ = Entries{};
}

void SummaryCache::EndListing() {
  previous_ = std::move(current_);
  current_ = Entries{};
}

void SummaryCache::EndListingKeepingAll() {
  current_.merge(previous_);
  EndListing();
}

SummaryCache& GetSummaryCache() {
  static SummaryCache cache;
  return cache;
}

}  // namespace quillo
