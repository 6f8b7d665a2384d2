#include "platform/charset.h"

#ifdef _WIN32
#include "platform/win32/iconv.h"
#else
#include <iconv.h>
#endif

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/console_charset.h"

namespace quillo {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kSjisGeta[] = "\x81\xAC";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

struct Alias {
  std::string_view label;
  std::string_view canonical;
};

// Spellings met in mail, each with the name it means. Anything else that
// iconv knows is taken by its own name.
constexpr Alias kAliases[] = {
    {"utf8", "utf-8"}, {"unicode-1-1-utf-8", "utf-8"}, {"x-unicode20utf8", "utf-8"},
    {"ascii", "us-ascii"}, {"us", "us-ascii"}, {"ansi_x3.4-1968", "us-ascii"}, {"iso646-us", "us-ascii"},
    {"csascii", "us-ascii"}, {"cp367", "us-ascii"}, {"ibm367", "us-ascii"}, {"iso-ir-6", "us-ascii"},
    {"csiso2022jp", "iso-2022-jp"}, {"iso-2022-jp-1", "iso-2022-jp"}, {"iso-2022-jp-2", "iso-2022-jp"},
    {"iso-2022-jp-3", "iso-2022-jp"}, {"iso-2022-jp-ms", "iso-2022-jp"}, {"cp50220", "iso-2022-jp"},
    {"cp50221", "iso-2022-jp"}, {"cp50222", "iso-2022-jp"}, {"jis", "iso-2022-jp"}, {"jis7", "iso-2022-jp"},
    {"csiso2022jp2", "iso-2022-jp"}, {"x-windows-50220", "iso-2022-jp"}, {"x-windows-50221", "iso-2022-jp"},
    {"shift-jis", "shift_jis"}, {"sjis", "shift_jis"}, {"x-sjis", "shift_jis"}, {"cp932", "shift_jis"},
    {"windows-31j", "shift_jis"}, {"ms932", "shift_jis"}, {"ms_kanji", "shift_jis"}, {"ms-kanji", "shift_jis"},
    {"csshiftjis", "shift_jis"}, {"x-ms-cp932", "shift_jis"}, {"cswindows31j", "shift_jis"},
    {"x-shift_jis", "shift_jis"}, {"x-shift-jis", "shift_jis"}, {"shiftjis", "shift_jis"}, {"sjis-win", "shift_jis"},
    {"sjis-open", "shift_jis"}, {"windows-932", "shift_jis"}, {"ibm-943", "shift_jis"}, {"ibm943", "shift_jis"},
    {"eucjp", "euc-jp"}, {"x-euc-jp", "euc-jp"}, {"eucjp-ms", "euc-jp"}, {"euc-jp-ms", "euc-jp"},
    {"cseucpkdfmtjapanese", "euc-jp"}, {"ujis", "euc-jp"}, {"x-euc", "euc-jp"}, {"eucjp-win", "euc-jp"},
    {"eucjp-open", "euc-jp"}, {"euc_jp", "euc-jp"},
    {"latin1", "iso-8859-1"}, {"l1", "iso-8859-1"}, {"latin2", "iso-8859-2"}, {"l2", "iso-8859-2"},
    {"latin3", "iso-8859-3"}, {"latin4", "iso-8859-4"}, {"cyrillic", "iso-8859-5"}, {"arabic", "iso-8859-6"},
    {"greek", "iso-8859-7"}, {"hebrew", "iso-8859-8"}, {"latin5", "iso-8859-9"}, {"latin6", "iso-8859-10"},
    {"latin7", "iso-8859-13"}, {"latin8", "iso-8859-14"}, {"latin9", "iso-8859-15"}, {"latin-9", "iso-8859-15"},
    {"latin10", "iso-8859-16"}, {"csisolatin1", "iso-8859-1"}, {"csisolatin2", "iso-8859-2"},
    {"iso-ir-100", "iso-8859-1"}, {"cp819", "iso-8859-1"}, {"ibm819", "iso-8859-1"},
    {"koi8r", "koi8-r"}, {"cskoi8r", "koi8-r"}, {"koi8u", "koi8-u"},
    {"gb2312", "gbk"}, {"cp936", "gbk"}, {"x-gbk", "gbk"}, {"euc-cn", "gbk"}, {"euccn", "gbk"}, {"x-euc-cn", "gbk"},
    {"csgb2312", "gbk"}, {"gb_2312-80", "gbk"}, {"chinese", "gbk"}, {"ms936", "gbk"}, {"windows-936", "gbk"},
    {"gb18030-2000", "gb18030"}, {"gb18030-2005", "gb18030"},
    {"csbig5", "big5"}, {"x-x-big5", "big5"}, {"cn-big5", "big5"}, {"big-5", "big5"}, {"big5hkscs", "big5-hkscs"},
    {"cp950", "big5"}, {"x-big5", "big5"},
    {"ks_c_5601-1987", "euc-kr"}, {"ks_c_5601", "euc-kr"}, {"ks_c_5601-1989", "euc-kr"}, {"ksc5601", "euc-kr"},
    {"ksc_5601", "euc-kr"}, {"cp949", "euc-kr"}, {"uhc", "euc-kr"}, {"korean", "euc-kr"}, {"euckr", "euc-kr"},
    {"cseuckr", "euc-kr"}, {"csksc56011987", "euc-kr"}, {"windows-949", "euc-kr"}, {"iso-ir-149", "euc-kr"},
    {"ucs-2", "utf-16"}, {"ucs2", "utf-16"}, {"utf16", "utf-16"}, {"utf-16le", "utf-16le"},
    {"ucs-4", "utf-32"}, {"utf32", "utf-32"}, {"unicode-1-1-utf-7", "utf-7"}, {"utf7", "utf-7"},
    {"windows-874", "tis-620"}, {"cp874", "tis-620"}, {"iso-8859-11", "tis-620"},
};

// "iso8859-2", "iso_8859-2:1987", "ISO-8859-2" and the like: "iso-8859-2".
std::string IsoLatinName(std::string_view lower) {
  if (lower.substr(0, 3) != "iso") return {};
  size_t i = 3;
  if (i < lower.size() && (lower[i] == '-' || lower[i] == '_' || lower[i] == ' ')) ++i;
  if (lower.substr(i, 4) != "8859") return {};
  i += 4;
  if (i < lower.size() && (lower[i] == '-' || lower[i] == '_')) ++i;
  size_t end = i;
  while (end < lower.size() && lower[end] >= '0' && lower[end] <= '9') ++end;
  if (end == i || end - i > 2 || (end < lower.size() && lower[end] != ':')) return {};
  return "iso-8859-" + std::string(lower.substr(i, end - i));
}

// "cp1252", "x-cp1252", "windows1252": "windows-1252".
std::string WindowsName(std::string_view lower) {
  for (std::string_view prefix : {"windows-", "windows", "x-cp", "cp", "win-", "win"}) {
    if (lower.substr(0, prefix.size()) != prefix) continue;
    std::string_view digits = lower.substr(prefix.size());
    if (digits.size() == 4 && digits.substr(0, 3) == "125" && digits[3] >= '0' && digits[3] <= '8') {
      return "windows-" + std::string(digits);
    }
  }
  return {};
}

// The name iconv knows a canonical charset by.
std::string IconvName(const std::string& canonical) {
  // Mail labelled Latin-1 is written by systems that mean windows-1252, whose
  // quotes and dashes sit where Latin-1 has unprintable control codes.
  if (canonical == "iso-8859-1") return "WINDOWS-1252";
  if (canonical == "euc-jp") return "EUC-JP-MS";
  if (canonical == "shift_jis") return "CP932";
  if (canonical == "euc-kr") return "CP949";
  if (canonical == "gbk") return "GBK";
  std::string name;
  for (char c : canonical) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                       c == ':';
    if (!plain) return {};
    name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return name;
}

// Open conversions to UTF-8, one per charset asked for, kept for the run:
// opening one loads a module and reads tables, far more than a header costs.
class Converters {
 public:
  static Converters& Get() {
    thread_local Converters converters;
    return converters;
  }
  ~Converters() {
    for (auto& entry : open_) {
      if (entry.second != kNone) iconv_close(entry.second);
    }
  }

