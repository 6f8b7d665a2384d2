// The one way text in a named character set becomes UTF-8 and UTF-8 becomes
// Shift_JIS. POSIX systems convert through iconv(3); another platform puts its
// own converter behind these functions. Mail names its character sets in many
// spellings ("x-sjis", "Windows-31J", "ks_c_5601-1987"); all of them are taken.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The name a label stands for, lower case: "shift_jis" for every Shift_JIS
// spelling (CP932 is meant by all of them), "iso-2022-jp" for every JIS
// variant, "euc-jp", "utf-8", "us-ascii", "iso-8859-N", "windows-125N", ...
// A label not in the list comes back lower-cased; "" for an empty label.
std::string CanonicalCharset(std::string_view label);

// True when `bytes` can be converted from `charset` to UTF-8 (the converter
// exists); says nothing about the bytes themselves.
bool IsKnownCharset(std::string_view charset);

// Appends `bytes` read in `charset` as UTF-8 to `out`. Never fails to give
// text: a byte or sequence with no character becomes U+FFFD (or the geta mark
// U+3013 for a double-byte Japanese character without a mapping, and for every
// JIS X 0212 or other non-Japanese escape set character in ISO-2022-JP). An
// unknown charset gives the bytes as UTF-8 where they are valid UTF-8.
// Returns true when every byte was a character of the charset.
//
// ISO-2022-JP is read with the vendor rows its mail carries (NEC row 13, the
// IBM extensions in rows 89-92) and with half-width katakana by ESC ( I or
// SO/SI. Shift_JIS is CP932; EUC-JP is eucJP-ms. UTF-16 and UTF-32 follow a
// byte order mark (big-endian without one).
bool ConvertToUtf8(std::string_view charset, std::string_view bytes, std::string& out);

// True when `bytes` are well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// UTF-8 as Shift_JIS (CP932). A character Shift_JIS cannot hold becomes the
// geta mark 0x81 0xAC, as does every byte of malformed UTF-8. The seven JIS
// X 0208 characters that the JIS and the CP932 mappings give different code
// points (U+301C/U+FF5E, U+2016/U+2225, U+2212/U+FF0D, U+00A2/U+FFE0,
// U+00A3/U+FFE1, U+00AC/U+FFE2, U+2014/U+2015) reach the same character
// whichever form the text uses.
std::string Utf8ToSjis(std::string_view utf8);

// The Shift_JIS bytes of ISO-2022-JP text (vendor rows and half-width kana
// as ConvertToUtf8 reads them). A JIS X 0212 or other foreign-set character
// becomes the geta mark; a bad byte becomes '?'. True when nothing was lost.
bool Iso2022JpToSjis(std::string_view jis, std::string& sjis);

}  // namespace quillo
