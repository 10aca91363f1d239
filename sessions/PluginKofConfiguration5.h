#pragma once
// Plugin-wide settings: defaults for sessions, the dialogs' keyboard layout,
// the clipboard interval and the access-code timeout outside a session. They
// live in the registry key kPluginKey (machine-wide or per user, plus a legacy
// per-user key that is migrated once); the configuration owns the session manager.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/KofRegistry.h"
#include "sessions/KofSettings.h"
#include "sessions/PluginKofSessions5.h"
#include "support/VarnokCommonTypes.h"

namespace kof {

class TKofPluginConfiguration {
 public:
  // With LOAD, reads the machine-wide key, else the per-user one.
  explicit TKofPluginConfiguration(bool load = false);
  // Saves the sessions' and then (when modified) its own changes.
  virtual ~TKofPluginConfiguration();
  TKofPluginConfiguration(const TKofPluginConfiguration&) = delete;
  TKofPluginConfiguration& operator=(const TKofPluginConfiguration&) = delete;

  // Start-up: settings from the first area that qualifies, then the sessions.
  bool Init();
  bool Load(TRegistryArea area, bool strict);
  // Writes every value to the per-user key; false when it cannot be opened.
  // A failing write raises ERegistryException and leaves Modified set.
  bool Save();
  void Clear();
  void Assign(const TKofPluginConfiguration& conf);

  // A new session with URL, domain and user name and every other setting from
  // this configuration (use an unloaded one for the built-in defaults).
  std::unique_ptr<TKofSession> NewSession(std::string_view name, std::string url, std::string domain,
                                          std::string username) const;

  bool Modified() const { return FModified; }
  // What new sessions get, and what a stored session lacking a value takes.
  const TSessionSettings& SessionDefaults() const { return FDefaults; }
  const TPluginSettings& OwnSettings() const { return FOwn; }
  const std::string& PanelPrefix() const { return FOwn.PanelPrefix; }
  void SetPanelPrefix(std::string value) { Change(FOwn.PanelPrefix, std::move(value)); }
  int AccessCodeTimeout() const { return FDefaults.AccessCodeTimeout; }
  void SetAccessCodeTimeout(int value) { Change(FDefaults.AccessCodeTimeout, value); }
  bool EditableRecords() const { return FDefaults.EditableRecords; }
  void SetEditableRecords(bool value) { Change(FDefaults.EditableRecords, value); }
  bool FilesWithPasswords() const { return FDefaults.FilesWithPasswords; }
  void SetFilesWithPasswords(bool value) { Change(FDefaults.FilesWithPasswords, value); }
  bool Versioning() const { return FDefaults.VersionType != verNone; }
  TVersionType VersionType() const { return FDefaults.VersionType; }
  // An ordinal outside the known modes becomes verNone.
  void SetVersionType(int value);
  bool ErrorGrouping() const { return FDefaults.ErrorGrouping; }
  void SetErrorGrouping(bool value) { Change(FDefaults.ErrorGrouping, value); }
  bool ClipCopyMessage() const { return FDefaults.ClipCopyMessage; }
  void SetClipCopyMessage(bool value) { Change(FDefaults.ClipCopyMessage, value); }
  bool AllowedVersionTypeChange() const { return FDefaults.AllowedVersionTypeChange; }
  void SetAllowedVersionTypeChange(bool value) { Change(FDefaults.AllowedVersionTypeChange, value); }
  bool DisplayHelpFolders() const { return FDefaults.DisplayHelpFolders; }
  void SetDisplayHelpFolders(bool value) { Change(FDefaults.DisplayHelpFolders, value); }
  bool EncryptingFiles() const { return FDefaults.EncryptingFiles; }
  void SetEncryptingFiles(bool value) { Change(FDefaults.EncryptingFiles, value); }
  uint32_t KeyboardLayout() const { return FOwn.KeyboardLayout; }
  void SetKeyboardLayout(uint32_t value) { Change(FOwn.KeyboardLayout, value); }
  bool StoreAllFiles() const { return FDefaults.StoreAllFiles; }
  void SetStoreAllFiles(bool value) { FDefaults.StoreAllFiles = value; }
  int BufferSize() const { return FDefaults.BufferSize; }
  void SetBufferSize(int value) { FDefaults.BufferSize = value; }
  bool DiagnosticLog() const { return FOwn.DiagnosticLog; }
  void SetDiagnosticLog(bool value) { Change(FOwn.DiagnosticLog, value); }
  // kDiagnosticLogFileName in the per-user configuration folder.
  static std::string DiagnosticLogPath();
  // Opens the diagnostic log, or closes it, as DiagnosticLog() says; the
  // reason for the user when it cannot be opened, else "".
  std::string ApplyDiagnosticLog() const;
  int ClipboardTimeoutSec() const { return FClipboardTimeoutSec; }
  // How long a request waits for the server's answer, in ms; 0: the request
  // layer's default. KOFFRA_READ_TIMEOUT_MS (tests, slow links) is read at
  // each call, so a value set after start-up counts from the next login.
  int ReadTimeoutMs() const;
  bool ReadOnly() const { return FReadOnly; }
  TRegistryArea LastUsedArea() const { return FLastUsedArea; }
  TRegRoot RootKey() const { return FRootKey; }
  bool CriticalCharFullfilled() const;
  TKofSessionManager& SessionManager() { return *FSessionManager; }
  const TKofSessionManager& SessionManager() const { return *FSessionManager; }

 private:
  template <class T>
  void Change(T& field, T value) {
    field = std::move(value);
    FModified = true;
  }
  void ReadValues(const TKofRegistry& reg, TRegistryArea area, bool strict);

  bool FModified = false;
  TSessionSettings FDefaults;
  TPluginSettings FOwn;
  int FClipboardTimeoutSec = 60;
  bool FReadOnly = false;
  TRegistryArea FLastUsedArea = raSelect;
  TRegRoot FRootKey = TRegRoot::None;
  std::unique_ptr<TKofSessionManager> FSessionManager;
};

}  // namespace kof
