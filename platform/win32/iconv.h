// The iconv(3) calls the character set converters make, on Windows: each
// character through MultiByteToWideChar and WideCharToMultiByte, so that the
// converters keep one interface on every system. Only what they use is
// here: conversions to UTF-8 from the charsets mail names, and from UTF-8 to
// Shift_JIS (CP932). Internal to platform/.
#pragma once

#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/strings.h"

namespace quillo::win32 {

enum class UnitForm { kCodePage, kUtf16, kUtf16Le, kUtf16Be, kUtf32, kUtf32Le, kUtf32Be };

struct IconvState {
  UnitForm fromForm = UnitForm::kCodePage;
  UINT from = 0;
  UINT to = 0;
  bool bigEndian = true;  // UTF-16 and UTF-32 without a byte order mark
  bool started = false;   // the byte order mark (if any) has been looked at
};

// The code page and form a name stands for; false when Windows has none.
inline bool CodePageOf(std::string_view name, UnitForm& form, UINT& codePage) {
  struct Name {
    std::string_view name;
    UnitForm form;
    UINT codePage;
  };
  static constexpr Name kNames[] = {
      {"UTF-8", UnitForm::kCodePage, CP_UTF8},        {"CP932", UnitForm::kCodePage, 932},
      {"WINDOWS-31J", UnitForm::kCodePage, 932},      {"SJIS", UnitForm::kCodePage, 932},
      {"EUC-JP-MS", UnitForm::kCodePage, 20932},      {"EUC-JP", UnitForm::kCodePage, 20932},
      {"CP949", UnitForm::kCodePage, 949},            {"EUC-KR", UnitForm::kCodePage, 949},
      {"GBK", UnitForm::kCodePage, 936},              {"GB18030", UnitForm::kCodePage, 54936},
      {"BIG5", UnitForm::kCodePage, 950},             {"BIG5-HKSCS", UnitForm::kCodePage, 950},
      {"KOI8-R", UnitForm::kCodePage, 20866},         {"KOI8-U", UnitForm::kCodePage, 21866},
      {"TIS-620", UnitForm::kCodePage, 874},          {"US-ASCII", UnitForm::kCodePage, 20127},
      {"UTF-7", UnitForm::kCodePage, 65000},          {"UTF-16", UnitForm::kUtf16, 0},
      {"UTF-16LE", UnitForm::kUtf16Le, 0},            {"UTF-16BE", UnitForm::kUtf16Be, 0},
      {"UTF-32", UnitForm::kUtf32, 0},                {"UTF-32LE", UnitForm::kUtf32Le, 0},
      {"UTF-32BE", UnitForm::kUtf32Be, 0},
  };
  for (const Name& n : kNames) {
    if (n.name == name) {
      form = n.form;
      codePage = n.codePage;
      return true;
    }
  }
  form = UnitForm::kCodePage;
  if (name.substr(0, 8) == "WINDOWS-" && name.size() == 12) {
    codePage = static_cast<UINT>(std::stoi(std::string(name.substr(8))));
    return codePage >= 1250 && codePage <= 1258;
  }
  if (name.substr(0, 9) == "ISO-8859-") {
    const std::string digits(name.substr(9));
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const int part = std::stoi(digits);
    if (part < 1 || part > 15 || part == 12 || part == 14) return false;
    codePage = part == 11 ? 874 : 28590 + static_cast<UINT>(part);
    return true;
  }
  return false;
}

// How many bytes the character at `bytes` takes in `codePage`; 0 when no
// character can begin with the first byte.
inline size_t CharacterLength(UINT codePage, std::string_view bytes) {
  const auto b0 = static_cast<unsigned char>(bytes[0]);
  if (b0 < 0x80) return 1;
  if (codePage == CP_UTF8) {
    if (b0 >= 0xC2 && b0 <= 0xDF) return 2;
    if (b0 >= 0xE0 && b0 <= 0xEF) return 3;
    if (b0 >= 0xF0 && b0 <= 0xF4) return 4;
    return 0;
  }
  if (codePage == 20932) {
    if (b0 == 0x8F) return 3;
    return (b0 == 0x8E || (b0 >= 0xA1 && b0 <= 0xFE)) ? 2 : 0;
  }
  if (codePage == 54936 && bytes.size() >= 2) {
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if (b1 >= 0x30 && b1 <= 0x39) return 4;
  }
  return ::IsDBCSLeadByteEx(codePage, b0) ? 2 : 1;
}

inline void AppendWide(uint32_t cp, std::wstring& wide) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    wide += static_cast<wchar_t>(0xD800 | (cp >> 10));
    wide += static_cast<wchar_t>(0xDC00 | (cp & 0x3FF));
  } else {
    wide += static_cast<wchar_t>(cp);
  }
}

