#include "plugin/KofHostPaths.h"

#include <algorithm>

#include "platform/KofLastError.h"
#include "plugin/PluginKofCommon5.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "support/KofText.h"

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
  SetLastError(wfx::ERROR_ACCESS_DENIED);
  return true;
}

}  // namespace kof
