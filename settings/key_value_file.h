// A key-value file read once and written back once (ReadKey and WriteKey,
// settings/key_value.h, for a whole file at a time). The header cache holds
// two keys per message; looking each one up with ReadKey and setting it with
// WriteKey would read or rewrite the whole file per key, which grows with the
// square of the maildrop. This gives the same results in one pass each way:
// the same key-matching rule, the last matching line wins on reading, every
// matching line is replaced on writing, a new key is appended, other lines
// are kept, and the new content replaces the file only once written whole.
//
// The file is held once, as it was read; besides it only the place and key of
// each line that names a key is kept, so that a file of millions of short or
// empty lines costs little more than its own size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillo {

class KeyValueFile {
 public:
  explicit KeyValueFile(std::string path) : path_(std::move(path)) {}

  // Reads the file; a missing file reads as empty. False when it exists but
  // cannot be read, or is larger than any cache (the content is then empty
  // as well, and Save refuses to replace the file).
  bool Load();

  // The value of the last line for `key` that holds '=', cut to
  // `capacity` - 1 bytes; "" when there is none.
  std::string Get(std::string_view key, size_t capacity = 128) const;

  void Set(std::string_view key, std::string_view value);

  // Every line of the file as loaded that names a key and holds '=', in
  // file order, with its value (not cut). Values set since are not shown.
  void ForEachValue(const std::function<void(std::string_view key, std::string_view value)>& visit) const;

  // Save leaves out every line, and every value set, whose key `drop` accepts.
  void DropKeys(std::function<bool(std::string_view key)> drop) { drop_ = std::move(drop); }

  // Writes the content beside the file and renames it over the file
  // (PartialFile). False (the file unchanged) when that fails, or when the file could
  // not be loaded: its lines would be lost.
  [[nodiscard]] bool Save() const;

  // The number of lines the file had when it was loaded.
  size_t LineCount() const { return lineCount_; }

 private:
  // Eight bytes a line, so that a file of nothing but short key lines
  // costs a few times its size at most.
  struct KeyLine {
    std::uint32_t keyHash;  // of the key in lower case
    std::uint32_t start;    // where the line begins in content_
  };
  // A key set since loading, spelled as the last Set gave it.
  struct NewValue {
    std::string key;
    std::string value;
  };

  std::string_view LineAt(size_t start) const;
  const NewValue* FindSet(std::string_view key, std::uint32_t hash) const;

  std::string path_;
  std::string content_;            // the file, CR LF read as LF, each line ended by LF
  std::vector<KeyLine> keyLines_;  // ordered by hash, then by place in the file
  size_t lineCount_ = 0;
  bool unreadable_ = false;
  std::vector<NewValue> sets_;     // in the order the keys were first set
  std::unordered_multimap<std::uint32_t, size_t> setByHash_;  // key hash -> index in sets_
  std::function<bool(std::string_view key)> drop_;
};

}  // namespace quillo
