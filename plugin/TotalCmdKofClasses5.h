#pragma once
// The plugin object the library creates, and the host's panel.
#include <memory>
#include <string>
#include <string_view>

#include "plugin/PluginKofCommon5.h"

namespace kof {

class TKofSessionsFolder;

class TTotalCmdKofPlugin : public TCommonKofPlugin {
 public:
  TTotalCmdKofPlugin(TPluginType pluginType, int globalNumber);
  ~TTotalCmdKofPlugin() override;

  // FsInitW after the callbacks were stored: false when the configuration failed.
  bool Init(const std::string& moduleFileName);

  TFindHandle FindFirst(int mode, const std::string& path, wfx::WIN32_FIND_DATAW& fd);
  bool FindNext(TFindHandle handle, wfx::WIN32_FIND_DATAW& fd);
  int FindClose(TFindHandle handle);
  int GetFile(int mode, const std::string& remote, const std::string& local, int flags, wfx::RemoteInfoStruct* info);
  int PutFile(int mode, const std::string& local, const std::string& remote, int flags);
  bool DeleteFile(int mode, const std::string& remote);
  bool MakeDirectory(int mode, const std::string& dir);
  bool RemoveDir(int mode, const std::string& dir);
  int RenMovFile(const std::string& oldName, const std::string& newName, bool move, bool overwrite,
                 wfx::RemoteInfoStruct* info);
  int Execute(uint64_t window, const std::string& remote, TVerbType verb, std::string& newRemote);
  // Text typed on the host's command line while in the plugin ("quote <text>");
  // remote is the folder it was typed in.
  int ExecuteCommandLine(uint64_t window, const std::string& remote, std::string_view text, std::string& newRemote);
  int GetIcon(const std::string& remote, int flags);
  void StatusInfo(const std::string& dir, TFileSysStatus operation, bool start);

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
  bool RenMovOp() const { return FRenMovOp; }
  bool Renaming() const { return FRenaming; }
  void SetRenaming(bool value) { FRenaming = value; }
  TFindHandle SessionHandle() const { return FSessionHandle; }
  void SetGlobalPluginHandle(TFindHandle value) { FGlobalPluginHandle = value; }

  void Disconnect();

 private:
  void InitResources();
  bool SessionsFolderBusy() const;
  TFindHandle ListSessionsFolder(wfx::WIN32_FIND_DATAW& fd);
  TFindHandle FindFirstInPanel(int mode, TPluginKofCommonPanel& panel, const std::string& path,
                               wfx::WIN32_FIND_DATAW& fd);
  TFindHandle Reconnect(int mode, const std::string& path, const std::string& panelName, wfx::WIN32_FIND_DATAW& fd);
  TPluginKofCommonPanel* RoutedPanel(const TRoutedPath& route);
  void TrimPanelsAfterTransfer(const std::string& local);
  int ExecuteSessionsFolder(uint64_t window, const std::string& remote, TVerbType verb, std::string& newRemote);
  int ExecuteOpenSession(uint64_t window, const std::string& remote, std::string& newRemote);
  int ExecuteLogout(const TRoutedPath& route, std::string& newRemote);
  int ShowPluginProperties();

  int FGlobalNumber;
  TcVersion FVersion;
  bool FDeleting = false;
  bool FRemovePanel = false;
  bool FPutPanel = false;
  bool FGetPanel = false;
  bool FSearchPanel = false;
  bool FRenMovOp = false;
  bool FMoving = false;
  bool FRenaming = false;
  TFindHandle FGlobalPluginHandle = 0;
  TFindHandle FSessionHandle = kNoHandle;
  std::string FHelp1;
  std::string FHelp2;
  std::unique_ptr<TKofSessionsFolder> FSessionsFolder;
  // The folder a command-line logout was typed in: the host lists it once more
  // before it follows the plugin to the sessions folder.
  std::string FLoggedOutFolder;
};

}  // namespace kof
