#include "mime/html_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/strings.h"

namespace quillo {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

constexpr bool IsHtmlSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
constexpr bool IsAlpha(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAlnum(unsigned char c) { return IsAlpha(c) || IsDigit(c); }
constexpr char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }

// The code point starting at `s[0]`, 0 when the bytes are not UTF-8.
std::uint32_t FirstCodePoint(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return c;
  const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (n == 0 || s.size() < n) return 0;
  std::uint32_t cp = c & (0x3F >> (n - 1));
  for (size_t i = 1; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  return cp;
}

// The code point that ends `s`, 0 when the bytes are not UTF-8.
std::uint32_t LastCodePoint(std::string_view s) {
  size_t start = s.size();
  while (start > 0 && s.size() - start < 4) {
    --start;
    if ((static_cast<unsigned char>(s[start]) & 0xC0) != 0x80) break;
  }
  return FirstCodePoint(s.substr(start));
}

// Chinese and Japanese characters, between which a line break in the source
// is no space at all (Hangul is written with spaces and is left out).
constexpr bool IsWide(std::uint32_t cp) {
  return (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
         (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

// Characters a browser draws as nothing: soft hyphens, joiners, direction
// marks and overrides, byte order marks. Newsletters pad their previews with
// hundreds of them; on a Shift_JIS console each would become a geta mark.
constexpr bool IsInvisible(std::uint32_t cp) {
  return cp == 0xAD || cp == 0x34F || (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
         (cp >= 0x2060 && cp <= 0x2064) || cp == 0xFEFF;
}

constexpr bool IsControl(std::uint32_t cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F); }

// The bytes of an invisible or control character that starts `s` (beyond
// the ASCII range), 0 when `s` starts with anything else.
size_t DroppedCharLength(std::string_view s) {
  const unsigned char c = static_cast<unsigned char>(s[0]);
  if (c != 0xC2 && c != 0xCD && c != 0xE2 && c != 0xEF) return 0;
  const std::uint32_t cp = FirstCodePoint(s);
  if (cp == 0 || !(IsInvisible(cp) || IsControl(cp))) return 0;
  return c == 0xE2 || c == 0xEF ? 3 : 2;
}

// Windows-1252 characters that HTML reads the references &#128;-&#159; as.
constexpr std::array<std::uint16_t, 32> kWindows1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::uint32_t NumericReferenceValue(std::uint64_t value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kReplacement;
  if (value >= 0x80 && value <= 0x9F) return kWindows1252High[value - 0x80];
  return static_cast<std::uint32_t>(value);
}

struct NamedEntity {
  std::string_view name;
  std::uint32_t code;
};

// &nbsp; to &yuml; name the characters U+00A0 to U+00FF in order.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
static_assert(kLatin1Names[95] == "yuml" && kLatin1Names[32] == "Agrave");

// &Alpha; to &Omega; and &alpha; to &omega; (U+0391.., U+03B1..; U+03A2 is no letter).
constexpr std::array<std::string_view, 25> kGreekNames = {
    "alpha", "beta", "gamma", "delta",  "epsilon", "zeta", "eta", "theta", "iota", "kappa", "lambda", "mu", "nu",
    "xi",    "omicron", "pi", "rho", "sigmaf", "sigma", "tau", "upsilon", "phi", "chi", "psi", "omega"};
static_assert(kGreekNames[24] == "omega");

constexpr NamedEntity kOtherEntities[] = {
    {"quot", 34},       {"amp", 38},        {"apos", 39},      {"lt", 60},         {"gt", 62},
    {"OElig", 338},     {"oelig", 339},     {"Scaron", 352},   {"scaron", 353},    {"Yuml", 376},
    {"fnof", 402},      {"circ", 710},      {"tilde", 732},    {"thetasym", 977},  {"upsih", 978},
    {"piv", 982},       {"ensp", 8194},     {"emsp", 8195},    {"thinsp", 8201},   {"zwnj", 8204},
    {"zwj", 8205},      {"lrm", 8206},      {"rlm", 8207},     {"ndash", 8211},    {"mdash", 8212},
    {"lsquo", 8216},    {"rsquo", 8217},    {"sbquo", 8218},   {"ldquo", 8220},    {"rdquo", 8221},
    {"bdquo", 8222},    {"dagger", 8224},   {"Dagger", 8225},  {"bull", 8226},     {"hellip", 8230},
    {"permil", 8240},   {"prime", 8242},    {"Prime", 8243},   {"lsaquo", 8249},   {"rsaquo", 8250},
    {"oline", 8254},    {"frasl", 8260},    {"euro", 8364},    {"image", 8465},    {"weierp", 8472},
    {"real", 8476},     {"trade", 8482},    {"alefsym", 8501}, {"larr", 8592},     {"uarr", 8593},
    {"rarr", 8594},     {"darr", 8595},     {"harr", 8596},    {"crarr", 8629},    {"lArr", 8656},
    {"uArr", 8657},     {"rArr", 8658},     {"dArr", 8659},    {"hArr", 8660},     {"forall", 8704},
    {"part", 8706},     {"exist", 8707},    {"empty", 8709},   {"nabla", 8711},    {"isin", 8712},
    {"notin", 8713},    {"ni", 8715},       {"prod", 8719},    {"sum", 8721},      {"minus", 8722},
    {"lowast", 8727},   {"radic", 8730},    {"prop", 8733},    {"infin", 8734},    {"ang", 8736},
    {"and", 8743},      {"or", 8744},       {"cap", 8745},     {"cup", 8746},      {"int", 8747},
    {"there4", 8756},   {"sim", 8764},      {"cong", 8773},    {"asymp", 8776},    {"ne", 8800},
    {"equiv", 8801},    {"le", 8804},       {"ge", 8805},      {"sub", 8834},      {"sup", 8835},
    {"nsub", 8836},     {"sube", 8838},     {"supe", 8839},    {"oplus", 8853},    {"otimes", 8855},
    {"perp", 8869},     {"sdot", 8901},     {"lceil", 8968},   {"rceil", 8969},    {"lfloor", 8970},
    {"rfloor", 8971},   {"lang", 9001},     {"rang", 9002},    {"loz", 9674},      {"spades", 9824},
    {"clubs", 9827},    {"hearts", 9829},   {"diams", 9830}};

// Every named reference, sorted by name for a binary search.
const std::vector<NamedEntity>& NamedEntities() {
  static const std::vector<NamedEntity> table = [] {
    std::vector<NamedEntity> t(std::begin(kOtherEntities), std::end(kOtherEntities));
    for (size_t i = 0; i < kLatin1Names.size(); ++i) t.push_back({kLatin1Names[i], static_cast<std::uint32_t>(0xA0 + i)});
    static const std::array<std::string, 25> upper = [] {
      std::array<std::string, 25> u;
      for (size_t i = 0; i < kGreekNames.size(); ++i) {
        u[i] = std::string(kGreekNames[i]);
        u[i][0] = static_cast<char>(u[i][0] - 'a' + 'A');
      }
      return u;
    }();
    for (size_t i = 0; i < kGreekNames.size(); ++i) {
      t.push_back({kGreekNames[i], static_cast<std::uint32_t>(0x3B1 + i)});
      // There is no capital final sigma; the capitals after it move up one.
      if (kGreekNames[i] != "sigmaf") t.push_back({upper[i], static_cast<std::uint32_t>(0x391 + i)});
    }
    std::sort(t.begin(), t.end(), [](const NamedEntity& a, const NamedEntity& b) { return a.name < b.name; });
    return t;
  }();
  return table;
}

std::uint32_t LookUpEntity(std::string_view name) {
  const auto& table = NamedEntities();
  auto it = std::lower_bound(table.begin(), table.end(), name,
                             [](const NamedEntity& e, std::string_view n) { return e.name < n; });
  return it != table.end() && it->name == name ? it->code : 0;
}

// Names that old pages write without the closing ';' and browsers accept so.
constexpr std::string_view kBareEntities[] = {"nbsp", "quot", "copy", "amp", "reg", "lt", "gt"};

// A character reference at `s[0]` == '&': its code point (0 when there is
// none, so the '&' is text) and its length.
struct Reference {
  std::uint32_t code = 0;
  size_t length = 0;
};

Reference ReadReference(std::string_view s, bool inAttribute) {
  constexpr size_t kLongestName = 32;
  if (s.size() > 2 && s[1] == '#') {
    const bool hex = s[2] == 'x' || s[2] == 'X';
    size_t i = hex ? 3 : 2;
    const size_t digitsStart = i;
    std::uint64_t value = 0;
    for (; i < s.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      int digit = IsDigit(c) ? c - '0' : (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') ? (c | 0x20) - 'a' + 10 : -1;
      if (digit < 0) break;
      value = std::min<std::uint64_t>(value * (hex ? 16 : 10) + static_cast<unsigned>(digit), 0x110000);
    }
    if (i == digitsStart) return {};
    if (i < s.size() && s[i] == ';') ++i;
    return {NumericReferenceValue(value), i};
  }
  size_t end = 1;
  while (end < s.size() && end <= kLongestName && IsAlnum(static_cast<unsigned char>(s[end]))) ++end;
  const std::string_view name = s.substr(1, end - 1);
  if (name.empty()) return {};
  if (end < s.size() && s[end] == ';') {
    if (std::uint32_t code = LookUpEntity(name)) return {code, end + 1};
  }
  for (std::string_view bare : kBareEntities) {
    if (name.substr(0, bare.size()) != bare) continue;
    // In an attribute (a URL's query, say) "&copy=1" is no reference.
    if (inAttribute && (name.size() != bare.size() || (end < s.size() && s[end] == '='))) return {};
    return {LookUpEntity(bare), 1 + bare.size()};
  }
  return {};
}

std::string DecodeAttribute(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    if (raw[i] == '&') {
      Reference ref = ReadReference(raw.substr(i), true);
      if (ref.length) {
        AppendUtf8(ref.code, out);
        i += ref.length;
        continue;
      }
    }
    out += raw[i++];
  }
  return out;
}

// The text being written: white space collapsed lazily, so that nothing
// trails a line and block boundaries merge into at most one empty line.
class TextOut {
 public:
  static constexpr size_t kTabWidth = 8;

  // Text without white space.
  void Put(std::string_view s) {
    if (s.empty()) return;
    FlushBreaks();
    if (space_ && LineHasContent() && !(spaceHadBreak_ && IsWide(LastCodePoint(text_)) && IsWide(FirstCodePoint(s))))
      text_ += ' ';
    space_ = spaceHadBreak_ = suppressSpace_ = false;
    text_ += s;
  }
  // Collapsible white space; `lineBreak` when the source had a line end.
  void Space(bool lineBreak) {
    if (suppressSpace_) return;
    if (!space_) spaceHadBreak_ = false;
    space_ = true;
    spaceHadBreak_ = spaceHadBreak_ || lineBreak;
  }
  // One character of preformatted text.
  void Pre(char c) {
    if (c == '\r' || c == '\f') return;
    FlushBreaks();
    if (c == '\n') {
      EndLine();
      return;
    }
    if (space_ && LineHasContent()) text_ += ' ';
    space_ = spaceHadBreak_ = suppressSpace_ = false;
    if (c != '\t') {
      text_ += c;
      return;
    }
    // Tab stops every eight columns, counted in bytes: the console's own
    // tab handling is not to be relied on.
    text_.append(kTabWidth - (text_.size() - lineStart_) % kTabWidth, ' ');
  }
  // A block boundary: the next text starts a line, after an empty one when
  // `lines` is 2.
  void Block(int lines) { wantLines_ = std::max(wantLines_, lines); }
  // <br>: a line end of its own. Runs of them give at most two empty lines.
  void LineBreak() {
    if (text_.empty()) return;
    FlushBreaks();
    if (TrailingLineEnds() < 3) EndLine();
  }
  // A list marker at the start of a new line; the white space after it goes.
  void Marker(std::string_view marker) {
    Block(1);
    Put(marker);
    suppressSpace_ = true;
  }
  bool LineHasContent() const { return !text_.empty() && text_.back() != '\n'; }
  size_t Size() const { return text_.size(); }
  std::string_view Since(size_t start) const { return std::string_view(text_).substr(std::min(start, text_.size())); }

  std::string Finish() {
    text_.erase(0, text_.find_first_not_of('\n') == std::string::npos ? text_.size() : text_.find_first_not_of('\n'));
    while (!text_.empty() && (text_.back() == '\n' || text_.back() == ' ')) text_.pop_back();
    if (!text_.empty()) text_ += '\n';
    return std::move(text_);
  }

 private:
  void EndLine() {
    while (!text_.empty() && text_.back() == ' ') text_.pop_back();
    text_ += '\n';
    lineStart_ = text_.size();
    space_ = spaceHadBreak_ = false;
  }
  int TrailingLineEnds() const {
    int n = 0;
    for (size_t i = text_.size(); i > 0 && n < 3 && text_[i - 1] == '\n'; --i) ++n;
    return n;
  }
  void FlushBreaks() {
    if (wantLines_ == 0) return;
    if (!text_.empty()) {
      for (int n = TrailingLineEnds(); n < wantLines_; ++n) EndLine();
    }
    wantLines_ = 0;
    space_ = spaceHadBreak_ = false;
  }

  std::string text_;
  size_t lineStart_ = 0;
  int wantLines_ = 0;
  bool space_ = false;
  bool spaceHadBreak_ = false;
  bool suppressSpace_ = false;
};

struct Tag {
  std::string name;  // lower case; empty when longer than any we act on
  bool end = false;
  bool selfClosing = false;
  bool hidden = false;  // the hidden attribute or display:none
  std::string href, alt, start;
};

constexpr size_t kLongestTagName = 16;
constexpr size_t kDeepestListIndent = 8;

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsVoid(std::string_view name) {
  return IsOneOf(name, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source",
                        "track", "wbr"});
}

// Lines a block element puts around itself: 0 for inline elements.
int BlockLines(std::string_view name) {
  if (IsOneOf(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "pre"})) return 2;
  if (IsOneOf(name, {"address", "article", "aside", "caption", "center", "dd", "details", "dialog", "dir", "div",
                     "dl", "dt", "fieldset", "figcaption", "figure", "footer", "form", "header", "hgroup", "hr",
                     "legend", "li", "main", "menu", "nav", "ol", "section", "summary", "table", "tr", "ul"}))
    return 1;
  return 0;
}

bool StyleHides(std::string_view style) {
  std::string compact;
  for (char c : style)
    if (!IsHtmlSpace(static_cast<unsigned char>(c))) compact += Lower(c);
  return compact.find("display:none") != std::string::npos;
}

// URLs lose the white space and control bytes that browsers strip from them.
std::string CleanUrl(std::string_view raw) {
  std::string url;
  for (char c : raw)
    if (static_cast<unsigned char>(c) > 0x20 && c != 0x7F) url += c;
  return url;
}

// The part of a link or its text that says where it goes.
std::string_view LinkCore(std::string_view s) {
  for (std::string_view scheme : {"mailto:", "http://", "https://"})
    if (StartsWithIgnoreCase(s, scheme)) s.remove_prefix(scheme.size());
  while (!s.empty() && s.back() == '/') s.remove_suffix(1);
  return s;
}

class HtmlReducer {
 public:
  explicit HtmlReducer(std::string_view html) : in_(html) {}

  std::string Run() {
    while (pos_ < in_.size()) {
      const unsigned char c = static_cast<unsigned char>(in_[pos_]);
      if (c == '<') {
        ReadMarkup();
      } else if (c == '&') {
        ReadReferenceInText();
      } else {
        ReadText();
      }
    }
    CloseLink();
    return out_.Finish();
  }

 private:
  bool Shown() const { return hiddenDepth_ == 0 && !inHead_; }

  void ReadText() {
    const size_t start = pos_;
    while (pos_ < in_.size()) {
      const unsigned char c = static_cast<unsigned char>(in_[pos_]);
      if (c == '<' || c == '&' || c < 0x20 || c == 0x7F) break;
      if (c == ' ' || (c >= 0x80 && DroppedCharLength(in_.substr(pos_)) != 0)) break;
      if (c == 0xC2 && pos_ + 1 < in_.size() && static_cast<unsigned char>(in_[pos_ + 1]) == 0xA0) break;
      ++pos_;
    }
    if (pos_ > start) {
      EmitText(in_.substr(start, pos_ - start));
      return;
    }
    const unsigned char c = static_cast<unsigned char>(in_[pos_]);
    if (IsHtmlSpace(c)) {
      EmitCode(c);
      ++pos_;
    } else if (c == 0xC2 && pos_ + 1 < in_.size() && static_cast<unsigned char>(in_[pos_ + 1]) == 0xA0) {
      EmitCode(0xA0);
      pos_ += 2;
    } else if (c >= 0x80) {
      pos_ += DroppedCharLength(in_.substr(pos_));
    } else {
      ++pos_;  // a control byte: never shown
    }
  }

  void ReadReferenceInText() {
    Reference ref = ReadReference(in_.substr(pos_), false);
    if (ref.length == 0) {
      EmitText("&");
      ++pos_;
      return;
    }
    pos_ += ref.length;
    EmitCode(ref.code);
  }

  void EmitText(std::string_view s) {
    if (inHead_) inHead_ = false;  // text ends a head left open, as in a browser
    if (hiddenDepth_ == 0) out_.Put(s);
  }

  void EmitCode(std::uint32_t code) {
    if (IsHtmlSpace(static_cast<unsigned char>(code)) && code < 0x80) {
      if (!Shown()) return;
      if (preDepth_ > 0) {
        out_.Pre(static_cast<char>(code));
      } else {
        out_.Space(code == '\n' || code == '\r');
      }
      return;
    }
    if (code == 0xA0) {
      if (Shown()) out_.Put(" ");
      return;
    }
    if (IsControl(code) || IsInvisible(code)) return;
    std::string utf8;
    AppendUtf8(code, utf8);
    EmitText(utf8);
  }

  void ReadMarkup() {
    const std::string_view rest = in_.substr(pos_);
    if (rest.substr(0, 4) == "<!--") {
      SkipPast("-->", pos_ + 4);
    } else if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?')) {
      SkipPast(">", pos_ + 2);
    } else if (rest.size() > 2 && rest[1] == '/' && IsAlpha(static_cast<unsigned char>(rest[2]))) {
      ReadTag(true);
    } else if (rest.size() > 1 && rest[1] == '/') {
      SkipPast(">", pos_ + 2);
    } else if (rest.size() > 1 && IsAlpha(static_cast<unsigned char>(rest[1]))) {
      ReadTag(false);
    } else {
      EmitText("<");
      ++pos_;
    }
  }

  // An unclosed comment or tag runs to the end of the input, as in a browser.
  void SkipPast(std::string_view close, size_t from) {
    const size_t found = in_.find(close, std::min(from, in_.size()));
    pos_ = found == std::string_view::npos ? in_.size() : found + close.size();
  }

  void ReadTag(bool end) {
    Tag tag;
    tag.end = end;
    size_t i = pos_ + (end ? 2 : 1);
    const size_t nameStart = i;
    while (i < in_.size() && !IsHtmlSpace(static_cast<unsigned char>(in_[i])) && in_[i] != '/' && in_[i] != '>') ++i;
    if (i - nameStart <= kLongestTagName)
      for (size_t k = nameStart; k < i; ++k) tag.name += Lower(in_[k]);
    if (!ReadAttributes(i, tag)) {
      pos_ = in_.size();
      return;
    }
    pos_ = i;
    if (tag.end) {
      EndTag(tag);
    } else {
      StartTag(tag);
    }
  }

  // Reads up to and past the '>' that closes the tag; false when the input
  // ends first.
  bool ReadAttributes(size_t& i, Tag& tag) {
    while (true) {
      while (i < in_.size() && (IsHtmlSpace(static_cast<unsigned char>(in_[i])) || in_[i] == '/')) {
        tag.selfClosing = in_[i] == '/';
        ++i;
      }
      if (i >= in_.size()) return false;
      if (in_[i] == '>') {
        ++i;
        return true;
      }
      tag.selfClosing = false;
      const size_t nameStart = i++;  // a first '=' belongs to the name
      while (i < in_.size() && !IsHtmlSpace(static_cast<unsigned char>(in_[i])) && in_[i] != '/' && in_[i] != '>' &&
             in_[i] != '=')
        ++i;
      const std::string_view name = in_.substr(nameStart, i - nameStart);
      size_t j = i;
      while (j < in_.size() && IsHtmlSpace(static_cast<unsigned char>(in_[j]))) ++j;
      std::string_view value;
      if (j < in_.size() && in_[j] == '=') {
        ++j;
        while (j < in_.size() && IsHtmlSpace(static_cast<unsigned char>(in_[j]))) ++j;
        if (j < in_.size() && (in_[j] == '"' || in_[j] == '\'')) {
          const size_t close = in_.find(in_[j], j + 1);
          if (close == std::string_view::npos) return false;
          value = in_.substr(j + 1, close - j - 1);
          j = close + 1;
        } else {
          const size_t valueStart = j;
          while (j < in_.size() && !IsHtmlSpace(static_cast<unsigned char>(in_[j])) && in_[j] != '>') ++j;
          value = in_.substr(valueStart, j - valueStart);
        }
        i = j;
      }
      KeepAttribute(name, value, tag);
    }
  }

  static void KeepAttribute(std::string_view name, std::string_view value, Tag& tag) {
    if (EqualsIgnoreCase(name, "href")) {
      tag.href = CleanUrl(DecodeAttribute(value));
    } else if (EqualsIgnoreCase(name, "alt")) {
      tag.alt = DecodeAttribute(value);
    } else if (EqualsIgnoreCase(name, "start")) {
      tag.start = value.substr(0, 9);
    } else if (EqualsIgnoreCase(name, "hidden")) {
      tag.hidden = true;
    } else if (EqualsIgnoreCase(name, "style")) {
      tag.hidden = tag.hidden || StyleHides(DecodeAttribute(value));
    }
  }

  void StartTag(const Tag& tag) {
    const std::string& name = tag.name;
    if (hiddenDepth_ > 0) {
      if (name == hiddenName_ && !tag.selfClosing) ++hiddenDepth_;
      if (IsRawText(name)) SkipRawText(name);
      return;
    }
    if (inHead_ && !IsOneOf(name, {"base", "basefont", "bgsound", "link", "meta", "noscript", "script", "style",
                                   "template", "title"}))
      inHead_ = false;
    if (IsRawText(name)) {
      SkipRawText(name);
      return;
    }
    if (name == "head") {
      inHead_ = true;
      return;
    }
    if ((tag.hidden || name == "template") && !IsVoid(name) && !tag.selfClosing && !name.empty()) {
      hiddenName_ = name;
      hiddenDepth_ = 1;
      return;
    }
    if (name == "br") {
      if (Shown()) out_.LineBreak();
      return;
    }
    if (name == "a") {
      OpenLink(tag.href);
    } else if (name == "img") {
      for (char c : tag.alt) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (IsHtmlSpace(b)) {
          out_.Space(false);
        } else if (b >= 0x20 && b != 0x7F) {
          out_.Put(std::string_view(&c, 1));
        }
      }
    } else if (name == "td" || name == "th") {
      if (out_.LineHasContent()) out_.Space(false);
    } else if (name == "ul" || name == "ol" || name == "dl") {
      out_.Block(lists_.empty() ? 2 : 1);
      OpenList(name == "ol", tag.start);
    } else if (name == "li") {
      PutListMarker();
    } else if (int lines = BlockLines(name)) {
      out_.Block(lines);
      if (name == "pre") {
        ++preDepth_;
        // A line end right after <pre> is not part of its text.
        if (pos_ < in_.size() && in_[pos_] == '\n') ++pos_;
      }
    }
  }

  void EndTag(const Tag& tag) {
    const std::string& name = tag.name;
    if (hiddenDepth_ > 0) {
      if (name == hiddenName_ && --hiddenDepth_ == 0) hiddenName_.clear();
      return;
    }
    if (name == "head") {
      inHead_ = false;
      return;
    }
    if (name == "br") {  // </br> is read as <br>
      if (Shown()) out_.LineBreak();
      return;
    }
    if (name == "a") {
      CloseLink();
    } else if (name == "ul" || name == "ol" || name == "dl") {
      if (!lists_.empty()) lists_.pop_back();
      out_.Block(lists_.empty() ? 2 : 1);
    } else if (int lines = BlockLines(name)) {
      out_.Block(lines);
      if (name == "pre" && preDepth_ > 0) --preDepth_;
    }
  }

  static bool IsRawText(std::string_view name) {
    return IsOneOf(name, {"script", "style", "title", "noembed", "noframes", "iframe", "xmp"});
  }

  // Skips the content of `name` up to (not past) its end tag.
  void SkipRawText(std::string_view name) {
    while (pos_ < in_.size()) {
      const size_t lt = in_.find("</", pos_);
      if (lt == std::string_view::npos) break;
      const size_t after = lt + 2 + name.size();
      if (EqualsIgnoreCase(in_.substr(lt + 2, name.size()), name) &&
          (after >= in_.size() || IsHtmlSpace(static_cast<unsigned char>(in_[after])) || in_[after] == '/' ||
           in_[after] == '>')) {
        pos_ = lt;
        return;
      }
      pos_ = lt + 2;
    }
    pos_ = in_.size();
  }

  void OpenLink(const std::string& href) {
    CloseLink();  // links do not nest
    if (href.empty() || href[0] == '#' || StartsWithIgnoreCase(href, "javascript:")) return;
    linkHref_ = href;
    linkStart_ = out_.Size();
    linkOpen_ = true;
  }

  void CloseLink() {
    if (!linkOpen_) return;
    linkOpen_ = false;
    std::string_view text = out_.Since(linkStart_);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.remove_suffix(1);
    if (!Shown() || EqualsIgnoreCase(LinkCore(text), LinkCore(linkHref_))) return;
    if (!text.empty()) out_.Space(false);
    out_.Put("<" + linkHref_ + ">");
  }

  void OpenList(bool ordered, std::string_view start) {
    long first = 1;
    if (!start.empty() && std::all_of(start.begin(), start.end(), [](char c) { return IsDigit(static_cast<unsigned char>(c)); }))
      first = std::stol(std::string(start));
    lists_.push_back({ordered, first});
  }

  void PutListMarker() {
    if (!Shown()) return;
    const size_t depth = std::min(lists_.size(), kDeepestListIndent);
    std::string marker(depth > 1 ? 2 * (depth - 1) : 0, ' ');
    if (!lists_.empty() && lists_.back().ordered) {
      marker += std::to_string(lists_.back().next) + ". ";
      if (lists_.back().next < 999999999) ++lists_.back().next;
    } else {
      marker += "* ";
    }
    out_.Marker(marker);
  }

  struct ListLevel {
    bool ordered;
    long next;
  };

  std::string_view in_;
  size_t pos_ = 0;
  TextOut out_;
  std::vector<ListLevel> lists_;
  int preDepth_ = 0;
  bool inHead_ = false;
  std::string hiddenName_;
  long hiddenDepth_ = 0;
  std::string linkHref_;
  size_t linkStart_ = 0;
  bool linkOpen_ = false;
};

}  // namespace

std::string HtmlToText(std::string_view htmlUtf8) { return HtmlReducer(htmlUtf8).Run(); }

}  // namespace quillo
