#include "store/summary.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "encoding/byte_classes.h"
#include "mime/header_decode.h"
#include "platform/charset.h"
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

// Blank-separated tokens one after the other; the last one keeps whatever
// line end it had.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}
  std::optional<std::string_view> Next() {
    while (i_ < text_.size() && text_[i_] == ' ') ++i_;
    if (i_ == text_.size()) return std::nullopt;
    size_t end = text_.find(' ', i_);
    if (end == std::string_view::npos) end = text_.size();
    const std::string_view token = text_.substr(i_, end - i_);
    i_ = end;
    return token;
  }

 private:
  std::string_view text_;
  size_t i_ = 0;
};

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


struct Parts {
  std::string date;
  std::string from, subject;  // raw values, continuation lines joined
  // The field whose continuation lines are being gathered, if any.
  std::string* open = nullptr;
  bool subjectBlank = false;  // one blank followed "Subject:"
  bool Complete() const { return !date.empty() && !from.empty() && !subject.empty(); }
};

constexpr bool IsContinuation(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// A value from `start` without its line end.
std::string_view ValueOf(std::string_view line, size_t start) {
  std::string_view value = line.substr(std::min(start, line.size()));
  if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
  if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
  return value;
}

void Examine(std::string_view line, DateForm form, Parts& parts) {
  if (parts.open) {
    if (IsContinuation(line)) {
      parts.open->append(ValueOf(line, 0));
      return;
    }
    parts.open = nullptr;
  }
  // Most header lines start with another letter: one look tells.
  const char first = line.empty() ? '\0' : static_cast<char>(line[0] | 0x20);
  if (first != 'd' && first != 'f' && first != 's') return;
  if (StartsWithIgnoreCase(line, "Date:")) {
    ListDate(line.substr(5), form, parts.date);
  } else if (StartsWithIgnoreCase(line, "From:")) {
    parts.from = ValueOf(line, 5);
    parts.open = &parts.from;
  } else if (StartsWithIgnoreCase(line, "Subject:")) {
    parts.subjectBlank = line.size() > 8 && line[8] == ' ';
    parts.subject = ValueOf(line, parts.subjectBlank ? 9 : 8);
    parts.open = &parts.subject;
  }
}

// Values that need more than their bytes as stored: encoded-words, or 8-bit
// text that is UTF-8 (stored Japanese is otherwise Shift_JIS already).
bool NeedsDecoding(std::string_view value) {
  if (value.find("=?") != std::string_view::npos) return true;
  const bool eightBit = std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  return eightBit && IsValidUtf8(value);
}

// At most `width` bytes of Shift_JIS text, never half a double-byte
// character.
std::string CutSjis(std::string_view sjis, size_t width) {
  size_t end = 0;
  while (end < sjis.size()) {
    const size_t n = IsSjisLeadByte(static_cast<unsigned char>(sjis[end])) && end + 1 < sjis.size() ? 2 : 1;
    if (end + n > width) break;
    end += n;
  }
  return std::string(sjis.substr(0, end));
}

// Tabs of folded or decoded text would move the columns.
std::string WithoutTabs(std::string text) {
  std::replace(text.begin(), text.end(), '\t', ' ');
  return text;
}

// The sender column: the display name, else the address, in Shift_JIS.
// Stored Shift_JIS is shown as it is stored, one blank after the colon
// skipped as before.
std::string SenderColumn(std::string_view from) {
  if (from.empty()) return std::string();
  // A bare address is shown as stored; "address (Name)" has a blank before
  // its comment.
  if (from.find_first_of("<\"") == std::string_view::npos && from.find(" (") == std::string_view::npos &&
      !NeedsDecoding(from)) {
    if (from.front() == ' ') from.remove_prefix(1);
    return WithoutTabs(std::string(from.substr(0, kSenderWidth)));
  }
  return CutSjis(WithoutTabs(Utf8ToSjis(ListSender(from))), kSenderWidth);
}

// The subject column: 36 wide, a skipped blank counting against it.
std::string SubjectColumn(std::string_view subject, bool blank) {
  const size_t width = blank ? kSubjectWidth - 1 : kSubjectWidth;
  if (!NeedsDecoding(subject)) return WithoutTabs(std::string(subject.substr(0, width)));
  return CutSjis(WithoutTabs(Utf8ToSjis(DecodeHeaderValue(subject))), width);
}

}  // namespace

