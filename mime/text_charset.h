// Choosing the charset a text is read in, for labels that are missing or
// wrong (ISO-2022-JP that is really UTF-8, Shift_JIS labelled ISO-2022-JP).
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// `bytes` as UTF-8: read in `label` when they are valid in it; otherwise
// (no label, an unknown one, or bytes invalid in it) JIS escapes mean
// ISO-2022-JP, valid UTF-8 means UTF-8, else Shift_JIS or EUC-JP, whichever
// reads as Japanese. When nothing reads cleanly the label (or Shift_JIS)
// gives what it can. Appends to `out`.
void AppendDecodedText(std::string_view label, std::string_view bytes, std::string& out);

// The charset the guess above settles on for `bytes` read without a label
// ("iso-2022-jp", "utf-8", "shift_jis", "euc-jp").
std::string GuessJapaneseCharset(std::string_view bytes);

}  // namespace quillo