  // The conversion from `name` to `target`; kNone when iconv has none.
  iconv_t Find(const std::string& name, const char* target = "UTF-8") {
    const std::string key = name + ">" + target;
    for (auto& entry : open_) {
      if (entry.first == key) return entry.second;
    }
    iconv_t cd = name.empty() ? kNone : iconv_open(target, name.c_str());
    if (open_.size() < kMaxOpen) open_.emplace_back(key, cd);
    else if (cd != kNone) {
      // Never more than a handful in use; the oldest makes room.
      if (open_.front().second != kNone) iconv_close(open_.front().second);
      open_.erase(open_.begin());
      open_.emplace_back(key, cd);
    }
    return cd;
  }

  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

 private:
  static constexpr size_t kMaxOpen = 24;
  std::vector<std::pair<std::string, iconv_t>> open_;
};

// The width of the units a charset is written in: a bad unit is skipped whole.
size_t UnitSize(const std::string& canonical) {
  if (canonical.rfind("utf-16", 0) == 0) return 2;
  if (canonical.rfind("utf-32", 0) == 0) return 4;
  return 1;
}

// Converts through iconv, a replacement character for each bad unit.
bool IconvToUtf8(iconv_t cd, size_t unit, std::string_view bytes, std::string& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  bool clean = true;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  std::array<char, 4096> buffer;
  while (true) {
    char* to = buffer.data();
    size_t toLeft = buffer.size();
    const size_t result = inLeft == 0 ? iconv(cd, nullptr, nullptr, &to, &toLeft)
                                      : iconv(cd, &in, &inLeft, &to, &toLeft);
    const int error = errno;
    out.append(buffer.data(), buffer.size() - toLeft);
    if (result != static_cast<size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (error == E2BIG) continue;
    clean = false;
    out += kReplacement;
    if (error == EILSEQ && inLeft > 0) {
      const size_t skip = std::min(unit, inLeft);
      in += skip;
      inLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    break;  // cut short at the end (EINVAL) or a failure of the converter
  }
  return clean;
}

// The length of the valid UTF-8 sequence at the start of `text`, 0 when none.
size_t ValidSequence(std::string_view text) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return 1;
  const size_t length = Utf8SequenceLength(lead);
  if (length == 0 || text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
  }
  if (lead == 0xE0 && b(1) < 0xA0) return 0;   // overlong
  if (lead == 0xED && b(1) >= 0xA0) return 0;  // surrogates
  if (lead == 0xF0 && b(1) < 0x90) return 0;   // overlong
  if (lead == 0xF4 && b(1) >= 0x90) return 0;  // past U+10FFFF
  return length;
}

bool Utf8ToUtf8(std::string_view bytes, std::string& out) {
  bool clean = true;
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t plain = i + AsciiPrefixLength(bytes.substr(i));
    out.append(bytes.substr(i, plain - i));
    i = plain;
    if (i == bytes.size()) break;
    const size_t length = ValidSequence(bytes.substr(i));
    if (length == 0) {
      out += kReplacement;
      clean = false;
      ++i;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return clean;
}

bool AsciiToUtf8(std::string_view bytes, std::string& out) {
  bool clean = true;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
    } else {
      out += kReplacement;
      clean = false;
    }
  }
  return clean;
}

bool IsSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsSjisTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// True when `bytes` are made of Shift_JIS characters only.
bool WellFormedSjis(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) continue;
    if (!IsSjisLead(c) || i + 1 == bytes.size() || !IsSjisTrail(static_cast<unsigned char>(bytes[i + 1]))) {
      return false;
    }
    ++i;
  }
  return true;
}

