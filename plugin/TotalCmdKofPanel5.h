#pragma once
// The host's panel: the find-data records of a listing with the entries the
// plugin adds (accessories, bin), and the verbs on them.
#include <memory>
#include <string>
#include <vector>

#include "model/KofObjects.h"
#include "plugin/KofExternalFiles.h"
#include "plugin/KofTransfers.h"
#include "plugin/KofTreeOps.h"
#include "plugin/PluginKofClasses5.h"
#include "plugin/WfxAbi.h"

namespace kof {

class TTotalCmdKofPlugin;

class TTotalCmdKofPanel : public TPluginKofPanel {
 public:
  TTotalCmdKofPanel(TTotalCmdKofPlugin& owner, int number, std::string panelName, TFindHandle pluginHandle);

  bool LoginSession(int mode, const std::string& sessionName, TLoginOptions options) override;
  TFileSysStatus ListOperation() const override { return FOperation == fsoNone ? fsoList : FOperation; }
  TKofListing FindFirst(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd, bool readItems) override;
  bool FindNext(wfx::WIN32_FIND_DATAW& fd) override;
  TCodeOutcome GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags,
                       wfx::RemoteInfoStruct* info) override;
  TCodeOutcome PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags) override;
  TCodeOutcome Execute(uint64_t window, const TKofHostPath& remote, TVerbType verb, std::string& newRemote) override;
  void StatusInfo(const TKofHostPath& dir, TFileSysStatus operation, bool start) override;
  TDoneOutcome DeleteFile(int mode, const TKofHostPath& remote) override { return FTree.DeleteFile(mode, remote); }
  TDoneOutcome MakeDirectory(int mode, const TKofHostPath& dir) override { return FTree.MakeDirectory(mode, dir); }
  TDoneOutcome RemoveDir(int mode, const TKofHostPath& dir) override { return FTree.RemoveDir(mode, dir); }
  TKofTreeOps& Tree() { return FTree; }
  // During a delete: the stack back in the folder the delete started in.
  void RestoreDeleteLevel();
  TKofExternalFiles& ExternalFiles() { return FExternal; }

  // "__Logout Session__": the connection ends, the panel stays until the plugin frees it.
  void LogoutSession() override { Logout(); }
  std::string ServerInfoText() const;

 private:
  // The copies use the panel's level stack, prompts and clipboard.
  friend class TKofTransfers;
  friend class TKofTreeOps;
  friend class TKofExternalFiles;
  TTotalCmdKofPlugin& Plugin() const { return FPlugin; }
  TFindHandle ListAccessories(wfx::WIN32_FIND_DATAW& fd);
  TKofListing ListBin(wfx::WIN32_FIND_DATAW& fd);
  TKofListing ReadItems(int mode, wfx::WIN32_FIND_DATAW& fd);
  void QueueSpecialFolders();
  TFindHandle FirstQueued(wfx::WIN32_FIND_DATAW& fd);
  // The deleted item the bin listed last under this entry name.
  const TDeletedItem* ListedBinItem(std::string_view entry) const;
  void FillBinEntry(wfx::WIN32_FIND_DATAW& fd, const TDeletedItem& item) const;
  int ExecuteBin(const std::string& entry, TVerbType verb, std::string& newRemote);
  // The mapping entry: the rules read again and shown.
  int ExecuteMapping(const TKofHostPath& remote, std::string& newRemote);
  TCodeOutcome OpenPasswordRecord(std::int32_t id);
  // The record's password to the clipboard, after the access code was asked with PROMPT.
  void CopyRecordPassword(std::int32_t id, const std::string& prompt);
  bool CopyPasswordToClipboard(const TKofRecord& record);
  // Alt+Enter on a record, safe box or group of the current level.
  int EditProperties(uint64_t window, const TKofObject& object);
  // The settings of the logged-in session (its connection stays).
  void EditSessionSettings();
  bool DisplayHelpFolders() const;
  // Zeroes what the operation log counted, before an operation and after one that needs no report.
  void ClearCounters();
  void ReportOperation(TReportForm form);
  // The walk of a multi-file, rename/move or search operation: its start is
  // remembered, and its end brings the stack back there.
  void BeginWalk();
  // READ: the start folder is read again, as the operation changed it.
  void EndWalk(bool read);
  // Moves the stack to DIR of this session (READ: and reads it), never logging in.
  void ReturnTo(const std::string& dir, bool read);

  TTotalCmdKofPlugin& FPlugin;
  bool FSearching = false;
  // The mapping dialog opens as the user left it.
  bool FMappingEvaluated = false;
  // Where the running walk started, and where the running delete did.
  std::string FWalkStart;
  std::string FDeleteStart;
  // The records of the last listing and the next one FindNext returns.
  std::vector<wfx::WIN32_FIND_DATAW> FRecords;
  std::size_t FItemIdx = 0;
  // Entries still owed after the records, returned from the back.
  std::vector<wfx::WIN32_FIND_DATAW> FKOFHelpList;
  // The deleted items the bin showed last.
  TDeletedItemList FInfoKOFTrashList;
  TKofExternalFiles FExternal{*this};
  TKofTransfers FTransfers{*this};
  TKofTreeOps FTree{*this};
};

}  // namespace kof
