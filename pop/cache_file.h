// A key-value file read once and written back once. The header cache holds
// two keys per message; looking each one up with ReadKey and setting it with
// WriteKey would read or rewrite the whole file per key, which grows with the
// square of the maildrop. This gives the same results in one pass each way:
// the same key-matching rule, the last matching line wins on reading, every
// matching line is replaced on writing, a new key is appended, other lines
// are kept, and the new content replaces the file only once written whole.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillo {

class KeyValueFile {
 public:
  explicit KeyValueFile(std::string path) : path_(std::move(path)) {}

  // Reads the file; a missing file reads as empty. False when it exists but
  // cannot be read (the content is then empty as well).
  bool Load();

  // The value of the last line for `key` that holds '=', cut to
  // `capacity` - 1 bytes; "" when there is none.
  std::string Get(std::string_view key, size_t capacity = 128) const;

  void Set(std::string_view key, std::string_view value);

  // Writes the content to "tmp.ini" beside the file and renames it over the
  // file. False (the file unchanged) when that fails.
  bool Save() const;

  size_t LineCount() const { return lines_.size(); }

 private:
  void IndexLine(size_t i);

  std::string path_;
  std::vector<std::string> lines_;  // without their line feeds
  std::unordered_map<std::string, std::vector<size_t>> byKey_;  // lower-case key -> lines
};

}  // namespace quillo
