#include "versions/VarnokVersions.h"

#include <climits>
#include <cstdio>
#include <ctime>

#include "platform/KofCalendar.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {

namespace {

constexpr std::string_view kMark = "_ver_";
constexpr std::string_view kShortMark = "_ver";
constexpr std::size_t kNameLimit = 255;
constexpr std::size_t kShortenedLength = 254;

// Marks are ASCII, so a byte-wise comparison ignoring case is exact for UTF-8 text.
std::size_t FindMark(std::string_view AText, std::string_view AMark) {
  for (std::size_t i = 0; i + AMark.size() <= AText.size(); ++i) {
    bool same = true;
    for (std::size_t j = 0; same && j < AMark.size(); ++j) {
      char c = AText[i + j];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == AMark[j];
    }
    if (same) return i;
  }
  return std::string_view::npos;
}

// A whole decimal number (digits only) that fits an int.
std::optional<int> WholeNumber(std::string_view AText) {
  if (AText.empty()) return std::nullopt;
  long long value = 0;
  for (char c : AText) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(value);
}

std::size_t CountOf(std::string_view AText, char AChar) {
  std::size_t n = 0;
  for (char c : AText) n += c == AChar;
  return n;
}

std::string DateText(const TVersionDate& ADate) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d%.2d%.2d", ((ADate.Year % 100) + 100) % 100, ADate.Month % 100,
                ADate.Day % 100);
  return text;
}

// Where a name's mark starts: "_ver_" first, else "_ver"; npos without either.
std::size_t MarkPosition(std::string_view AText) {
  const std::size_t full = FindMark(AText, kMark);
  return full != std::string_view::npos ? full : FindMark(AText, kShortMark);
}

TVersionType ParseDated(std::string_view AAfterMark, TParsedFilename& AParts) {
  if (AAfterMark.size() < 7 || AAfterMark[6] != '_') return verNone;
  const auto year = WholeNumber(AAfterMark.substr(0, 2)), month = WholeNumber(AAfterMark.substr(2, 2)),
             day = WholeNumber(AAfterMark.substr(4, 2));
  if (!year || !month || !day) return verNone;
  const std::string_view rest = AAfterMark.substr(7);
  const std::size_t tilde = rest.find('~');
  const bool indexed = tilde != std::string_view::npos;
  const std::string_view names = rest.substr(0, tilde);
  const std::size_t underscores = CountOf(names, '_');
  if (underscores >= 2) return verNone;
  const bool withDomain = underscores == 1;
  AParts.VersionDate = {2000 + *year, *month, *day};
  const std::size_t split = names.find('_');
  AParts.Username = std::string(names.substr(0, split));
  if (withDomain) AParts.Domain = std::string(names.substr(split + 1));
  if (indexed) {
    const int index = WholeNumber(rest.substr(tilde + 1)).value_or(0);
    (withDomain ? AParts.VerDomainIndex : AParts.VerUserIndex) = index;
    return withDomain ? verUserDomainDailyIndex : verUserDailyIndex;
  }
  return withDomain ? verUserDomainDaily : verUserDaily;
}

std::string Shortened(const std::string& AText) {
  if (Utf16Units(AText) <= kNameLimit) return AText;
  const std::size_t mark = MarkPosition(AText);
  if (mark == std::string::npos) return CutToUtf16Units(AText, kShortenedLength);
  const std::string_view tail = std::string_view(AText).substr(mark);
  const std::size_t tailUnits = Utf16Units(tail);
  if (tailUnits > kShortenedLength) return std::string(tail);
  return CutToUtf16Units(std::string_view(AText).substr(0, mark), kShortenedLength - tailUnits) + std::string(tail);
}

}  // namespace

TVersionDate TVersionEngine::Today() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalCalendarTime(now).value_or(std::tm{});
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string TVersionEngine::NamePart(std::string_view AText, std::string_view AFallback) {
  std::string part(AText);
  for (char& c : part)
    if (c == '_' || c == '~') c = '-';
  if (!part.empty() && part.find_first_not_of('-') == std::string::npos) return std::string(AFallback);
  return part;
}

