#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>


namespace quillo {

Moment Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return {static_cast<std::int64_t>(tv.tv_sec), static_cast<long>(tv.tv_usec)};
}

LocalTime LocalTimeAt(std::time_t seconds) {
  tzset();
  LocalTime t;
  if (localtime_r(&seconds, &t.calendar) == nullptr) {
    gmtime_r(&seconds, &t.calendar);
    t.zoneName = "UTC";
    return t;
  }
  t.offsetSecondsEast = t.calendar.tm_gmtoff;
  if (t.calendar.tm_zone != nullptr) t.zoneName = t.calendar.tm_zone;
  return t;
}

long ProcessId() { return static_cast<long>(getpid()); }

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (getentropy(&bits, sizeof bits) == 0) return bits;
  const Moment now = Now();
  // splitmix64 over what differs between runs.
  std::uint64_t z = static_cast<std::uint64_t>(now.seconds) * 1000003u ^ static_cast<std::uint64_t>(now.microseconds) << 20 ^
                    static_cast<std::uint64_t>(getpid());
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace quillo