// The Shift_JIS bytes of one EUC-JP character (two bytes of JIS X 0208
// rows, or 0x8E and a half-width katakana); false for JIS X 0212 (0x8F),
// which Shift_JIS has no place for.
inline bool EucToSjis(std::string_view euc, std::string& sjis) {
  const auto b0 = static_cast<unsigned char>(euc[0]);
  if (euc.size() == 1) {
    sjis.assign(1, static_cast<char>(b0));
    return true;
  }
  const auto b1 = static_cast<unsigned char>(euc[1]);
  if (b0 == 0x8E) {
    if (b1 < 0xA1 || b1 > 0xDF) return false;
    sjis.assign(1, static_cast<char>(b1));
    return true;
  }
  if (euc.size() != 2 || b0 < 0xA1 || b0 > 0xFE || b1 < 0xA1 || b1 > 0xFE) return false;
  const unsigned row = b0 - 0x80;  // 0x21..0x7E
  const unsigned cell = b1 - 0x80;
  // Rows past 0x74 are the user-defined area (0xF0-0xF9 in Shift_JIS).
  const unsigned lead = row < 0x5F ? (row + 1) / 2 + 0x70 : (row + 1) / 2 + 0xB0;
  unsigned trail = (row & 1) ? cell + 0x1F : cell + 0x7E;
  if ((row & 1) && trail >= 0x7F) ++trail;
  sjis.clear();
  sjis += static_cast<char>(lead);
  sjis += static_cast<char>(trail);
  return true;
}

// The UTF-16 of the next character of `in`, and how many bytes it took.
// Returns 0 with errno EILSEQ (no character) or EINVAL (cut at the end).
inline size_t NextCharacter(IconvState& s, std::string_view in, std::wstring& wide) {
  wide.clear();
  const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(in[i])); };
  const bool utf16 = s.fromForm == UnitForm::kUtf16 || s.fromForm == UnitForm::kUtf16Le || s.fromForm == UnitForm::kUtf16Be;
  const bool utf32 = s.fromForm == UnitForm::kUtf32 || s.fromForm == UnitForm::kUtf32Le || s.fromForm == UnitForm::kUtf32Be;
  if (utf16 || utf32) {
    const size_t unit = utf16 ? 2 : 4;
    size_t skipped = 0;
    if (!s.started) {
      s.started = true;
      s.bigEndian = s.fromForm != UnitForm::kUtf16Le && s.fromForm != UnitForm::kUtf32Le;
      const bool marked = s.fromForm == UnitForm::kUtf16 || s.fromForm == UnitForm::kUtf32;
      if (marked && in.size() >= unit) {
        const uint32_t first = utf16 ? (byte(0) << 8 | byte(1)) : (byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3));
        if (first == (utf16 ? 0xFEFFu : 0x0000FEFFu)) {
          skipped = unit;
        } else if (first == (utf16 ? 0xFFFEu : 0xFFFE0000u)) {
          s.bigEndian = false;
          skipped = unit;
        }
      }
    }
    const auto unitAt = [&](size_t at) {
      if (utf16) return s.bigEndian ? (byte(at) << 8 | byte(at + 1)) : (byte(at + 1) << 8 | byte(at));
      return s.bigEndian ? (byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3))
                         : (byte(at + 3) << 24 | byte(at + 2) << 16 | byte(at + 1) << 8 | byte(at));
    };
    if (in.size() < skipped + unit) {
      errno = EINVAL;
      return 0;
    }
    uint32_t cp = unitAt(skipped);
    size_t used = skipped + unit;
    if (utf16 && cp >= 0xD800 && cp <= 0xDBFF) {
      if (in.size() < used + 2) {
        errno = EINVAL;
        return 0;
      }
      const uint32_t low = unitAt(used);
      if (low < 0xDC00 || low > 0xDFFF) {
        errno = EILSEQ;
        return 0;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      used += 2;
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      errno = EILSEQ;
      return 0;
    }
    AppendWide(cp, wide);
    return used;
  }
  if (s.from == 65000) {
    // UTF-7 carries its state across characters: taken whole.
    wide.resize(in.size() * 2 + 2);
    const int n = ::MultiByteToWideChar(s.from, 0, in.data(), static_cast<int>(in.size()), wide.data(),
                                        static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return in.size();
  }
  const size_t length = CharacterLength(s.from, in);
  if (length == 0) {
    errno = EILSEQ;
    return 0;
  }
  if (length > in.size()) {
    errno = EINVAL;
    return 0;
  }
  std::string_view character = in.substr(0, length);
  UINT codePage = s.from;
  std::string sjis;
  if (s.from == 20932) {
    // eucJP-ms is JIS X 0208 with the vendor rows of CP932, which Windows'
    // own EUC-JP lacks: the character is read through its Shift_JIS form.
    if (!EucToSjis(character, sjis)) {
      errno = EILSEQ;
      return 0;
    }
    character = sjis;
    codePage = 932;
  }
  wchar_t units[4];
  const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, character.data(),
                                      static_cast<int>(character.size()), units, 4);
  if (n <= 0) {
    errno = EILSEQ;
    return 0;
  }
  wide.assign(units, static_cast<size_t>(n));
  return length;
}

