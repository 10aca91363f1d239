#pragma once
// The plugin object the library creates, and the host's panel.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/PluginKofCommon5.h"

namespace kof {

class TKofSessionsFolder;

class TTotalCmdKofPlugin : public TCommonKofPlugin {
 public:
  TTotalCmdKofPlugin(TPluginType pluginType, int globalNumber);
  ~TTotalCmdKofPlugin() override;

  // FsInitW after the callbacks were stored: false when the configuration failed.
  bool Init(const std::string& moduleFileName) KOF_REQUIRES(Lock());

  // The operations behind the exports, each with the path the export parsed.
  TFindOutcome FindFirst(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd) KOF_REQUIRES(Lock());
  bool FindNext(TFindHandle handle, wfx::WIN32_FIND_DATAW& fd) KOF_REQUIRES(Lock());
  int FindClose(TFindHandle handle) KOF_REQUIRES(Lock());
  TCodeOutcome GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags,
                       wfx::RemoteInfoStruct* info) KOF_REQUIRES(Lock());
  TCodeOutcome PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags)
      KOF_REQUIRES(Lock());
  TDoneOutcome DeleteFile(int mode, const TKofHostPath& remote) KOF_REQUIRES(Lock());
  TDoneOutcome MakeDirectory(int mode, const TKofHostPath& dir) KOF_REQUIRES(Lock());
  TDoneOutcome RemoveDir(int mode, const TKofHostPath& dir) KOF_REQUIRES(Lock());
  TCodeOutcome RenMovFile(const TKofHostPath& oldName, const TKofHostPath& newName, bool move, bool overwrite,
                          wfx::RemoteInfoStruct* info) KOF_REQUIRES(Lock());
  TCodeOutcome Execute(uint64_t window, const TKofHostPath& remote, TVerbType verb, std::string& newRemote)
      KOF_REQUIRES(Lock());
  // Text typed on the host's command line while in the plugin ("quote <text>");
  // remote is the folder it was typed in.
  TCodeOutcome ExecuteCommandLine(uint64_t window, const TKofHostPath& remote, std::string_view text,
                                  std::string& newRemote) KOF_REQUIRES(Lock());
  // The icon of an entry by resource name; empty: the host's default.
  std::string IconName(const TKofHostPath& remote, int flags) KOF_REQUIRES(Lock());
  void StatusInfo(const TKofHostPath& dir, TFileSysStatus operation, bool start) KOF_REQUIRES(Lock());

  std::unique_ptr<TPluginKofCommonPanel> CreatePanel(const std::string& panelName) override;
  bool ShowMessageDlg(std::string_view title, std::string_view message, uint32_t flags) override;

  TFindHandle GlobalPluginHandle();
  std::string RootName() const;
  std::string GlobalNumberStr() const;
  const TcVersion& Version() const { return FVersion; }
  void SetVersion(const TcVersion& value) { FVersion = value; }
  const std::string& Help1() const { return FHelp1; }
  const std::string& Help2() const { return FHelp2; }
  bool Deleting() const { return FDeleting; }
  bool PutPanel() const { return FPutPanel; }
  bool GetPanel() const { return FGetPanel; }
  bool SearchPanel() const { return FSearchPanel; }
  bool RenMovOp() { return OperationLog().RenMovOp; }
  bool Renaming() const { return FRenaming; }
  bool Moving() const { return FMoving; }
  void SetMoving(bool value) { FMoving = value; }
  void SetRenaming(bool value) { FRenaming = value; }
  // Full paths of the boxes the running move created in its target.
  std::vector<std::string>& HeldBoxes() { return FHeldBoxes; }
  TFindHandle SessionHandle() const { return FSessionHandle; }
  void SetGlobalPluginHandle(TFindHandle value) { FGlobalPluginHandle = value; }

  void Disconnect();

 private:
  void InitResources();
  // The stored configuration and sessions, the store's notices, and the diagnostic log as configured.
  void ReadConfiguration() KOF_REQUIRES(Lock());
  bool SessionsFolderBusy() const;
  TFindHandle ListSessionsFolder(wfx::WIN32_FIND_DATAW& fd);
  TKofListing FindFirstInPanel(int mode, TPluginKofCommonPanel& panel, const TKofHostPath& path,
                               wfx::WIN32_FIND_DATAW& fd);
  TKofListing Reconnect(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd);
  // What the host gets from a listing, after the user was told why it failed.
  TFindOutcome Told(const TKofListing& listing);
  TPluginKofCommonPanel* RoutedPanel(const TKofHostPath& path);
  void TrimPanelsAfterTransfer(const std::string& local);
  TCodeOutcome ExecuteInPanel(uint64_t window, const TKofHostPath& remote, TVerbType verb, std::string& newRemote);
  int ExecuteSessionsFolder(uint64_t window, const TKofHostPath& remote, TVerbType verb, std::string& newRemote);
  int ExecuteOpenSession(uint64_t window, const TKofHostPath& remote, std::string& newRemote);
  int ExecuteLogout(const TKofHostPath& remote, std::string& newRemote);
  int ShowPluginProperties();

  int FGlobalNumber;
  TcVersion FVersion;
  bool FDeleting = false;
  bool FRemovePanel = false;
  bool FPutPanel = false;
  bool FGetPanel = false;
  bool FSearchPanel = false;
  bool FMoving = false;
  bool FRenaming = false;
  TFindHandle FGlobalPluginHandle = 0;
  TFindHandle FSessionHandle = kNoHandle;
  std::string FHelp1;
  std::string FHelp2;
  std::unique_ptr<TKofSessionsFolder> FSessionsFolder;
  std::vector<std::string> FHeldBoxes;
  // The folder a command-line logout was typed in: the host lists it once more
  // before it follows the plugin to the sessions folder.
  std::string FLoggedOutFolder;
};

}  // namespace kof
