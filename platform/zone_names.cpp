#include <cstdio>

#include "platform/clock.h"

namespace quillo {

// Windows names its zones in the user's language ("東京 (標準時)"); a mail
// header takes an ASCII abbreviation, chosen by the offset in effect.
std::string ZoneAbbreviation(long offsetMinutesEast) {
  struct Zone {
    long minutesEast;
    const char* name;
  };
  static constexpr Zone kZones[] = {
      {540, "JST"}, {0, "GMT"},    {60, "CET"},    {120, "EET"},   {-300, "EST"},  {-240, "EDT"},
      {-360, "CST"}, {-420, "MST"}, {-480, "PST"}, {-600, "HST"}, {-540, "AKST"}, {600, "AEST"},
  };
  for (const Zone& zone : kZones) {
    if (zone.minutesEast == offsetMinutesEast) return zone.name;
  }
  const long magnitude = offsetMinutesEast < 0 ? -offsetMinutesEast : offsetMinutesEast;
  char text[16];
  std::snprintf(text, sizeof text, "UTC%c%02ld%02ld", offsetMinutesEast < 0 ? '-' : '+', magnitude / 60 % 100,
                magnitude % 60);
  return text;
}

}  // namespace quillo
