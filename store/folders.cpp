#include "store/folders.h"


#include <algorithm>
#include <charconv>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/settings.h"
#include "store/renumber_plan.h"

namespace quillo {

std::string FolderPath(const std::string& folder) { return GetSettings().mailbox + "/" + folder; }

std::string NewMessagePath(const std::string& folder, int number) {
  return FolderPath(folder) + Format("/%04d.TXT", number);
}

bool IsMessageName(std::string_view name) {
  return name.size() >= 4 && EqualsIgnoreCase(name.substr(name.size() - 4), ".txt");
}

int CountMessages(const std::string& folder) {
  // While a job holds the folder's names, the count is kept with them.
  if (std::optional<int> held = HeldFileCount(FolderPath(folder), "txt")) return *held;
  int count = 0;
  ForEachDirectoryEntry(FolderPath(folder), [&count](std::string_view name, PathKind kind) {
    if (kind == PathKind::kFile && IsMessageName(name)) ++count;
  });
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
void RenumberInTwoPasses(const std::string& dir, const MailList& list, int count, std::vector<bool>& placed) {
  WriteOut("Renumbering txt->tmp");
  for (int i = 0; i < count; ++i) {
    WriteOut(".");
    placed[static_cast<size_t>(i)] =
        RenameNoReplace(dir + "/" + list[static_cast<size_t>(i)].name, dir + "/" + NumberedName(i, ".tmp"));
  }
  WriteOut(".\n");
  WriteOut("Renumbering tmp->txt");
  for (int i = 0; i < count; ++i) {
    WriteOut(".");
    const bool moved = RenameNoReplace(dir + "/" + NumberedName(i, ".tmp"), dir + "/" + NumberedName(i, ".txt"));
    placed[static_cast<size_t>(i)] = placed[static_cast<size_t>(i)] && moved;
  }
  WriteOut(".\n");
}

// Carries out a plan's renames as they come. A ring whose first file cannot
// be moved aside stays as it is: its other files wait for names that never
// come free.
class RenameRunner {
 public:
  RenameRunner(DirectoryNameScope& folder, int count, std::vector<bool>& placed)
      : folder_(folder), count_(count), placed_(placed) {}

  void Run(const RenameStep& step) {
    Start();
    if (!step.aside) {
      WriteOut(".");
      ++dots_;
    }
    if (step.ring != 0 && step.ring == failedRing_) return;
    const bool moved = folder_.RenameNoReplace(step.from, step.to);
    if (!moved && step.aside) failedRing_ = step.ring;
    if (moved && !step.aside) placed_[step.file] = true;
  }

  void Finish() {
    Start();
    // Files already under their new names take no step but still count.
    if (dots_ < count_) WriteOut(std::string(static_cast<size_t>(count_ - dots_), '.'));
    WriteOut(".\n");
  }

 private:
  // The first pass's line comes out whole: the plan needs no temporary names.
  void Start() {
    if (started_) return;
    started_ = true;
    WriteOut("Renumbering txt->tmp" + std::string(static_cast<size_t>(count_) + 1, '.') + "\n");
    WriteOut("Renumbering tmp->txt");
  }

  DirectoryNameScope& folder_;
  int count_;
  std::vector<bool>& placed_;
  int dots_ = 0;
  size_t failedRing_ = 0;
  bool started_ = false;
};

// "%04d.txt" for 0 .. n-1, side by side in `text`, and views of them.
std::vector<std::string_view> NumberedNames(size_t n, std::string& text) {
  text.clear();
  std::vector<size_t> ends;
  ends.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    text += NumberedName(static_cast<int>(i), ".txt");
    ends.push_back(text.size());
  }
  std::vector<std::string_view> names;
  names.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t begin = i == 0 ? 0 : ends[i - 1];
    names.push_back(std::string_view(text).substr(begin, ends[i] - begin));
  }
  return names;
}

}  // namespace

int RenumberFolder(const std::string& folder, const MailList& list, int count) {
  std::vector<bool> placed;
  return RenumberFolder(folder, list, count, placed);
}

std::optional<size_t> RenumberedPosition(std::string_view name) {
  constexpr std::string_view kExtension = ".txt";
  if (name.size() <= kExtension.size() || name.substr(name.size() - kExtension.size()) != kExtension) return std::nullopt;
  const std::string_view digits = name.substr(0, name.size() - kExtension.size());
  int number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || number < 0) return std::nullopt;
  // Only the spelling the renumber gives: "0012.txt", not "012.txt" or "00012.txt".
  if (NumberedName(number, ".txt") != name) return std::nullopt;
  return static_cast<size_t>(number);
}

int RenumberFolder(const std::string& folder, const MailList& list, int count, std::vector<bool>& placed) {
  const std::string dir = FolderPath(folder);
  // Each rename first makes sure its new name is free in any letter case.
  DirectoryNameScope names(dir);
  const size_t n = static_cast<size_t>(std::max(count, 0));
  std::vector<std::string_view> current;
  current.reserve(n);
  for (size_t i = 0; i < n; ++i) current.push_back(list[i].name);
  std::string targetText;
  const std::vector<std::string_view> targets = NumberedNames(n, targetText);
  // A file already under its new name takes no step.
  placed.assign(n, false);
  for (size_t i = 0; i < n; ++i) placed[i] = current[i] == targets[i];
  const auto takenOutside = [&dir](std::string_view name) {
    return HeldOrFoundName(dir + "/" + std::string(name)).has_value();
  };
  RenameRunner runner(names, count, placed);
  if (!PlanRenames(current, targets, takenOutside, [&runner](const RenameStep& step) { runner.Run(step); })) {
    RenumberInTwoPasses(dir, list, count, placed);
    return count;
  }
  runner.Finish();
  return count;
}

bool IsSafeFolderName(const std::string& name) {
  if (name.find_first_not_of(' ') == std::string::npos) return false;
  if (name[0] == '.') return false;  // also "." and ".."
  return name.find_first_of("/\\") == std::string::npos;
}

}  // namespace quillo
