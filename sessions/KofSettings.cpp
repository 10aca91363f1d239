#include "sessions/KofSettings.h"

#include <array>

#include "platform/KofRegistry.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofText.h"

namespace kof {
namespace {

using S = TSessionSettings;
using P = TPluginSettings;

// A negative timeout or buffer size, or a gigabyte buffer, is a damaged value, not a choice.
constexpr TSettingRange kAccessCodeTimeoutRange{0, 7 * 24 * 3600};
constexpr TSettingRange kBufferSizeRange{1, 64};

// In the order of the session file's lines.
const std::array<TSettingRow, 14> kSettings = {{
    {kAccessCodeTimeoutValue, "Access Code Timeout [sec]", &S::AccessCodeTimeout, nullptr, kAccessCodeTimeoutRange},
    {"Versions", "File Versioning Mode", &S::VersionType},
    {"Allowed Version Change", "Allow Change File Versioning", &S::AllowedVersionTypeChange, "OFF", {}, false},
    {"Editable Records", "Allow Records Modification", &S::EditableRecords, "ON"},
    {"Files with Passwords", "Save File Password", &S::FilesWithPasswords, "OFF"},
    {"Error grouping", "Error Print Grouping", &S::ErrorGrouping, "OFF"},
    {"Allowed Clipboard Message", "Allow Copy Password Msg", &S::ClipCopyMessage, "OFF"},
    {"Display Help Folder", "Display Help Folder", &S::DisplayHelpFolders, "OFF", {}, false},
    {"Encrypt Files", "Encrypting Files", &S::EncryptingFiles, "OFF", {}, false},
    {"Store All Files", "Store All Files", &S::StoreAllFiles, "OFF"},
    {"Buffer Size MB", "Buffer Size [MB]", &S::BufferSize, nullptr, kBufferSizeRange},
    {"Panel Prefix", nullptr, &P::PanelPrefix},
    {"Keyboard Layout", nullptr, &P::KeyboardLayout},
    {"Diagnostic Log", nullptr, &P::DiagnosticLog},
}};

template <class... F>
struct TOverloaded : F... {
  using F::operator()...;
};
template <class... F>
TOverloaded(F...) -> TOverloaded<F...>;

const char* OnOff(bool value) { return value ? "ON" : "OFF"; }

bool IsOn(std::string_view text) { return SameText(text, "ON"); }

int InRange(int value, const std::optional<TSettingRange>& range, int fallback) {
  return !range || (value >= range->Min && value <= range->Max) ? value : fallback;
}

TVersionType VersionFromNumber(uint32_t number) {
  // Only the low byte is the mode; an unknown mode must not reach a session file.
  const uint32_t ordinal = number & 0xFF;
  return ordinal < kVersionTypeCount ? static_cast<TVersionType>(ordinal) : verNone;
}

// Numbers are stored as DWORDs; the plugin configuration reads them back signed.
int AsInteger(uint32_t dword) { return static_cast<int32_t>(dword); }

}  // namespace

std::span<const TSettingRow> SettingsTable() { return kSettings; }

bool ReadStoredSettings(const TKofRegistry& reg, const TSessionSettings& inherited, TSessionSettings& settings) {
  static const TSessionSettings builtIn;
  bool missing = false;
  for (const TSettingRow& row : kSettings) {
    const std::optional<uint32_t> value = reg.TryReadInteger(row.RegistryName);
    const TSessionSettings& fallback = row.Inherited ? inherited : builtIn;
    std::visit(TOverloaded{
                   [&](int S::*field) {
                     const int preset = InRange(fallback.*field, row.Range, builtIn.*field);
                     if (!value || (row.Range && *value > static_cast<uint32_t>(row.Range->Max))) {
                       settings.*field = preset;
                       missing = true;
                       return;
                     }
                     settings.*field = InRange(static_cast<int>(*value), row.Range, preset);
                     missing = missing || settings.*field != static_cast<int>(*value);
                   },
                   [&](bool S::*field) {
                     settings.*field = value ? *value != 0 : fallback.*field;
                     missing = missing || !value;
                   },
                   [&](TVersionType S::*field) {
                     settings.*field = VersionFromNumber(value.value_or(fallback.*field));
                     missing = missing || !value;
                   },
                   [](auto) {},
               },
               row.Field);
  }
  return missing;
}

void ReadPluginSettings(const TKofRegistry& reg, TSessionSettings& settings, TPluginSettings& own) {
  for (const TSettingRow& row : kSettings) {
    const char* name = row.RegistryName;
    std::visit(TOverloaded{
                   [&](int S::*field) {
                     if (auto value = reg.TryReadInteger(name)) settings.*field = AsInteger(*value);
                   },
                   [&](bool S::*field) {
                     if (auto value = reg.TryReadInteger(name)) settings.*field = *value != 0;
                   },
                   [&](TVersionType S::*field) {
                     settings.*field = VersionFromNumber(reg.TryReadInteger(name).value_or(0));
                   },
                   [&](std::string P::*field) {
                     if (auto value = reg.TryReadString(name)) own.*field = *value;
                   },
                   [&](uint32_t P::*field) {
                     if (auto value = reg.TryReadInteger(name)) own.*field = *value;
                   },
                   [&](bool P::*field) {
                     if (auto value = reg.TryReadInteger(name)) own.*field = *value != 0;
                   },
               },
               row.Field);
  }
}

void WriteStoredSettings(TKofRegistry& reg, const TSessionSettings& settings, const TPluginSettings* own) {
  for (const TSettingRow& row : kSettings) {
    const char* name = row.RegistryName;
    std::visit(TOverloaded{
                   [&](int S::*field) { reg.WriteInteger(name, static_cast<uint32_t>(settings.*field)); },
                   [&](bool S::*field) { reg.WriteInteger(name, settings.*field ? 1u : 0u); },
                   [&](TVersionType S::*field) { reg.WriteInteger(name, settings.*field); },
                   [&](std::string P::*field) {
                     if (own) reg.WriteString(name, own->*field);
                   },
                   [&](uint32_t P::*field) {
                     if (own) reg.WriteInteger(name, own->*field);
                   },
                   [&](bool P::*field) {
                     if (own) reg.WriteInteger(name, own->*field ? 1u : 0u);
                   },
               },
               row.Field);
  }
}

TSessionSettings ReadFileSettings(const TKofIniFile& ini, std::string_view section) {
  static const TSessionSettings builtIn;
  TSessionSettings settings;
  for (const TSettingRow& row : kSettings) {
    const char* name = row.FileName;
    std::visit(TOverloaded{
                   [&](int S::*field) {
                     settings.*field = InRange(ini.ReadInteger(section, name, builtIn.*field), row.Range, builtIn.*field);
                   },
                   [&](bool S::*field) {
                     settings.*field = IsOn(ini.ReadString(section, name, row.FileDefault ? row.FileDefault
                                                                                         : OnOff(builtIn.*field)));
                   },
                   [&](TVersionType S::*field) {
                     settings.*field = VersionTypeFromName(ini.ReadString(section, name, VersionTypeName(builtIn.*field)));
                   },
                   [](auto) {},
               },
               row.Field);
  }
  return settings;
}

void WriteFileSettings(TKofIniFile& ini, std::string_view section, const TSessionSettings& settings) {
  for (const TSettingRow& row : kSettings) {
    const char* name = row.FileName;
    std::visit(TOverloaded{
                   [&](int S::*field) { ini.WriteInteger(section, name, settings.*field); },
                   [&](bool S::*field) { ini.WriteString(section, name, OnOff(settings.*field)); },
                   [&](TVersionType S::*field) { ini.WriteString(section, name, VersionTypeName(settings.*field)); },
                   [](auto) {},
               },
               row.Field);
  }
}

}  // namespace kof
