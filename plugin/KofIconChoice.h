#pragma once
// Which of the plugin's icons an entry shows, by resource name; empty means
// the host's default icon for the name.
#include <string>

#include "plugin/KofHostPaths.h"
#include "plugin/PluginKofTypes5.h"

namespace kof {

class TKofObject;

// The plugin's own entries and the sessions folder, decided by the path
// alone. Empty when the path is an entry of a session: its panel decides.
std::string SpecialIconName(const TKofHostPath& remote);

// A safe box, group or record listed in a panel at LEVEL; inGroup: the level
// is a safe box group's content.
std::string VaultIconName(TPluginKofLevel level, bool inGroup, const TKofObject& object);

}  // namespace kof
