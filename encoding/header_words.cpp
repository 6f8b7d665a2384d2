#include "encoding/header_words.h"

#include <algorithm>

#include "encoding/byte_classes.h"
#include "encoding/encoded_words.h"
#include "encoding/jis.h"

namespace quillo {

namespace {

constexpr std::string_view kJisPrefix = "=?ISO-2022-JP?B?";
constexpr std::string_view kUtf8Prefix = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::string_view kToDouble = "\x1b$B";
constexpr std::string_view kToAscii = "\x1b(B";
constexpr std::string_view kSpecials = "()<>[]:;@\\,.\"";

bool IsTokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x7F && c != '?' && c != '=';
}

// "=?charset?B?text?=" or with Q, nothing else around it.
bool IsEncodedWord(std::string_view token) {
  if (token.size() < 8 || !token.starts_with("=?") || !token.ends_with(kWordEnd)) return false;
  std::string_view inner = token.substr(2, token.size() - 4);
  const size_t q1 = inner.find('?');
  if (q1 == 0 || q1 == std::string_view::npos || q1 + 2 >= inner.size() || inner[q1 + 2] != '?') return false;
  const char kind = inner[q1 + 1];
  if (kind != 'B' && kind != 'b' && kind != 'Q' && kind != 'q') return false;
  const auto bad = [](char c) { return !IsTokenChar(c) && c != '='; };
  return std::none_of(inner.begin(), inner.begin() + static_cast<long>(q1), bad) &&
         std::none_of(inner.begin() + static_cast<long>(q1) + 3, inner.end(),
                      [](char c) { return c == '?' || c == ' ' || static_cast<unsigned char>(c) >= 0x7F; });
}

// The length of the character at `pos`: a Shift_JIS pair, a UTF-8
// sequence, or one byte.
size_t CharLength(std::string_view text, size_t pos, WordCharset charset) {
  const auto c = static_cast<unsigned char>(text[pos]);
  size_t n = 1;
  if (charset == WordCharset::kIso2022Jp) {
    n = IsSjisLeadByte(c) ? 2 : 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
  }
  return std::min(n, text.size() - pos);
}

// Builds one encoded-word after another from whole characters.
class WordBuilder {
 public:
  explicit WordBuilder(WordCharset charset)
      : charset_(charset), prefix_(charset == WordCharset::kIso2022Jp ? kJisPrefix : kUtf8Prefix) {}

  // The bytes one character adds to the word being built.
  std::string Piece(std::string_view ch, bool& doubleByte) const {
    doubleByte = false;
    if (charset_ == WordCharset::kUtf8) return std::string(ch);
    if (ch.size() == 2) {
      doubleByte = true;
      std::uint16_t code = SjisCodeToJis(static_cast<unsigned char>(ch[0]), static_cast<unsigned char>(ch[1]));
      if (code == 0) code = kJisGeta;
      std::string piece = inDouble_ ? "" : std::string(kToDouble);
      piece += static_cast<char>(code >> 8);
      piece += static_cast<char>(code & 0xFF);
      return piece;
    }
    return (inDouble_ ? std::string(kToAscii) : std::string()) + std::string(ch);
  }
  // The length of the word once `piece` is in it and the word is closed.
  size_t LengthWith(const std::string& piece, bool doubleByte) const {
    const size_t bytes = payload_.size() + piece.size() + (doubleByte ? kToAscii.size() : 0);
    return prefix_.size() + (bytes + 2) / 3 * 4 + kWordEnd.size();
  }
  void Take(const std::string& piece, bool doubleByte) {
    payload_ += piece;
    inDouble_ = doubleByte;
  }
  bool Empty() const { return payload_.empty(); }
  std::string Close() {
    if (inDouble_) payload_ += kToAscii;
    std::string word = std::string(prefix_) + EncodeBase64(payload_) + std::string(kWordEnd);
    payload_.clear();
    inDouble_ = false;
    return word;
  }

