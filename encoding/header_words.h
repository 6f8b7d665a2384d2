// Header fields for the wire: text that is not plain ASCII as "B"
// encoded-words, folded to lines of at most 78 characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

constexpr size_t kFoldColumn = 78;
constexpr size_t kMaxEncodedWord = 75;

// What the text given to the encoder is, and the charset its words name:
// Shift_JIS text goes out as ISO-2022-JP, UTF-8 text as UTF-8.
enum class WordCharset { kIso2022Jp, kUtf8 };

// True when `token` cannot stand in a header as it is: a byte outside ASCII,
// a control character other than tab, or "=?" that a reader would take for
// the start of an encoded-word (a well-formed encoded-word passes).
bool NeedsEncoding(std::string_view token);

// `text` as encoded-words of whole characters, each word with its own
// escape sequences (ISO-2022-JP words begin in ASCII and end in it). The
// first word is at most `firstRoom` characters long, the others at most 75;
// when not even one character fits in `firstRoom` the first word is empty.
std::vector<std::string> EncodeWords(std::string_view text, WordCharset charset, size_t firstRoom);

// One header field being laid out: pieces are added in order, and a piece
// added with a blank before it may begin a continuation line instead.
class HeaderFolder {
 public:
  // `name` with its colon, as "Subject:".
  explicit HeaderFolder(std::string_view name);

  // A piece that is never split; `blankBefore` puts one blank before it.
  void Add(std::string_view piece, bool blankBefore);
  // Text split at its blanks, every blank kept.
  void AddText(std::string_view text, bool blankBefore);
  // `text` as encoded-words, the first fitted into the room left on the line.
  void AddWords(std::string_view text, WordCharset charset, bool blankBefore);
  // The field, its lines ending in CR LF.
  std::string Finish() const;

 private:
  std::string done_;      // finished lines, each with CR LF
  std::string line_;      // the line being filled
  size_t nameLength_ = 0;  // a fold never leaves the name alone on its line
};

// An unstructured field's value (the text after the colon): the run from
// the first word that needs encoding to the last goes out as encoded-words,
// the words around it as they are.
void AddUnstructured(HeaderFolder& field, std::string_view value, WordCharset charset);

// An address field's value: display names and comments that need encoding
// become encoded-words before their address, an ASCII name with special
// characters is quoted, and addresses are never changed.
void AddAddressList(HeaderFolder& field, std::string_view value, WordCharset charset);

// `value` with its parts separated by commas outside quotes, angle brackets
// and parentheses; every part as written (blanks included). A Shift_JIS
// pair is one character whatever its second byte.
std::vector<std::string_view> SplitAddressList(std::string_view value, WordCharset charset);

// `text` as a quoted string, its quotes and backslashes escaped.
std::string QuotedString(std::string_view text);

// `text` without blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

}  // namespace quillo
