#include "compose/message_lines.h"

#include "encoding/byte_classes.h"

namespace quillo {

bool IsHeaderEnd(std::string_view line) { return line.starts_with("--------") || line == "\n"; }

bool IsContinuationLine(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

bool ReadWholeLine(InputFile& file, std::string& line) {
  line.clear();
  std::string piece;
  while (file.ReadPiece(piece)) {
    line += piece;
    if (line.back() == '\n') break;
  }
  return !line.empty();
}

bool EndsInOpenLeadByte(std::string_view text) {
  bool open = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (open) {
      open = false;
    } else if (IsSjisLeadByte(text[i])) {
      open = true;
    }
  }
  return open;
}

bool PieceReader::Next(LinePiece& piece) {
  std::string read;
  file_.ReadPiece(read, kLinePiece - carry_.size());
  piece.text = carry_ + read;
  carry_.clear();
  if (piece.text.empty()) return false;
  piece.lineStart = atLineStart_;
  piece.lineEnd = piece.text.back() == '\n';
  if (!piece.lineEnd && !read.empty() && piece.text.size() > 1 && EndsInOpenLeadByte(piece.text)) {
    carry_ = piece.text.back();
    piece.text.pop_back();
  }
  atLineStart_ = piece.lineEnd;
  return true;
}

}  // namespace quillo
