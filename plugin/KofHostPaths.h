#pragma once
// Paths at the host boundary. The plugin writes every path rule with
// backslashes; a host on Linux separates with '/', so the separator is
// converted on the way in and out. Local file names are left alone.
#include <cstddef>
#include <string>
#include <string_view>

#include "plugin/WfxAbi.h"

namespace kof {

class TCommonKofPlugin;

inline constexpr char kHostSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// Host strings are read up to this many units; longer ones are cut.
inline constexpr std::size_t kMaxHostPathUnits = 32768;

std::string HostToPluginPath(const wfx::WCHAR* path);
std::string PluginToHostPath(std::string_view path);
void PluginToHostBuffer(std::string_view path, wfx::WCHAR* buffer, std::size_t maxUnits);
// Where the host goes after FS_EXEC_SYMLINK. Double Commander leaves the plugin
// for a local folder of the same path (a session named "tmp" would land in
// /tmp) unless the path names the plugin: wfx://<root name>/<path>. A path too
// long for that form is given plain.
void PluginToHostLink(std::string_view path, std::string_view rootName, wfx::WCHAR* buffer, std::size_t maxUnits);
std::string HostToLocalPath(const wfx::WCHAR* path);
// A backslash inside a name on a '/' host cannot be told from a separator once
// converted; such names are refused with a message. True when refused.
bool RejectHostName(TCommonKofPlugin& plugin, const wfx::WCHAR* path);

}  // namespace kof
