// The terminal's character set. Files, the wire and every format stay
// Shift_JIS (or JIS); only text crossing the console is converted, so a UTF-8
// terminal shows the Japanese that a Shift_JIS one would.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

enum class ConsoleCharset { kShiftJis, kUtf8 };

// UTF-8 when the locale of the environment (LC_ALL, LC_CTYPE, LANG) has the
// UTF-8 codeset, Shift_JIS otherwise. The process keeps its own LC_CTYPE.
ConsoleCharset LocaleConsoleCharset();

// What the console writer and the key reader use; Shift_JIS until set, so
// the bytes pass unchanged.
ConsoleCharset GetConsoleCharset();
void SetConsoleCharset(ConsoleCharset charset);

// Shift_JIS (the CP932 superset, NEC and IBM extensions included) arriving in
// pieces of any size, turned into UTF-8. A lead byte that ends a piece waits
// for its trail byte in the next one. A double-byte character without a
// mapping shows as the two-column "GETA MARK" (U+3013); a single byte without
// one (a cut character, 0x80, 0xA0, 0xFD-0xFF) as a one-column '?', so what
// was laid out in Shift_JIS columns still lines up.
class SjisToUtf8Stream {
 public:
  // Appends the UTF-8 form of `sjis` to `out`.
  void Convert(std::string_view sjis, std::string& out);
  // True while a lead byte waits for its trail byte.
  bool Pending() const { return lead_ >= 0; }

 private:
  int lead_ = -1;
};

// The length of the run of 7-bit bytes `text` begins with: text that is all
// ASCII reads the same in either charset.
size_t AsciiPrefixLength(std::string_view text);

// The Shift_JIS bytes of one complete UTF-8 character; false when `utf8` is
// not exactly one valid character or Shift_JIS has no place for it.
bool Utf8CharToSjis(std::string_view utf8, std::string& sjis);

// All of `sjis` (CP932) as UTF-8, every character kept (the user-defined
// rows become the private use area); false when a byte is no character.
// For text that leaves the machine, where nothing may be replaced.
bool SjisToUtf8Exact(std::string_view sjis, std::string& utf8);

// The name under which a file named by UTF-8 text (a saved attachment) is
// made: the UTF-8 itself on a UTF-8 console of a system whose names are
// bytes, else Shift_JIS like every name the program makes (the geta mark
// for what Shift_JIS cannot hold).
std::string FileNameFromUtf8(std::string_view utf8);

// The length of a UTF-8 sequence that begins with `lead` (2 to 4), or 0 when
// no multi-byte sequence can begin with it.
size_t Utf8SequenceLength(unsigned char lead);

}  // namespace quillo
