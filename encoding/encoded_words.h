// "B" encoded-words in received header lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillo {

// Base64 of `bytes`, without line breaks.
std::string EncodeBase64(std::string_view bytes);

// Appends the bytes that the Base64 text stands for to `out` and returns how
// many were appended. "=" counts as padding; characters outside the alphabet
// are skipped. A group cut short without padding yields nothing.
size_t DecodeBase64(std::string_view encoded, std::string& out);

// The line with each "=?ISO-2022-JP?B?...?=" or "=?iso-2022-jp?B?...?=" word
// replaced by its decoded bytes (still JIS). Other spellings, character sets
// and encodings stay as they are; a word without its "?=" loses its prefix.
// `out` is replaced.
void DecodeEncodedWords(std::string_view line, std::string& out);
std::string DecodeEncodedWords(std::string_view line);

}  // namespace quillo