 private:
  WordCharset charset_;
  std::string_view prefix_;
  std::string payload_;
  bool inDouble_ = false;
};

// The value of a quoted string without its quotes and escapes; other text
// as it is. Shift_JIS pairs are skipped whole: their second byte may be a
// backslash.
std::string Unquote(std::string_view text, WordCharset charset) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  std::string out;
  for (size_t i = 1; i + 1 < text.size();) {
    size_t n = CharLength(text, i, charset);
    if (n == 1 && text[i] == '\\' && i + 2 < text.size()) n = CharLength(text, ++i, charset);
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

bool AnyNeedsEncoding(std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    if (NeedsEncoding(text.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

std::string_view WithoutParens(std::string_view text) {
  if (text.size() >= 2 && text.front() == '(' && text.back() == ')') return TrimBlanks(text.substr(1, text.size() - 2));
  return text;
}

// Where the address in angle brackets begins, outside quotes; npos for none.
size_t AngleStart(std::string_view entry, WordCharset charset) {
  bool quoted = false;
  for (size_t i = 0; i < entry.size(); i += CharLength(entry, i, charset)) {
    if (entry[i] == '\\' && quoted) {
      ++i;
    } else if (entry[i] == '"') {
      quoted = !quoted;
    } else if (entry[i] == '<' && !quoted) {
      return i;
    }
  }
  return std::string_view::npos;
}

void AddEntry(HeaderFolder& field, std::string_view entry, WordCharset charset) {
  const bool encode = AnyNeedsEncoding(entry);
  if (const size_t lt = AngleStart(entry, charset); lt != std::string_view::npos) {
    std::string_view phrase = TrimBlanks(entry.substr(0, lt));
    std::string_view rest = entry.substr(lt);
    const size_t gt = rest.find('>');
    std::string_view angle = gt == std::string_view::npos ? rest : rest.substr(0, gt + 1);
    std::string_view after = TrimBlanks(rest.substr(angle.size()));
    if (encode) {
      std::string name = Unquote(phrase, charset);
      if (!after.empty()) name += (name.empty() ? "" : " ") + std::string(WithoutParens(after));
      field.AddWords(name, charset, true);
      field.Add(angle, true);
      return;
    }
    const bool quote = !phrase.empty() && phrase.front() != '"' && phrase.find_first_of(kSpecials) != std::string_view::npos;
    if (quote) {
      field.Add(QuotedString(phrase), true);
      field.AddText(entry.substr(entry.find('<')), true);
    } else {
      field.AddText(entry, true);
    }
    return;
  }
  if (!encode) {
    field.AddText(entry, true);
    return;
  }
  const size_t blank = entry.find_first_of(" \t(");
  std::string_view address = entry.substr(0, blank);
  std::string_view name = blank == std::string_view::npos ? std::string_view{} : WithoutParens(TrimBlanks(entry.substr(blank)));
  if (name.empty() || NeedsEncoding(address)) {
    // No address to keep apart: the whole entry is text.
    field.AddWords(entry, charset, true);
    return;
  }
  field.AddWords(name, charset, true);
  field.Add("<" + std::string(address) + ">", true);
}

}  // namespace

bool NeedsEncoding(std::string_view token) {
  for (char c : token) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x7F || (u < 0x20 && c != '\t')) return true;
  }
  return token.find("=?") != std::string_view::npos && !IsEncodedWord(token);
}

std::vector<std::string> EncodeWords(std::string_view text, WordCharset charset, size_t firstRoom) {
  std::vector<std::string> words;
  WordBuilder builder(charset);
  size_t limit = std::min(firstRoom, kMaxEncodedWord);
  for (size_t i = 0; i < text.size();) {
    const size_t n = CharLength(text, i, charset);
    bool doubleByte = false;
    const std::string piece = builder.Piece(text.substr(i, n), doubleByte);
    if (builder.LengthWith(piece, doubleByte) > limit) {
      if (!builder.Empty()) {
        words.push_back(builder.Close());
        limit = kMaxEncodedWord;
        continue;
      }
      if (limit < kMaxEncodedWord) {
        words.emplace_back();  // nothing fits on the first line
        limit = kMaxEncodedWord;
        continue;
      }
    }
    builder.Take(piece, doubleByte);
    i += n;
  }
  if (!builder.Empty()) words.push_back(builder.Close());
  return words;
}

HeaderFolder::HeaderFolder(std::string_view name) : line_(name), nameLength_(name.size()) {}

void HeaderFolder::Add(std::string_view piece, bool blankBefore) {
  const bool fold = blankBefore && !piece.empty() && line_.size() > nameLength_ &&
                    line_.size() + 1 + piece.size() > kFoldColumn;
  if (fold) {
    done_ += line_ + "\r\n";
    line_.clear();
  }
  if (blankBefore) line_ += ' ';
  line_ += piece;
}

void HeaderFolder::AddText(std::string_view text, bool blankBefore) {
  size_t start = 0;
  for (bool blank = blankBefore;; blank = true) {
    const size_t end = text.find(' ', start);
    Add(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start), blank);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void HeaderFolder::AddWords(std::string_view text, WordCharset charset, bool blankBefore) {
  // One column stays free for a comma or closing quote after the words.
  const size_t used = line_.size() + (blankBefore ? 1 : 0) + 1;
  const size_t room = used < kFoldColumn ? kFoldColumn - used : 0;
  std::vector<std::string> words = EncodeWords(text, charset, room);
  bool first = true;
  bool foldNext = false;
  for (const std::string& word : words) {
    if (word.empty()) {
      foldNext = true;
      continue;
    }
    const bool blank = first ? blankBefore || foldNext : true;
    if (foldNext && line_.size() > nameLength_) {
      done_ += line_ + "\r\n";
      line_ = " " + word;
    } else {
      Add(word, blank);
    }
    first = false;
    foldNext = false;
  }
}

std::string HeaderFolder::Finish() const { return done_ + line_ + "\r\n"; }

void AddUnstructured(HeaderFolder& field, std::string_view value, WordCharset charset) {
  std::vector<std::string_view> tokens;
  for (size_t start = 0;;) {
    const size_t end = value.find(' ', start);
    tokens.push_back(value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  size_t first = tokens.size();
  size_t last = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (!NeedsEncoding(tokens[i])) continue;
    first = std::min(first, i);
    last = i;
  }
  if (first == tokens.size()) {
    field.AddText(value, false);
    return;
  }
  for (size_t i = 0; i < first; ++i) field.Add(tokens[i], i > 0);
  const size_t spanStart = static_cast<size_t>(tokens[first].data() - value.data());
  const size_t spanEnd = static_cast<size_t>(tokens[last].data() - value.data()) + tokens[last].size();
  field.AddWords(value.substr(spanStart, spanEnd - spanStart), charset, true);
  for (size_t i = last + 1; i < tokens.size(); ++i) field.Add(tokens[i], true);
}

void AddAddressList(HeaderFolder& field, std::string_view value, WordCharset charset) {
  bool any = false;
  for (std::string_view part : SplitAddressList(value, charset)) {
    std::string_view entry = TrimBlanks(part);
    if (entry.empty()) continue;
    if (any) field.Add(",", false);
    AddEntry(field, entry, charset);
    any = true;
  }
}

std::vector<std::string_view> SplitAddressList(std::string_view value, WordCharset charset) {
  std::vector<std::string_view> parts;
  bool quoted = false;
  int angle = 0;
  int paren = 0;
  size_t start = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (CharLength(value, i, charset) > 1) {
      i += CharLength(value, i, charset) - 1;
    } else if (quoted) {
      if (c == '\\') ++i;
      else if (c == '"') quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      ++angle;
    } else if (c == '>' && angle > 0) {
      --angle;
    } else if (c == '(') {
      ++paren;
    } else if (c == ')' && paren > 0) {
      --paren;
    } else if (c == ',' && angle == 0 && paren == 0) {
      parts.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(value.substr(start));
  return parts;
}

std::string QuotedString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace quillo
