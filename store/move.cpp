#include "store/move.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/output.h"
#include "platform/partial_file.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "store/folders.h"
#include "store/mail_list.h"
#include "store/sort.h"

namespace quillo {

namespace {

constexpr size_t kCopyBlock = 65536;

// Where a moved file goes: its own name in the folder, or the folder's next
// free number when that name is taken (in any letter case) or not wanted.
std::string Destination(const std::string& source, const std::string& folder, MoveName naming) {
  const std::string kept = FolderPath(folder) + "/" + BaseName(source);
  if (naming == MoveName::kKeep && !BaseName(source).empty() && !ExistsIgnoringCase(kept)) return kept;
  return NewMessagePath(folder, NextMessageNumber(folder));
}

// Copies every byte of `in` to `out`; false when any read or write failed.
bool CopyBytes(InputFile& in, OutputFile& out) {
  std::string block;
  while (in.ReadBlock(block, kCopyBlock)) {
    if (!out.Write(block)) return false;
  }
  return !in.HadError();
}

int MoveFailed(const std::string& source) {
  PrintOut("mail move error!(%s)\n", source.c_str());
  return 1;
}

// Writes the copy under a name no listing shows and gives it its message
// name only once it is whole, so a move killed half-way leaves no part of a
// message in the folder. The source goes last: a move killed between the
// naming and the removal leaves the message in both places, never in none.
int CopyThenRemove(const std::string& source, const std::string& destination) {
  // The source is opened first, so a failed move never leaves an empty file
  // behind in the target folder.
  InputFile in;
  if (!in.Open(source, false)) return MoveFailed(source);
  PartialFile out;
  if (!out.Open(destination, PartialFile::Use::kNew)) return MoveFailed(source);
  // Only a complete copy may replace the source.
  if (!CopyBytes(in, out.Out()) || !out.NameAs(destination)) return MoveFailed(source);
  in.Close();
  if (!RemoveFile(source)) {
    // Keeping the message in one place only: the copy goes again.
    RemoveFile(destination);
    return MoveFailed(source);
  }
  return 0;
}

char Folded(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// "*" matches any run of characters and "?" any one; letters match in either case.
bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Folded(pattern[p]) == Folded(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

int MoveMessage(const std::string& source, const std::string& folder, MoveName naming) {
  const std::string destination = Destination(source, folder, naming);
  PrintOut("File Moveing %s->%s\n", SanitizeForConsole(source).c_str(), SanitizeForConsole(destination).c_str());
  if (StatPath(source) != PathKind::kFile) return MoveFailed(source);
  // Within one file system the message changes its name in one step: a move
  // cut short at any moment leaves it whole in one place, and a full disk
  // does not stop it.
  if (MoveOwnFile(source, destination)) return 0;
  return CopyThenRemove(source, destination);
}

void MoveMatching(const std::string& pattern, const std::string& folder) {
  WriteOut("Searching");
  const size_t slash = pattern.find_last_of('/');
  const std::string directory = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);

  std::vector<DirEntry> entries;
  if (!ListDirectory(directory.empty() ? "." : directory, entries)) return;
  MailList list;
  for (DirEntry& e : entries) {
    if (e.kind != PathKind::kFile || !MatchesWildcard(namePattern, e.name)) continue;
    WriteOut(".");
    list.push_back({std::move(e.name), {}});
  }
  if (list.empty()) return;
  WriteOut(".\n");
  SortListByName(list, static_cast<int>(list.size()));
  // A taken name sends each file to the next free number of the folder.
  DirectoryNameScope names(FolderPath(folder));
  for (const ListEntry& entry : list) MoveMessage(directory + entry.name, folder);
}

}  // namespace quillo
