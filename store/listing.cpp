#include "store/listing.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/renumber_recovery.h"
#include "store/sort.h"
#include "store/summary_cache.h"

namespace quillo {

namespace {

constexpr size_t kFileNumberWidth = 4;
// The summary from its sixth column on follows the file number.
constexpr size_t kSummaryTail = 5;
constexpr size_t kListTextWidth = 74;
// The command-line listing shows a folder as one page.
constexpr int kWholeFolderLines = 999;

// The display text of a message: its file number (the first four characters
// of its name) and its long summary from the blank after the marker on. A
// file that could not be read has an empty summary and shows the number alone.
std::string MessageText(std::string_view name, std::string_view summary) {
  std::string text;
  text.reserve(kListTextWidth);
  text.append(name.substr(0, kFileNumberWidth));
  if (summary.size() > kSummaryTail) text.append(summary.substr(kSummaryTail, kListTextWidth - text.size()));
  return text;
}

// The display text of one listed file, read from its folder.
void ReadText(std::string& path, size_t folderLength, ListEntry& entry) {
  path.replace(folderLength, std::string::npos, entry.name);
  entry.text = MessageText(entry.name, GetSummaryCache().Summary(path));
}

// The display texts of the listed files, with the "Getting Header"
// progress. `known` gives an entry its text when that is known without a
// look at the file; with kWhenShown the others are left to ReadListTexts.
void FillTexts(const std::string& folderPath, MailList& list, const std::function<bool(ListEntry&)>& known,
               TextReading reading) {
  WriteOut("Getting Header");
  if (reading == TextReading::kWhenShown) {
    // The names were listed afresh, without texts: only the known ones are
    // given theirs. A dot for each entry, as when each is read.
    if (known) {
      for (ListEntry& entry : list) known(entry);
    }
    WriteOut(std::string(list.size() + 1, '.') + "\n");
    return;
  }
  std::string path = folderPath + "/";
  const size_t folderLength = path.size();
  for (ListEntry& entry : list) {
    WriteOut(".");
    if (known && known(entry)) continue;
    ReadText(path, folderLength, entry);
  }
  WriteOut(".\n");
}

// The folder's message files into `list` (names only), the files a killed
// renumber left into `leftovers`, and partial copies into `partials`.
void CollectMessageNames(const std::string& folderPath, MailList& list, std::vector<DirEntry>& leftovers,
                         std::vector<std::string>& partials) {
  list.clear();
  leftovers.clear();
  // Within a job that holds the folder's names (a renumber), they are the
  // folder as the job left it.
  ForEachKnownEntry(folderPath, [&](std::string_view name, PathKind kind) {
    if (kind != PathKind::kFile) return;
    if (IsMessageName(name)) {
      list.push_back({std::string(name), {}});
    } else if (IsRenumberLeftover(name)) {
      leftovers.push_back({std::string(name), kind});
    } else if (PartialCopyOwner(name) > 0) {
      partials.emplace_back(name);
    }
  });
}

// Lists the folder's message files into `list`, in name order and without
// texts yet, with the "Searching" progress. Returns the count.
int ListMessageNames(const std::string& folderPath, MailList& list) {
  // A renumber that was killed half-way must not hide messages; what it gives
  // back is listed anew.
  std::vector<DirEntry> leftovers;
  std::vector<std::string> partials;
  CollectMessageNames(folderPath, list, leftovers, partials);
  // Half copies of a killed move are no messages and would stay for ever.
  RemovePartialLeftovers(folderPath, partials);
  if (!leftovers.empty() && RecoverRenumberLeftovers(folderPath, leftovers) > 0) {
    CollectMessageNames(folderPath, list, leftovers, partials);
  }
  WriteOut("Searching");
  // A dot for each message file found, written at once.
  WriteOut(std::string(list.size(), '.'));
  if (list.empty()) return 0;
  WriteOut(".\n");
  const int count = static_cast<int>(list.size());
  SortListByName(list, count);
  return count;
}

}  // namespace

int BuildMessageList(const std::string& folderPath, MailList& list, TextReading reading) {
  const int count = ListMessageNames(folderPath, list);
  if (count == 0) return 0;
  // The folder's files are read from the folder kept open.
  const DirectoryOpenScope folder(folderPath);
  FillTexts(folderPath, list, {}, reading);
  GetSummaryCache().EndListing();
  return count;
}

void ReadListTexts(const std::string& folderPath, MailList& list, int count, int first, int rows) {
  count = std::min(count, static_cast<int>(list.size()));
  const bool descending = GetJobOptions().descending != 0;
  std::optional<DirectoryOpenScope> folder;
  std::string path = folderPath + "/";
  const size_t folderLength = path.size();
  for (int i = 0; i < rows && first + i < count; ++i) {
    const int p = first + i;
    if (p < 0) continue;
    ListEntry& entry = list[static_cast<size_t>(descending ? count - 1 - p : p)];
    if (!entry.text.empty()) continue;
    if (!folder) folder.emplace(folderPath);
    ReadText(path, folderLength, entry);
  }
}

int BuildRenumberedList(const std::string& folderPath, MailList& list, int count, const std::vector<bool>& placed) {
  // The texts of the files now under their new names, by list position.
  const size_t n = std::min({static_cast<size_t>(std::max(count, 0)), list.size(), placed.size()});
  std::vector<std::string> moved(n);
  for (size_t i = 0; i < n; ++i) {
    if (placed[i]) moved[i] = std::move(list[i].text);
  }
  const int listed = ListMessageNames(folderPath, list);
  if (listed == 0) return 0;
  const DirectoryOpenScope folder(folderPath);
  FillTexts(folderPath, list, [&moved](ListEntry& entry) {
    const std::optional<size_t> position = RenumberedPosition(entry.name);
    if (!position || *position >= moved.size() || moved[*position].size() < kFileNumberWidth) return false;
    // The text shows the file's number in its first columns.
    entry.text = std::move(moved[*position]);
    entry.text.replace(0, kFileNumberWidth, entry.name, 0, kFileNumberWidth);
    return true;
  }, TextReading::kWhenShown);
  // The summaries of the files taken as they were stay kept too.
  GetSummaryCache().EndListingKeepingAll();
  return listed;
}

void ShowListPage(const MailList& list, int count, int first, int cursor) {
  WriteOut("\n--No-file|-Date&Time----|-From----------|-Subject&Body-----------------------\n");
  const int rows = GetSettings().lines - 3;
  const bool descending = GetJobOptions().descending != 0;
  count = std::min(count, static_cast<int>(list.size()));
  for (int i = 0; i < rows && first + i < count; ++i) {
    const int p = first + i;
    if (p < 0) continue;
    const ListEntry& entry = list[static_cast<size_t>(descending ? count - 1 - p : p)];
    // The summary quotes the message's own header lines.
    PrintOut("%4d%c%s\n", p + 1, p == cursor ? '>' : ' ', SanitizeForConsole(entry.text).c_str());
  }
  WriteOut("-----------------------------------------------------------------------------\n");
}

void ListFolder(const std::string& folder, int sortByDate) {
  GetSettings().lines = kWholeFolderLines;
  const std::string folderPath = FolderPath(folder);
  MailList list;
  const int count = BuildMessageList(folderPath, list);
  if (sortByDate) SortListByDate(list, count);
  ShowListPage(list, count, 0, 0);
}

}  // namespace quillo
