// Conversion between Shift_JIS (files, console, editor) and 7-bit JIS with
// escape sequences (ISO-2022-JP, the wire form).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillo {

// The mark written for a character that has no form on the other side.
constexpr std::uint16_t kJisGeta = 0x222E;
constexpr std::uint16_t kSjisGeta = 0x81AC;

// One JIS X 0208 code (both bytes 0x21-0x7E) as a Shift_JIS pair, high byte
// first; 0 when the code is outside that range.
std::uint16_t JisCodeToSjis(unsigned char j1, unsigned char j2);

// One Shift_JIS double-byte character as a JIS X 0208 code; 0 when the pair
// has no JIS form (lead byte 0xF0 and above, or a bad second byte).
std::uint16_t SjisCodeToJis(unsigned char s1, unsigned char s2);

// True when the JIS code (both bytes 0x21-0x7E) is a character of JIS X 0208
// itself: the vendor rows (NEC row 13, the IBM extensions moved to rows
// 89-92) and the unassigned cells are not, so a reader using the standard
// table could not show them.
bool IsJisX0208Code(unsigned char j1, unsigned char j2);

// True when every character of the Shift_JIS text goes into ISO-2022-JP and
// comes back the same: ASCII and JIS X 0208 characters only (no half-width
// katakana, no vendor characters, no broken pairs).
bool FitsIso2022Jp(std::string_view sjis);

// Shift_JIS to JIS: ESC $ B before a run of double-byte characters, ESC ( B
// when a single-byte character follows it, ESC ( J when the text ends inside
// it. A half-width katakana byte loses its top bit. A character without a JIS
// form becomes the geta mark. `out` is replaced.
void SjisToJis(std::string_view sjis, std::string& out);
std::string SjisToJis(std::string_view sjis);

// JIS to Shift_JIS. Understands ESC $ @ and ESC $ B (double-byte on), ESC ( B,
// ESC ( J and ESC ( H (off), SO and SI (half-width katakana on and off).
// Malformed escapes are resolved byte by byte, never by failing; the result is
// never longer than the input. `out` is replaced.
// ESC ( I selects the half-width katakana of JIS X 0201 (0x21-0x5F, stored
// as Shift_JIS 0xA1-0xDF) until another ESC ( ends it.
void JisToSjis(std::string_view jis, std::string& out);
std::string JisToSjis(std::string_view jis);

// What the escapes and shifts read so far have selected.
struct JisMode {
  bool doubleByte = false;   // ESC $ B, ESC $ @
  bool kanaSet = false;      // ESC ( I
  bool shiftedKana = false;  // SO
};

// JisToSjis over the pieces of one text, as a message arrives line by line
// and a long line in pieces: the mode an escape selects holds across pieces
// and lines until another escape changes it (SO ends with its line, as it
// does in JisToSjis), and a character or escape cut between two pieces of a
// line is read whole. Bytes never change order; a piece that ends a line
// (in CR or LF) is converted completely.
class JisStreamToSjis {
 public:
  // The converted form of `piece` (and of what the previous piece held
  // back) replaces `out`.
  void Convert(std::string_view piece, std::string& out);
  // What is still held back at the end of the text, converted as JisToSjis
  // converts the end of a text; `out` is replaced.
  void Finish(std::string& out);

 private:
  JisMode mode_;
  std::string held_;
  bool atLineStart_ = true;
};

}  // namespace quillo
