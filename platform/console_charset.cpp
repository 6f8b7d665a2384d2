#include "platform/console_charset.h"

#include "platform/charset.h"

#ifdef _WIN32
#include "platform/win32/iconv.h"
#else
#include <iconv.h>
#include <langinfo.h>
#endif

#include <clocale>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <vector>

#include "platform/process.h"
#include "platform/strings.h"

namespace quillo {

namespace {

constexpr std::string_view kGetaMark = "\xE3\x80\x93";  // U+3013, two columns like the pair it stands for
constexpr char kCutByte = '?';                          // one column like the byte it stands for

// CP932 byte classes (the encoding layer has its own; the platform layer
// depends on nothing of ours).
bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// One iconv(3) conversion, opened with the first source or target name the C
// library knows (CP932 first: it holds the NEC and IBM extensions).
class Iconv {
 public:
  Iconv(std::initializer_list<const char*> targets, std::initializer_list<const char*> sources) {
    for (const char* to : targets) {
      for (const char* from : sources) {
        cd_ = iconv_open(to, from);
        if (IsOpen()) return;
      }
    }
  }
  ~Iconv() {
    if (IsOpen()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts all of `in` into `out` (capacity `size`); the number of bytes
  // made, or 0 when any of `in` could not be converted.
  size_t Convert(std::string_view in, char* out, size_t size) {
    if (!IsOpen() || in.empty()) return 0;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = out;
    size_t outLeft = size;
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return 0;
    if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return 0;
    return size - outLeft;
  }

 private:
  bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

// The code point of a UTF-8 sequence already known to be valid (iconv made it).
uint32_t CodePoint(std::string_view utf8) {
  const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(utf8[i])); };
  switch (utf8.size()) {
    case 1: return b(0);
    case 2: return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    case 3: return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    default: return 0;
  }
}

// Control codes would act on the terminal, and the private use area (the
// user-defined rows F0-F9) has nothing a terminal could show.
bool Showable(uint32_t cp) { return cp >= 0xA0 && !(cp >= 0xE000 && cp <= 0xF8FF); }

// The UTF-8 form of every Shift_JIS character met so far: iconv is asked
// once per character, then the table answers.
class GlyphTable {
 public:
  static GlyphTable& Get() {
    static GlyphTable table;
    return table;
  }

  void AppendPair(unsigned char lead, unsigned char trail, std::string& out) {
    Append(static_cast<size_t>(lead) << 8 | trail, std::string{char(lead), char(trail)}, kGetaMark, out);
  }
  void AppendSingle(unsigned char c, std::string& out) {
    Append(c, std::string(1, char(c)), std::string_view(&kCutByte, 1), out);
  }

 private:
  struct Glyph {
    unsigned char size = 0;  // 0: not looked up yet
    char bytes[3] = {};
  };

  void Append(size_t index, std::string_view sjis, std::string_view replacement, std::string& out) {
    if (glyphs_.empty()) glyphs_.resize(0x10000);
    Glyph& g = glyphs_[index];
    if (g.size == 0) g = Look(sjis, replacement);
    out.append(g.bytes, g.size);
  }

  Glyph Look(std::string_view sjis, std::string_view replacement) {
    char buffer[8];
    std::string_view utf8(buffer, toUtf8_.Convert(sjis, buffer, sizeof buffer));
    if (utf8.empty() || utf8.size() > 3 || !Showable(CodePoint(utf8))) utf8 = replacement;
    Glyph g;
    g.size = static_cast<unsigned char>(utf8.size());
    utf8.copy(g.bytes, utf8.size());
    return g;
  }

  Iconv toUtf8_{{"UTF-8"}, {"CP932", "WINDOWS-31J", "SJIS"}};
  std::vector<Glyph> glyphs_;
};

ConsoleCharset& CurrentCharset() {
  static ConsoleCharset charset = ConsoleCharset::kShiftJis;
  return charset;
}

bool NamesUtf8(std::string_view codeset) { return EqualsIgnoreCase(codeset, "UTF-8") || EqualsIgnoreCase(codeset, "UTF8"); }

// The codeset part of the locale name the environment asks for, for a locale
// the C library does not have installed ("en_US.UTF-8@euro" gives "UTF-8").
std::string CodesetNamedInEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    std::optional<std::string> name = GetEnv(variable);
    if (!name || name->empty()) continue;
    const size_t dot = name->find('.');
    if (dot == std::string::npos) return {};
    return name->substr(dot + 1, name->find('@', dot) - dot - 1);
  }
  return {};
}

}  // namespace

