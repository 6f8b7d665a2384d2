#include "encoding/encoded_words.h"

#include <array>
#include <cstdint>

namespace quillo {

namespace {

constexpr std::string_view kUpperPrefix = "=?ISO-2022-JP?B?";
constexpr std::string_view kLowerPrefix = "=?iso-2022-jp?B?";
constexpr std::string_view kEndMarker = "?=";

constexpr signed char kNotBase64 = -1;
constexpr signed char kPad = -2;

constexpr std::array<signed char, 256> MakeBase64Table() {
  std::array<signed char, 256> t{};
  for (auto& v : t) v = kNotBase64;
  for (int i = 0; i < 26; ++i) {
    t['A' + i] = static_cast<signed char>(i);
    t['a' + i] = static_cast<signed char>(26 + i);
  }
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<signed char>(52 + i);
  t['+'] = 62;
  t['/'] = 63;
  t['='] = kPad;
  return t;
}

constexpr std::array<signed char, 256> kBase64 = MakeBase64Table();

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned group = 0;
    for (size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return out;
}

size_t DecodeBase64(std::string_view encoded, std::string& out) {
  const size_t before = out.size();
  std::uint32_t accumulator = 0;
  int group = 0;
  int pads = 0;
  auto put = [&out](std::uint32_t value) { out.push_back(static_cast<char>(value & 0xFF)); };
  for (char ch : encoded) {
    signed char value = kBase64[static_cast<unsigned char>(ch)];
    if (value == kNotBase64) continue;
    accumulator <<= 6;
    if (value == kPad) {
      ++pads;
      continue;
    }
    accumulator += static_cast<std::uint32_t>(value);
    if (++group == 4) {
      put(accumulator >> 16);
      put(accumulator >> 8);
      put(accumulator);
      accumulator = 0;
      group = 0;
    }
  }
  if (pads == 2) {
    put(accumulator >> 16);
  } else if (pads == 1) {
    put(accumulator >> 16);
    put(accumulator >> 8);
  }
  return out.size() - before;
}

void DecodeEncodedWords(std::string_view line, std::string& out) {
  out.clear();
  std::string_view rest = line;
  for (;;) {
    // The upper-case spelling is looked for over the whole rest first, so a
    // lower-case word standing before an upper-case one is left as it is.
    size_t at = rest.find(kUpperPrefix);
    if (at == std::string_view::npos) at = rest.find(kLowerPrefix);
    if (at == std::string_view::npos) break;
    out.append(rest.substr(0, at));
    rest.remove_prefix(at + kUpperPrefix.size());
    size_t end = rest.find(kEndMarker);
    if (end == std::string_view::npos) continue;
    DecodeBase64(rest.substr(0, end), out);
    rest.remove_prefix(end + kEndMarker.size());
  }
  out.append(rest);
}

std::string DecodeEncodedWords(std::string_view line) {
  std::string out;
  DecodeEncodedWords(line, out);
  return out;
}

}  // namespace quillo
