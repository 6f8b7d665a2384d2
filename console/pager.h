// Showing a text file a screen at a time, and the 80-column line reader that
// the pager and the address book share.
#pragma once

#include <string>

#include "platform/text_file.h"

namespace quillo {

// A text file read one byte at a time with one byte of look-ahead, so a
// display line that fills the screen can leave the next byte for the next
// line. CR LF arrives as LF.
class DisplayFile {
 public:
  explicit DisplayFile(const std::string& path) : file_(path, true) {}
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

// The command line of the external pager for `path`: "<pager> <path>", the
// path made absolute (the pager runs in the file's directory) and quoted.
std::string PagerCommandLine(const std::string& path);

}  // namespace quillo
