#include "platform/KofCalendar.h"

#include <time.h>

namespace kof {

std::optional<std::tm> LocalCalendarTime(std::time_t t) {
  std::tm parts{};
  if (::localtime_r(&t, &parts) == nullptr) return std::nullopt;
  return parts;
}

std::optional<std::tm> UtcCalendarTime(std::time_t t) {
  std::tm parts{};
  if (::gmtime_r(&t, &parts) == nullptr) return std::nullopt;
  return parts;
}

long ZoneOffsetAt(std::time_t t) {
  const std::optional<std::tm> local = LocalCalendarTime(t);
  return local ? local->tm_gmtoff : 0;
}

}  // namespace kof
