#include "sessions/PluginKofConfiguration5.h"

#include <cstdlib>

namespace kof {
namespace {

struct TAreaKey {
  TRegRoot Root;
  const char* Key;
};

TAreaKey AreaKey(TRegistryArea area, TRegRoot lastRoot) {
  switch (area) {
    case raSelect: return {lastRoot != TRegRoot::None ? lastRoot : TRegRoot::LocalMachine, kPluginKey};
    case raHKLM: return {TRegRoot::LocalMachine, kPluginKey};
    case raHKCU: return {TRegRoot::CurrentUser, kPluginKey};
    case raHkcuOld: return {TRegRoot::CurrentUser, kLegacyKey};
  }
  return {TRegRoot::CurrentUser, kPluginKey};
}

int AsInteger(uint32_t dword) { return static_cast<int32_t>(dword); }

void ReadBool(const TKofRegistry& reg, const char* name, bool& field) {
  if (auto value = reg.TryReadInteger(name)) field = *value != 0;
}

void ReadInt(const TKofRegistry& reg, const char* name, int& field) {
  if (auto value = reg.TryReadInteger(name)) field = AsInteger(*value);
}

uint32_t AsDWord(bool value) { return value ? 1u : 0u; }
uint32_t AsDWord(int value) { return static_cast<uint32_t>(value); }

}  // namespace

TKofPluginConfiguration::TKofPluginConfiguration(bool load)
    : FSessionManager(std::make_unique<TKofSessionManager>(this)) {
  if (load && !Load(raHKLM, false)) Load(raHKCU, false);
}

TKofPluginConfiguration::~TKofPluginConfiguration() {
  // The session list writes its outstanding changes as it goes.
  FSessionManager.reset();
  if (!FModified) return;
  try {
    Save();
  } catch (const ERegistryException&) {
    // Nobody is left to tell at unload; the values stay as they were stored.
  }
}

int TKofPluginConfiguration::ReadTimeoutMs() const {
  const char* text = std::getenv("KOFFRA_READ_TIMEOUT_MS");
  const int value = text ? std::atoi(text) : 0;
  return value > 0 ? value : 0;
}

bool TKofPluginConfiguration::Init() {
  Clear();
  if (Load(raHKLM, true) && CriticalCharFullfilled()) {
    FReadOnly = true;
  } else if (Load(raHKCU, true) && CriticalCharFullfilled()) {
    FReadOnly = false;
  } else if (Load(raHkcuOld, false)) {
    FReadOnly = false;
    try {
      Save();
    } catch (const ERegistryException&) {
      // Still modified: the next save (at the latest at unload) tries again.
    }
  }
  return FSessionManager->Init();
}

bool TKofPluginConfiguration::Load(TRegistryArea area, bool strict) {
  FLastUsedArea = area;
  const TAreaKey where = AreaKey(area, FRootKey);
  TKofRegistry reg(where.Root);
  if (!reg.OpenKey(where.Key, area == raHKCU)) return false;
  FRootKey = where.Root;
  ReadValues(reg, area, strict);
  return true;
}

void TKofPluginConfiguration::ReadValues(const TKofRegistry& reg, TRegistryArea, bool strict) {
  if (auto value = reg.TryReadInteger("AccessCodeTimeout"))
    FAccessCodeTimeout = AsInteger(*value);
  else if (strict)
    FAccessCodeTimeout = -1;
  if (auto value = reg.TryReadString("Panel Prefix")) FPanelPrefix = *value;
  ReadBool(reg, "Editable Records", FEditableRecords);
  ReadBool(reg, "Files with Passwords", FFilesWithPasswords);
  const uint32_t versions = reg.TryReadInteger("Versions").value_or(0);
  ReadBool(reg, "Error grouping", FErrorGrouping);
  ReadBool(reg, "Allowed Clipboard Message", FClipCopyMessage);
  ReadBool(reg, "Allowed Version Change", FAllowedVersionTypeChange);
  ReadBool(reg, "Display Help Folder", FDisplayHelpFolders);
  ReadBool(reg, "Encrypt Files", FEncryptingFiles);
  ReadBool(reg, "Store All Files", FStoreAllFiles);
  ReadInt(reg, "Buffer Size MB", FBufferSize);
  if (auto value = reg.TryReadInteger("Keyboard Layout")) FKeyboardLayout = *value;
  // Always marks the configuration modified, so whatever was loaded reaches
  // the per-user key when the configuration goes away.
  SetVersionType(static_cast<int>(versions & 0xFF));
}

bool TKofPluginConfiguration::Save() {
  TKofRegistry reg(TRegRoot::CurrentUser);
  reg.BeginUpdate();
  if (!reg.OpenKey(kPluginKey, true)) {
    reg.CancelUpdate();
    return false;
  }
  reg.WriteInteger("AccessCodeTimeout", AsDWord(FAccessCodeTimeout));
  reg.WriteString("Panel Prefix", FPanelPrefix);
  reg.WriteInteger("Editable Records", AsDWord(FEditableRecords));
  reg.WriteInteger("Files with Passwords", AsDWord(FFilesWithPasswords));
  reg.WriteInteger("Versions", static_cast<uint32_t>(FVersionType));
  reg.WriteInteger("Error grouping", AsDWord(FErrorGrouping));
  reg.WriteInteger("Allowed Clipboard Message", AsDWord(FClipCopyMessage));
  reg.WriteInteger("Allowed Version Change", AsDWord(FAllowedVersionTypeChange));
  reg.WriteInteger("Display Help Folder", AsDWord(FDisplayHelpFolders));
  reg.WriteInteger("Encrypt Files", AsDWord(FEncryptingFiles));
  reg.WriteInteger("Store All Files", AsDWord(FStoreAllFiles));
  reg.WriteInteger("Buffer Size MB", AsDWord(FBufferSize));
  reg.WriteInteger("Keyboard Layout", FKeyboardLayout);
  if (!reg.EndUpdate()) throw ERegistryException("Failed to set data for '" + std::string(kPluginKey) + "'");
  FModified = false;
  return true;
}

void TKofPluginConfiguration::Clear() {
  FModified = false;
  FAccessCodeTimeout = -1;
  FPanelPrefix.clear();
  FEditableRecords = false;
  FFilesWithPasswords = false;
  FVersionType = verNone;
  FErrorGrouping = false;
  FClipCopyMessage = false;
  FAllowedVersionTypeChange = false;
  FDisplayHelpFolders = true;
  FEncryptingFiles = true;
  FKeyboardLayout = 0;
  FStoreAllFiles = false;
  FBufferSize = 16;
  FSessionManager->Sessions().Clear();
}

void TKofPluginConfiguration::Assign(const TKofPluginConfiguration& conf) {
  FModified = conf.FModified;
  FAccessCodeTimeout = conf.FAccessCodeTimeout;
  FPanelPrefix = conf.FPanelPrefix;
  FEditableRecords = conf.FEditableRecords;
  FFilesWithPasswords = conf.FFilesWithPasswords;
  FVersionType = conf.FVersionType;
  FErrorGrouping = conf.FErrorGrouping;
  FClipCopyMessage = conf.FClipCopyMessage;
  FAllowedVersionTypeChange = conf.FAllowedVersionTypeChange;
  FDisplayHelpFolders = conf.FDisplayHelpFolders;
  FEncryptingFiles = conf.FEncryptingFiles;
  FStoreAllFiles = conf.FStoreAllFiles;
  FBufferSize = conf.FBufferSize;
  FKeyboardLayout = conf.FKeyboardLayout;
}

std::unique_ptr<TKofSession> TKofPluginConfiguration::NewSession(std::string_view name, std::string url,
                                                                 std::string domain, std::string username) const {
  return std::make_unique<TKofSession>(
      nullptr, name, std::string(), TSessionAddress{std::move(url), std::move(domain), std::move(username)},
      TSessionSettings{.AccessCodeTimeout = AccessCodeTimeout(),
                       .EditableRecords = EditableRecords(),
                       .FilesWithPasswords = FilesWithPasswords(),
                       .VersionType = VersionType(),
                       .ErrorGrouping = ErrorGrouping(),
                       .ClipCopyMessage = ClipCopyMessage(),
                       .AllowedVersionTypeChange = AllowedVersionTypeChange(),
                       .DisplayHelpFolders = DisplayHelpFolders(),
                       .EncryptingFiles = EncryptingFiles(),
                       .StoreAllFiles = StoreAllFiles(),
                       .BufferSize = BufferSize()});
}

bool TKofPluginConfiguration::CriticalCharFullfilled() const {
  switch (FLastUsedArea) {
    case raHKLM: return true;
    case raHKCU:
    case raHkcuOld: return AccessCodeTimeout() >= 0;
    case raSelect: return false;
  }
  return false;
}

void TKofPluginConfiguration::SetPanelPrefix(std::string value) {
  FPanelPrefix = std::move(value);
  FModified = true;
}

void TKofPluginConfiguration::SetAccessCodeTimeout(int value) {
  FAccessCodeTimeout = value;
  FModified = true;
}

void TKofPluginConfiguration::SetEditableRecords(bool value) {
  FEditableRecords = value;
  FModified = true;
}

void TKofPluginConfiguration::SetFilesWithPasswords(bool value) {
  FFilesWithPasswords = value;
  FModified = true;
}

void TKofPluginConfiguration::SetVersionType(int value) {
  FVersionType = value >= 0 && value < kVersionTypeCount ? static_cast<TVersionType>(value) : verNone;
  FModified = true;
}

void TKofPluginConfiguration::SetErrorGrouping(bool value) {
  FErrorGrouping = value;
  FModified = true;
}

void TKofPluginConfiguration::SetClipCopyMessage(bool value) {
  FClipCopyMessage = value;
  FModified = true;
}

void TKofPluginConfiguration::SetAllowedVersionTypeChange(bool value) {
  FAllowedVersionTypeChange = value;
  FModified = true;
}

void TKofPluginConfiguration::SetDisplayHelpFolders(bool value) {
  FDisplayHelpFolders = value;
  FModified = true;
}

void TKofPluginConfiguration::SetEncryptingFiles(bool value) {
  FEncryptingFiles = value;
  FModified = true;
}

void TKofPluginConfiguration::SetKeyboardLayout(uint32_t value) {
  FKeyboardLayout = value;
  FModified = true;
}

}  // namespace kof
