#include "model/KofRecordTypes.h"

#include <algorithm>

#include "support/KofText.h"

namespace kof {

const std::array<std::string_view, kKofLauncherCount> KofLauncherCodes = {
    "NONE", "REMOTE_DESKTOP", "SSH", "SFTP", "SCP", "TELNET", "FTP", "RASDIAL", "WINBOX"};

const std::array<std::string_view, kKofLauncherCount> KofLauncherNames = {
    "n/a",    "Remote Desktop", "SSH",           "SSH file transfer protocol", "Secure Copy Protocol",
    "Telnet", "FTP",            "Rasdial (VPN)", "MikroTik Winbox"};

TKofLauncher KofLauncherFromCode(std::string_view ACode) {
  for (int i = 0; i < kKofLauncherCount; ++i)
    if (SameText(ACode, KofLauncherCodes[i])) return static_cast<TKofLauncher>(i);
  return kofLauncherNone;
}

bool IsKofLauncherCode(std::string_view ACode) {
  return std::any_of(KofLauncherCodes.begin(), KofLauncherCodes.end(),
                     [&](std::string_view code) { return SameText(ACode, code); });
}

void TTagList::Add(std::string_view ATag) {
  auto pos = std::lower_bound(FItems.begin(), FItems.end(), ATag);
  if (pos != FItems.end() && *pos == ATag) return;
  FItems.insert(pos, std::string(ATag));
}

bool TTagList::Contains(std::string_view ATag) const {
  return std::binary_search(FItems.begin(), FItems.end(), ATag);
}

void TTagList::Sort() {
  std::sort(FItems.begin(), FItems.end());
  FItems.erase(std::unique(FItems.begin(), FItems.end()), FItems.end());
}

namespace {

bool NeedsQuotes(std::string_view tag) {
  return std::any_of(tag.begin(), tag.end(), [](unsigned char c) { return c <= ' ' || c == ',' || c == '"'; });
}

}  // namespace

std::string TTagList::CommaText() const {
  std::string result;
  for (const std::string& tag : FItems) {
    if (&tag != &FItems.front()) result += ',';
    if (!NeedsQuotes(tag)) {
      result += tag;
      continue;
    }
    result += '"';
    result += ReplaceAll(tag, "\"", "\"\"");
    result += '"';
  }
  return result;
}

void TTagList::SetCommaText(std::string_view AText) {
  FItems.clear();
  std::size_t i = 0;
  const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (i < AText.size()) {
    while (i < AText.size() && isBlank(AText[i])) ++i;
    std::string tag;
    if (i < AText.size() && AText[i] == '"') {
      ++i;
      while (i < AText.size()) {
        if (AText[i] == '"') {
          if (i + 1 < AText.size() && AText[i + 1] == '"') {
            tag += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        tag += AText[i++];
      }
      // Text glued to the closing quote belongs to the same item.
      while (i < AText.size() && AText[i] != ',' && !isBlank(AText[i])) tag += AText[i++];
    } else {
      while (i < AText.size() && AText[i] != ',' && !isBlank(AText[i])) tag += AText[i++];
    }
    if (!tag.empty()) Add(tag);
    while (i < AText.size() && isBlank(AText[i])) ++i;
    if (i < AText.size() && AText[i] == ',') ++i;
  }
}

}  // namespace kof
