// Reading a message file line by line, the way the sending side needs it.
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace quillo {

// True for the line that ends a header: one that begins with eight hyphens,
// or the empty line.
bool IsHeaderEnd(std::string_view line);

// A header line that continues the one above it (begins with a blank or tab).
bool IsContinuationLine(std::string_view line);

// Reads one whole line (its LF included when present), however long, by
// joining the file's 999-byte pieces. False at the end of the file.
bool ReadWholeLine(InputFile& file, std::string& line);

// One piece of a line, as read for transmission.
struct LinePiece {
  std::string text;
  bool lineStart = true;  // the piece begins a line (not the rest of a long one)
  bool lineEnd = true;    // the piece ends with the line's LF
};

// Hands out a file's lines in pieces of at most 999 bytes. A piece never ends
// in the first byte of a double-byte character: that byte moves to the next
// piece, so every piece converts to JIS on its own.
class PieceReader {
 public:
  explicit PieceReader(InputFile& file) : file_(file) {}
  bool Next(LinePiece& piece);

 private:
  InputFile& file_;
  std::string carry_;
  bool atLineStart_ = true;
};

// True when `text` ends in a Shift_JIS lead byte that has no second byte
// after it (the walk starts at the beginning of `text`).
bool EndsInOpenLeadByte(std::string_view text);

}  // namespace quillo
