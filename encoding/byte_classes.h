// Shift_JIS byte classes.
#pragma once

namespace quillo {

// 0x81-0x9F or 0xE0-0xFC: the first byte of a double-byte character.
constexpr bool IsSjisLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
constexpr bool IsSjisLeadByte(char c) { return IsSjisLeadByte(static_cast<unsigned char>(c)); }

// 0xA1-0xDF: a single-byte (half-width) katakana.
constexpr bool IsHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
constexpr bool IsHalfWidthKana(char c) { return IsHalfWidthKana(static_cast<unsigned char>(c)); }

}  // namespace quillo
