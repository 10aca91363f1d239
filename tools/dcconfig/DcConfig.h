#pragma once
// Registering a file-system plugin in Double Commander's configuration
// (doublecmd.xml). The document goes through libxml2 with its whitespace kept,
// so everything but the plugin's own element stays as the user had it.
#include <string>
#include <string_view>

namespace kof {

struct TDcPlugin {
  std::string Name;  // as listed under Network (the plugin's root name)
  std::string Path;  // absolute file name of the plugin
};

enum class TDcChange { Added, Updated, Unchanged, Removed, Absent };

struct TDcEdit {
  bool Ok = false;
  TDcChange Change = TDcChange::Unchanged;
  // The whole document after the edit; the input itself when nothing changed.
  std::string Document;
  // False when libxml2 writes parts of this document differently from how it
  // was read (quotes, character references), so those bytes change too.
  bool KeptOtherBytes = true;
  std::string Error;
};

// What a configuration holds before Double Commander fills in the rest.
std::string MinimalDcConfig();

// Adds the plugin, or updates the element that already names it (by name,
// ignoring case, or by the plugin's file name): its path, and enabled.
// Further elements for the same plugin are removed.
TDcEdit RegisterWfxPlugin(std::string_view document, const TDcPlugin& plugin);
// Removes every element for the plugin (matched as above).
TDcEdit UnregisterWfxPlugin(std::string_view document, const TDcPlugin& plugin);

const char* DcChangeName(TDcChange change);

}  // namespace kof
