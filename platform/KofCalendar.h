#pragma once
// Calendar parts of an instant, in the system's time zone or in UTC.
#include <ctime>
#include <optional>

namespace kof {

std::optional<std::tm> LocalCalendarTime(std::time_t t);
std::optional<std::tm> UtcCalendarTime(std::time_t t);
// Seconds east of UTC of the system's zone at T (daylight saving included).
long ZoneOffsetAt(std::time_t t);

}  // namespace kof
