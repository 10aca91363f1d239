#pragma once
// The host-independent plugin object and the base of every panel.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extfiles/KofUtils.h"
#include "platform/KofClipboard.h"
#include "platform/KofTimer.h"
#include "plugin/KofCopyReport.h"
#include "plugin/KofHostPaths.h"
#include "plugin/KofOutcome.h"
#include "plugin/KofPluginLock.h"
#include "plugin/KofPrompts.h"
#include "plugin/PluginKofTypes5.h"
#include "plugin/WfxAbi.h"
#include "support/SecureString.h"

namespace kof {

class TCommonKofPlugin;
class TKofPluginConfiguration;
class TKofSession;

// One logged-in session as the host sees it. The base answers every call with
// the failure the host expects from a panel that cannot serve it. Every
// method runs under the plugin lock, which the export took.
class TPluginKofCommonPanel {
 public:
  TPluginKofCommonPanel(TCommonKofPlugin& owner, int number, std::string panelName, TFindHandle pluginHandle);
  virtual ~TPluginKofCommonPanel() = default;

  TCommonKofPlugin& Owner() const { return FOwner; }
  TFindHandle PluginHandle() const { return FPluginHandle; }
  int No() const { return FPanelNumber; }
  const std::string& Name() const { return FPanelName; }

  virtual bool LoginSession(int mode, const std::string& sessionName, TLoginOptions options);
  virtual bool Connected() const { return false; }
  // Ends the connection; the panel stays until the plugin frees it.
  virtual void LogoutSession() {}
  // Whether the user wants to be told about the clipboard (the session's choice).
  virtual bool ClipCopyMessage() const { return true; }
  virtual void SetLevel(TPluginKofLevel) {}
  virtual bool NoneAction() const { return false; }
  virtual TFileSysStatus ListOperation() const { return fsoList; }
  // Brings the level stack to the folder of a path of this session.
  virtual TKofStep MatchLevelTo(int mode, const TKofHostPath& path, TFileSysStatus operation);
  virtual TKofListing FindFirst(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd, bool readItems);
  virtual bool FindNext(wfx::WIN32_FIND_DATAW& fd);
  virtual TCodeOutcome GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags,
                               wfx::RemoteInfoStruct* info);
  virtual TCodeOutcome PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags);
  virtual TDoneOutcome DeleteFile(int mode, const TKofHostPath& remote);
  virtual TDoneOutcome MakeDirectory(int mode, const TKofHostPath& dir);
  virtual TDoneOutcome RemoveDir(int mode, const TKofHostPath& dir);
  virtual TCodeOutcome Execute(uint64_t window, const TKofHostPath& remote, TVerbType verb, std::string& newRemote);
  // The icon of an entry by resource name; empty: the host's default.
  virtual std::string IconName(const TKofHostPath& remote, int flags);
  virtual void StatusInfo(const TKofHostPath& dir, TFileSysStatus operation, bool start);

 private:
  TCommonKofPlugin& FOwner;
  TFindHandle FPluginHandle;
  int FPanelNumber;
  std::string FPanelName;
};

// Open panels by session name: sorted, case-sensitive, unique; owns them.
class TPanelList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  int IndexOf(std::string_view name) const;
  int Add(std::string name, std::unique_ptr<TPluginKofCommonPanel> panel);
  TPluginKofCommonPanel* GetPanel(int index) const;
  const std::string& NameAt(int index) const { return FItems.at(index).first; }
  void Delete(int index);
  void Clear() { FItems.clear(); }
  // Frees every panel whose name differs (ignoring case) from the focused one and
  // from name1/name2; returns the focused panel's new index or -1.
  int Refresh(int focusedIndex, std::string_view name1, std::string_view name2);

 private:
  std::vector<std::pair<std::string, std::unique_ptr<TPluginKofCommonPanel>>> FItems;
};

struct TProceduresRecord {
  wfx::tProgressProcW ProgressProc = nullptr;
  wfx::tLogProcW LogProc = nullptr;
  wfx::tRequestProcW RequestProc = nullptr;
};

// How soon a clearing that failed is tried again.
inline constexpr std::chrono::milliseconds kClipboardRetryInterval{10000};

class TCommonKofPlugin {
 public:
  TCommonKofPlugin();
  virtual ~TCommonKofPlugin();
  TCommonKofPlugin(const TCommonKofPlugin&) = delete;
  TCommonKofPlugin& operator=(const TCommonKofPlugin&) = delete;

  virtual void NotifyClipboardCleared();
  // Tells the user that the clipboard may still hold a secret.
  virtual void NotifyClipboardNotCleared();
  virtual std::unique_ptr<TPluginKofCommonPanel> CreatePanel(const std::string& panelName) = 0;
  virtual void SetFsStatus(TFsStatus value) { FFsStatus = value; }
  // Brackets every prompt: a clipboard notice that falls due meanwhile waits
  // for its end. A prompt shown from inside another's (a dialog opened from a
  // dialog) is part of the outer one: the notice waits for the outermost end.
  virtual void ClipLock(bool enter);
  virtual bool ManageSession(TKofSession& session, TSessionDlgAction action);
  // A message or a question by the flags' kind (bits 16 to 23), through Prompts().
  virtual bool ShowMessageDlg(std::string_view title, std::string_view message, uint32_t flags) = 0;