bool SjisToUtf8(std::string_view bytes, std::string& out) {
  // The console's converter: the view shows a stored Shift_JIS text exactly
  // as the pager always has.
  SjisToUtf8Stream stream;
  stream.Convert(bytes, out);
  if (stream.Pending()) out += '?';
  return WellFormedSjis(bytes);
}

// One JIS X 0208 code as Shift_JIS, by the arithmetic both share. Rows past
// 84 land on the CP932 vendor rows where CP50220 puts them.
void AppendJisPair(unsigned char j1, unsigned char j2, std::string& sjis) {
  const unsigned s1 = ((j1 + 1u) >> 1) + (j1 <= 0x5E ? 0x70u : 0xB0u);
  const unsigned s2 = j2 + ((j1 & 1) ? (j2 < 0x60 ? 0x1Fu : 0x20u) : 0x7Eu);
  sjis += static_cast<char>(s1);
  sjis += static_cast<char>(s2);
}

enum class JisSet { kAscii, kKana, kJis0208, kForeign };

// The set an escape sequence at `text[0]` (ESC) selects and its length; a
// length of 0 when it is none this reader knows.
std::pair<JisSet, size_t> ReadEscape(std::string_view text) {
  const auto at = [&](size_t i) { return i < text.size() ? text[i] : '\0'; };
  if (at(1) == '(') {
    if (at(2) == 'B' || at(2) == 'J' || at(2) == 'H') return {JisSet::kAscii, 3};
    if (at(2) == 'I') return {JisSet::kKana, 3};
    return {JisSet::kAscii, 0};
  }
  if (at(1) == '$') {
    if (at(2) == '@' || at(2) == 'B') return {JisSet::kJis0208, 3};
    if (at(2) == 'A') return {JisSet::kForeign, 3};
    if (at(2) == '(') {
      // JIS X 0213 plane 1 keeps the JIS X 0208 characters where they were.
      if (at(3) == 'O' || at(3) == 'Q' || at(3) == 'B') return {JisSet::kJis0208, 4};
      if (at(3) == 'D' || at(3) == 'C' || at(3) == 'P') return {JisSet::kForeign, 4};
    }
    return {JisSet::kAscii, 0};
  }
  if (at(1) == '&' && at(2) == '@') return {JisSet::kAscii, 3};  // announces a revised set; nothing to do
  if (at(1) == '.' && (at(2) == 'A' || at(2) == 'F')) return {JisSet::kAscii, 3};  // G2 designation, unused
  return {JisSet::kAscii, 0};
}

}  // namespace

