#include "mime/header_decode.h"

#include "encoding/byte_classes.h"
#include "mime/field_text.h"
#include "mime/text_charset.h"
#include "mime/transfer.h"
#include "platform/charset.h"

namespace quillo {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Text outside encoded-words: stored headers hold Japanese as Shift_JIS,
// newer senders write UTF-8, and a header that escaped the conversion at
// save time still has its JIS escapes.
void AppendRawText(std::string_view text, std::string& out) {
  if (text.find('\x1B') != std::string_view::npos) {
    bool sevenBit = true;
    for (char c : text) sevenBit = sevenBit && static_cast<unsigned char>(c) < 0x80;
    if (sevenBit) {
      ConvertToUtf8("iso-2022-jp", text, out);
      return;
    }
  }
  if (IsValidUtf8(text)) out.append(text);
  else ConvertToUtf8("shift_jis", text, out);
}

struct EncodedWord {
  std::string charset;  // canonical, language suffix removed
  std::string bytes;    // decoded, still in the charset
  size_t length = 0;    // of the word in the text
};

// The encoded-word that `text` begins with ("=?" already seen), if it is one.
bool ParseEncodedWord(std::string_view text, EncodedWord& word) {
  const size_t charsetEnd = text.find('?', 2);
  if (charsetEnd == std::string_view::npos || charsetEnd == 2 || charsetEnd > 2 + 64) return false;
  std::string_view charset = text.substr(2, charsetEnd - 2);
  for (char c : charset) {
    if (IsBlank(c) || c == '=' || static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) {
      return false;
    }
  }
  if (charsetEnd + 2 >= text.size() || text[charsetEnd + 2] != '?') return false;
  const char encoding = text[charsetEnd + 1];
  const size_t textStart = charsetEnd + 3;
  const size_t end = text.find("?=", textStart);
  if (end == std::string_view::npos) return false;
  const std::string_view encoded = text.substr(textStart, end - textStart);
  for (char c : encoded) {
    if (IsBlank(c) || c == '\r' || c == '\n') return false;
  }
  word.bytes.clear();
  if (!DecodeWordText(encoding, encoded, word.bytes)) return false;
  if (const size_t star = charset.find('*'); star != std::string_view::npos) charset = charset.substr(0, star);
  word.charset = CanonicalCharset(charset);
  word.length = end + 2;
  return true;
}

// Control characters would steer the terminal or break a one-line field.
std::string WithoutControls(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      out += kReplacement;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += kReplacement;  // C1 controls (CSI among them)
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string UnfoldHeaderValue(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

bool DecodeWordText(char encoding, std::string_view text, std::string& bytes) {
  if (encoding == 'B' || encoding == 'b') {
    Base64Decoder decoder;
    decoder.Feed(text, bytes);
    decoder.Finish(bytes);
    return true;
  }
  if (encoding != 'Q' && encoding != 'q') return false;
  // Not the body's quoted-printable: '_' is a space, and a space at the end
  // of a word is text, not transport padding.
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const int high = c == '=' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
    if (low >= 0) {
      bytes += static_cast<char>(high << 4 | low);
      i += 2;
    } else {
      bytes += c == '_' ? ' ' : c;
    }
  }
  return true;
}

std::string DecodeHeaderValue(std::string_view raw) {
  const std::string unfolded = UnfoldHeaderValue(raw);
  const std::string_view text = TrimmedBlanks(unfolded);
  if (text.find("=?") == std::string_view::npos) {
    bool plain = true;
    for (char c : text) plain = plain && static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    if (plain) return std::string(text);
    std::string out;
    AppendRawText(text, out);
    return WithoutControls(std::move(out));
  }
  std::string out;
  std::string pendingCharset;  // the words waiting to be decoded together
  std::string pendingBytes;
  bool pending = false;
  const auto flush = [&] {
    // Words labelled wrongly (UTF-8 called ISO-2022-JP) are read as body
    // text is: the label when it fits, else the guess.
    if (pending) AppendDecodedText(pendingCharset, pendingBytes, out);
    pending = false;
    pendingBytes.clear();
  };
  size_t textStart = 0;  // of the raw text not yet written
  size_t i = 0;
  EncodedWord word;
  while (i < text.size()) {
    const size_t at = text.find("=?", i);
    if (at == std::string_view::npos) break;
    if (!ParseEncodedWord(text.substr(at), word)) {
      i = at + 2;
      continue;
    }
    const std::string_view between = text.substr(textStart, at - textStart);
    const bool onlyBlanks = TrimmedBlanks(between).empty();
    if (!(pending && onlyBlanks)) {
      flush();
      AppendRawText(between, out);
    }
    if (pending && word.charset != pendingCharset) flush();
    pending = true;
    pendingCharset = word.charset;
    pendingBytes += word.bytes;
    i = at + word.length;
    textStart = i;
  }
  flush();
  AppendRawText(text.substr(textStart), out);
  return WithoutControls(std::move(out));
}

namespace {

// The pieces of an address list, as RFC 5322 splits it.
enum class TokenKind { kWord, kQuoted, kComment, kSpecial };

struct Token {
  TokenKind kind;
  std::string text;     // a word, the content of a quoted string or comment, or the special character
  bool spaceBefore;     // white space or a comment came before it
};

class AddressTokenizer {
 public:
  AddressTokenizer(std::string_view text) : text_(text), sjis_(!IsValidUtf8(text)) {}

  std::vector<Token> Tokens() {
    std::vector<Token> tokens;
    bool space = false;
    while (i_ < text_.size()) {
      const char c = text_[i_];
      if (IsBlank(c)) {
        space = true;
        ++i_;
      } else if (c == '"') {
        ++i_;
        tokens.push_back({TokenKind::kQuoted, Delimited('"'), space});
        space = false;
      } else if (c == '(') {
        ++i_;
        tokens.push_back({TokenKind::kComment, Comment(), space});
        space = true;
      } else if (IsSpecial(c)) {
        tokens.push_back({TokenKind::kSpecial, std::string(1, c), space});
        space = false;
        ++i_;
      } else {
        tokens.push_back({TokenKind::kWord, Word(), space});
        space = false;
      }
    }
    return tokens;
  }

 private:
  static bool IsSpecial(char c) {
    return c == '<' || c == '>' || c == ',' || c == ':' || c == ';' || c == '@' || c == '"' || c == '(' ||
           c == ')';
  }

  // A Shift_JIS pair at i_ (its trail byte may look like '\\' or '@').
  bool AtPair() const {
    return sjis_ && IsSjisLeadByte(text_[i_]) && i_ + 1 < text_.size();
  }

  std::string Word() {
    std::string word;
    while (i_ < text_.size() && !IsBlank(text_[i_]) && !IsSpecial(text_[i_])) {
      if (text_[i_] == '[') {
        // A domain literal is one word, brackets and all.
        const size_t close = text_.find(']', i_);
        const size_t end = close == std::string_view::npos ? text_.size() : close + 1;
        word.append(text_.substr(i_, end - i_));
        i_ = end;
        continue;
      }
      if (AtPair()) word += text_[i_++];
      word += text_[i_++];
    }
    return word;
  }

  // The content of a quoted string, its escapes undone; the closing quote is
  // consumed (or the end of the text reached).
  std::string Delimited(char close) {
    std::string content;
    while (i_ < text_.size() && text_[i_] != close) {
      if (AtPair()) {
        content += text_[i_++];
        content += text_[i_++];
        continue;
      }
      if (text_[i_] == '\\' && i_ + 1 < text_.size()) ++i_;
      content += text_[i_++];
    }
    if (i_ < text_.size()) ++i_;
    return content;
  }

  std::string Comment() {
    std::string content;
    int depth = 1;
    while (i_ < text_.size()) {
      if (AtPair()) {
        content += text_[i_++];
        content += text_[i_++];
        continue;
      }
      const char c = text_[i_++];
      if (c == '\\' && i_ < text_.size()) {
        content += text_[i_++];
        continue;
      }
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) break;
      content += c;
    }
    return content;
  }

  std::string_view text_;
  bool sjis_;
  size_t i_ = 0;
};

class AddressListParser {
 public:
  explicit AddressListParser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  std::vector<Mailbox> Parse() {
    while (i_ < tokens_.size()) {
      const Token& token = tokens_[i_++];
      if (token.kind == TokenKind::kSpecial) {
        Special(token.text[0]);
      } else if (token.kind == TokenKind::kComment) {
        comment_ = token.text;
      } else {
        phrase_.push_back(&token);
      }
    }
    Finish();
    return std::move(mailboxes_);
  }

 private:
  void Special(char c) {
    switch (c) {
      case ',':
      case ';': Finish(); break;
      case ':':
        // A group's name; its members follow. Inside angle brackets ':'
        // only ends a route, which AngleAddress handles.
        phrase_.clear();
        comment_.clear();
        break;
      case '<': AngleAddress(); break;
      case '@': phrase_.push_back(&tokens_[i_ - 1]); break;
      default: break;  // a stray '>' or ')'
    }
  }

  void AngleAddress() {
    std::string address;
    bool unclosed = false;
    while (i_ < tokens_.size()) {
      const Token& token = tokens_[i_++];
      if (token.kind == TokenKind::kSpecial && token.text == ">") break;
      if (token.kind == TokenKind::kComment) continue;
      if (token.kind == TokenKind::kSpecial && token.text == ":") {
        address.clear();  // "<@relay1,@relay2:user@host>": the route goes
        continue;
      }
      if (token.kind == TokenKind::kSpecial && token.text == ",") {
        if (!address.empty() && address[0] == '@') continue;
        unclosed = true;  // a '<' never closed: the list goes on
        break;
      }
      address += token.kind == TokenKind::kQuoted ? Quoted(token.text) : token.text;
    }
    angle_ = address;
    haveAngle_ = true;
    if (unclosed) Finish();
  }

  static std::string Quoted(const std::string& content) { return "\"" + content + "\""; }

  void Finish() {
    Mailbox mailbox;
    if (haveAngle_) {
      mailbox.address = angle_;
      mailbox.name = PhraseText();
      if (mailbox.name.empty() && !comment_.empty()) mailbox.name = DecodeHeaderValue(comment_);
    } else {
      std::string address;
      for (const Token* token : phrase_) {
        address += token->kind == TokenKind::kQuoted ? Quoted(token->text) : token->text;
      }
      mailbox.address = address;
      if (!comment_.empty()) mailbox.name = DecodeHeaderValue(comment_);
    }
    if (!mailbox.address.empty() || !mailbox.name.empty()) mailboxes_.push_back(std::move(mailbox));
    phrase_.clear();
    comment_.clear();
    angle_.clear();
    haveAngle_ = false;
  }

  // The display name: its words one space apart, then decoded (adjacent
  // encoded-words join as they do in any field).
  std::string PhraseText() const {
    std::string raw;
    for (const Token* token : phrase_) {
      if (!raw.empty() && token->spaceBefore) raw += ' ';
      raw += token->text;
    }
    return DecodeHeaderValue(raw);
  }

  std::vector<Token> tokens_;
  size_t i_ = 0;
  std::vector<const Token*> phrase_;
  std::string comment_;
  std::string angle_;
  bool haveAngle_ = false;
  std::vector<Mailbox> mailboxes_;
};

}  // namespace

std::vector<Mailbox> ParseAddressList(std::string_view raw) {
  const std::string unfolded = UnfoldHeaderValue(raw);
  return AddressListParser(AddressTokenizer(unfolded).Tokens()).Parse();
}

std::string ListSender(std::string_view rawFrom) {
  const std::vector<Mailbox> mailboxes = ParseAddressList(rawFrom);
  if (!mailboxes.empty()) {
    const Mailbox& first = mailboxes.front();
    if (!first.name.empty()) return first.name;
    if (!first.address.empty()) return DecodeHeaderValue(first.address);
  }
  return DecodeHeaderValue(rawFrom);
}

}  // namespace quillo