TVersionType TVersionEngine::ParseFilename(std::string_view AFilename, TParsedFilename& AParts) {
  AParts = TParsedFilename{};
  const std::size_t full = FindMark(AFilename, kMark);
  if (full != std::string_view::npos) {
    AParts.PureFilename = std::string(AFilename.substr(0, full));
    const std::string_view after = AFilename.substr(full + kMark.size());
    if (const auto number = WholeNumber(after)) {
      AParts.Version = *number;
      return verNumber;
    }
    return ParseDated(after, AParts);
  }
  const std::size_t brief = FindMark(AFilename, kShortMark);
  if (brief != std::string_view::npos) {
    const auto number = WholeNumber(AFilename.substr(brief + kShortMark.size()));
    if (number && *number > 0) {
      AParts.PureFilename = std::string(AFilename.substr(0, brief));
      AParts.Version = *number;
      return verNumber;
    }
  }
  AParts.PureFilename = std::string(AFilename);
  return verNone;
}

std::string TVersionEngine::CreateVersionedFilename(const TVersionUser& AUser, std::string_view AFilename,
                                                    TVersionType AVerType, const TEditedInfo* AEditedInfo,
                                                    bool* ADifferent, std::optional<TVersionDate> AToday) {
  if (ADifferent) *ADifferent = false;
  if (AEditedInfo && AEditedInfo->Id <= 0) return std::string(AFilename);
  const std::string ext = ExtractFileExt(AFilename);
  TParsedFilename parts;
  ParseFilename(ExtractFileNameNoExt(AFilename), parts);
  const TVersionDate today = AToday.value_or(Today());
  const std::string dated = parts.PureFilename + std::string(kMark) + DateText(today) + "_" + NamePart(AUser.UserName, "usr");
  const std::string domain = "_" + NamePart(AUser.Domain, "dom");
  // An index counts on only from a mark of today by the same user (and domain).
  auto index = [&](int AFromName) {
    return HasFilenameOutdatedVersion(AUser, true, AFilename, today) ? 1 : AFromName + 1;
  };
  switch (AVerType) {
    case verUserDomainDaily:
      return dated + domain + ext;
    case verNumber:
      return parts.PureFilename + std::string(kMark) + std::to_string(parts.Version + 1) + ext;
    case verUserDaily:
      return dated + ext;
    case verUserDomainDailyIndex:
      return dated + domain + "~" + std::to_string(index(parts.VerDomainIndex)) + ext;
    case verUserDailyIndex:
      return dated + "~" + std::to_string(index(parts.VerUserIndex)) + ext;
    case verNone:
      break;
  }
  return std::string(AFilename);
}

bool TVersionEngine::HasFilenameOutdatedVersion(const TVersionUser& AUser, bool AUseVer, std::string_view AFilename,
                                                std::optional<TVersionDate> AToday) {
  if (!AUseVer) return false;
  TParsedFilename parts;
  const TVersionType kind = ParseFilename(ExtractFileNameNoExt(AFilename), parts);
  const bool sameUser = SameText(NamePart(AUser.UserName, "usr"), parts.Username);
  bool same = false;
  switch (kind) {
    case verUserDomainDaily:
    case verUserDomainDailyIndex:
      same = sameUser && SameText(NamePart(AUser.Domain, "dom"), parts.Domain);
      break;
    case verUserDaily:
    case verUserDailyIndex:
      same = sameUser;
      break;
    default:
      break;
  }
  return !(same && parts.VersionDate == AToday.value_or(Today()));
}

bool TVersionEngine::HasFilenameAnyVersion(std::string_view AFilename) {
  const std::string name = ExtractFileNameNoExt(AFilename);
  const std::size_t full = FindMark(name, kMark);
  if (full != std::string::npos) {
    const std::string_view after = std::string_view(name).substr(full + kMark.size());
    const std::size_t underscores = CountOf(after, '_');
    return WholeNumber(after).has_value() || underscores == 1 || underscores == 2;
  }
  const std::size_t brief = FindMark(name, kShortMark);
  if (brief == std::string::npos) return false;
  const auto number = WholeNumber(std::string_view(name).substr(brief + kShortMark.size()));
  return number && *number > 0;
}

void TVersionEngine::AutoShortening(std::string& AName, std::string& AFilename) {
  AName = Shortened(AName);
  AFilename = Shortened(AFilename);
}

}  // namespace kof