bool Iso2022JpToSjis(std::string_view jis, std::string& sjis) {
  sjis.clear();
  bool clean = true;
  JisSet set = JisSet::kAscii;
  bool shiftedOut = false;  // SO: half-width katakana until SI
  for (size_t i = 0; i < jis.size(); ++i) {
    const auto c = static_cast<unsigned char>(jis[i]);
    if (c == 0x1B) {
      const auto [selected, length] = ReadEscape(jis.substr(i));
      if (length == 0) {
        sjis += '?';
        clean = false;
        continue;
      }
      // ESC ( B keeps the following G2 single shift meaningless; "ESC & @"
      // only prefixes the next designation.
      if (!(jis[i + 1] == '&' || jis[i + 1] == '.')) set = selected;
      i += length - 1;
      continue;
    }
    if (c == 0x0E) {
      shiftedOut = true;
      continue;
    }
    if (c == 0x0F) {
      shiftedOut = false;
      continue;
    }
    if (c >= 0x80) {
      sjis += '?';
      clean = false;
      continue;
    }
    const bool graphic = c >= 0x21 && c <= 0x7E;
    if (graphic && (shiftedOut || set == JisSet::kKana)) {
      if (c <= 0x5F) {
        sjis += static_cast<char>(c + 0x80);
      } else {
        sjis += '?';
        clean = false;
      }
      continue;
    }
    if (graphic && (set == JisSet::kJis0208 || set == JisSet::kForeign)) {
      const auto next = i + 1 < jis.size() ? static_cast<unsigned char>(jis[i + 1]) : 0;
      if (next < 0x21 || next > 0x7E) {
        sjis += '?';
        clean = false;
        continue;
      }
      if (set == JisSet::kJis0208) AppendJisPair(c, next, sjis);
      else sjis += kSjisGeta;
      ++i;
      continue;
    }
    sjis += static_cast<char>(c);
  }
  return clean;
}

std::string CanonicalCharset(std::string_view label) {
  std::string lower = Lowered(label);
  while (!lower.empty() && (lower.back() == ' ' || lower.back() == '\t')) lower.pop_back();
  size_t start = 0;
  while (start < lower.size() && (lower[start] == ' ' || lower[start] == '\t')) ++start;
  lower.erase(0, start);
  for (const Alias& alias : kAliases) {
    if (alias.label == lower) return std::string(alias.canonical);
  }
  if (std::string iso = IsoLatinName(lower); !iso.empty()) return iso;
  if (std::string windows = WindowsName(lower); !windows.empty()) return windows;
  return lower;
}