// `wide` in the target charset; false (errno EILSEQ) when it has no place for it.
inline bool Encode(const IconvState& s, const std::wstring& wide, std::string& out) {
  out.clear();
  if (s.to == CP_UTF8) {
    for (size_t i = 0; i < wide.size(); ++i) {
      uint32_t cp = static_cast<uint16_t>(wide[i]);
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(wide[++i]) - 0xDC00);
      }
      AppendUtf8(cp, out);
    }
    return true;
  }
  char buffer[16];
  BOOL usedDefault = FALSE;
  const int n = ::WideCharToMultiByte(s.to, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), buffer,
                                      sizeof buffer, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) {
    errno = EILSEQ;
    return false;
  }
  out.assign(buffer, static_cast<size_t>(n));
  return true;
}

}  // namespace quillo::win32

using iconv_t = quillo::win32::IconvState*;

inline iconv_t iconv_open(const char* to, const char* from) {
  using namespace quillo::win32;
  auto state = std::make_unique<IconvState>();
  UnitForm toForm = UnitForm::kCodePage;
  if (!CodePageOf(from, state->fromForm, state->from) || !CodePageOf(to, toForm, state->to) ||
      toForm != UnitForm::kCodePage || (state->to != CP_UTF8 && state->to != 932) ||
      (state->from != 0 && !::IsValidCodePage(state->from))) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  return state.release();
}

inline int iconv_close(iconv_t cd) {
  std::unique_ptr<quillo::win32::IconvState> owned(cd);
  return 0;
}

inline size_t iconv(iconv_t cd, char** in, size_t* inLeft, char** out, size_t* outLeft) {
  using namespace quillo::win32;
  if (in == nullptr || *in == nullptr) {
    cd->started = false;
    return 0;
  }
  std::wstring wide;
  std::string encoded;
  while (*inLeft > 0) {
    const size_t used = NextCharacter(*cd, std::string_view(*in, *inLeft), wide);
    if (used == 0) return static_cast<size_t>(-1);
    if (!Encode(*cd, wide, encoded)) return static_cast<size_t>(-1);
    if (encoded.size() > *outLeft) {
      errno = E2BIG;
      return static_cast<size_t>(-1);
    }
    std::memcpy(*out, encoded.data(), encoded.size());
    *out += encoded.size();
    *outLeft -= encoded.size();
    *in += used;
    *inLeft -= used;
  }
  return 0;
}
