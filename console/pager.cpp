#include "console/pager.h"

#include <cctype>
#include <cstdint>

#include "console/external.h"
#include "console/line_input.h"
#include "platform/charset.h"
#include "platform/console_charset.h"
#include "platform/files.h"
#include "platform/keys.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "settings/settings.h"

namespace quillo {

bool DisplayFile::Fill() {
  if (pos_ < piece_.size()) return true;
  pos_ = 0;
  return file_.ReadPiece(piece_);
}

int DisplayFile::Get() {
  if (!Fill()) return -1;
  return static_cast<unsigned char>(piece_[pos_++]);
}

int DisplayFile::Peek() {
  if (!Fill()) return -1;
  return static_cast<unsigned char>(piece_[pos_]);
}

namespace {

size_t ColumnsAfter(size_t columns, int byte) {
  if (byte == '\t') columns = (columns + 8) / 8 * 8;
  return columns + 1;
}

}  // namespace

int ReadDisplayLine(DisplayFile& file, std::string& line) {
  line.clear();
  size_t columns = 0;
  while (columns < kDisplayColumns) {
    int c = file.Get();
    if (c < 0) return -1;
    if (c == '\n') return '\n';
    line.push_back(static_cast<char>(c));
    columns = ColumnsAfter(columns, c);
  }
  // The screen line is full: a line feed right here still belongs to it.
  int next = file.Peek();
  if (next == '\n') file.Get();
  return next;
}

namespace {

// "-more-" between screens; false when the reader asked to stop (Escape, q,
// or the end of input).
bool MorePrompt() {
  WriteOut("-more-");
  int key = ReadConsoleKey();
  if (key == kEndOfInput || key == kKeyEscape || std::toupper(key) == 'Q') {
    WriteOut("\n");
    return false;
  }
  WriteOut("\r       \r");
  return true;
}

void ShowWithExternalPager(const std::string& path);

}  // namespace

namespace {

// Shows display lines a screen at a time. `next` gives the next line, ready
// to be written (Shift_JIS, or UTF-8 when `utf8`), and its width; false at
// the end.
template <typename NextLine>
void PageLines(bool utf8, NextLine next) {
  // A page leaves the last screen line for the prompt.
  const int lines = GetSettings().lines;
  const int pageLines = lines > 1 ? lines - 1 : 1;
  std::string line;
  size_t columns = 0;
  int shown = 0;
  while (next(line, columns)) {
    // A full-width line already moved the cursor to the next line.
    if (columns < kDisplayColumns) line += '\n';
    if (utf8) {
      WriteOutUtf8(line);
    } else {
      WriteOut(line);
    }
    ++shown;
    if (shown % pageLines == 0 && !MorePrompt()) return;
  }
  WriteOut("\r\n");
  WaitAnyKey();
}

void PageDisplayFile(DisplayFile& file) {
  std::string raw;
  PageLines(false, [&](std::string& line, size_t& columns) {
    if (ReadDisplayLine(file, raw) == -1) return false;
    columns = raw.size();
    // A received message must not steer the terminal.
    line = SanitizeForConsole(raw);
    return true;
  });
}

// The next display line of UTF-8 text from `pos`: at most 80 columns, tabs
// reaching the next multiple of 8.
bool NextUtf8Line(std::string_view text, size_t& pos, std::string& line, size_t& columns) {
  if (pos >= text.size()) return false;
  line.clear();
  columns = 0;
  while (pos < text.size()) {
    if (text[pos] == '\n') {
      ++pos;
      return true;
    }
    const Utf8Cell cell = text[pos] == '\t' ? Utf8Cell{1, 8 - columns % 8} : Utf8CellAt(text.substr(pos));
    if (columns + cell.columns > kDisplayColumns) break;
    if (text[pos] == '\t') {
      line.append(cell.columns, ' ');
    } else {
      line.append(text.substr(pos, cell.bytes));
    }
    columns += cell.columns;
    pos += cell.bytes;
  }
  // The screen line is full: a line feed right here still belongs to it.
  if (pos < text.size() && text[pos] == '\n') ++pos;
  return true;
}

}  // namespace

void ShowFile(const std::string& path) {
  if (!GetSettings().pager.empty()) {
    ShowWithExternalPager(path);
    return;
  }
  DisplayFile file(path);
  if (!file.IsOpen()) return;
  PageDisplayFile(file);
}

void ShowText(std::string_view utf8) {
  const std::string safe = SanitizeUtf8ForConsole(utf8);
  if (GetConsoleCharset() != ConsoleCharset::kUtf8) {
    // Shift_JIS columns are its bytes: the file pager lays them out.
    const std::string sjis = Utf8ToSjis(safe);
    DisplayFile file(sjis, DisplayFile::FromText{});
    PageDisplayFile(file);
    return;
  }
  size_t pos = 0;
  PageLines(true, [&](std::string& line, size_t& columns) { return NextUtf8Line(safe, pos, line, columns); });
}

namespace {

// The wide characters Shift_JIS has no place for: Hangul, the CJK
// extensions, emoji.
bool IsWideOutsideSjis(std::uint32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
         (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F000 && cp <= 0x1FAFF) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

}  // namespace

Utf8Cell Utf8CellAt(std::string_view utf8) {
  const auto lead = static_cast<unsigned char>(utf8[0]);
  const size_t n = lead < 0x80 ? 1 : Utf8SequenceLength(lead);
  if (n < 2 || utf8.size() < n) return {1, 1};
  const std::string_view ch = utf8.substr(0, n);
  // What Shift_JIS holds takes the columns it takes on a Shift_JIS console,
  // so both consoles cut a line at the same place.
  const std::string sjis = Utf8ToSjis(ch);
  if (sjis != "\x81\xac" || ch == "\xe3\x80\x93") return {n, sjis.size()};
  std::uint32_t cp = lead & (0x3F >> (n - 1));
  for (size_t i = 1; i < n; ++i) cp = cp << 6 | (static_cast<unsigned char>(ch[i]) & 0x3F);
  return {n, IsWideOutsideSjis(cp) ? size_t{2} : size_t{1}};
}

std::string SanitizeUtf8ForConsole(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t n = c >= 0xF8 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    bool ok = n != 0 && i + n <= utf8.size();
    for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    const std::string_view ch = ok ? utf8.substr(i, n) : std::string_view();
    // C1 controls, and the marks that reorder what follows them on the line.
    const bool control = ok && ((n == 2 && c == 0xC2 && static_cast<unsigned char>(ch[1]) < 0xA0) ||
                                ch == "\xe2\x80\xaa" || ch == "\xe2\x80\xab" || ch == "\xe2\x80\xac" ||
                                ch == "\xe2\x80\xad" || ch == "\xe2\x80\xae" || ch == "\xe2\x81\xa6" ||
                                ch == "\xe2\x81\xa7" || ch == "\xe2\x81\xa8" || ch == "\xe2\x81\xa9");
    if (!ok || control) {
      out += '?';
      i += ok ? n : 1;
      continue;
    }
    out.append(ch);
    i += n;
  }
  return out;
}

std::string PagerCommandLine(const std::string& path) {
  return GetSettings().pager + " " + ShellQuote(AbsolutePath(path));
}

namespace {

// The pager runs in the file's directory; its result is not looked at.
void ShowWithExternalPager(const std::string& path) {
  const std::string commandLine = PagerCommandLine(path);
  const WorkingDirectoryScope inFileDirectory(DirectoryOf(AbsolutePath(path)));
  RunCommandLine(commandLine);
}

}  // namespace

}  // namespace quillo
