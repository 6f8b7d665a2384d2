#include "mime/text_charset.h"

#include <cstdint>

#include "platform/charset.h"

namespace quillo {

namespace {

bool HasEscape(std::string_view bytes) {
  for (size_t at = bytes.find('\x1B'); at != std::string_view::npos; at = bytes.find('\x1B', at + 1)) {
    if (at + 2 < bytes.size() && (bytes[at + 1] == '$' || bytes[at + 1] == '(')) return true;
  }
  return false;
}

// How Japanese a UTF-8 text reads: kana and kanji count for it, half-width
// katakana (what EUC-JP read as Shift_JIS mostly gives), replacement and
// geta marks and C1 controls count against it.
long JapaneseScore(std::string_view utf8) {
  long score = 0;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (i + length > utf8.size()) break;
    uint32_t cp = 0;
    if (length == 2) cp = (c & 0x1Fu) << 6 | (utf8[i + 1] & 0x3F);
    if (length == 3) cp = (c & 0x0Fu) << 12 | (utf8[i + 1] & 0x3Fu) << 6 | (utf8[i + 2] & 0x3F);
    if (cp >= 0x3041 && cp <= 0x30FF) score += 3;       // hiragana, katakana
    else if (cp >= 0x4E00 && cp <= 0x9FFF) score += 2;  // kanji
    else if (cp >= 0x3000 && cp <= 0x303F) score += 1;  // Japanese punctuation
    else if (cp >= 0xFF01 && cp <= 0xFF5E) score += 1;  // full-width forms
    else if (cp >= 0xFF61 && cp <= 0xFF9F) score -= 1;  // half-width katakana
    else if (cp == 0xFFFD || cp == 0x3013 || (cp >= 0x80 && cp <= 0x9F)) score -= 4;
    else if (length == 4) score -= 1;
    i += length;
  }
  return score;
}

}  // namespace

std::string GuessJapaneseCharset(std::string_view bytes) {
  if (HasEscape(bytes)) return "iso-2022-jp";
  if (IsValidUtf8(bytes)) return "utf-8";
  std::string sjis, euc;
  const bool sjisClean = ConvertToUtf8("shift_jis", bytes, sjis);
  const bool eucClean = ConvertToUtf8("euc-jp", bytes, euc);
  if (sjisClean != eucClean) return sjisClean ? "shift_jis" : "euc-jp";
  return JapaneseScore(euc) > JapaneseScore(sjis) ? "euc-jp" : "shift_jis";
}

void AppendDecodedText(std::string_view label, std::string_view bytes, std::string& out) {
  const size_t start = out.size();
  const bool known = !label.empty() && IsKnownCharset(label);
  if (known && ConvertToUtf8(label, bytes, out)) return;
  out.resize(start);
  const std::string guess = GuessJapaneseCharset(bytes);
  if (ConvertToUtf8(guess, bytes, out)) return;
  // Nothing reads cleanly: the label, as far as it goes.
  out.resize(start);
  ConvertToUtf8(known ? label : std::string_view(guess), bytes, out);
}

}  // namespace quillo
