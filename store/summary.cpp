#include "store/summary.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/output.h"
#include "platform/strings.h"
#include "platform/text_file.h"

namespace quillo {

namespace {

constexpr size_t kSenderWidth = 15;
constexpr size_t kSubjectWidth = 36;
constexpr size_t kLongDateWidth = 14;

// "Opening the mail file (%s) failed." in Shift_JIS.
constexpr const char* kOpenFailed =
    "\x83\x81\x81\x5b\x83\x8b\x83\x74\x83\x40\x83\x43\x83\x8b(%s)"
    "\x82\xcc\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n";

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Blank-separated tokens; the last one keeps whatever line end it had.
std::vector<std::string_view> Tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) break;
    size_t end = text.find(' ', i);
    if (end == std::string_view::npos) end = text.size();
    tokens.push_back(text.substr(i, end - i));
    i = end;
  }
  return tokens;
}

int MonthNumber(std::string_view token) {
  for (int m = 0; m < 12; ++m) {
    if (token == kMonths[m]) return m + 1;
  }
  return 0;
}

int IntValue(std::string_view text) {
  long v = DecimalValue(text);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The line end of a final token belongs to the line, not to the time.
std::string_view WithoutLineEnd(std::string_view token) {
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.remove_suffix(1);
  return token;
}

// At most `width` bytes of `value` from `start`, without a trailing LF (and
// a CR just before it).
std::string TakeField(std::string_view value, size_t start, size_t width) {
  std::string field(value.substr(std::min(start, value.size()), width));
  if (!field.empty() && field.back() == '\n') {
    field.pop_back();
    if (!field.empty() && field.back() == '\r') field.pop_back();
  }
  return field;
}

struct Parts {
  std::string date, sender, subject;
  bool Complete() const { return !date.empty() && !sender.empty() && !subject.empty(); }
};

void Examine(std::string_view line, DateForm form, Parts& parts) {
  if (StartsWithIgnoreCase(line, "Date:")) {
    ListDate(line.substr(5), form, parts.date);
  } else if (StartsWithIgnoreCase(line, "From:")) {
    // One blank after the colon is skipped; the sender keeps 15 bytes either way.
    const bool blank = line.size() > 5 && line[5] == ' ';
    parts.sender = TakeField(line, blank ? 6 : 5, kSenderWidth);
  } else if (StartsWithIgnoreCase(line, "Subject:")) {
    // The subject column is 36 wide; a skipped blank counts against it.
    const bool blank = line.size() > 8 && line[8] == ' ';
    parts.subject = blank ? TakeField(line, 9, kSubjectWidth - 1) : TakeField(line, 8, kSubjectWidth);
  }
}

}  // namespace

int ListDate(std::string_view value, DateForm form, std::string& date) {
  const std::vector<std::string_view> tokens = Tokens(value);
  for (size_t i = 1; i < tokens.size(); ++i) {
    const int month = MonthNumber(tokens[i]);
    if (month == 0) continue;
    const int day = IntValue(tokens[i - 1]);
    if (form == DateForm::kShort) {
      date = Format("%02d/%02d", month, day);
      return 1;
    }
    // A missing year reads as an empty token (0); a missing time shows blank.
    const int year = i + 1 < tokens.size() ? IntValue(tokens[i + 1]) % 100 : 0;
    const std::string time(i + 2 < tokens.size() ? WithoutLineEnd(tokens[i + 2]) : std::string_view());
    date = Format("%02d/%02d/%02d %5s", year, month, day, time.c_str()).substr(0, kLongDateWidth);
    return 1;
  }
  return 0;
}

int MakeSummary(std::string& line, int number, const std::string& path, DateForm form) {
  std::optional<FileStamp> stamp;
  return MakeSummary(line, number, path, form, stamp);
}

namespace {

int SummaryOf(InputFile& in, std::string& line, int number, DateForm form) {
  Parts parts;
  std::string piece;
  while (in.ReadPiece(piece)) {
    Examine(piece, form, parts);
    if (parts.Complete()) break;
  }
  in.Close();
  const char* format = form == DateForm::kShort ? "%4d%c %5s %15s %s" : "%4d%c %14s %15s %s";
  line = Format(format, number, ' ', parts.date.c_str(), parts.sender.c_str(), parts.subject.c_str());
  // An oversized date or number must not push the line past its buffer.
  if (line.size() >= kSummaryCapacity) line.resize(kSummaryCapacity - 1);
  return static_cast<int>(line.size());
}

void PrintSummaryLine(const std::string& line) { WriteOut(SanitizeForConsole(line) + "\n"); }

}  // namespace

int MakeSummary(std::string& line, int number, const std::string& path, DateForm form,
                std::optional<FileStamp>& stamp) {
  InputFile in(path);
  if (!in.IsOpen()) {
    stamp.reset();
    PrintErr(kOpenFailed, path.c_str());
    return 0;
  }
  stamp = in.Stamp();
  return SummaryOf(in, line, number, form);
}

void PrintReceivedHeading() {
  WriteOut("--No---Date--From-------------Subject&Body-------------------------------------\n");
}

void PrintReceivedSummary(int number, const std::string& path) {
  std::string line;
  if (MakeSummary(line, number, path, DateForm::kShort) == 0) line = Format("%4d", number);
  PrintSummaryLine(line);
}

void PrintReceivedSummaryOfText(int number, std::string_view text) {
  InputFile in;
  in.OpenText(text);
  std::string line;
  SummaryOf(in, line, number, DateForm::kShort);
  PrintSummaryLine(line);
}

}  // namespace quillo
