#include "compose/message_lines.h"

namespace quillo {

bool IsHeaderEnd(std::string_view line) { return line.starts_with("--------") || line == "\n"; }

bool IsContinuationLine(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

bool ReadWholeLine(InputFile& file, std::string& line, size_t maxBytes) {
  line.clear();
  std::string piece;
  while (file.ReadPiece(piece)) {
    if (piece.size() > maxBytes - line.size()) {
      file.MarkFailed();
      line.clear();
      return false;
    }
    line += piece;
    if (line.back() == '\n') break;
  }
  return !line.empty();
}

}  // namespace quillo
