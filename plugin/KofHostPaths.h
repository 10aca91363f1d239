#pragma once
// Paths at the host boundary. The plugin writes every path rule with
// backslashes; a host on Linux separates with '/', so the separator is
// converted on the way in and out. Local file names are left alone.
//
// A host path is parsed once, at the export, into a TKofHostPath that the
// plugin object and the panels take as it is: where the path belongs (the
// sessions folder or a session's panel) and which of the plugin's own
// entries it names, each decided in one place.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

// A path is read from (a source) or written to (a target): a session file
// under its own extension (.KOF, .CFG, .INI) names the sessions folder only as a target.
enum class THostRole { Source, Target };

// What a path names; the order of the checks in the parse is the order here.
enum class TPathKind {
  SessionsFolder,  // the root, or "\.."
  SessionEntry,    // a session entry or session file in the sessions folder
  SessionsHelp,    // the help entry of the sessions folder
  GotoSessions,    // the way-back entry, wherever a failed listing put it
  SessionRoot,     // "\Work"
  Accessories,     // a session's accessories folder, at any level
  Accessory,       // an entry in it (help, logout, server information, ...)
  Bin,             // a session's bin folder
  BinItem,         // a deleted item in it
  Vault,           // a box or a record
};

class TKofHostPath {
 public:
  // A path in the plugin's form (backslashes).
  explicit TKofHostPath(std::string path = "\\", THostRole role = THostRole::Source);
  static TKofHostPath FromHost(const wfx::WCHAR* path, THostRole role);

  // The path as given.
  const std::string& Full() const { return FFull; }
  // Its components, leading and trailing delimiters ignored; none for the root.
  const std::vector<std::string>& Parts() const { return FParts; }
  // The session whose panel serves the path; empty for the sessions folder.
  const std::string& PanelName() const { return FPanelName; }
  // The path below the session ("\Box\a.account"); empty at the session root,
  // the whole path for the sessions folder's own entries.
  const std::string& PanelPath() const { return FPanelPath; }
  TPathKind Kind() const { return FKind; }
  bool InSessionsFolder() const { return FPanelName.empty(); }
  // The path with its outer delimiters removed ("\Work\Box"; "\" for the root).
  std::string Canonical() const { return Prefix(FParts.size()).Full(); }
  // The last component; empty for the root.
  std::string Name() const { return FParts.empty() ? std::string() : FParts.back(); }
  // The path of the first count components ("\Work\Box" for 2).
  TKofHostPath Prefix(std::size_t count) const;
  TKofHostPath Parent() const { return Prefix(FParts.empty() ? 0 : FParts.size() - 1); }

  // The help entry of the sessions folder or of a session's accessories.
  bool IsHelp() const;
  bool IsLogoutEntry() const;

 private:
  TPathKind KindOf() const;
  bool IsAccessory(std::string_view entry) const;

  std::string FFull;
  THostRole FRole;
  std::vector<std::string> FParts;
  std::string FPanelName;
  std::string FPanelPath;
  TPathKind FKind = TPathKind::SessionsFolder;
};

}  // namespace kof
