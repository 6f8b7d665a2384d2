// Showing a text file a screen at a time, and the 80-column line reader that
// the pager and the address book share.
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace quillo {

// A text file read one byte at a time with one byte of look-ahead, so a
// display line that fills the screen can leave the next byte for the next
// line. CR LF arrives as LF.
class DisplayFile {
 public:
  explicit DisplayFile(const std::string& path) : file_(path, true) {}
  // The bytes of `text` (which must outlive the reading) as a file's.
  struct FromText {};
  DisplayFile(std::string_view text, FromText) { file_.OpenText(text); }
  bool IsOpen() const { return file_.IsOpen(); }
  // The next byte (0-255), or -1 at the end of the file.
  int Get();
  int Peek();

 private:
  bool Fill();
  InputFile file_;
  std::string piece_;
  size_t pos_ = 0;
};

constexpr size_t kDisplayColumns = 80;

// Reads the next display line (at most 80 columns, a tab reaching the next
// multiple of 8 and one column more) into `line`, without its line feed.
// Returns 10 when the line ended at a line feed, the code of the byte that
// begins the next display line when it was cut, or -1 at the end of the file
// (`line` then holds the unfinished last line, which callers do not show).
int ReadDisplayLine(DisplayFile& file, std::string& line);

// Shows `path` with the external pager of the settings, or else a screen of
// lines - 1 display lines at a time with "-more-" between screens.
void ShowFile(const std::string& path);

// Shows UTF-8 text (a message view) in the built-in pager: on a UTF-8 console
// every character as itself, on a Shift_JIS one what Shift_JIS cannot hold
// as the geta mark, 80 columns a line either way.
void ShowText(std::string_view utf8);

// `utf8` made safe for the terminal: control characters other than line
// feed and tab, DEL, C1 controls, direction overrides and malformed bytes
// become '?'. Lines keep their line feeds.
std::string SanitizeUtf8ForConsole(std::string_view utf8);

// The display columns of the UTF-8 character starting at `utf8[0]` and its
// length in bytes: the bytes of its Shift_JIS form when Shift_JIS holds it
// (the columns a Shift_JIS console gives it), else 2 for the wide characters
// of East Asian text and emoji and 1 for others. A byte that begins no
// complete character is one column.
struct Utf8Cell {
  size_t bytes;
  size_t columns;
};
Utf8Cell Utf8CellAt(std::string_view utf8);

// The command line of the external pager for `path`: "<pager> <path>", the
// path made absolute (the pager runs in the file's directory) and quoted.
std::string PagerCommandLine(const std::string& path);

}  // namespace quillo
