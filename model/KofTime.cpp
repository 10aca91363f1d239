#include "model/KofTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/KofCalendar.h"

namespace kof {

namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as a day count from 1899-12-30
constexpr double kSecondsPerDay = 86400.0;

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::int64_t RoundMsToSeconds(std::int64_t AMilliseconds) {
  std::int64_t q = AMilliseconds / 1000;
  std::int64_t r = AMilliseconds % 1000;
  if (r < 0) {
    --q;
    r += 1000;
  }
  if (r > 500 || (r == 500 && (q & 1) != 0)) ++q;
  return q;
}

std::int64_t ServerTimeToSeconds(std::int64_t AMilliseconds) {
  constexpr std::int64_t kEarliest = -11644473600;  // 1601-01-01
  constexpr std::int64_t kLatest = 253402300799;    // 9999-12-31 23:59:59
  return std::clamp(RoundMsToSeconds(AMilliseconds), kEarliest, kLatest);
}

TDateTime UnixToDateTime(std::int64_t ASeconds) {
  return kUnixEpochDays + static_cast<double>(ASeconds) / kSecondsPerDay;
}

std::int64_t DateTimeToUnix(TDateTime AValue) {
  // Far beyond any real time; keeps the conversion below defined.
  if (!std::isfinite(AValue)) return 0;
  AValue = std::clamp(AValue, -1e8, 1e8);
  return static_cast<std::int64_t>(std::llround((AValue - kUnixEpochDays) * kSecondsPerDay));
}

TDateTime UnixToLocalDateTime(std::int64_t ASeconds) {
  const std::time_t t = static_cast<std::time_t>(ASeconds);
  const std::optional<std::tm> parts = LocalCalendarTime(t);
  if (!parts) return UnixToDateTime(ASeconds);
  const std::tm& local = *parts;
  const std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday);
  const std::int64_t secs = days * 86400 + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return UnixToDateTime(secs);
}

long LocalUtcOffset(std::int64_t ASeconds) { return ZoneOffsetAt(static_cast<std::time_t>(ASeconds)); }

std::int64_t LocalDateTimeToUnix(TDateTime AValue) {
  // The wall-clock value read as UTC, corrected by the zone's offset at that instant.
  const std::int64_t asUtc = DateTimeToUnix(AValue);
  const long offset = LocalUtcOffset(asUtc);
  return asUtc - LocalUtcOffset(asUtc - offset);
}

TDateTime UtcToLocalDateTime(TDateTime AUtc) {
  const double seconds = (AUtc - kUnixEpochDays) * kSecondsPerDay;
  const std::int64_t whole = static_cast<std::int64_t>(std::floor(seconds));
  return UnixToLocalDateTime(whole) + (seconds - static_cast<double>(whole)) / kSecondsPerDay;
}

TCivilTime CivilFromDateTime(TDateTime AValue) {
  const std::int64_t totalMs = static_cast<std::int64_t>(std::llround((AValue - 25569.0) * 86400000.0));
  std::int64_t days = totalMs / 86400000;
  std::int64_t msOfDay = totalMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  // Civil date of a day count from 1970-01-01 (proleptic Gregorian).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
  return {year,
          month,
          day,
          static_cast<int>(msOfDay / 3600000),
          static_cast<int>(msOfDay / 60000 % 60),
          static_cast<int>(msOfDay / 1000 % 60),
          static_cast<int>(msOfDay % 1000)};
}

TDateTime DateTimeFromCivil(std::int64_t AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond,
                            int AMilli) {
  const std::int64_t days = DaysFromCivil(AYear, static_cast<unsigned>(AMonth), static_cast<unsigned>(ADay));
  return kUnixEpochDays + static_cast<double>(days) +
         (AHour * 3600000.0 + AMinute * 60000.0 + ASecond * 1000.0 + AMilli) / 86400000.0;
}

// UTC seconds (and milliseconds) of an ISO 8601 text; a text without zone counts as UTC.
std::optional<TDateTime> ParseIso8601Utc(std::string_view text) {
  std::size_t pos = 0;
  int year, month, day, hour = 0, minute = 0, second = 0, milli = 0;
  if (!ReadDigits(text, pos, 4, year) || !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, month) ||
      !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, day))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  int offsetMinutes = 0;
  if (pos < text.size()) {
    if (!Expect(text, pos, 'T') || !ReadDigits(text, pos, 2, hour) || !Expect(text, pos, ':') ||
        !ReadDigits(text, pos, 2, minute))
      return std::nullopt;
    if (pos < text.size() && text[pos] == ':' && (++pos, !ReadDigits(text, pos, 2, second))) return std::nullopt;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      std::size_t digits = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (digits < 3) milli = milli * 10 + (text[pos] - '0');
        ++digits;
        ++pos;
      }
      if (digits == 0) return std::nullopt;
      for (; digits < 3; ++digits) milli *= 10;
    }
    if (pos < text.size()) {
      if (text[pos] == 'Z' || text[pos] == 'z') {
        ++pos;
      } else if (text[pos] == '+' || text[pos] == '-') {
        const int sign = text[pos++] == '-' ? -1 : 1;
        int oh = 0, om = 0;
        if (!ReadDigits(text, pos, 2, oh)) return std::nullopt;
        if (pos < text.size() && text[pos] == ':') ++pos;
        if (pos < text.size() && !ReadDigits(text, pos, 2, om)) return std::nullopt;
        offsetMinutes = sign * (oh * 60 + om);
      }
    }
    if (pos != text.size() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  }
  return DateTimeFromCivil(year, month, day, hour, minute, second, milli) - offsetMinutes / 1440.0;
}

std::string FormatIso8601(TDateTime AValue, long AOffsetSeconds) {
  const TCivilTime c = CivilFromDateTime(AValue);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d", static_cast<long long>(c.Year), c.Month,
                c.Day, c.Hour, c.Minute, c.Second, c.Milli);
  std::string result = text;
  if (AOffsetSeconds == 0) return result + 'Z';
  const long minutes = (AOffsetSeconds < 0 ? -AOffsetSeconds : AOffsetSeconds) / 60;
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", AOffsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return result + text;
}

}  // namespace kof
