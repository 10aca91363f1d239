#include "model/KofFilesys.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "support/KofText.h"

namespace kof {

// ---------------------------------------------------------------- name list

void TKofNameList::Add(std::string_view AName, std::int32_t AId) {
  const auto pos = std::upper_bound(FEntries.begin(), FEntries.end(), AName,
                                    [](std::string_view name, const TEntry& e) { return CompareText(name, e.Name) < 0; });
  FEntries.insert(pos, TEntry{std::string(AName), AId});
}

void TKofNameList::Assign(std::vector<TEntry> AEntries) {
  FEntries = std::move(AEntries);
  std::stable_sort(FEntries.begin(), FEntries.end(),
                   [](const TEntry& a, const TEntry& b) { return CompareText(a.Name, b.Name) < 0; });
}

int TKofNameList::IndexOf(std::string_view AName) const {
  const auto pos = std::lower_bound(FEntries.begin(), FEntries.end(), AName,
                                    [](const TEntry& e, std::string_view name) { return CompareText(e.Name, name) < 0; });
  if (pos == FEntries.end() || CompareText(pos->Name, AName) != 0) return -1;
  return static_cast<int>(pos - FEntries.begin());
}

// ---------------------------------------------------------------- extensions

TKofObjectType GetKofObjectTypeByExt(std::string_view AExt) {
  for (int i = 0; i < kKofObjectTypeCount; ++i)
    if (SameText(AExt, KofObjectExtensions[i])) return static_cast<TKofObjectType>(i);
  return kofSafeBox;
}

std::string KofListedExtension(TKofObjectType AType) {
  switch (AType) {
    case kofAccount:
    case kofAccountSec:
    case kofCreditCard:
    case kofStation:
    case kofConfiguration:
      return LowerCase(KofObjectExtensions[AType]);
    default:
      return {};
  }
}

bool IsCertificateExtension(std::string_view AExt) {
  const std::string upper = UpperCase(AExt);
  return std::find(KofCertificateExtensions.begin(), KofCertificateExtensions.end(), upper) !=
         KofCertificateExtensions.end();
}

// ---------------------------------------------------------------- substitution

namespace {

// A replacement character stands for exactly one original; the marker before
// a replacement character (or itself) says "this one is literal".
constexpr std::string_view kMarker = "\u2E2E";  // reversed question mark

struct TSubstitute {
  char Original;
  std::string_view Replacement;
};

// The first three rows are the established forms; the rest only occur in
// names no existing entry could have carried.
constexpr std::array<TSubstitute, 11> kAnywhere = {{
    {'/', "\u0338"},
    {'\\', "\u01C0"},
    {':', "\u02F8"},
    {'*', "\uFF0A"},
    {'?', "\uFF1F"},
    {'"', "\uFF02"},
    {'<', "\uFF1C"},
    {'>', "\uFF1E"},
    {'|', "\uFF5C"},
    {'\x7F', "\u2421"},
    {'\0', ""},  // placeholder, control characters are handled below
}};
constexpr std::size_t kAnywhereCount = 10;
// Trailing dots and blanks, which Windows strips.
constexpr std::string_view kTrailingDot = "\u2024";
constexpr std::string_view kTrailingBlank = "\u2423";

// Control character c (0x00-0x1F) becomes U+2400 + c.
std::string ControlPicture(unsigned char c) {
  const unsigned cp = 0x2400u + c;
  return {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
          static_cast<char>(0x80 | (cp & 0x3F))};
}

// The length of a replacement character (or the marker) at the start of text, 0 if none.
std::size_t ReplacementAt(std::string_view text) {
  if (text.starts_with(kMarker)) return kMarker.size();
  for (std::size_t i = 0; i < kAnywhereCount; ++i)
    if (text.starts_with(kAnywhere[i].Replacement)) return kAnywhere[i].Replacement.size();
  if (text.starts_with(kTrailingDot) || text.starts_with(kTrailingBlank)) return 3;
  // Control pictures U+2400..U+241F: E2 90 80..9F.
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xE2 && static_cast<unsigned char>(text[1]) == 0x90 &&
      static_cast<unsigned char>(text[2]) >= 0x80 && static_cast<unsigned char>(text[2]) <= 0x9F)
    return 3;
  return 0;
}

// Windows reserves these names, also with any extension.
bool IsDeviceName(std::string_view name) {
  std::string base = UpperCase(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string TKofFileSysList::ReplaceFsName(std::string_view S) {
  std::size_t end = S.size();
  while (end > 0 && (S[end - 1] == '.' || S[end - 1] == ' ')) --end;
  std::string result;
  result.reserve(S.size() + 8);
  if (IsDeviceName(S)) result += kMarker;
  for (std::size_t i = 0; i < S.size();) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (i >= end) {
      result += c == '.' ? kTrailingDot : kTrailingBlank;
      ++i;
      continue;
    }
    if (const std::size_t len = ReplacementAt(S.substr(i))) {
      result += kMarker;
      result.append(S.substr(i, len));
      i += len;
      continue;
    }
    if (c < 0x20) {
      result += ControlPicture(c);
      ++i;
      continue;
    }
    const auto* row = std::find_if(kAnywhere.begin(), kAnywhere.begin() + kAnywhereCount,
                                   [c](const TSubstitute& s) { return s.Original == static_cast<char>(c); });
    if (row != kAnywhere.begin() + kAnywhereCount)
      result += row->Replacement;
    else
      result += static_cast<char>(c);
    ++i;
  }
  return result;
}

std::string TKofFileSysList::ReplaceFsNameBack(std::string_view S) {
  std::string result;
  result.reserve(S.size());
  for (std::size_t i = 0; i < S.size();) {
    const std::string_view rest = S.substr(i);
    if (rest.starts_with(kMarker)) {
      // A marker keeps the replacement character (or marker) after it literally.
      i += kMarker.size();
      const std::size_t len = ReplacementAt(S.substr(i));
      result.append(S.substr(i, len));
      i += len;
      continue;
    }
    const std::size_t len = ReplacementAt(rest);
    if (len == 0) {
      result += S[i++];
      continue;
    }
    const std::string_view replacement = rest.substr(0, len);
    if (replacement == kTrailingDot) {
      result += '.';
    } else if (replacement == kTrailingBlank) {
      result += ' ';
    } else {
      const auto* row = std::find_if(kAnywhere.begin(), kAnywhere.begin() + kAnywhereCount,
                                     [&](const TSubstitute& s) { return s.Replacement == replacement; });
      if (row != kAnywhere.begin() + kAnywhereCount)
        result += row->Original;
      else
        result += static_cast<char>(static_cast<unsigned char>(replacement[2]) - 0x80);  // control picture
    }
    i += len;
  }
  return result;
}

// ---------------------------------------------------------------- listing

void TKofFileSysList::Populate(TKofNameList& List, TKofObjectSet WhatObjects, bool AEscape, bool AllObjects) {
  List.Clear();
  const bool boxListing = WhatObjects.Intersects(kofBoxKinds);
  std::vector<TKofNameList::TEntry> entries;
  entries.reserve(static_cast<std::size_t>(Count()));
  // Names listed so far, folded, for the suffix of later boxes of one name.
  std::unordered_set<std::string> listed;
  for (const auto& member : *this) {
    const TKofObjectType kind = member->ObjType();
    // Only the entry gets the file-system form: the member keeps its real name, which is what an update sends.
    std::string name = AEscape ? ReplaceFsName(member->Name()) : member->Name();
    if (boxListing && kofBoxKinds.Contains(kind)) {
      const auto& box = static_cast<const TKofSafeBox&>(*member);
      if (!box.OwnerName().empty()) name += " (" + box.OwnerName() + ")";
      if (!AllObjects && !box.HasPermissionToCreate()) name.clear();
      if (!name.empty() && listed.contains(LowerCase(name))) name += box.GetNameSuffix();
    } else {
      name += KofListedExtension(kind);
    }
    if (name.empty() || !WhatObjects.Contains(kind)) continue;
    if (boxListing) listed.insert(LowerCase(name));
    entries.push_back({std::move(name), member->Id()});
  }
  List.Assign(std::move(entries));
}

}  // namespace kof
