#include "plugin/KofHostPaths.h"

#include <algorithm>

#include "plugin/PluginKofCommon5.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {

std::string HostToLocalPath(const wfx::WCHAR* path) {
  if (!path) return {};
  return Utf16ToUtf8(std::u16string_view(path, Utf16Length(path, kMaxHostPathUnits)));
}

std::string HostToPluginPath(const wfx::WCHAR* path) {
  std::string result = HostToLocalPath(path);
  if (kHostSeparator != '\\') std::replace(result.begin(), result.end(), kHostSeparator, '\\');
  return result;
}

std::string PluginToHostPath(std::string_view path) {
  std::string result(path);
  if (kHostSeparator != '\\') std::replace(result.begin(), result.end(), '\\', kHostSeparator);
  return result;
}

void PluginToHostBuffer(std::string_view path, wfx::WCHAR* buffer, std::size_t maxUnits) {
  CopyToHostBuffer(PluginToHostPath(path), buffer, maxUnits);
}

void PluginToHostLink(std::string_view path, std::string_view rootName, wfx::WCHAR* buffer, std::size_t maxUnits) {
#ifndef _WIN32
  std::string link = "wfx://" + std::string(rootName);
  if (path.empty() || path.front() != '\\') link += '/';
  link += PluginToHostPath(path);
  if (Utf16Units(link) < maxUnits) return CopyToHostBuffer(link, buffer, maxUnits);
#else
  (void)rootName;
#endif
  PluginToHostBuffer(path, buffer, maxUnits);
}

bool RejectHostName(TCommonKofPlugin& plugin, const wfx::WCHAR* path) {
  if (kHostSeparator == '\\') return false;
  const std::string raw = HostToLocalPath(path);
  if (raw.find('\\') == std::string::npos) return false;
  plugin.ShowMessageDlg("Name not allowed",
                        "The name \"" + raw + "\" contains a backslash (\\), which is not allowed here.", 0x10000);
  return true;
}

// ---------------------------------------------------------------------------
TKofHostPath::TKofHostPath(std::string path, THostRole role)
    : FFull(std::move(path)), FRole(role), FParts(SplitBackslashPath(FFull)) {
  if (FFull == "\\..") {
    FPanelPath = "..";
  } else if (FParts.empty()) {
    FPanelPath = "\\";
  } else if (FParts.size() == 1 &&
             (SameText(ExtractFileExt(FParts[0]), kPanelExt) ||
              (FRole == THostRole::Target && TKofSession::ValidInputExt(ExtractFileExt(FParts[0]))))) {
    FPanelPath = FFull;
  } else {
    FPanelName = FParts[0];
    for (std::size_t i = 1; i < FParts.size(); ++i) FPanelPath += "\\" + FParts[i];
  }
  FKind = KindOf();
}

TKofHostPath TKofHostPath::FromHost(const wfx::WCHAR* path, THostRole role) {
  return TKofHostPath(HostToPluginPath(path), role);
}

TPathKind TKofHostPath::KindOf() const {
  if (FPanelName.empty()) return FPanelPath == "\\" || FPanelPath == ".." ? TPathKind::SessionsFolder : TPathKind::SessionEntry;
  if (FParts.size() == 1 && SameText(FParts[0], kHelpEntry)) return TPathKind::SessionsHelp;
  if (SameText(FParts.back(), kGotoSessionsEntry)) return TPathKind::GotoSessions;
  if (FParts.size() == 1) return TPathKind::SessionRoot;
  // Vault members never carry these names (they are listed escaped), so the
  // first component that does is the plugin's own folder.
  for (std::size_t i = 1; i < FParts.size(); ++i) {
    const bool last = i + 1 == FParts.size();
    if (SameText(FParts[i], kAccessoriesEntry)) return last ? TPathKind::Accessories : TPathKind::Accessory;
    if (SameText(FParts[i], kBinEntry)) return last ? TPathKind::Bin : TPathKind::BinItem;
  }
  return TPathKind::Vault;
}

TKofHostPath TKofHostPath::Prefix(std::size_t count) const {
  std::string path;
  for (std::size_t i = 0; i < std::min(count, FParts.size()); ++i) path += "\\" + FParts[i];
  return TKofHostPath(path.empty() ? "\\" : path, FRole);
}

bool TKofHostPath::IsAccessory(std::string_view entry) const {
  return FKind == TPathKind::Accessory && SameText(FParts.back(), entry);
}

bool TKofHostPath::IsHelp() const { return FKind == TPathKind::SessionsHelp || IsAccessory(kHelpEntry); }

bool TKofHostPath::IsLogoutEntry() const { return IsAccessory(kLogoutEntry); }

}  // namespace kof
