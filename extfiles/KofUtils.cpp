#include "extfiles/KofUtils.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>

#include "platform/KofCalendar.h"
#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"
#include "platform/KofModulePath.h"
#include "platform/KofRegistry.h"
#include "resources/KofResources.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {

namespace {

constexpr std::size_t kMaxSubstitutionFile = 1 << 20;

// Patterns compare with "/" and "\" alike, so a rule may be written either way.
std::string SeparatorsAlike(std::string_view AText) {
  std::string text(AText);
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

std::string_view WithoutBom(std::string_view AText) {
  return AText.substr(0, 3) == "\xEF\xBB\xBF" ? AText.substr(3) : AText;
}

// The text of a quoted item ("" inside is one quote); AREST receives what
// follows the closing quote. An unclosed quote runs to the end.
std::string Dequote(std::string_view AText, std::string_view& ARest) {
  std::string text;
  std::size_t i = 1;
  for (; i < AText.size(); ++i) {
    if (AText[i] != '"') {
      text += AText[i];
    } else if (i + 1 < AText.size() && AText[i + 1] == '"') {
      text += '"';
      ++i;
    } else {
      break;
    }
  }
  ARest = i < AText.size() ? AText.substr(i + 1) : std::string_view();
  return Trim(text);
}

std::string DequotedIfQuoted(std::string_view AText) {
  const std::string text = Trim(AText);
  if (text.empty() || text.front() != '"') return text;
  std::string_view ignored;
  return Dequote(text, ignored);
}

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

std::optional<std::string> Variable(const std::string& AName) {
  if (const char* value = std::getenv(AName.c_str())) return std::string(value);
  if (SameText(AName, "USERNAME")) {
    if (const char* user = std::getenv("USER")) return std::string(user);
  } else if (SameText(AName, "USERPROFILE")) {
    if (const char* home = std::getenv("HOME")) return std::string(home);
  } else if (SameText(AName, "APPDATA")) {
    return RoamingAppDataFolder();
  } else if (SameText(AName, "LOCALAPPDATA")) {
    return LocalAppDataFolder();
  }
  return std::nullopt;
}

// Expands the variable reference at APOS (a "%" or "$"); false when there is none.
bool ExpandOne(std::string_view AText, std::size_t& APos, std::string& AOut) {
  std::size_t end = 0, nameStart = 0, nameEnd = 0;
  if (AText[APos] == '%') {
    end = AText.find('%', APos + 1);
    if (end == std::string_view::npos || end == APos + 1) return false;
    nameStart = APos + 1;
    nameEnd = end++;
  } else if (APos + 1 < AText.size() && AText[APos + 1] == '{') {
    end = AText.find('}', APos + 2);
    if (end == std::string_view::npos || end == APos + 2) return false;
    nameStart = APos + 2;
    nameEnd = end++;
  } else {
    nameStart = end = APos + 1;
    if (end >= AText.size() || !IsNameStart(AText[end])) return false;
    while (end < AText.size() && IsNameChar(AText[end])) ++end;
    nameEnd = end;
  }
  const std::optional<std::string> value = Variable(std::string(AText.substr(nameStart, nameEnd - nameStart)));
  if (!value) return false;
  AOut += *value;
  APos = end;
  return true;
}

bool HasParentStep(std::string_view APath) {
  std::size_t start = 0;
  while (start <= APath.size()) {
    const std::size_t end = std::min(APath.find('/', start), APath.size());
    if (APath.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

std::string Folder(const std::string& AFileName) {
  std::string folder = ExtractFilePath(AFileName);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

// ------------------------------------------------------------ TExtSubstitution

TExtSubstitution::TExtSubstitution(std::string_view AKofPattern, std::string_view AReplacement,
                                   std::string_view AEvaluated)
    : FKofPattern(AKofPattern), FReplacement(AReplacement), FExpanded(AEvaluated) {}

std::string TExtSubstitution::InfoStr() const {
  return "Pattern: " + FKofPattern + "\r\n\r\nReplacement: " + FReplacement + "\r\nEvaluated: " + FExpanded + "\r\n";
}

std::size_t TExtSubstitution::MatchLength(std::string_view S) const {
  return TextPrefixLength(SeparatorsAlike(FKofPattern), SeparatorsAlike(S));
}

std::string TExtSubstitution::Replace(std::string_view S) const {
  const std::size_t length = MatchLength(S);
  return length == std::string_view::npos ? std::string(S) : FExpanded + std::string(S.substr(length));
}

// ------------------------------------------------------------ TExtSubstitutions

void TExtSubstitutions::Add(std::unique_ptr<TExtSubstitution> AItem) {
  const std::string key = SeparatorsAlike(AItem->KofPattern());
  const auto at = std::lower_bound(FItems.begin(), FItems.end(), key, [](const auto& item, const std::string& k) {
    return CompareText(SeparatorsAlike(item->KofPattern()), k) < 0;
  });
  if (at != FItems.end() && SameText(SeparatorsAlike((*at)->KofPattern()), key)) *at = std::move(AItem);
  else FItems.insert(at, std::move(AItem));
}

const TExtSubstitution* TExtSubstitutions::Find(std::string_view AKofPattern) const {
  const std::string key = SeparatorsAlike(AKofPattern);
  for (const auto& item : FItems)
    if (SameText(SeparatorsAlike(item->KofPattern()), key)) return item.get();
  return nullptr;
}

std::string TExtSubstitutions::Map(std::string_view APath) const {
  for (const auto& item : FItems)
    if (item->MatchLength(APath) != std::string_view::npos) return item->Replace(APath);
  return std::string(APath);
}

// ------------------------------------------------------------ the configuration file

std::optional<TSubstitutionLine> ParseSubstitutionLine(std::string_view ALine) {
  if (ALine.empty() || ALine.front() == '#' || ALine.front() == ';') return std::nullopt;
  if (ALine.size() < 6 || !SameText(ALine.substr(0, 6), "subst ")) return std::nullopt;
  const std::string rest = Trim(ALine.substr(6));
  TSubstitutionLine rule;
  if (!rest.empty() && rest.front() == '"') {
    std::string_view after;
    rule.Pattern = Dequote(rest, after);
    rule.Replacement = DequotedIfQuoted(after);
  } else {
    const std::size_t space = rest.find(' ');
    rule.Pattern = Trim(std::string_view(rest).substr(0, space));
    if (space != std::string::npos) rule.Replacement = DequotedIfQuoted(std::string_view(rest).substr(space + 1));
  }
  if (rule.Pattern.empty() || rule.Replacement.empty()) return std::nullopt;
  return rule;
}

void AddSubstitutionsFromText(TExtSubstitutions& AList, std::string_view AText) {
  AText = WithoutBom(AText);
  while (!AText.empty()) {
    const std::size_t end = std::min(AText.find_first_of("\r\n"), AText.size());
    if (const auto rule = ParseSubstitutionLine(AText.substr(0, end)))
      AList.Add(std::make_unique<TExtSubstitution>(rule->Pattern, rule->Replacement,
                                                   ExpandEnvironmentVariables(rule->Replacement)));
    AText.remove_prefix(std::min(end + 1, AText.size()));
  }
}

std::vector<std::string> SubstitutionFiles() {
  const std::string pluginFolder = Folder(OwnModuleFileName());
  const std::string userFolder = UserConfigFolder();
  return {pluginFolder + "/" + kSubstitutionFileName, userFolder + "/" + kSubstitutionFileName};
}

void LoadSubstitutions(TExtSubstitutions& AList) { LoadSubstitutionFiles(AList, SubstitutionFiles()); }

void LoadSubstitutionFiles(TExtSubstitutions& AList, const std::vector<std::string>& AFiles) {
  AList.Clear();
  for (const std::string& file : AFiles)
    if (const auto text = ReadSmallFile(file, kMaxSubstitutionFile)) AddSubstitutionsFromText(AList, *text);
}

std::string ExpandEnvironmentVariables(std::string_view AText) {
  std::string out;
  std::size_t pos = 0;
  if (!AText.empty() && AText.front() == '~' && (AText.size() == 1 || AText[1] == '/')) {
    const std::optional<std::string> home = Variable("HOME");
    if (home) {
      out = *home;
      pos = 1;
    }
  }
  while (pos < AText.size()) {
    if ((AText[pos] == '%' || AText[pos] == '$') && ExpandOne(AText, pos, out)) continue;
    out += AText[pos++];
  }
  return out;
}

std::string LocalStoredPath(const TExtSubstitutions& ARules, std::string_view AStoredPath) {
  std::string path = ARules.Map(AStoredPath);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!IsLocalStoredPath(path) || HasParentStep(path)) return {};
  return path;
}

bool IsLocalStoredPath(std::string_view APath) {
#ifdef _WIN32
  // Drives and shares are both reachable here, and the host's paths come with "\".
  const auto separator = [&](std::size_t i) { return APath[i] == '/' || APath[i] == '\\'; };
  const bool drive =
      APath.size() >= 3 && std::isalpha(static_cast<unsigned char>(APath[0])) && APath[1] == ':' && separator(2);
  const bool share = APath.size() > 2 && separator(0) && separator(1) && !separator(2);
  return drive || share;
#else
  // Only an absolute local path: an unmapped share (//server) or drive (X:/)
  // is not reachable, and neither is a relative one.
  return APath.size() >= 2 && APath[0] == '/' && APath[1] != '/';
#endif
}

// ------------------------------------------------------------ other utilities

std::string CurrentTimeText() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalCalendarTime(now).value_or(std::tm{});
  char text[80];
  std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string FileVersionText(const std::string& AModuleFileName, int AParts) {
  if (!AModuleFileName.empty() && AModuleFileName != OwnModuleFileName()) return {};
  std::string text = std::to_string(KOF_VERSION_MAJOR);
  if (AParts >= 2) text += "." + std::to_string(KOF_VERSION_MINOR);
  if (AParts >= 3) text += "." + std::to_string(KOF_VERSION_PATCH);
  return text;
}

std::string BuildDateText(bool AWithTime) { return BuildTimeText().substr(0, AWithTime ? 19 : 10); }

std::string TempFolderNoDelimiter() {
  std::string folder = TemporaryFolder();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace kof
