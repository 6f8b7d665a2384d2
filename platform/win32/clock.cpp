#include "platform/clock.h"

#include <windows.h>
// After windows.h: the random source needs its types.
#include <bcrypt.h>


namespace quillo {

namespace {

constexpr long long kEpochDifference100ns = 116444736000000000LL;

long long Ticks(const FILETIME& time) {
  return static_cast<long long>(static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
}

FILETIME FileTimeOf(long long ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
  return time;
}

std::tm CalendarOf(const SYSTEMTIME& st) {
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_wday = st.wDayOfWeek;
  return tm;
}

}  // namespace

Moment Now() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const long long ticks = Ticks(now) - kEpochDifference100ns;
  return {static_cast<std::int64_t>(ticks / 10'000'000), static_cast<long>(ticks % 10'000'000 / 10)};
}

LocalTime LocalTimeAt(std::time_t seconds) {
  LocalTime t;
  const FILETIME utcTime = FileTimeOf(static_cast<long long>(seconds) * 10'000'000 + kEpochDifference100ns);
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  TIME_ZONE_INFORMATION zone{};
  const bool zoneKnown = ::GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID;
  if (!::FileTimeToSystemTime(&utcTime, &utc)) return t;
  if (!zoneKnown || !::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local)) {
    t.calendar = CalendarOf(utc);
    t.zoneName = "UTC";
    return t;
  }
  t.calendar = CalendarOf(local);
  // The offset of that moment, daylight saving time included: the local
  // calendar read back as if it were UTC, less the moment itself.
  FILETIME localTime{};
  if (::SystemTimeToFileTime(&local, &localTime)) {
    const long long difference = Ticks(localTime) - Ticks(utcTime);
    t.offsetSecondsEast = static_cast<long>(difference / 10'000'000);
  }
  t.zoneName = ZoneAbbreviation(t.offsetSecondsEast / 60);
  return t;
}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&bits), sizeof bits,
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return bits;
  }
  const Moment now = Now();
  std::uint64_t z = static_cast<std::uint64_t>(now.seconds) * 1000003u ^ static_cast<std::uint64_t>(now.microseconds) << 20 ^
                    static_cast<std::uint64_t>(ProcessId());
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace quillo
