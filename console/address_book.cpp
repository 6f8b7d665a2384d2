#include "console/address_book.h"

#include <algorithm>
#include <vector>

#include "console/line_input.h"
#include "console/paging.h"
#include "console/pager.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "settings/job_options.h"
#include "settings/settings.h"

namespace quillo {

namespace {

constexpr size_t kSelectAnswer = 3;
// The answer holds three digits, so no entry past this one can be chosen.
constexpr long kMostEntries = 999;
constexpr const char* kRule = "------------------------\n";

// Reads the first 80 columns of the next line of the book and passes over
// the rest of it, so that the tail of a long line is never taken for a line
// of its own. -1 at the end of the file, as ReadDisplayLine.
int ReadBookLine(DisplayFile& file, std::string& line) {
  int end = ReadDisplayLine(file, line);
  if (end == -1 || end == '\n') return end;
  for (int c = file.Get(); c != '\n'; c = file.Get()) {
    if (c == -1) return -1;
  }
  return '\n';
}

// The entries of the book: up to the count its first line gives. False when
// the book is missing, empty or names no entries (after saying so, where
// there is something to say).
bool ReadAddressBook(const std::string& path, std::vector<std::string>& entries) {
  DisplayFile file(path);
  if (!file.IsOpen()) {
    WriteOut("file nothing\n");
    return false;
  }
  std::string line;
  if (ReadBookLine(file, line) == -1) return false;
  const long wanted = std::min(DecimalValue(line), kMostEntries);
  if (wanted < 1) {
    WriteOut("nothing\n");
    return false;
  }
  while (static_cast<long>(entries.size()) < wanted && ReadBookLine(file, line) != -1) {
    WriteOut(".");
    entries.push_back(line);
  }
  WriteOut("\n");
  return true;
}

void ShowPage(const std::vector<std::string>& entries, size_t topRow, size_t rows) {
  WriteOut(kRule);
  for (size_t i = topRow; i < entries.size() && i < topRow + rows; ++i) {
    PrintOut("%3d %s\n", static_cast<int>(i + 1), SanitizeForConsole(entries[i]).c_str());
  }
  WriteOut(kRule);
}

}  // namespace

void SelectAddress(std::string& recipient) {
  const std::string path = GetSettings().mailbox + "/mailidx.txt";
  WriteOut("Serching mailidx.txt");
  recipient.clear();
  std::vector<std::string> entries;
  if (!ReadAddressBook(path, entries)) return;

  const long count = static_cast<long>(entries.size());
  const long rows = GetSettings().lines - 3 > 0 ? GetSettings().lines - 3 : 1;
  long topRow = 0;
  for (;;) {
    ShowPage(entries, static_cast<size_t>(topRow), static_cast<size_t>(rows));
    WriteOut("Select Addr:");
    std::string answer;
    // Escape or the end of input leaves the book without a choice.
    if (LineInput(answer, kSelectAnswer) < 0) return;
    const long k = DecimalValue(answer);
    if (k >= 1 && k <= count) {
      recipient = Capped(entries[static_cast<size_t>(k - 1)], cap::kSendTo);
      return;
    }
    if (TurnPage(answer, topRow, rows, count)) continue;
    if (answer == "0" || EqualsIgnoreCase(answer, "q")) return;
  }
}

}  // namespace quillo
