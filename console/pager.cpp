#include "console/pager.h"

#include <cctype>

#include "console/external.h"
#include "console/line_input.h"
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

void ShowFile(const std::string& path) {
  const Settings& settings = GetSettings();
  if (!settings.pager.empty()) {
    ShowWithExternalPager(path);
    return;
  }
  DisplayFile file(path);
  if (!file.IsOpen()) return;
  // A page leaves the last screen line for the prompt.
  const int pageLines = settings.lines > 1 ? settings.lines - 1 : 1;
  std::string line;
  int shown = 0;
  while (ReadDisplayLine(file, line) != -1) {
    // A received message must not steer the terminal.
    WriteOut(SanitizeForConsole(line));
    // A full-width line already moved the cursor to the next line.
    if (line.size() < kDisplayColumns) WriteOut("\n");
    ++shown;
    if (shown % pageLines == 0 && !MorePrompt()) return;
  }
  WriteOut("\r\n");
  WaitAnyKey();
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
