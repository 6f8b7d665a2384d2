// The small lexical steps every header field reader of a message takes.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// A space or a tab: the white space inside a header field.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// `text` with its ASCII capitals lowered: names of types, parameters and
// encodings are compared in one letter case.
inline std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// `text` without the blanks at either end.
constexpr std::string_view TrimmedBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace quillo