ConsoleCharset LocaleConsoleCharset() {
#ifdef _WIN32
  // A console says it by its code page; a pipe or file by the environment,
  // as on every other system.
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    return ::GetConsoleOutputCP() == CP_UTF8 ? ConsoleCharset::kUtf8 : ConsoleCharset::kShiftJis;
  }
  return NamesUtf8(CodesetNamedInEnvironment()) ? ConsoleCharset::kUtf8 : ConsoleCharset::kShiftJis;
#else
  // Only the codeset is wanted: the process stays in its own LC_CTYPE, so
  // byte classification and case folding of Shift_JIS text do not change.
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = current ? current : "C";
  std::string codeset;
  if (std::setlocale(LC_CTYPE, "") != nullptr) {
    const char* name = nl_langinfo(CODESET);
    if (name) codeset = name;
  } else {
    codeset = CodesetNamedInEnvironment();
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  return NamesUtf8(codeset) ? ConsoleCharset::kUtf8 : ConsoleCharset::kShiftJis;
#endif
}

ConsoleCharset GetConsoleCharset() { return CurrentCharset(); }

void SetConsoleCharset(ConsoleCharset charset) { CurrentCharset() = charset; }

void SjisToUtf8Stream::Convert(std::string_view sjis, std::string& out) {
  GlyphTable& glyphs = GlyphTable::Get();
  size_t i = 0;
  if (lead_ >= 0 && !sjis.empty()) {
    const auto next = static_cast<unsigned char>(sjis[0]);
    if (IsTrail(next)) {
      glyphs.AppendPair(static_cast<unsigned char>(lead_), next, out);
      i = 1;
    } else {
      out += kCutByte;
    }
    lead_ = -1;
  }
  while (i < sjis.size()) {
    const size_t plain = i + AsciiPrefixLength(sjis.substr(i));
    out.append(sjis.substr(i, plain - i));
    i = plain;
    if (i == sjis.size()) break;
    const auto c = static_cast<unsigned char>(sjis[i]);
    if (!IsLead(c)) {
      glyphs.AppendSingle(c, out);
      ++i;
    } else if (i + 1 == sjis.size()) {
      lead_ = c;
      ++i;
    } else if (IsTrail(static_cast<unsigned char>(sjis[i + 1]))) {
      glyphs.AppendPair(c, static_cast<unsigned char>(sjis[i + 1]), out);
      i += 2;
    } else {
      out += kCutByte;
      ++i;
    }
  }
}

size_t AsciiPrefixLength(std::string_view text) {
  // Eight bytes at a time: console text is mostly ASCII.
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  size_t i = 0;
  for (uint64_t word; i + sizeof word <= text.size(); i += sizeof word) {
    std::memcpy(&word, text.data() + i, sizeof word);
    if (word & kHighBits) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool Utf8CharToSjis(std::string_view utf8, std::string& sjis) {
  static Iconv toSjis({"CP932", "WINDOWS-31J", "SJIS"}, {"UTF-8"});
  sjis.clear();
  if (utf8.empty()) return false;
  const auto first = static_cast<unsigned char>(utf8[0]);
  const size_t expected = first < 0x80 ? 1 : Utf8SequenceLength(first);
  if (expected == 0 || utf8.size() != expected) return false;
  char buffer[8];
  const size_t made = toSjis.Convert(utf8, buffer, sizeof buffer);
  if (made == 0 || made > 2) return false;
  if (made == 2 && !IsLead(static_cast<unsigned char>(buffer[0]))) return false;
  sjis.assign(buffer, made);
  return true;
}

std::string FileNameFromUtf8(std::string_view utf8) {
#ifndef _WIN32
  if (GetConsoleCharset() == ConsoleCharset::kUtf8) return std::string(utf8);
#endif
  // Windows paths are Shift_JIS here, widened by the file layer.
  return Utf8ToSjis(utf8);
}

bool SjisToUtf8Exact(std::string_view sjis, std::string& utf8) {
  static Iconv toUtf8({"UTF-8"}, {"CP932", "WINDOWS-31J", "SJIS"});
  utf8.clear();
  if (sjis.empty()) return true;
  // A Shift_JIS byte becomes at most three UTF-8 bytes.
  std::string buffer(sjis.size() * 3 + 4, '\0');
  const size_t made = toUtf8.Convert(sjis, buffer.data(), buffer.size());
  if (made == 0) return false;
  buffer.resize(made);
  utf8 = std::move(buffer);
  return true;
}

}  // namespace quillo
