// The list of the messages waiting on the server, one display line each,
// filled from LIST, the header cache and TOP.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// A size LIST did not give (refused, or the message missing from the
// listing). Such an entry is still selectable; it is never trusted to the
// cache nor saved in it.
constexpr long kSizeUnknown = -1;
// An entry taken off the server in this run (deleted, or retrieved with
// serverdel=1) has size 0: the server numbers without it after QUIT.
constexpr long kSizeTaken = 0;

// A display line holds at most this many bytes.
constexpr size_t kDisplayLineMax = 87;
// What a short and a long display line keep of the summary text.
constexpr size_t kShortSummaryText = 35;
constexpr size_t kLongSummaryText = 66;

struct HeaderEntry {
  long size = kSizeUnknown;
  std::string line;
  // Retrieved in this run and left on the server (serverdel=0): no longer
  // offered, but still in the server's numbering, so it keeps its slot.
  bool retrieved = false;
  // The id the server gave the message in this conversation; "" from a
  // server without UIDL.
  std::string uidl{};
  // Stored by an earlier run (its id is in the received state): marked on
  // the pages, passed over by "a".
  bool receivedBefore = false;

  bool Taken() const { return size == kSizeTaken; }
  // Not to be offered again in this run.
  bool Done() const { return Taken() || retrieved; }
  bool SizeKnown() const { return size > 0; }
};

// Entry i describes server message i + 1.
using HeaderList = std::vector<HeaderEntry>;

// Makes `list` an empty list for `count` messages; false (after printing
// "Not memory!\n", `list` empty) when it cannot be had.
bool AllocateHeaderList(HeaderList& list, int count);

// The column heading of the current layout (Reciveheadlong).
const char* HeaderColumnHeading();

// A display line for `number` in the current layout from the summary text
// (a blank, the sender in 15 columns, a blank, the subject).
std::string MakeDisplayLine(int number, long size, std::string_view summaryText);

// A stored line with its number field (leading blanks, then digits) replaced
// by `number` in four columns. The rest, which begins with the blank before
// the sender or before the size, is kept whatever the old number's width.
std::string Renumbered(int number, std::string_view line);

// LIST into the sizes of the entries of `list`, one for each message. A refused LIST leaves
// them unknown. False when the connection ended before the listing's end
// line, or was given up for a listing far longer than the list. Lines
// whose number is no message of the list, or whose size is not positive or
// too large to hold, are passed over.
bool PopListSizes(HeaderList& list);

// TOP for `number` into a display line. 1 with `line` set, 0 on failure.
int FetchHeaderLine(int number, long size, std::string& line);

// The display line as the pages show it: an entry received before has a
// "*" in the blank after its number.
std::string ShownLine(const HeaderEntry& entry);

// Marks the entries of `list` whose ids the received state holds (it is
// read, never written).
void MarkReceivedBefore(HeaderList& list);

// Makes `list` the list of `count` messages and fills it: sizes with LIST,
// ids with UIDL (where the server has it), lines from the cache where it is
// trusted (by id and size, else by slot and size), else with TOP. 0 when every entry
// has a line, 1 on failure (after printing why; `list` is then empty).
int BuildHeaderList(HeaderList& list, int count);

}  // namespace quillo
