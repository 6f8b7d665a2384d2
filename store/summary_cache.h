// Folder listings are made again after every delete, refresh and renumber;
// the summaries of the files that did not change since the last listing are
// taken from it instead of reading thousands of files again.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/files.h"

namespace quillo {

class SummaryCache {
 public:
  // The long summary of the message file at `path` (as MakeSummary makes it,
  // empty when the file cannot be read), kept for the next listing. Valid
  // until the next call.
  const std::string& Summary(const std::string& path);

  // Only a process that lists a folder again and again (the menu) keeps
  // summaries; one listing alone would only pay for the look-ups.
  void Use(bool inUse);

  // Ends one listing: what it did not ask for is forgotten, so the cache
  // holds one folder's summaries at most.
  void EndListing();
  // Ends a listing that took some texts over from the listing before without
  // asking here (files that were only renamed since): nothing is forgotten.
  void EndListingKeepingAll();

 private:
  struct StampKey {
    size_t operator()(const FileStamp& s) const { return std::hash<unsigned long long>()(s.inode ^ (s.device << 32)); }
  };
  // By the file's identity, so that a renamed file is still found.
  using Entries = std::unordered_map<FileStamp, std::string, StampKey>;
  bool inUse_ = false;
  Entries previous_;
  Entries current_;
  // The summary given out when none is kept.
  std::string unkept_;
};

// The one cache of the process.
SummaryCache& GetSummaryCache();

}  // namespace quillo
