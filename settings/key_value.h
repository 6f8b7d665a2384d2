// name=value files: the settings file and the server header cache.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// Looks `key` up in the file `path`. A line matches when it begins with the
// key (letter case ignored) followed by '=', a blank or a tab; the last
// matching line wins. Returns 1 when a non-empty value was found. `value` is
// emptied when the file cannot be opened, set (possibly to "") when a matching
// line holds '=', and left alone otherwise. The value is cut to
// `capacity` - 1 bytes.
int ReadKey(std::string_view key, std::string& value, const std::string& path,
            size_t capacity = 128);

// ReadKey for several keys in one reading of the file: `values[i]` is the
// value of the last line for `keys[i]` that holds '=' (possibly empty), or
// nothing. False (every value nothing) when the file cannot be opened.
bool ReadKeys(std::span<const std::string_view> keys, std::vector<std::optional<std::string>>& values,
              const std::string& path, size_t capacity = 128);

// Sets `key` to `value` in `path` (every matching line is replaced; the line is
// appended when none matches; the file is created when missing). The new
// content is written whole beside the file and then renamed over it
// (PartialFile), so a failure leaves the original intact. Returns 1 on success, 0 on
// failure.
[[nodiscard]] int WriteKey(std::string_view key, std::string_view value, const std::string& path);

// True when `line` is a line for `key` under the matching rule above.
bool LineMatchesKey(std::string_view line, std::string_view key);

// A line as the key rules see it: up to its first NUL byte, which ends the
// text as far as keys and values go (a binary file yields no value with a
// NUL inside). Rewriting keeps the line's bytes all the same.
std::string_view KeyRulesView(std::string_view line);

}  // namespace quillo
