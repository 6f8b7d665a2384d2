#include "store/renumber_recovery.h"

#include <cctype>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/strings.h"

namespace quillo {

namespace {

constexpr size_t kExtensionLength = 4;  // ".tmp"
// Beyond this many tries the file keeps its leftover name for the next time.
constexpr int kNumberTries = 100000;

bool EndsWithTmp(std::string_view name) {
  return name.size() > kExtensionLength && EqualsIgnoreCase(name.substr(name.size() - kExtensionLength), ".tmp");
}

int LeftoverNumber(const std::string& name) {
  int n = 0;
  for (size_t i = 0; i + kExtensionLength < name.size() && n < kNumberTries; ++i) n = n * 10 + (name[i] - '0');
  return n;
}

}  // namespace

bool IsRenumberLeftover(std::string_view name) {
  if (!EndsWithTmp(name)) return false;
  const size_t digits = name.size() - kExtensionLength;
  if (digits < 4) return false;
  for (size_t i = 0; i < digits; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

long PartialCopyOwner(std::string_view name) {
  constexpr std::string_view kPart = ".part";
  if (name.size() <= kPart.size() || !EqualsIgnoreCase(name.substr(name.size() - kPart.size()), kPart)) return 0;
  name.remove_suffix(kPart.size());
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size() || name.size() - dot > 11) return 0;
  long pid = 0;
  for (char c : name.substr(dot + 1)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

int RemovePartialLeftovers(const std::string& folderPath, const std::vector<std::string>& names) {
  int removed = 0;
  for (const std::string& name : names) {
    // A partial copy of a run still going is that run's to finish.
    if (ProcessRunning(PartialCopyOwner(name))) continue;
    if (RemoveFile(folderPath + "/" + name)) ++removed;
  }
  return removed;
}

int RecoverRenumberLeftovers(const std::string& folderPath) {
  std::vector<DirEntry> entries;
  if (!ListDirectory(folderPath, entries)) return 0;
  return RecoverRenumberLeftovers(folderPath, entries);
}

int RecoverRenumberLeftovers(const std::string& folderPath, const std::vector<DirEntry>& entries) {
  int recovered = 0;
  // A killed renumber of a large folder leaves many files: their free numbers
  // are looked up in the folder's names held once, not in a scan each.
  std::optional<DirectoryNameScope> names;
  for (const DirEntry& e : entries) {
    if (e.kind != PathKind::kFile || !IsRenumberLeftover(e.name)) continue;
    if (!names) names.emplace(folderPath);
    const std::string from = folderPath + "/" + e.name;
    for (int n = LeftoverNumber(e.name), tries = 0; tries < kNumberTries; ++n, ++tries) {
      const std::string to = folderPath + Format("/%04d.txt", n);
      if (ExistsIgnoringCase(to)) continue;
      if (RenameNoReplace(from, to)) ++recovered;
      break;
    }
  }
  return recovered;
}

}  // namespace quillo