  // Where every question to the user goes.
  TKofPrompts& Prompts() { return *FPrompts; }
  // The counts and failures of the operation the host bracketed last.
  TKofOperationLog& OperationLog() { return FOperationLog; }
  // The plugin's dialogs, once the host offers its dialog interface (and tests).
  void SetPrompts(std::unique_ptr<TKofPrompts> prompts) { FPrompts = std::move(prompts); }

  // Asks the host's RequestProc; false when the user cancelled. The answer may be a secret.
  bool RequestText(int requestType, std::string_view title, std::string_view text, SecureString& answer,
                   int maxLength = wfx::kMaxPath);
  // ProgressProc; true when the user asked to abort.
  bool Progress(std::string_view source, std::string_view target, int percent);

  int Number() const { return FNumber; }
  void SetNumber(int value) { FNumber = value; }
  uint64_t MainHandle() const { return FMainHandle; }
  void SetMainHandle(uint64_t value) { FMainHandle = value; }
  uint64_t CurHandle() const { return FHandle; }
  void SetCurHandle(uint64_t value) { FHandle = value; }
  const TProceduresRecord& Proc() const { return FProcedures; }
  void SetProcedures(const TProceduresRecord& value) { FProcedures = value; }
  const std::string& Module() const { return FModule; }
  void SetModule(const std::string& value);
  const std::string& PureModule() const { return FPureModule; }
  TKofPluginConfiguration& Cfg() { return *FCfg; }
  TKofPluginLock& Lock() { return FLock; }
  TPanelList& Panels() { return FPanels; }
  const std::string& AppVersion() const { return FAppVersion; }
  TFsStatus FsStatus() const { return FFsStatus; }
  TPluginType PluginType() const { return FPluginType; }
  int LastUsedPanelIndex() const { return FLastUsedPanelIndex; }
  void SetLastUsedPanelIndex(int value) { FLastUsedPanelIndex = value; }
  bool InCredentialsPhase() const { return FInCredentialsPhase; }
  void SetInCredentialsPhase(bool value) { FInCredentialsPhase = value; }

  bool Initializing() const { return FFsStatus == fsInit; }
  bool Starting() const { return FFsStatus == fsStarting || FFsStatus == fsUnmounted; }
  bool Mounting() const { return FFsStatus == fsMounting; }
  bool Mounted() const { return FFsStatus == fsMounted; }
  bool Unmounted() const { return FFsStatus == fsUnmounted; }

  // Puts a secret on the clipboard and restarts the clearing countdown.
  // NOTIFY: the session the secret came from wants to hear when it is cleared.
  bool CopySecretToClipboard(std::string_view secret, bool notify, std::string& error);
  // Puts text that is no secret on the clipboard; a countdown running for an
  // earlier secret goes on and then empties the clipboard whatever it holds of ours.
  bool CopyTextToClipboard(std::string_view text, std::string& error);
  // Empties the clipboard when it still holds the plugin's secret. When it
  // cannot, the secret stays remembered, the timer tries again and the user is
  // told at the next host call.
  TClearResult ClearClipboard();
  // The clearing countdown (the configuration's 60 s); tests shorten it, and a
  // failed clearing is retried after it or kClipboardRetryInterval, the shorter.
  void SetClipboardInterval(std::chrono::milliseconds interval) { FClipInterval = interval; }
  // The notices of a clearing (or a failed one) that happened between host
  // calls, shown on the host's thread.
  void DeliverClipboardNotice() KOF_REQUIRES(Lock());

  bool InTemporary(std::string_view path) const;
  // The path mapping of external files, read again from Koffra.subst.cfg by ReloadSubstitutions.
  const TExtSubstitutions& Substitutions() const { return FSubstitutions; }
  void ReloadSubstitutions() { LoadSubstitutions(FSubstitutions); }
  bool CopyFromToTempDir(std::string_view path, bool checkExtension) const;
  void FreePanels();

 protected:
  TPluginType FPluginType = plugTotalCmd;
  int FLastUsedPanelIndex = -1;
  std::unique_ptr<TKofPluginConfiguration> FCfg;

 private:
  int FNumber = 0;
  uint64_t FMainHandle = 0;
  uint64_t FHandle = 0;
  TProceduresRecord FProcedures;
  std::string FModule;
  std::string FPureModule;
  TKofPluginLock FLock;
  bool FActiveDialog = false;
  int FDialogDepth = 0;
  bool FClipClearMsg = false;
  TPanelList FPanels;
  std::unique_ptr<TKofPrompts> FPrompts;
  TKofOperationLog FOperationLog;
  TExtSubstitutions FSubstitutions;
  bool FInCredentialsPhase = false;
  std::string FAppVersion;
  TFsStatus FFsStatus = fsInit;
  // Taken after FLock, never before it; the timer's handler takes it alone,
  // so a clearing never waits for a host call that waits for the network or the user.
  std::mutex FClipMutex;
  TKofClipboard FClipboard;
  // Clears under FClipMutex; a failure re-arms the timer for another try.
  TClearResult ClearOwnLocked();
  std::atomic<bool> FClipboardCleared{false};
  // The secret on the clipboard could not be cleared; told once per secret.
  std::atomic<bool> FClipboardClearFailed{false};
  bool FClipFailureTold = false;  // under FClipMutex
  // The ClipCopyMessage of the session whose secret is on the clipboard.
  std::atomic<bool> FClipNotify{true};
  std::chrono::milliseconds FClipInterval;
  // Last: its thread stops before the members its handler uses go away.
  TKofTimer FClipboardTimer;
};

}  // namespace kof
