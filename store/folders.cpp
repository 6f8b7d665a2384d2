#include "store/folders.h"

#include <strings.h>

#include <charconv>
#include <optional>
#include <system_error>
#include <vector>

#include "console/line_input.h"
#include "platform/files.h"
#include "platform/output.h"
#include "settings/settings.h"
#include "store/renumber_plan.h"

namespace quillo {

std::string FolderPath(const std::string& folder) { return GetSettings().mailbox + "/" + folder; }

std::string NewMessagePath(const std::string& folder, int number) {
  return FolderPath(folder) + Format("/%04d.TXT", number);
}

namespace {

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

bool IsMessageName(const std::string& name) {
  return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".txt") == 0;
}

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

int CountMessages(const std::string& folder) {
  // While a job holds the folder's names, the count is kept with them.
  if (std::optional<int> held = HeldFileCount(FolderPath(folder), "txt")) return *held;
  std::vector<DirEntry> entries;
  if (!ListDirectory(FolderPath(folder), entries)) return 0;
  int count = 0;
  for (const DirEntry& e : entries) {
    if (e.kind == PathKind::kFile && IsMessageName(e.name)) ++count;
  }
  return count;
}

int NextMessageNumber(const std::string& folder) {
  int n = CountMessages(folder);
  while (ExistsIgnoringCase(NewMessagePath(folder, n))) ++n;
  return n;
}

namespace {

// "%04d" and the extension, without a format call per file.
std::string NumberedName(int number, const char* extension) {
  char digits[16];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
  const size_t length = error == std::errc() ? static_cast<size_t>(end - digits) : 0;
  std::string name(length < 4 ? 4 - length : 0, '0');
  name.append(digits, length);
  return name + extension;
}

}  // namespace

namespace {

// Every file through a "%04d.tmp" name first, so that no new name can meet an
// old one: for folders whose names the one-rename plan cannot order.
void RenumberInTwoPasses(const std::string& dir, const MailList& list, int count) {
  WriteOut("Renumbering txt->tmp");
  for (int i = 0; i < count; ++i) {
    WriteOut(".");
    RenameNoReplace(dir + "/" + list[static_cast<size_t>(i)].name, dir + "/" + NumberedName(i, ".tmp"));
  }
  WriteOut(".\n");
  WriteOut("Renumbering tmp->txt");
  for (int i = 0; i < count; ++i) {
    WriteOut(".");
    RenameNoReplace(dir + "/" + NumberedName(i, ".tmp"), dir + "/" + NumberedName(i, ".txt"));
  }
  WriteOut(".\n");
}

// A ring whose first file cannot be moved aside stays as it is: its other
// files wait for names that never come free.
void RunRenames(const std::string& dir, const std::vector<RenameStep>& steps, int count) {
  WriteOut("Renumbering tmp->txt");
  size_t failedRing = 0;
  int dots = 0;
  // The two paths are rebuilt in place for each step.
  std::string from = dir + "/";
  std::string to = from;
  const size_t dirLength = from.size();
  for (const RenameStep& step : steps) {
    if (!step.aside) {
      WriteOut(".");
      ++dots;
    }
    if (step.ring != 0 && step.ring == failedRing) continue;
    from.replace(dirLength, std::string::npos, step.from);
    to.replace(dirLength, std::string::npos, step.to);
    if (!RenameNoReplace(from, to) && step.aside) failedRing = step.ring;
  }
  // Files already under their new names take no step but still count.
  if (dots < count) WriteOut(std::string(static_cast<size_t>(count - dots), '.'));
  WriteOut(".\n");
}

}  // namespace

int RenumberFolder(const std::string& folder, const MailList& list, int count) {
  const std::string dir = FolderPath(folder);
  // Each rename first makes sure its new name is free in any letter case.
  DirectoryNameScope names(dir);
  std::vector<std::string> current;
  std::vector<std::string> targets;
  current.reserve(static_cast<size_t>(count));
  targets.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    current.push_back(list[static_cast<size_t>(i)].name);
    targets.push_back(NumberedName(i, ".txt"));
  }
  const auto takenOutside = [&dir](const std::string& name) { return ExistsIgnoringCase(dir + "/" + name); };
  std::optional<std::vector<RenameStep>> steps = PlanRenames(current, targets, takenOutside);
  if (!steps) {
    RenumberInTwoPasses(dir, list, count);
    return count;
  }
  WriteOut("Renumbering txt->tmp" + std::string(static_cast<size_t>(count) + 1, '.') + "\n");
  RunRenames(dir, *steps, count);
  return count;
}

bool IsSafeFolderName(const std::string& name) {
  if (name.find_first_not_of(' ') == std::string::npos) return false;
  if (name[0] == '.') return false;  // also "." and ".."
  return name.find_first_of("/\\") == std::string::npos;
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
  MakeDirectory(FolderPath(name));
}

}  // namespace quillo
