#include "pop/cache_file.h"

#include <cctype>
#include <string>

#include "platform/files.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/key_value.h"

namespace quillo {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The key a line is for: the text before its first '=', blank or tab, when
// the matching rule accepts the line for it; "" otherwise.
std::string_view KeyOfLine(std::string_view line) {
  size_t end = line.find_first_of("= \t");
  if (end == std::string_view::npos || end == 0) return {};
  std::string_view key = line.substr(0, end);
  return LineMatchesKey(line, key) ? key : std::string_view();
}

std::string TemporaryPathBeside(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("tmp.ini") : path.substr(0, slash + 1) + "tmp.ini";
}

}  // namespace

void KeyValueFile::IndexLine(size_t i) {
  std::string_view key = KeyOfLine(lines_[i]);
  if (!key.empty()) byKey_[Lower(key)].push_back(i);
}

bool KeyValueFile::Load() {
  lines_.clear();
  byKey_.clear();
  if (StatPath(path_) == PathKind::kNone) return true;
  InputFile in(path_);
  if (!in.IsOpen()) return false;
  std::string piece;
  std::string line;
  while (in.ReadPiece(piece)) {
    line += piece;
    if (piece.back() != '\n') continue;
    line.pop_back();
    lines_.push_back(std::move(line));
    line.clear();
  }
  if (!line.empty()) lines_.push_back(std::move(line));
  if (in.HadError()) {
    lines_.clear();
    return false;
  }
  for (size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
  return true;
}

std::string KeyValueFile::Get(std::string_view key, size_t capacity) const {
  auto it = byKey_.find(Lower(key));
  if (it == byKey_.end()) return {};
  for (auto i = it->second.rbegin(); i != it->second.rend(); ++i) {
    // A reader sees a line in pieces of at most 999 bytes: only the first
    // piece can hold the '=' that starts the value.
    std::string_view line = std::string_view(lines_[*i]).substr(0, kLinePiece);
    size_t eq = line.find('=');
    if (eq != std::string_view::npos) return Capped(line.substr(eq + 1), capacity);
  }
  return {};
}

void KeyValueFile::Set(std::string_view key, std::string_view value) {
  std::string newLine(key);
  newLine += '=';
  newLine += value;
  auto it = byKey_.find(Lower(key));
  if (it != byKey_.end() && !it->second.empty()) {
    for (size_t i : it->second) lines_[i] = newLine;
    return;
  }
  lines_.push_back(std::move(newLine));
  IndexLine(lines_.size() - 1);
}

bool KeyValueFile::Save() const {
  const std::string tmpPath = TemporaryPathBeside(path_);
  OutputFile out;
  if (!out.Open(tmpPath)) return false;
  for (const std::string& line : lines_) {
    out.Write(line);
    out.Write("\n");
  }
  if (!out.Close() || !RenameReplace(tmpPath, path_)) {
    RemoveFile(tmpPath);
    return false;
  }
  return true;
}

}  // namespace quillo
