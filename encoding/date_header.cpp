#include "encoding/date_header.h"

#include <array>
#include <cstdio>

namespace quillo {

namespace {

constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <size_t N>
const char* NameAt(const std::array<const char*, N>& names, int index) {
  return index >= 0 && static_cast<size_t>(index) < N ? names[static_cast<size_t>(index)] : "???";
}

}  // namespace

std::string FormatDateHeader(const std::tm& local, long offsetSecondsEast, std::string_view zoneName) {
  int year = local.tm_year + 1900;
  if (year < 1998) year += 100;
  const char sign = offsetSecondsEast < 0 ? '-' : '+';
  const long minutes = (offsetSecondsEast < 0 ? -offsetSecondsEast : offsetSecondsEast) / 60;
  char text[128];
  int n = std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld (", NameAt(kDayNames, local.tm_wday),
                        local.tm_mday, NameAt(kMonthNames, local.tm_mon), year, local.tm_hour, local.tm_min,
                        local.tm_sec, sign, minutes / 60 % 100, minutes % 60);
  std::string result(text, n > 0 ? static_cast<size_t>(n) : 0);
  for (char c : zoneName) {
    if (c > 0x20 && c < 0x7F && c != '(' && c != ')' && c != '\\') result.push_back(c);
  }
  result.push_back(')');
  return result;
}

}  // namespace quillo
