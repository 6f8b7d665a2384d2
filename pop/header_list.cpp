#include "pop/header_list.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <optional>

#include "net/transport.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/run_directory.h"
#include "platform/strings.h"
#include "pop/header_cache.h"
#include "pop/pop_commands.h"
#include "pop/received_state.h"
#include "pop/uidl.h"
#include "settings/key_value_file.h"
#include "settings/settings.h"
#include "store/header_file.h"
#include "store/summary.h"

namespace quillo {

namespace {

// More messages than this are taken for a broken STAT reply or cache, not
// for a list worth allocating.
constexpr int kMostEntries = 1'000'000;

// Where the summary text begins in a short summary line (column 12).
constexpr size_t kSummaryTextColumn = 11;

bool LongLayout() { return GetSettings().Reciveheadlong != 0; }

// Removes the files a TOP download leaves in the tmp directory.
struct TopFiles {
  std::string raw = TemporaryPath("TMP.TXT");
  std::string decoded = TemporaryPath("tmp2.txt");
  ~TopFiles() {
    RemoveFile(raw);
    RemoveFile(decoded);
  }
};

// A listing may hold a few lines more than STAT counted messages before it
// is taken for one that never ends.
constexpr long kListSlack = 100;

// One line of a LIST response: "number size". Numbers that are no message
// of the list, and sizes that are not positive or too large to hold, leave
// the line unused (the size stays unknown).
void StoreListedSize(std::string_view line, int count, HeaderList& list) {
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return;
  const std::optional<long> number = FittingDecimalValue(line.substr(0, blank));
  const std::optional<long> size = FittingDecimalValue(line.substr(blank + 1));
  if (!number || *number < 1 || *number > count || static_cast<size_t>(*number) > list.size()) return;
  if (size && *size > 0) list[static_cast<size_t>(*number - 1)].size = *size;
}

}  // namespace

bool AllocateHeaderList(HeaderList& list, int count) {
  HeaderList().swap(list);
  if (count < 0) count = 0;
  try {
    if (count > kMostEntries) throw std::bad_alloc();
    list.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    HeaderList().swap(list);
    WriteOut("Not memory!\n");
    return false;
  }
  return true;
}

const char* HeaderColumnHeading() {
  return LongLayout() ? "-No-|-Size--|-From----------|-Subject------------------------------------------\n"
                      : "-No-|-From----------|-Subject----------\n";
}

std::string MakeDisplayLine(int number, long size, std::string_view summaryText) {
  std::string line;
  if (LongLayout()) {
    std::string kb = size > 0 ? Format("%3ld", std::max(1L, size / 1024)) : std::string("  ?");
    line = Format("%4d (%sKB)", number, kb.c_str());
    line += summaryText.substr(0, kLongSummaryText);
  } else {
    line = Format("%4d", number);
    line += summaryText.substr(0, kShortSummaryText);
  }
  return Capped(line, kDisplayLineMax + 1);
}

std::string Renumbered(int number, std::string_view line) {
  size_t digits = 0;
  while (digits < line.size() && line[digits] == ' ') ++digits;
  const size_t numberStart = digits;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  std::string_view rest;
  if (digits > numberStart) rest = line.substr(digits);
  else if (line.size() > 4) rest = line.substr(4);  // no number field: the first four columns held it
  return Capped(Format("%4d", number) + std::string(rest), kDisplayLineMax + 1);
}

std::string ShownLine(const HeaderEntry& entry) {
  std::string line = entry.line;
  if (!entry.receivedBefore) return line;
  size_t digits = line.find_first_not_of(' ');
  if (digits == std::string::npos) return line;
  digits = line.find_first_not_of("0123456789", digits);
  if (digits != std::string::npos && line[digits] == ' ') line[digits] = '*';
  return line;
}

void MarkReceivedBefore(HeaderList& list) {
  if (std::all_of(list.begin(), list.end(), [](const HeaderEntry& e) { return e.uidl.empty(); })) return;
  ReceivedState state(ReceivedStatePath());
  if (!state.Load()) return;
  for (HeaderEntry& entry : list) entry.receivedBefore = state.Received(entry.uidl);
}

bool PopListSizes(HeaderList& list) {
  const int count = static_cast<int>(list.size());
  std::string reply;
  NetSendLine("LIST\r\n");
  if (!PopReadReply(reply)) {
    PrintErr("POP Protcol error!(LIST)[%s]\a\n", ShownReply(reply).c_str());
    return true;
  }
  // A message the listing leaves out keeps its unknown size: it is still on
  // the server, not taken. Lines are read whole, whatever bytes they hold,
  // so that none of them can end the listing early or pass its end.
  std::string line;
  const long mostLines = static_cast<long>(std::max(count, 0)) + kListSlack;
  for (long lines = 0;; ++lines) {
    // No line: the connection is gone, or was given up for a line without end.
    if (NetRecvWholeLine(line) <= 0) return false;
    if (line == ".\r\n") return true;
    if (lines >= mostLines) {
      PrintErr("response too long!(LIST %ld lines)\a\n", lines + 1);
      NetAbandon();
      return false;
    }
    StoreListedSize(line, count, list);
  }
}

int FetchHeaderLine(int number, long size, std::string& line) {
  std::string reply;
  NetSendLine("TOP %d 4\r\n", number);
  if (!PopReadReply(reply)) {
    PrintErr("POP Protcol error!(TOP %d)[%s]\a\n", number, ShownReply(reply).c_str());
    return 0;
  }
  TopFiles files;
  if (!PopSaveBody(files.raw, ResponseLimit(size, kMostTopBytes))) return 0;
  if (DecodeHeaderFile(files.raw, files.decoded) != 0) return 0;
  // The number is cut away with the first columns; 0 keeps those columns
  // four wide whatever the message number.
  std::string summary;
  if (MakeSummary(summary, 0, files.decoded, DateForm::kShort) <= 0) return 0;
  std::string_view text = summary;
  text = text.size() > kSummaryTextColumn ? text.substr(kSummaryTextColumn) : std::string_view();
  line = MakeDisplayLine(number, size, text);
  return 1;
}

int BuildHeaderList(HeaderList& list, int count) {
  if (!AllocateHeaderList(list, count)) return 1;
  // A listing cut short is no list to show, even where the cache would
  // supply every line: the connection it was read from is gone.
  if (!PopListSizes(list)) {
    WriteOut("Header Recive Error!\n");
    HeaderList().swap(list);
    return 1;
  }
  std::vector<std::string> uidls;
  if (PopUidlList(count, uidls) == UidlListing::kBroken) {
    WriteOut("Header Recive Error!\n");
    HeaderList().swap(list);
    return 1;
  }
  for (size_t i = 0; i < list.size() && i < uidls.size(); ++i) list[i].uidl = std::move(uidls[i]);
  KeyValueFile cache(HeaderCachePath());
  cache.Load();
  const CachedSlots slots(cache);
  for (int k = 1; k <= count; ++k) {
    HeaderEntry& entry = list[static_cast<size_t>(k - 1)];
    std::string line;
    if (entry.SizeKnown()) line = slots.TrustedLine(k, entry.uidl, entry.size);
    if (line.empty()) {
      PrintOut("Getting header %d/%d\n", k, count);
      if (!FetchHeaderLine(k, entry.size, line)) {
        WriteOut("Header Recive Error!\n");
        // A list with lines missing must be neither shown nor saved.
        HeaderList().swap(list);
        return 1;
      }
    }
    entry.line = Renumbered(k, line);
  }
  return 0;
}

}  // namespace quillo
