#pragma once
// Times as the model keeps them: server milliseconds, the host's day count,
// local wall-clock time, civil dates and ISO 8601 texts.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kof {

// Days since 1899-12-30 (the host's and the dialogs' date-time value).
using TDateTime = double;

// Server time (ms since 1970 UTC) to whole seconds, halves to even.
std::int64_t RoundMsToSeconds(std::int64_t AMilliseconds);
// RoundMsToSeconds held to the years 1601..9999, the range the host's times can show.
std::int64_t ServerTimeToSeconds(std::int64_t AMilliseconds);
TDateTime UnixToDateTime(std::int64_t ASeconds);
std::int64_t DateTimeToUnix(TDateTime AValue);
// Wall-clock time of the operating system's zone; UTC when the zone cannot tell.
TDateTime UnixToLocalDateTime(std::int64_t ASeconds);
std::int64_t LocalDateTimeToUnix(TDateTime AValue);
// Offset of local time from UTC at that instant, in seconds.
long LocalUtcOffset(std::int64_t ASeconds);
// A UTC value as local wall-clock time, milliseconds kept.
TDateTime UtcToLocalDateTime(TDateTime AUtc);

// A date and time of the proleptic Gregorian calendar.
struct TCivilTime {
  std::int64_t Year;
  int Month, Day, Hour, Minute, Second, Milli;
};
TCivilTime CivilFromDateTime(TDateTime AValue);
TDateTime DateTimeFromCivil(std::int64_t AYear, int AMonth, int ADay, int AHour = 0, int AMinute = 0,
                            int ASecond = 0, int AMilli = 0);

// The UTC instant of an ISO 8601 date or date-time; one without a zone counts as UTC.
std::optional<TDateTime> ParseIso8601Utc(std::string_view AText);
// AValue as "YYYY-MM-DDThh:mm:ss.mmm" and its offset from UTC ("Z" for none, else "+hh:mm").
std::string FormatIso8601(TDateTime AValue, long AOffsetSeconds);

}  // namespace kof
