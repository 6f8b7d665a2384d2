// The text of the Date: line of sent and filed mail.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace quillo {

// "Sun, 6 Dec 2026 12:05:07 +0900 (JST)" for a local calendar time, the
// offset east of UTC in effect at that moment in seconds (printed as hours
// and minutes, daylight saving included) and the name of the zone in effect
// (empty gives "()"; characters a comment cannot hold are left out). A year
// below 1998 is taken as 100 years later.
std::string FormatDateHeader(const std::tm& local, long offsetSecondsEast, std::string_view zoneName);

}  // namespace quillo
