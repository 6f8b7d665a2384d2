#include "settings/key_value.h"

#include "platform/files.h"
#include "platform/partial_file.h"
#include "platform/strings.h"
#include "platform/text_file.h"

namespace quillo {

bool LineMatchesKey(std::string_view line, std::string_view key) {
  if (!StartsWithIgnoreCase(line, key) || line.size() == key.size()) return false;
  // A bare prefix test would let "Mail1000" match "Mail10000".
  char next = line[key.size()];
  return next == '=' || next == ' ' || next == '\t';
}

std::string_view KeyRulesView(std::string_view line) { return line.substr(0, line.find('\0')); }

bool ReadKeys(std::span<const std::string_view> keys, std::vector<std::optional<std::string>>& values,
              const std::string& path, size_t capacity) {
  values.assign(keys.size(), std::nullopt);
  InputFile in(path);
  if (!in.IsOpen()) return false;
  bool atLineStart = true;  // the tail of a long line is not a line of its own
  // A value may be longer than a usual line (an access token); its line is
  // then read in one piece, key and all.
  const size_t pieceBytes = capacity > kLinePiece ? capacity + kLinePiece : kLinePiece;
  std::string piece;
  while (in.ReadPiece(piece, pieceBytes)) {
    const bool startsLine = atLineStart;
    atLineStart = piece.back() == '\n';
    if (!startsLine) continue;
    const std::string_view line = KeyRulesView(piece);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view text = line.substr(eq + 1);
    text = text.substr(0, text.find('\n'));
    for (size_t k = 0; k < keys.size(); ++k) {
      if (LineMatchesKey(line, keys[k])) values[k] = Capped(text, capacity);
    }
  }
  return true;
}

int ReadKey(std::string_view key, std::string& value, const std::string& path, size_t capacity) {
  std::vector<std::optional<std::string>> values;
  if (!ReadKeys(std::span(&key, 1), values, path, capacity)) {
    value.clear();
    return 0;
  }
  if (!values[0]) return 0;
  value = *values[0];
  return value.empty() ? 0 : 1;
}

int WriteKey(std::string_view key, std::string_view value, const std::string& path) {
  std::string newLine(key);
  newLine += '=';
  newLine += value;
  newLine += '\n';

  PartialFile out;
  if (!out.Open(path, PartialFile::Use::kReplace)) return 0;
  if (StatPath(path) != PathKind::kNone) {
    InputFile in(path);
    if (!in.IsOpen()) return 0;
    bool replaced = false;
    bool skippingRest = false;  // the remaining pieces of a replaced long line
    bool atLineStart = true;
    std::string piece;
    while (in.ReadPiece(piece)) {
      const bool endsLine = piece.back() == '\n';
      if (skippingRest) {
        skippingRest = !endsLine;
        atLineStart = endsLine;
        continue;
      }
      if (atLineStart && LineMatchesKey(KeyRulesView(piece), key)) {
        out.Write(newLine);
        replaced = true;
        skippingRest = !endsLine;
      } else {
        out.Write(piece);
      }
      atLineStart = endsLine;
    }
    if (!replaced) {
      if (!atLineStart) out.Write("\n");
      out.Write(newLine);
    }
    if (in.HadError()) return 0;
  } else {
    out.Write(newLine);
  }
  return out.Replace() ? 1 : 0;
}

}  // namespace quillo
