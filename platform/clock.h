// The clock, the local zone, and what tells this process apart from others.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace quillo {

// A moment in local time with the offset and zone name in effect then
// (daylight saving time included).
struct LocalTime {
  std::tm calendar{};
  long offsetSecondsEast = 0;
  std::string zoneName;
};

struct Moment {
  std::int64_t seconds = 0;
  long microseconds = 0;
};

Moment Now();

// `seconds` in the C library's local zone, TZ read afresh; UTC when the
// moment cannot be converted.
LocalTime LocalTimeAt(std::time_t seconds);

long ProcessId();

// The ASCII abbreviation of the zone `offsetMinutesEast` from UTC ("JST" for
// +540), or "UTC+hhmm" for an offset without one. For systems that name
// their zones only in the user's language.
std::string ZoneAbbreviation(long offsetMinutesEast);

// 64 bits from the system's random source (getentropy); when that fails,
// bits mixed from the clock and the process id, which still differ between
// runs.
std::uint64_t RandomBits();

}  // namespace quillo
