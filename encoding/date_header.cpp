#include "encoding/date_header.h"

#include <time.h>

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
  long offset = offsetSecondsEast / 3600 * 100;
  char text[128];
  int n = std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %+05ld (", NameAt(kDayNames, local.tm_wday),
                        local.tm_mday, NameAt(kMonthNames, local.tm_mon), year, local.tm_hour, local.tm_min,
                        local.tm_sec, offset);
  std::string result(text, n > 0 ? static_cast<size_t>(n) : 0);
  result.append(zoneName);
  result.push_back(')');
  return result;
}

std::string FormatDateHeader(std::time_t moment) {
  tzset();
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) gmtime_r(&moment, &local);
  // `timezone` is seconds west of UTC for standard time; daylight saving
  // never enters it.
  const char* name = tzname[0] ? tzname[0] : "";
  return FormatDateHeader(local, -timezone, name);
}

std::string FormatDateHeader() { return FormatDateHeader(std::time(nullptr)); }

}  // namespace quillo
