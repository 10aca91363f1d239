#pragma once
// Plugin-wide settings: defaults for sessions, the dialogs' keyboard layout,
// the clipboard interval and the access-code timeout outside a session. They
// live in the registry key kPluginKey (machine-wide or per user, plus a legacy
// per-user key that is migrated once); the configuration owns the session manager.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/KofRegistry.h"
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
  const std::string& PanelPrefix() const { return FPanelPrefix; }
  void SetPanelPrefix(std::string value);
  virtual int AccessCodeTimeout() const { return FAccessCodeTimeout; }
  void SetAccessCodeTimeout(int value);
  virtual bool EditableRecords() const { return FEditableRecords; }
  void SetEditableRecords(bool value);
  virtual bool FilesWithPasswords() const { return FFilesWithPasswords; }
  void SetFilesWithPasswords(bool value);
  virtual bool Versioning() const { return FVersionType != verNone; }
  virtual TVersionType VersionType() const { return FVersionType; }
  // An ordinal outside the known modes becomes verNone.
  void SetVersionType(int value);
  bool ErrorGrouping() const { return FErrorGrouping; }
  void SetErrorGrouping(bool value);
  bool ClipCopyMessage() const { return FClipCopyMessage; }
  void SetClipCopyMessage(bool value);
  bool AllowedVersionTypeChange() const { return FAllowedVersionTypeChange; }
  void SetAllowedVersionTypeChange(bool value);
  bool DisplayHelpFolders() const { return FDisplayHelpFolders; }
  void SetDisplayHelpFolders(bool value);
  bool EncryptingFiles() const { return FEncryptingFiles; }
  void SetEncryptingFiles(bool value);
  uint32_t KeyboardLayout() const { return FKeyboardLayout; }
  void SetKeyboardLayout(uint32_t value);
  bool StoreAllFiles() const { return FStoreAllFiles; }
  void SetStoreAllFiles(bool value) { FStoreAllFiles = value; }
  int BufferSize() const { return FBufferSize; }
  void SetBufferSize(int value) { FBufferSize = value; }
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
  void ReadValues(const TKofRegistry& reg, TRegistryArea area, bool strict);

  bool FModified = false;
  int FAccessCodeTimeout = 300;
  std::string FPanelPrefix = "KOF";
  bool FEditableRecords = true;
  bool FFilesWithPasswords = false;
  TVersionType FVersionType = verNone;
  bool FErrorGrouping = false;
  bool FClipCopyMessage = true;
  bool FAllowedVersionTypeChange = false;
  bool FDisplayHelpFolders = true;
  bool FEncryptingFiles = true;
  uint32_t FKeyboardLayout = 0;
  int FClipboardTimeoutSec = 60;
  bool FReadOnly = false;
  TRegistryArea FLastUsedArea = raSelect;
  TRegRoot FRootKey = TRegRoot::None;
  std::unique_ptr<TKofSessionManager> FSessionManager;
  bool FStoreAllFiles = false;
  int FBufferSize = 16;
};

}  // namespace kof
