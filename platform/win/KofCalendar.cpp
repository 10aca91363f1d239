#include "platform/KofCalendar.h"

#include <time.h>

namespace kof {

std::optional<std::tm> LocalCalendarTime(std::time_t t) {
  std::tm parts{};
  if (::localtime_s(&parts, &t) != 0) return std::nullopt;
  return parts;
}

std::optional<std::tm> UtcCalendarTime(std::time_t t) {
  std::tm parts{};
  if (::gmtime_s(&parts, &t) != 0) return std::nullopt;
  return parts;
}

long ZoneOffsetAt(std::time_t t) {
  std::optional<std::tm> local = LocalCalendarTime(t);
  if (!local) return 0;
  // The local wall-clock parts read back as UTC differ from T by the offset.
  const std::time_t asUtc = ::_mkgmtime(&*local);
  return asUtc == static_cast<std::time_t>(-1) ? 0 : static_cast<long>(asUtc - t);
}

}  // namespace kof