bool IsKnownCharset(std::string_view charset) {
  const std::string canonical = CanonicalCharset(charset);
  if (canonical == "utf-8" || canonical == "us-ascii" || canonical == "iso-2022-jp" || canonical == "shift_jis") {
    return true;
  }
  return Converters::Get().Find(IconvName(canonical)) != Converters::kNone;
}

bool ConvertToUtf8(std::string_view charset, std::string_view bytes, std::string& out) {
  const std::string canonical = CanonicalCharset(charset);
  if (canonical == "utf-8") return Utf8ToUtf8(bytes, out);
  if (canonical == "us-ascii") return AsciiToUtf8(bytes, out);
  if (canonical == "shift_jis") return SjisToUtf8(bytes, out);
  if (canonical == "iso-2022-jp") {
    std::string sjis;
    const bool clean = Iso2022JpToSjis(bytes, sjis);
    return SjisToUtf8(sjis, out) && clean;
  }
  const iconv_t cd = Converters::Get().Find(IconvName(canonical));
  if (cd == Converters::kNone) {
    Utf8ToUtf8(bytes, out);
    return false;
  }
  return IconvToUtf8(cd, UnitSize(canonical), bytes, out);
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    i += AsciiPrefixLength(bytes.substr(i));
    if (i == bytes.size()) break;
    const size_t length = ValidSequence(bytes.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

namespace {

// JIS X 0208 characters with two code points: the JIS mapping's form, then the
// CP932 one, which the Shift_JIS converter takes.
constexpr std::pair<uint32_t, uint32_t> kTwins[] = {
    {0x301C, 0xFF5E}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x00A2, 0xFFE0},
    {0x00A3, 0xFFE1}, {0x00AC, 0xFFE2}, {0x2014, 0x2015},
};

uint32_t CodePointOf(std::string_view utf8) {
  const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(utf8[i])); };
  switch (utf8.size()) {
    case 1: return b(0);
    case 2: return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    case 3: return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    default: return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
  }
}

std::string Utf8Of(uint32_t cp) {
  std::string out;
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

// The Shift_JIS form of each code point of the Basic Multilingual Plane,
// asked of iconv once, on first use.
class SjisTable {
 public:
  static SjisTable& Get() {
    thread_local SjisTable table;
    return table;
  }

  void Append(uint32_t cp, std::string& out) {
    for (const auto& [jis, cp932] : kTwins) {
      if (cp == jis) cp = cp932;
    }
    if (cp >= 0x10000) {
      out += kSjisGeta;
      return;
    }
    if (codes_.empty()) codes_.resize(0x10000, kUnknown);
    uint16_t& code = codes_[cp];
    if (code == kUnknown) code = Look(cp);
    if (code == kNone) {
      out += kSjisGeta;
    } else if (code < 0x100) {
      out += static_cast<char>(code);
    } else {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    }
  }

 private:
  static constexpr uint16_t kUnknown = 0xFFFF;
  static constexpr uint16_t kNone = 0xFFFE;

  uint16_t Look(uint32_t cp) const {
    if (cp >= 0xD800 && cp <= 0xDFFF) return kNone;
    const iconv_t cd = Converters::Get().Find("UTF-8", "CP932");
    if (cd == Converters::kNone) return kNone;
    const std::string utf8 = Utf8Of(cp);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char buffer[4];
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    if (iconv(cd, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1) || inLeft != 0) return kNone;
    const size_t made = sizeof buffer - toLeft;
    const auto b0 = static_cast<unsigned char>(buffer[0]);
    if (made == 1) return b0;
    if (made == 2 && IsSjisLead(b0)) return static_cast<uint16_t>(b0 << 8 | static_cast<unsigned char>(buffer[1]));
    return kNone;
  }

  std::vector<uint16_t> codes_;
};

}  // namespace

std::string Utf8ToSjis(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  SjisTable& table = SjisTable::Get();
  size_t i = 0;
  while (i < utf8.size()) {
    const size_t plain = i + AsciiPrefixLength(utf8.substr(i));
    out.append(utf8.substr(i, plain - i));
    i = plain;
    if (i == utf8.size()) break;
    const size_t length = ValidSequence(utf8.substr(i));
    if (length == 0) {
      out += kSjisGeta;
      ++i;
      continue;
    }
    table.Append(CodePointOf(utf8.substr(i, length)), out);
    i += length;
  }
  return out;
}

}  // namespace quillo
