#include "platform/strings.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

namespace quillo {

std::string Capped(std::string_view value, size_t capacity) {
  if (capacity == 0) return {};
  return std::string(value.substr(0, capacity - 1));
}

// ASCII letters only, as toupper in the "C" locale the program runs in.
static unsigned char Upper(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

namespace {

// Eight bytes at once with their ASCII capitals made small: a byte gets the
// 0x20 bit where it lies in 'A'..'Z'.
uint64_t FoldedWord(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t low = word & ~kHigh;
  const uint64_t fromA = low + (0x80 - 'A') * kOnes;
  const uint64_t pastZ = low + (0x80 - 'Z' - 1) * kOnes;
  const uint64_t capitals = fromA & ~pastZ & ~word & kHigh;
  return word | capitals >> 2;
}

uint64_t Mixed(uint64_t hash) {
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ull;
  return hash ^ hash >> 33;
}

}  // namespace

size_t FoldedHash(std::string_view text) {
  uint64_t hash = text.size();
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    hash = Mixed(hash ^ FoldedWord(word));
  }
  if (at < text.size()) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + at, text.size() - at);
    hash = Mixed(hash ^ FoldedWord(word));
  }
  return static_cast<size_t>(hash);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendPadded(std::string& out, std::string_view text, size_t width) {
  text = text.substr(0, text.find('\0'));
  if (text.size() < width) out.append(width - text.size(), ' ');
  out.append(text);
}

void AppendDecimal(std::string& out, long value, size_t width, bool zeros) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  std::string_view text(digits, error == std::errc() ? static_cast<size_t>(end - digits) : 0);
  if (text.size() >= width) {
    out.append(text);
  } else if (!zeros) {
    out.append(width - text.size(), ' ');
    out.append(text);
  } else {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) out.push_back('-');
    out.append(width - text.size(), '0');
    out.append(text.substr(negative ? 1 : 0));
  }
}

namespace {

struct Decimal {
  long long magnitude = 0;  // saturated just above INT_MAX
  bool negative = false;
  bool hasDigits = false;
};

Decimal ReadDecimal(std::string_view text) {
  Decimal d;
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    d.negative = text[i] == '-';
    ++i;
  }
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    d.hasDigits = true;
    d.magnitude = d.magnitude * 10 + (text[i] - '0');
    if (d.magnitude > INT_MAX) d.magnitude = INT_MAX + 1LL;  // saturate instead of overflowing
  }
  return d;
}

constexpr bool ShownAsIs(unsigned char c) { return (c >= 0x20 && c != 0x7F) || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

long DecimalValue(std::string_view text) {
  const Decimal d = ReadDecimal(text);
  const long long value = d.magnitude > INT_MAX ? INT_MAX : d.magnitude;
  return static_cast<long>(d.negative ? -value : value);
}

std::optional<long> FittingDecimalValue(std::string_view text) {
  const Decimal d = ReadDecimal(text);
  if (!d.hasDigits || d.magnitude > INT_MAX) return std::nullopt;
  return static_cast<long>(d.negative ? -d.magnitude : d.magnitude);
}

std::string SanitizeForConsole(std::string_view text) {
  std::string shown(text);
  for (size_t i = 0; i < shown.size(); ++i) {
    char& c = shown[i];
    // A CR of its own sends the cursor back over the line, so that the text
    // after it can pass for something else: only a line end's CR stays.
    const bool bareCr = c == '\r' && (i + 1 == shown.size() || shown[i + 1] != '\n');
    if (bareCr || !ShownAsIs(static_cast<unsigned char>(c))) c = '?';
  }
  return shown;
}

std::string_view WithoutLineEnds(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

std::string WithoutTrailingSeparator(std::string_view path) {
  if (path.empty()) return {};
  const bool separator = path.back() == '/' || (path.back() == '\\' && !IsSjisTrailAt(path, path.size() - 1));
  if (separator) path.remove_suffix(1);
  return std::string(path);
}

bool IsSjisTrailAt(std::string_view text, size_t at) {
  size_t i = 0;
  while (i < at) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    i += lead ? 2 : 1;
  }
  return i > at;
}

bool IsPathSeparatorAt(std::string_view path, size_t at) {
  if (at >= path.size()) return false;
  if (path[at] == '/') return true;
#ifdef _WIN32
  return path[at] == '\\' && !IsSjisTrailAt(path, at);
#else
  return false;
#endif
}

size_t LastPathSeparator(std::string_view path) {
  size_t last = std::string_view::npos;
  size_t i = 0;
  while (i < path.size()) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (c == '/') last = i;
#ifdef _WIN32
    if (c == '\\') last = i;
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    i += lead ? 2 : 1;
#else
    ++i;
#endif
  }
  return last;
}

char SeparatorFor(std::string_view path) {
#ifdef _WIN32
  bool slash = false;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '/') slash = true;
    if (path[i] == '\\' && IsPathSeparatorAt(path, i)) return '\\';
  }
  return slash ? '/' : '\\';
#else
  (void)path;
  return '/';
#endif
}

bool IsAbsolutePath(std::string_view path) {
  if (IsPathSeparatorAt(path, 0)) return true;
#ifdef _WIN32
  const bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && IsPathSeparatorAt(path, 2);
  return drive;
#else
  return false;
#endif
}

}  // namespace quillo
