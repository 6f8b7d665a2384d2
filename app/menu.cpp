#include "app/menu.h"

#include <vector>

#include "console/external.h"
#include "console/folder_prompts.h"
#include "console/line_input.h"
#include "console/message_view.h"
#include "console/paging.h"
#include "console/pager.h"
#include "console/run_command.h"
#include "platform/files.h"
#include "platform/keys.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "store/folders.h"
#include "store/listing.h"
#include "store/mail_list.h"
#include "store/move.h"
#include "store/sort.h"
#include "store/summary_cache.h"

namespace quillo {

namespace {

constexpr size_t kMenuAnswer = 3;
constexpr const char* kHomeFolder = "inbox";
constexpr const char* kTrashFolder = "trash";
constexpr const char* kHelpRule = "--------------------------\n";

// Stored as the Japanese console shows it (Shift_JIS).
constexpr const char* kHelpText =
    "num:\x83\x81\x81[\x83\x8b\x95\\\x8e\xa6\n"
    "+  :\x8e\x9f\x82\xcc\x83y\x81[\x83W\t\t-  :\x91O\x82\xcc\x83y\x81[\x83W\n"
    "g  :\x83\x81\x81[\x83\x8b\x8e\xf3\x90M\t\ts  :\x83\x81\x81[\x83\x8b\x91\x97\x90M\n"
    "w  :\x83\x81\x81[\x83\x8b\x8d\xec\x90\xac\t\ti  :\x83\x81\x81[\x83\x8b\x91}\x93\xfc\x8d\xec\x90\xac\n"
    "m  :\x83\x81\x81[\x83\x8b\x88\xda\x93\xae\t\td  :\x83\x81\x81[\x83\x8b\x8d\xed\x8f\x9c\n"
    "f  :\x83\x81\x81[\x83\x8b\x95\xd4\x90M\t\te  :\x83\x81\x81[\x83\x8b\x95\xd2\x8fW\n"
    "r  :\x83\x8a\x83t\x83\x8c\x83" "b\x83V\x83\x85\to  :\x93\xfa\x95t\x83\\\x81[\x83g\n"
    "n  :\x83\x8a\x83i\x83\x93\x83o\x81[\n"
    "t  :\x8c\xb4\x95\xb6\x95\x5c\x8e\xa6\t\tx  :\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8b\x95\xdb\x91\xb6\n"
    "c  :\x83t\x83H\x83\x8b\x83_\x95\xcf\x8dX\tk  :\x83t\x83H\x83\x8b\x83_\x8d\xec\x90\xac\n"
    "v  :\x83t\x83H\x83\x8b\x83_\x8d\xed\x8f\x9c\n"
    "!  :\x8aO\x95\x94\x83v\x83\x8d\x83O\x83\x89\x83\x80\tz  :\x8eq\x83v\x83\x8d\x83Z\x83X\n"
    "?  :\x83w\x83\x8b\x83v\t\t/  :\x8f\xb8\x8f\x87/\x8d~\x8f\x87\x90\xd8\x91\xd6\n"
    "q,0:exit\n";

// The menu's view of one folder.
struct MenuState {
  std::string folderName;
  std::string folderPath;  // where the list was built from
  MailList list;
  int count = 0;
  int topRow = 0;      // first display position on the page
  int currentRow = 0;  // display position of the '>' mark
  int selectedIndex = 0;
  // The list was made from the folder and since then only looked at or put
  // in another order: its texts are those of the files as listed.
  bool listAsRead = false;
};

enum class Next { kGoOn, kEnd };

int PageRows() { return GetSettings().lines - 3; }

bool Descending() { return GetJobOptions().descending != 0; }

int SelectedIndexOf(const MenuState& m) { return Descending() ? m.count - m.currentRow - 1 : m.currentRow; }

// The selected message's path; the folder path with an empty name when no
// entry is selected (an empty folder).
std::string SelectedFile(const MenuState& m) {
  std::string name;
  if (m.selectedIndex >= 0 && m.selectedIndex < m.count) name = m.list[static_cast<size_t>(m.selectedIndex)].name;
  return FolderPath(m.folderName) + "/" + name;
}

void ToTop(MenuState& m) {
  m.topRow = 0;
  m.currentRow = 0;
}

// Builds the list of the current folder into a fresh MailList, the old one
// released first.
void OpenFolder(MenuState& m) {
  m.list = MailList{};
  m.count = 0;
  m.folderPath = FolderPath(m.folderName);
  m.count = BuildMessageList(m.folderPath, m.list, TextReading::kWhenShown);
  m.listAsRead = true;
  ToTop(m);
}

// Reads the folder again; the list grows to hold files added meanwhile.
void Rebuild(MenuState& m) {
  m.count = BuildMessageList(m.folderPath, m.list, TextReading::kWhenShown);
  m.listAsRead = true;
  ToTop(m);
}

Next ShowHelp(MenuState&) {
  WriteOut(kHelpRule);
  WriteOut(kHelpText);
  WriteOut(kHelpRule);
  WaitAnyKey();
  return Next::kGoOn;
}

Next TurnMenuPage(MenuState& m, std::string_view key) {
  long first = m.topRow;
  TurnPage(key, first, PageRows(), m.count);
  m.topRow = static_cast<int>(first);
  return Next::kGoOn;
}

Next NextPage(MenuState& m) { return TurnMenuPage(m, "+"); }
Next PreviousPage(MenuState& m) { return TurnMenuPage(m, "-"); }

// No confirmation: the message only moves to "trash" (within "trash" it
// takes a new number there).
Next Delete(MenuState& m) {
  MoveMessage(SelectedFile(m), kTrashFolder);
  Rebuild(m);
  return Next::kGoOn;
}

Next Edit(MenuState& m) {
  EditFile(SelectedFile(m));
  return Next::kGoOn;
}

Next Refresh(MenuState& m) {
  Rebuild(m);
  return Next::kGoOn;
}

// Only the view is sorted; the files keep their numbers until "n".
Next SortByDate(MenuState& m) {
  ReadListTexts(m.folderPath, m.list, m.count, 0, m.count);
  m.count = SortListByDate(m.list, m.count);
  ToTop(m);
  return Next::kGoOn;
}

// The files the renumber moved keep the texts the list had for them when
// nothing since the listing (an edit, a shell, a job) may have changed them.
Next Renumber(MenuState& m) {
  // The names read for the renumber, kept up to date by its renames, are the
  // listing after it: the folder is not read again.
  const DirectoryNameScope names(m.folderPath);
  std::vector<bool> placed;
  RenumberFolder(m.folderName, m.list, m.count, placed);
  if (!m.listAsRead) {
    Rebuild(m);
    return Next::kGoOn;
  }
  m.count = BuildRenumberedList(m.folderPath, m.list, m.count, placed);
  m.listAsRead = true;
  ToTop(m);
  return Next::kGoOn;
}

Next ChangeFolder(MenuState& m) {
  m.list = MailList{};
  m.count = 0;
  ChooseFolder(m.folderName);
  OpenFolder(m);
  return Next::kGoOn;
}

Next NewFolder(MenuState&) {
  MakeFolder();
  return Next::kGoOn;
}

// The list stays as it is, even when the current folder was the one removed.
Next DropFolder(MenuState&) {
  RemoveFolder();
  return Next::kGoOn;
}

Next ToggleOrder(MenuState&) {
  JobOptions& job = GetJobOptions();
  job.descending = !job.descending;
  return Next::kGoOn;
}

Next RunCommand(MenuState& m) {
  RunCommandOnFile(SelectedFile(m));
  return Next::kGoOn;
}

// The shell may change anything in the folder, so the list is made anew.
Next ChildShell(MenuState& m) {
  m.list = MailList{};
  m.count = 0;
  RunShell(FolderPath(m.folderName) + "/");
  OpenFolder(m);
  return Next::kGoOn;
}

// The selected message as it is stored: every header line, the raw MIME.
Next ShowStored(MenuState& m) {
  ShowFile(SelectedFile(m));
  return Next::kGoOn;
}

struct MenuCommand {
  const char* word;
  const char* banner;  // written before the command runs, or null
  Next (*run)(MenuState&);
  // Leaves every file's contents as the list read them: it pages, sorts the
  // view, helps, or only renames files.
  bool leavesContents = false;
};

// "?", "+" and "-" have no letter case, so one comparison ignoring case
// serves every word.
constexpr MenuCommand kCommands[] = {
    {"?", nullptr, ShowHelp, true},
    {"+", nullptr, NextPage, true},
    {"-", nullptr, PreviousPage, true},
    {"d", nullptr, Delete},
    {"e", "Edit mail\n", Edit},
    {"r", "Reflesh\n", Refresh},
    {"o", "Date&Time Sort\n", SortByDate, true},
    {"n", nullptr, Renumber, true},
    {"c", "Change Folder\n", ChangeFolder},
    {"k", nullptr, NewFolder},
    {"v", "Remove Folder\n", DropFolder},
    {"/", nullptr, ToggleOrder, true},
    {"!", "Exequte\n", RunCommand},
    {"z", "Child Process\n", ChildShell},
    // A pager of the user's choice may edit what it shows.
    {"t", nullptr, ShowStored},
};

const MenuCommand* FindCommand(const std::string& input) {
  for (const MenuCommand& c : kCommands) {
    if (EqualsIgnoreCase(input, c.word)) return &c;
  }
  return nullptr;
}

bool IsQuitWord(const std::string& input) { return input == "0" || EqualsIgnoreCase(input, "q"); }

// A number on the page opens that message (a sign is accepted, so "+2" is 2).
bool OpenByNumber(MenuState& m, const std::string& input) {
  const long n = DecimalValue(input);
  if (n < 1 || n > m.count) return false;
  m.currentRow = static_cast<int>(n - 1);
  m.selectedIndex = SelectedIndexOf(m);
  // A pager of the user's choice may edit what it shows.
  m.listAsRead = false;
  ShowMessage(SelectedFile(m));
  return true;
}

// Everything else is a mail job, run on the selected message. A job that ran
// may have changed the folder, so the list is made anew; after receiving, the
// menu shows "inbox", where new mail arrives.
Next HandOver(MenuState& m, const std::string& input, const std::function<int(const std::string&)>& dispatch) {
  m.listAsRead = false;
  JobOptions& job = GetJobOptions();
  job.targetFile = SelectedFile(m);
  job.insertFile.clear();
  job.saveDirectoryGiven = 0;
  job.targetFolder.clear();
  if (dispatch(input) == 0) return Next::kGoOn;
  m.list = MailList{};
  m.count = 0;
  if (EqualsIgnoreCase(input, "g")) m.folderName = kHomeFolder;
  OpenFolder(m);
  return Next::kGoOn;
}

Next Decide(MenuState& m, const std::string& input, const std::function<int(const std::string&)>& dispatch) {
  if (OpenByNumber(m, input)) return Next::kGoOn;
  if (const MenuCommand* command = FindCommand(input)) {
    if (command->banner) WriteOut(command->banner);
    if (!command->leavesContents) m.listAsRead = false;
    return command->run(m);
  }
  // "0" and "q" name no job; they end the menu below.
  if (IsQuitWord(input)) return Next::kGoOn;
  return HandOver(m, input, dispatch);
}

}  // namespace

void MenuLoop(const std::function<int(const std::string&)>& dispatch) {
  // The menu lists its folder again after every change it makes.
  struct SummariesKept {
    SummariesKept() { GetSummaryCache().Use(true); }
    ~SummariesKept() { GetSummaryCache().Use(false); }
  } summariesKept;
  MenuState m;
  m.folderName = kHomeFolder;
  OpenFolder(m);
  m.selectedIndex = 0;
  GetJobOptions().descending = 0;
  for (;;) {
    ReadListTexts(m.folderPath, m.list, m.count, m.topRow, PageRows());
    ShowListPage(m.list, m.count, m.topRow, m.currentRow);
    // A folder's name is whatever made its directory chose.
    PrintOut("(%s):", SanitizeForConsole(m.folderName).c_str());
    std::string input;
    // Escape acts on what was typed; input that has ended leaves as "q"
    // does, since no more keys can come.
    if (LineInput(input, kMenuAnswer) < 0 && InputEnded()) {
      WriteOut("\r\n");
      return;
    }
    if (Decide(m, input, dispatch) == Next::kEnd) return;
    m.selectedIndex = SelectedIndexOf(m);
    if (IsQuitWord(input)) return;
  }
}

}  // namespace quillo
