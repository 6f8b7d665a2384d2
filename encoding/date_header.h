// The text of the Date: line given to filed mail.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace quillo {

// "Sun, 6 Dec 2026 12:05:07 +0900 (JST)" for a local calendar time, the
// zone's standard-time offset east of UTC in seconds (printed in whole hours,
// truncated toward zero) and its standard-time name (empty gives "()").
// A year below 1998 is taken as 100 years later.
std::string FormatDateHeader(const std::tm& local, long offsetSecondsEast, std::string_view zoneName);

// The same for a moment, in the C library's local zone (TZ is read afresh).
// The clock is local time, daylight saving included; offset and name are
// those of standard time.
std::string FormatDateHeader(std::time_t moment);

// The same for now.
std::string FormatDateHeader();

}  // namespace quillo