int ListDate(std::string_view value, DateForm form, std::string& date) {
  // The day is the token before the first month name; the year and the time
  // are the two after it.
  Tokens tokens(value);
  std::optional<std::string_view> previous = tokens.Next();
  if (!previous) return 0;
  while (const std::optional<std::string_view> token = tokens.Next()) {
    const int month = MonthNumber(*token);
    if (month == 0) {
      previous = token;
      continue;
    }
    const int day = IntValue(*previous);
    date.clear();
    if (form == DateForm::kShort) {
      // "%02d/%02d"
      AppendDecimal(date, month, 2, true);
      date += '/';
      AppendDecimal(date, day, 2, true);
      return 1;
    }
    // A missing year reads as an empty token (0); a missing time shows blank.
    const std::optional<std::string_view> yearToken = tokens.Next();
    const std::optional<std::string_view> timeToken = yearToken ? tokens.Next() : std::nullopt;
    const int year = yearToken ? IntValue(*yearToken) % 100 : 0;
    // "%02d/%02d/%02d %5s", cut to the column.
    AppendDecimal(date, year, 2, true);
    date += '/';
    AppendDecimal(date, month, 2, true);
    date += '/';
    AppendDecimal(date, day, 2, true);
    date += ' ';
    // The line end of a final token belongs to the line, not to the time.
    AppendPadded(date, timeToken ? WithoutLineEnds(*timeToken) : std::string_view(), 5);
    if (date.size() > kLongDateWidth) date.resize(kLongDateWidth);
    return 1;
  }
  return 0;
}

namespace {

int SummaryOf(InputFile& in, std::string& line, int number, DateForm form) {
  Parts parts;
  std::string_view piece;
  while (in.ReadPieceView(piece)) {
    // A folded value ends with the first line that does not continue it.
    if (parts.Complete() && !(parts.open && IsContinuation(piece))) break;
    Examine(piece, form, parts);
  }
  in.Close();
  const std::string sender = SenderColumn(parts.from);
  const std::string subject = SubjectColumn(parts.subject, parts.subjectBlank);
  // "%4d%c %5s %15s %s" (short) or "%4d%c %14s %15s %s" (long), the marker
  // a blank.
  line.clear();
  line.reserve(kSummaryCapacity);
  AppendDecimal(line, number, 4);
  line += "  ";
  AppendPadded(line, parts.date, form == DateForm::kShort ? 5 : kLongDateWidth);
  line += ' ';
  AppendPadded(line, sender, kSenderWidth);
  line += ' ';
  AppendPadded(line, subject, 0);
  // An oversized date or number must not push the line past its buffer.
  if (line.size() >= kSummaryCapacity) line.resize(kSummaryCapacity - 1);
  return static_cast<int>(line.size());
}

void PrintSummaryLine(const std::string& line) { WriteOut(SanitizeForConsole(line) + "\n"); }

// The stamp of the file read is taken only when asked for (`stamp` not null).
int SummaryOfFile(std::string& line, int number, const std::string& path, DateForm form,
                  std::optional<FileStamp>* stamp) {
  InputFile in(path);
  if (!in.IsOpen()) {
    if (stamp) stamp->reset();
    PrintErr(kOpenFailed, path.c_str());
    return 0;
  }
  if (stamp) *stamp = in.Stamp();
  return SummaryOf(in, line, number, form);
}

}  // namespace

int MakeSummary(std::string& line, int number, const std::string& path, DateForm form) {
  return SummaryOfFile(line, number, path, form, nullptr);
}

int MakeSummary(std::string& line, int number, const std::string& path, DateForm form,
                std::optional<FileStamp>& stamp) {
  return SummaryOfFile(line, number, path, form, &stamp);
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
