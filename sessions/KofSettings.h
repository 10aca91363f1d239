#pragma once
// The settings table: every stored setting once, with its name in the
// registry store, its line in session files, its type and home (the member it
// fills), what a session file without the line means, its range, and where a
// stored session without it takes its value from. The store, the session
// files and the plugin configuration are all read and written by walking the
// table, so a new setting is its member and one row.
//
// A member of TSessionSettings is a session's setting; the plugin
// configuration keeps one too, as the default of new sessions. A member of
// TPluginSettings belongs to the plugin configuration alone.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "support/VarnokCommonTypes.h"

namespace kof {

class TKofIniFile;
class TKofRegistry;

// The per-profile settings a session is created with; the defaults are those
// of a session made in the dialog.
struct TSessionSettings {
  int AccessCodeTimeout = 300;
  bool EditableRecords = true;
  bool FilesWithPasswords = false;
  TVersionType VersionType = verNone;
  bool ErrorGrouping = false;
  bool ClipCopyMessage = true;
  bool AllowedVersionTypeChange = false;
  bool DisplayHelpFolders = true;
  bool EncryptingFiles = true;
  bool StoreAllFiles = false;
  int BufferSize = 16;
  bool operator==(const TSessionSettings&) const = default;
};

// The plugin configuration's own settings.
struct TPluginSettings {
  std::string PanelPrefix = "KOF";
  uint32_t KeyboardLayout = 0;
  // Writes the diagnostic log, kDiagnosticLogFileName in the configuration folder.
  bool DiagnosticLog = false;
  bool operator==(const TPluginSettings&) const = default;
};

inline constexpr char kDiagnosticLogFileName[] = "debug.log";
// A store without it holds no configuration worth taking (see CriticalCharFullfilled).
inline constexpr char kAccessCodeTimeoutValue[] = "AccessCodeTimeout";

struct TSettingRange {
  int Min;
  int Max;
};

using TSettingField = std::variant<int TSessionSettings::*, bool TSessionSettings::*, TVersionType TSessionSettings::*,
                                   std::string TPluginSettings::*, uint32_t TPluginSettings::*,
                                   bool TPluginSettings::*>;

struct TSettingRow {
  const char* RegistryName;
  const char* FileName;  // its line in session files; nullptr for the plugin's own settings
  TSettingField Field;
  // What a session file without the line reads as, for a switch; nullptr: the built-in default.
  const char* FileDefault = nullptr;
  // A number outside is a damaged value, not a choice: the default replaces it.
  std::optional<TSettingRange> Range = std::nullopt;
  // A stored session without the value takes the plugin configuration's; else the built-in default.
  bool Inherited = true;
};

std::span<const TSettingRow> SettingsTable();

// A stored session's settings from REG's open key; INHERITED holds the plugin
// configuration's. True when a value was missing or damaged, so the session
// is to be written back repaired.
bool ReadStoredSettings(const TKofRegistry& reg, const TSessionSettings& inherited, TSessionSettings& settings);
// The plugin configuration's: each value REG holds replaces the one in
// SETTINGS or OWN as stored, unchecked; a missing versioning mode is none.
void ReadPluginSettings(const TKofRegistry& reg, TSessionSettings& settings, TPluginSettings& own);
// Writes SETTINGS (and OWN, for the plugin configuration) into REG's open key.
void WriteStoredSettings(TKofRegistry& reg, const TSessionSettings& settings, const TPluginSettings* own = nullptr);

TSessionSettings ReadFileSettings(const TKofIniFile& ini, std::string_view section);
void WriteFileSettings(TKofIniFile& ini, std::string_view section, const TSessionSettings& settings);

}  // namespace kof
