#include "console/folder_prompts.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "console/line_input.h"
#include "console/paging.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/mail_list.h"
#include "store/sort.h"

namespace quillo {

namespace {

constexpr size_t kChoiceLength = 3;

// The mailbox's folders in name order: every directory not beginning with ".".
std::optional<MailList> ListFolders() {
  std::vector<DirEntry> entries;
  ListDirectory(GetSettings().mailbox, entries);
  MailList list;
  try {
    list.reserve(std::max<size_t>(entries.size(), 1));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  for (DirEntry& e : entries) {
    if (e.kind != PathKind::kDirectory || e.name[0] == '.') continue;
    list.push_back({std::move(e.name), {}});
  }
  SortListByName(list, static_cast<int>(list.size()));
  for (ListEntry& entry : list) entry.text = entry.name;
  return list;
}

void ShowFolderPage(const MailList& list, int first, int rows) {
  const int count = static_cast<int>(list.size());
  WriteOut("--------------------\n");
  for (int i = 0; i < rows && first + i < count; ++i) {
    // Whatever made the directory chose its name.
    PrintOut("%d %s\n", first + i + 1, SanitizeForConsole(list[static_cast<size_t>(first + i)].name).c_str());
  }
  WriteOut("--------------------\n");
  WriteOut("Select Folder\n");
  WriteOut("Select:");
}

// Creates `path` after the user agreed; 1 on success.
int CreateAfterConsent(const std::string& prompt, const std::string& path) {
  if (!AskYes(prompt)) return 0;
  if (!MakeDirectory(path)) {
    PrintErr("directry create error!\a\n");
    return 0;
  }
  PrintErr("created.\n");
  return 1;
}

}  // namespace

int EnsureFolder(const std::string& folder) {
  const std::string& mailbox = GetSettings().mailbox;
  switch (StatPath(mailbox)) {
    case PathKind::kNone:
      if (!CreateAfterConsent(Format("no identify folder directry(%s)\n create?(Y/N) : ", mailbox.c_str()),
                              mailbox))
        return 0;
      break;
    case PathKind::kDirectory:
      break;
    default:
      PrintErr("file already!(%s)\a\n", mailbox.c_str());
      return 0;
  }
  const std::string path = FolderPath(folder);
  switch (StatPath(path)) {
    case PathKind::kNone:
      return CreateAfterConsent(Format("no identify folder(%s)  create?(Y/N) : ", folder.c_str()), path);
    case PathKind::kDirectory:
      return 1;
    default:
      PrintErr("folder already!(%s)\a\n", path.c_str());
      return 0;
  }
}

int ChooseFolder(std::string& folder) {
  std::optional<MailList> list = ListFolders();
  if (!list) return 0;
  const int count = static_cast<int>(list->size());
  const int rows = std::max(GetSettings().lines - 3, 1);
  int first = 0;
  for (;;) {
    ShowFolderPage(*list, first, rows);
    std::string line;
    // Escape, or input that has ended, still judges what was typed, but can
    // only leave the selection: it is never asked again.
    const bool ended = LineInput(line, kChoiceLength) < 0;
    const long n = DecimalValue(line);
    if (n >= 1 && n <= count) {
      folder = (*list)[static_cast<size_t>(n - 1)].name;
      return static_cast<int>(n);
    }
    long top = first;
    TurnPage(line, top, rows, count);
    first = static_cast<int>(top);
    if (line == "0" || EqualsIgnoreCase(line, "q") || ended) return 0;
  }
}

void RemoveFolder() {
  std::string folder;
  if (ChooseFolder(folder) <= 0) return;
  if (!RemoveDirectory(FolderPath(folder))) {
    WriteErr("Folder Remove error!\r\n");
    return;
  }
  PrintOut("Folder %s Removed\r\n", SanitizeForConsole(folder).c_str());
}

void MakeFolder() {
  WriteOut("New Folder name:");
  std::string name;
  LineInput(name, 8);
  if (name.empty()) return;
  if (!IsSafeFolderName(name)) {
    PrintErr("folder name error!(%s)\a\n", name.c_str());
    return;
  }
  PrintOut("Making folder '%s'\n", name.c_str());
  // An existing name, a read-only mailbox, a full disk: not silent.
  if (!MakeDirectory(FolderPath(name))) WriteErr("Folder Make error!\r\n");
}

}  // namespace quillo
