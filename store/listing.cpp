#include "store/listing.h"

#include <algorithm>
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

void FillTexts(const std::string& folderPath, MailList& list) {
  WriteOut("Getting Header");
  std::string path = folderPath + "/";
  const size_t folderLength = path.size();
  for (ListEntry& entry : list) {
    WriteOut(".");
    path.replace(folderLength, std::string::npos, entry.name);
    entry.text = MessageText(entry.name, GetSummaryCache().Summary(path));
  }
  GetSummaryCache().EndListing();
  WriteOut(".\n");
}

}  // namespace

std::optional<MailList> NewMailList(std::string& folderPath, const std::string& folder) {
  folderPath = FolderPath(folder);
  std::vector<DirEntry> entries;
  ListDirectory(folderPath, entries);
  try {
    MailList list;
    list.reserve(std::max<size_t>(entries.size(), 1));
    return list;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

int BuildMessageList(const std::string& folderPath, MailList& list) {
  list.clear();
  std::vector<DirEntry> entries;
  ListDirectory(folderPath, entries);
  // A renumber that was killed half-way must not hide messages; what it gives
  // back is listed anew.
  if (RecoverRenumberLeftovers(folderPath, entries) > 0) ListDirectory(folderPath, entries);
  // The folder's files are read from the folder kept open.
  const DirectoryOpenScope folder(folderPath);
  WriteOut("Searching");
  for (DirEntry& e : entries) {
    if (e.kind != PathKind::kFile || !IsMessageName(e.name)) continue;
    list.push_back({std::move(e.name), {}});
  }
  // A dot for each message file found, written at once.
  WriteOut(std::string(list.size(), '.'));
  if (list.empty()) return 0;
  WriteOut(".\n");
  const int count = static_cast<int>(list.size());
  SortListByName(list, count);
  FillTexts(folderPath, list);
  return count;
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
  std::string folderPath;
  std::optional<MailList> list = NewMailList(folderPath, folder);
  if (!list) return;
  const int count = BuildMessageList(folderPath, *list);
  if (sortByDate) SortListByDate(*list, count);
  ShowListPage(*list, count, 0, 0);
}

}  // namespace quillo
