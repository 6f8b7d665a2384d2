#include "platform/strings.h"

#include <cctype>
#include <climits>

namespace quillo {

std::string Capped(std::string_view value, size_t capacity) {
  if (capacity == 0) return {};
  return std::string(value.substr(0, capacity - 1));
}

static unsigned char Upper(char c) {
  return static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

long DecimalValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = INT_MAX;  // saturate instead of overflowing
  }
  return static_cast<long>(negative ? -value : value);
}

std::string WithoutTrailingSeparator(std::string_view path) {
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
  return std::string(path);
}

}  // namespace quillo
