#include "settings/key_value_file.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/files.h"
#include "platform/partial_file.h"
#include "platform/strings.h"
#include "platform/text_file.h"
#include "settings/key_value.h"

namespace quillo {

namespace {

// A header cache of a million messages is some hundred megabytes; a file
// beyond this is none, and is not taken into memory.
constexpr long long kLargestFile = 1LL << 30;

// FNV-1a over the lower-case bytes, so that a key needs no lower-case copy
// to be looked up.
std::uint32_t KeyHash(std::string_view key) {
  std::uint32_t hash = 2166136261u;
  for (char c : key) {
    hash ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
    hash *= 16777619u;
  }
  return hash;
}

// The key a line is for: the text before its first '=', blank or tab, when
// the matching rule accepts the line for it; "" otherwise.
std::string_view KeyOfLine(std::string_view line) {
  line = KeyRulesView(line);
  size_t end = line.find_first_of("= \t");
  if (end == std::string_view::npos || end == 0) return {};
  std::string_view key = line.substr(0, end);
  return LineMatchesKey(line, key) ? key : std::string_view();
}

// Reading in text mode: every CR LF becomes LF; a CR alone stays.
void CrLfToLf(std::string& text) {
  size_t to = 0;
  for (size_t from = 0; from < text.size(); ++from) {
    if (text[from] == '\r' && from + 1 < text.size() && text[from + 1] == '\n') continue;
    text[to++] = text[from];
  }
  text.resize(to);
}

}  // namespace

std::string_view KeyValueFile::LineAt(size_t start) const {
  const size_t end = content_.find('\n', start);
  return std::string_view(content_).substr(start, end - start);
}

const KeyValueFile::NewValue* KeyValueFile::FindSet(std::string_view key, std::uint32_t hash) const {
  auto [from, to] = setByHash_.equal_range(hash);
  for (auto it = from; it != to; ++it) {
    const NewValue& set = sets_[it->second];
    if (EqualsIgnoreCase(set.key, key)) return &set;
  }
  return nullptr;
}

bool KeyValueFile::Load() {
  content_.clear();
  keyLines_.clear();
  lineCount_ = 0;
  unreadable_ = false;
  sets_.clear();
  setByHash_.clear();
  if (StatPath(path_) == PathKind::kNone) return true;
  if (FileSize(path_) > kLargestFile || !ReadWholeFile(path_, content_)) {
    content_.clear();
    unreadable_ = true;
    return false;
  }
  CrLfToLf(content_);
  if (!content_.empty() && content_.back() != '\n') content_ += '\n';
  size_t keyLineCount = 0;
  for (size_t start = 0; start < content_.size(); start += LineAt(start).size() + 1) {
    if (!KeyOfLine(LineAt(start)).empty()) ++keyLineCount;
  }
  keyLines_.reserve(keyLineCount);
  for (size_t start = 0; start < content_.size();) {
    const std::string_view line = LineAt(start);
    ++lineCount_;
    const std::string_view key = KeyOfLine(line);
    if (!key.empty()) keyLines_.push_back({KeyHash(key), static_cast<std::uint32_t>(start)});
    start += line.size() + 1;
  }
  // Lines of one key stay in file order, so the last of them is found last.
  std::sort(keyLines_.begin(), keyLines_.end(), [](const KeyLine& a, const KeyLine& b) {
    return a.keyHash != b.keyHash ? a.keyHash < b.keyHash : a.start < b.start;
  });
  return true;
}

std::string KeyValueFile::Get(std::string_view key, size_t capacity) const {
  const std::uint32_t hash = KeyHash(key);
  if (const NewValue* set = FindSet(key, hash)) return Capped(set->value, capacity);
  auto from = std::lower_bound(keyLines_.begin(), keyLines_.end(), hash,
                               [](const KeyLine& line, std::uint32_t h) { return line.keyHash < h; });
  auto to = std::upper_bound(from, keyLines_.end(), hash,
                             [](std::uint32_t h, const KeyLine& line) { return h < line.keyHash; });
  for (auto it = to; it != from;) {
    --it;
    // A reader sees a line in pieces of at most 999 bytes: only the first
    // piece can hold the '=' that starts the value.
    const std::string_view line = KeyRulesView(LineAt(it->start).substr(0, kLinePiece));
    if (!EqualsIgnoreCase(KeyOfLine(line), key)) continue;
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos) return Capped(line.substr(eq + 1), capacity);
  }
  return {};
}

void KeyValueFile::Set(std::string_view key, std::string_view value) {
  const std::uint32_t hash = KeyHash(key);
  for (auto [from, to] = setByHash_.equal_range(hash); from != to; ++from) {
    NewValue& set = sets_[from->second];
    if (!EqualsIgnoreCase(set.key, key)) continue;
    set.key = key;
    set.value = value;
    return;
  }
  setByHash_.emplace(hash, sets_.size());
  sets_.push_back({std::string(key), std::string(value)});
}

void KeyValueFile::ForEachValue(
    const std::function<void(std::string_view key, std::string_view value)>& visit) const {
  for (size_t start = 0; start < content_.size();) {
    const std::string_view line = LineAt(start);
    start += line.size() + 1;
    const std::string_view key = KeyOfLine(line);
    const size_t eq = line.find('=');
    if (!key.empty() && eq != std::string_view::npos) visit(key, line.substr(eq + 1));
  }
}

bool KeyValueFile::Save() const {
  if (unreadable_) return false;
  PartialFile out;
  if (!out.Open(path_, PartialFile::Use::kReplace)) return false;
  std::vector<bool> written(sets_.size(), false);
  const std::string_view content(content_);
  // Lines that stay as they were go out in runs.
  size_t runStart = 0;
  for (size_t start = 0; start < content.size();) {
    const std::string_view line = LineAt(start);
    const size_t next = start + line.size() + 1;
    const std::string_view key = sets_.empty() && !drop_ ? std::string_view() : KeyOfLine(line);
    if (!key.empty() && drop_ && drop_(key)) {
      out.Write(content.substr(runStart, start - runStart));
      runStart = next;
      start = next;
      continue;
    }
    const NewValue* set = key.empty() ? nullptr : FindSet(key, KeyHash(key));
    if (set) {
      out.Write(content.substr(runStart, start - runStart));
      out.Write(set->key + "=" + set->value + "\n");
      written[static_cast<size_t>(set - sets_.data())] = true;
      runStart = next;
    }
    start = next;
  }
  out.Write(content.substr(runStart));
  for (size_t i = 0; i < sets_.size(); ++i) {
    if (!written[i] && !(drop_ && drop_(sets_[i].key))) out.Write(sets_[i].key + "=" + sets_[i].value + "\n");
  }
  return out.Replace();
}

}  // namespace quillo
