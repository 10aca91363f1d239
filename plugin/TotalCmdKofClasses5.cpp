#include "plugin/TotalCmdKofClasses5.h"

#include "platform/KofLastError.h"
#include "plugin/KofSessionsFolder.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "plugin/TotalCmdKofPanel5.h"
#include "resources/KofResources.h"
#include "sessions/PluginKofConfiguration5.h"
#include "sessions/PluginKofSessions5.h"
#include "platform/KofRegistry.h"
#include "support/KofText.h"

namespace kof {
namespace {

bool IsRoot(const TRoutedPath& r) { return r.PanelName.empty(); }

constexpr const char* kCommandLineHelp =
    "Commands: \"logout\" ends the session, \"reload\" reads the sessions (or the session's settings) again "
    "and lists the folder anew.";

std::string StripTrailingDelimiter(std::string path) {
  if (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

// ---------------------------------------------------------------------------
TTotalCmdKofPlugin::TTotalCmdKofPlugin(TPluginType pluginType, int globalNumber)
    : FGlobalNumber(globalNumber), FSessionsFolder(std::make_unique<TKofSessionsFolder>(*this)) {
  FPluginType = pluginType;
  FLastUsedPanelIndex = -1;
}

TTotalCmdKofPlugin::~TTotalCmdKofPlugin() {
  std::lock_guard guard(Lock());
  Disconnect();
  SetNumber(0);
}

void TTotalCmdKofPlugin::InitResources() {
  FHelp1 = std::string(FindResource("Help1"));
  FHelp2 = std::string(FindResource("Help2"));
}

bool TTotalCmdKofPlugin::Init(const std::string& moduleFileName) {
  SetModule(moduleFileName);
  InitResources();
  // An empty store (a new user, or a document moved aside as corrupt) is a
  // working start, not a failure: the user creates or imports sessions from it.
  Cfg().Init();
  for (const std::string& notice : TakeRegistryNotices()) ShowMessageDlg("Koffra configuration", notice, 0x10000);
  return true;
}

TFindHandle TTotalCmdKofPlugin::GlobalPluginHandle() {
  ++FGlobalPluginHandle;
  if (FGlobalPluginHandle > kMaxGlobalHandle) FGlobalPluginHandle = 1;
  return FGlobalPluginHandle;
}

std::string TTotalCmdKofPlugin::GlobalNumberStr() const {
  return FGlobalNumber > 0 ? std::to_string(FGlobalNumber) : std::string();
}

std::string TTotalCmdKofPlugin::RootName() const { return "Koffra5" + GlobalNumberStr(); }

std::unique_ptr<TPluginKofCommonPanel> TTotalCmdKofPlugin::CreatePanel(const std::string& panelName) {
  return std::make_unique<TTotalCmdKofPanel>(*this, Number(), panelName, GlobalPluginHandle());
}

bool TTotalCmdKofPlugin::ShowMessageDlg(std::string_view title, std::string_view message, uint32_t flags) {
  const uint32_t kind = (flags >> 16) & 0xFF;
  const int requestType = kind == 0x01 ? wfx::RT_MsgOK
                          : (kind == 0x03 || kind == 0x04) ? wfx::RT_MsgYesNo
                                                           : wfx::RT_MsgOKCancel;
  ClipLock(true);
  SecureString none;
  const bool answer = RequestText(requestType, title, message, none, 0);
  ClipLock(false);
  return answer;
}

void TTotalCmdKofPlugin::Disconnect() {
  ClearClipboard();
  FreePanels();
}

bool TTotalCmdKofPlugin::SessionsFolderBusy() const {
  return (FDeleting && FRemovePanel) || FPutPanel || FGetPanel || FSearchPanel;
}

TPluginKofCommonPanel* TTotalCmdKofPlugin::RoutedPanel(const TRoutedPath& route) {
  const int index = Panels().IndexOf(route.PanelName);
  if (index < 0) return nullptr;
  FLastUsedPanelIndex = index;
  return Panels().GetPanel(index);
}

// ---------------------------------------------------------------------------
// Listing

TFindHandle TTotalCmdKofPlugin::ListSessionsFolder(wfx::WIN32_FIND_DATAW& fd) {
  FLoggedOutFolder.clear();
  FSessionsFolder->StartListing();
  FillHelpEntry(fd, FHelp1.size());
  FSessionHandle = GlobalPluginHandle();
  return FSessionHandle;
}

TFindHandle TTotalCmdKofPlugin::FindFirstInPanel(int mode, TPluginKofCommonPanel& panel, const std::string& path,
                                                 wfx::WIN32_FIND_DATAW& fd) {
  // A path the stack cannot reach lists nothing, not what an earlier listing left behind.
  if (!panel.MatchLevelTo(mode, path, panel.ListOperation())) {
    SetLastError(wfx::ERROR_NO_MORE_FILES);
    return kNoHandle;
  }
  if (panel.FindFirst(mode | kModeSilent, path, fd, true) != kNoHandle) return panel.PluginHandle();
  if (GetLastError() != wfx::ERROR_NO_MORE_FILES) {
    SetLastError(wfx::ERROR_NO_MORE_FILES);
    return kNoHandle;
  }
  return panel.FindNext(fd) ? panel.PluginHandle() : kNoHandle;
}

TFindHandle TTotalCmdKofPlugin::Reconnect(int mode, const std::string& path, const std::string& panelName,
                                          wfx::WIN32_FIND_DATAW& fd) {
  const std::string sessionName = FSessionsFolder->SessionNameFor(panelName);
  if (sessionName.empty()) {
    FillGotoSessionsEntry(fd);
    return kGotoSessionsHandle;
  }
  std::unique_ptr<TPluginKofCommonPanel> panel = CreatePanel(panelName);
  if (!panel->LoginSession(0, sessionName, {.GotoRoot = true, .Silent = false})) {
    FillGotoSessionsEntry(fd);
    return kGotoSessionsHandle;
  }
  panel->SetLevel(fslRoot);
  TPluginKofCommonPanel& walker = *panel;
  // The login stands even when the rest of the path does not exist any more:
  // dropping it would only ask for the password again at the next listing.
  FLastUsedPanelIndex = Panels().Add(panelName, std::move(panel));
  // Walk down from the session root, one component at a time, as a host would.
  TFindHandle result = kNoHandle;
  std::string partial;
  for (const std::string& part : SplitHostPath(path)) {
    partial += "\\" + part;
    result = FindFirstInPanel(mode, walker, partial, fd);
    if (result == kNoHandle) break;
  }
  return result;
}

TFindHandle TTotalCmdKofPlugin::FindFirst(int mode, const std::string& path, wfx::WIN32_FIND_DATAW& fd) {
  if (SessionsFolderBusy()) {
    SetLastError(wfx::ERROR_NO_MORE_FILES);
    return kNoHandle;
  }
  std::lock_guard guard(Lock());
  const std::string full = StripTrailingDelimiter(path);
  const TRoutedPath route = RoutePath(full, true);
  if (IsRoot(route)) return ListSessionsFolder(fd);
  if (!FLoggedOutFolder.empty() && SameText(full, FLoggedOutFolder)) {
    // That listing is no reason to log in again.
    FLoggedOutFolder.clear();
    SetLastError(wfx::ERROR_NO_MORE_FILES);
    return kNoHandle;
  }
  if (TPluginKofCommonPanel* panel = RoutedPanel(route)) {
    // A logged-out panel still lists its accessories (the host re-reads the folder it
    // left by "__Logout Session__"); any other path of the session logs in again.
    if (panel->Connected() || EndsText("\\" + std::string(kAccessoriesEntry), full))
      return FindFirstInPanel(mode, *panel, full, fd);
    Panels().Delete(FLastUsedPanelIndex);
    FLastUsedPanelIndex = -1;
  }
  return Reconnect(mode, full, route.PanelName, fd);
}

bool TTotalCmdKofPlugin::FindNext(TFindHandle handle, wfx::WIN32_FIND_DATAW& fd) {
  std::lock_guard guard(Lock());
  if (handle == FSessionHandle) return FSessionsFolder->NextEntry(fd);
  for (int i = Panels().Count() - 1; i >= 0; --i) {
    TPluginKofCommonPanel* panel = Panels().GetPanel(i);
    if (panel->PluginHandle() == handle) return panel->FindNext(fd);
  }
  return false;
}

int TTotalCmdKofPlugin::FindClose(TFindHandle) {
  std::lock_guard guard(Lock());
  FSessionHandle = kNoHandle;
  FLastUsedPanelIndex = -1;
  return 0;
}

// ---------------------------------------------------------------------------
// Transfers

void TTotalCmdKofPlugin::TrimPanelsAfterTransfer(const std::string& local) {
  // The other side of such a copy is a local folder, so no other session is on screen.
  if (Panels().Count() >= 2 && !CopyFromToTempDir(local, false)) {
    const int index = FLastUsedPanelIndex;
    const std::string name = Panels().GetPanel(index) ? Panels().NameAt(index) : std::string();
    FLastUsedPanelIndex = Panels().Refresh(index, name, "");
  }
}

int TTotalCmdKofPlugin::GetFile(int mode, const std::string& remote, const std::string& local, int flags,
                                wfx::RemoteInfoStruct* info) {
  std::lock_guard guard(Lock());
  if (SameText(remote, "\\" + std::string(kHelpEntry)))
    return FSessionsFolder->WriteHelp(FHelp1, local, flags);
  if (Contains(remote, kHelpEntry)) return FSessionsFolder->WriteHelp(FHelp2, local, flags);
  if (Contains(remote, kGotoSessionsEntry) || Contains(local, kGotoSessionsEntry))
    return FSessionsFolder->WriteNotice(local, "Press Enter on this entry to go to the Sessions folder");
  if (Contains(remote, kLogoutEntry) || Contains(local, kLogoutEntry))
    return FSessionsFolder->WriteNotice(local, "Press Enter on this entry to logout of the Session");

  const TRoutedPath route = RoutePath(remote, true);
  if (IsRoot(route)) return FSessionsFolder->Export(route.PanelPath, local, flags);
  TPluginKofCommonPanel* panel = RoutedPanel(route);
  if (!panel) return wfx::FS_FILE_NOTFOUND;
  const int result = panel->GetFile(mode, route.PanelPath, local, flags, info);
  TrimPanelsAfterTransfer(local);
  return result;
}

int TTotalCmdKofPlugin::PutFile(int mode, const std::string& local, const std::string& remote, int flags) {
  std::lock_guard guard(Lock());
  const TRoutedPath route = RoutePath(remote, false);
  if (IsRoot(route)) return FSessionsFolder->Import(local, route.PanelPath, flags);
  TPluginKofCommonPanel* panel = RoutedPanel(route);
  if (!panel) return wfx::FS_FILE_WRITEERROR;
  const int result = panel->PutFile(mode, local, route.PanelPath, flags);
  TrimPanelsAfterTransfer(local);
  return result;
}

// ---------------------------------------------------------------------------
// Tree maintenance

bool TTotalCmdKofPlugin::DeleteFile(int mode, const std::string& remote) {
  if (Contains(remote, "\\" + std::string(kAccessoriesEntry) + "\\") || EndsWith(remote, kGotoSessionsEntry))
    return true;
  std::lock_guard guard(Lock());
  const TRoutedPath route = RoutePath(remote, true);
  if (IsRoot(route)) return FSessionsFolder->Delete(route.PanelPath);
  TPluginKofCommonPanel* panel = RoutedPanel(route);
  if (!panel) return false;
  return panel->DeleteFile(mode, route.PanelPath);
}

bool TTotalCmdKofPlugin::MakeDirectory(int mode, const std::string& dir) {
  const bool readOnly = Cfg().SessionManager().ReadOnly();
  if (FPutPanel || readOnly) {
    if (readOnly) {
      SecureString none;
      RequestText(wfx::RT_MsgOK, dir, "Not allowed to add a session here", none, 0);
    }
    SetLastError(wfx::ERROR_WRITE_PROTECT);
    return false;
  }
  if (EndsWith(dir, kAccessoriesEntry) || EndsWith(dir, kBinEntry)) return true;
  std::lock_guard guard(Lock());
  const TRoutedPath route = RoutePath(dir, true);
  if (IsRoot(route)) {
    // The sessions folder itself holds no safe boxes.
    SetLastError(wfx::ERROR_ACCESS_DENIED);
    return false;
  }
  TPluginKofCommonPanel* panel = RoutedPanel(route);
  if (!panel) return route.PanelPath.empty() && FSessionsFolder->NewSession(route.PanelName);
  if (panel->NoneAction()) {
    SetLastError(wfx::ERROR_INVALID_LEVEL);
    return false;
  }
  return panel->MakeDirectory(mode, route.PanelPath);
}

bool TTotalCmdKofPlugin::RemoveDir(int mode, const std::string& dir) {
  if (EndsWith(dir, kHelpEntry) || EndsWith(dir, "\\" + std::string(kAccessoriesEntry)) ||
      EndsWith(dir, "\\" + std::string(kBinEntry)) || FDeleting)
    return true;
  std::lock_guard guard(Lock());
  const TRoutedPath route = RoutePath(dir, true);
  TPluginKofCommonPanel* panel = IsRoot(route) ? nullptr : RoutedPanel(route);
  if (!panel) return false;
  return panel->RemoveDir(mode, route.PanelPath, dir);
}

int TTotalCmdKofPlugin::RenMovFile(const std::string& oldName, const std::string& newName, bool move,
                                   bool overwrite, wfx::RemoteInfoStruct*) {
  FRenaming = false;
  if (Progress(oldName, newName, 0)) return wfx::FS_FILE_USERABORT;
  if (EndsWith(oldName, kHelpEntry)) return wfx::FS_FILE_OK;
  std::lock_guard guard(Lock());
  const TRoutedPath source = RoutePath(oldName, true);
  const TRoutedPath target = RoutePath(newName, false);
  if ((!IsRoot(source) && Panels().IndexOf(source.PanelName) < 0) ||
      (!IsRoot(target) && Panels().IndexOf(target.PanelName) < 0))
    return wfx::FS_FILE_NOTFOUND;
  int result = wfx::FS_FILE_NOTSUPPORTED;
  if (IsRoot(source) && IsRoot(target)) {
    result = FSessionsFolder->RenMov(source.PanelPath, target.PanelPath, move, overwrite);
    if (result == wfx::FS_FILE_OK && move) FRenaming = true;
  }
  if (result == wfx::FS_FILE_OK && Progress(oldName, newName, 100)) return wfx::FS_FILE_USERABORT;
  if (result != wfx::FS_FILE_EXISTS && Panels().Count() > 2)
    FLastUsedPanelIndex = Panels().Refresh(FLastUsedPanelIndex, source.PanelName, target.PanelName);
  return result;
}

// ---------------------------------------------------------------------------
// Execute, icons, status

int TTotalCmdKofPlugin::ExecuteOpenSession(uint64_t window, const std::string& remote, std::string& newRemote) {
  SetCurHandle(window);
  const std::string sessionName = FSessionsFolder->SessionNameForEntry(remote);
  if (sessionName.empty()) return wfx::FS_EXEC_OK;
  const int existing = Panels().IndexOf(sessionName);
  if (existing >= 0) {
    TPluginKofCommonPanel* old = Panels().GetPanel(existing);
    if (old->Connected() &&
        !ShowMessageDlg("Session",
                        "Session \"" + sessionName +
                            "\" is already connected to Koffra. Disconnect, initialize and reuse it?\r\n\r\n"
                            "WARNING: If the session is visible in the opposite panel, its reinitialization may "
                            "cause slower work with Koffra or unexpected behavior.",
                        0x40009))
      return wfx::FS_EXEC_OK;
    Panels().Delete(existing);
    FLastUsedPanelIndex = -1;
  }
  std::unique_ptr<TPluginKofCommonPanel> panel = CreatePanel(sessionName);
  if (!panel->LoginSession(0, sessionName, {.GotoRoot = true, .Silent = false})) return wfx::FS_EXEC_OK;
  FLastUsedPanelIndex = Panels().Add(sessionName, std::move(panel));
  newRemote = CutToUtf16Units("\\" + sessionName, wfx::kMaxPath);
  return wfx::FS_EXEC_SYMLINK;
}

int TTotalCmdKofPlugin::ExecuteSessionsFolder(uint64_t window, const std::string& remote, TVerbType verb,
                                              std::string& newRemote) {
  if (SameText(remote, "\\" + std::string(kHelpEntry))) {
    if (verb != vtOpen) return wfx::FS_EXEC_OK;
    newRemote = "\\";
    return wfx::FS_EXEC_SYMLINK;
  }
  if (EndsWith(remote, kGotoSessionsEntry)) return wfx::FS_EXEC_OK;
  // The host's "configure plugin" asks for the properties of the root.
  if (verb == vtProperties && remote == "\\") return ShowPluginProperties();
  if (verb == vtOpen && EndsText(kPanelExt, remote)) return ExecuteOpenSession(window, remote, newRemote);
  if (verb == vtProperties) {
    SetCurHandle(window);
    return FSessionsFolder->Properties(remote);
  }
  return wfx::FS_EXEC_OK;
}

int TTotalCmdKofPlugin::Execute(uint64_t window, const std::string& remote, TVerbType verb, std::string& newRemote) {
  std::lock_guard guard(Lock());
  if (window != MainHandle()) SetMainHandle(window);
  if (verb == vtCmdLine) return wfx::FS_EXEC_OK;
  const TRoutedPath route = RoutePath(remote, true);
  if (verb == vtOpen && !IsRoot(route) && (EndsWith(remote, kLogoutEntry) || EndsWith(remote, kGotoSessionsEntry)))
    return ExecuteLogout(route, newRemote);
  if (IsRoot(route) || SameText(remote, "\\" + std::string(kHelpEntry)))
    return ExecuteSessionsFolder(window, remote, verb, newRemote);
  TPluginKofCommonPanel* panel = RoutedPanel(route);
  if (!panel) {
    SetLastError(wfx::ERROR_NO_MORE_FILES);
    return wfx::FS_EXEC_ERROR;
  }
  if (panel->NoneAction()) {
    SetLastError(wfx::ERROR_INVALID_LEVEL);
    return wfx::FS_EXEC_ERROR;
  }
  const std::size_t slash = remote.rfind('\\');
  if (!panel->MatchLevelTo(0, remote.substr(0, slash), fsoExec)) {
    if (verb == vtProperties) return 2;
    SetLastError(wfx::ERROR_NO_MORE_FILES);
    return wfx::FS_EXEC_ERROR;
  }
  return panel->Execute(window, remote, verb, newRemote);
}

int TTotalCmdKofPlugin::ExecuteLogout(const TRoutedPath& route, std::string& newRemote) {
  const int index = Panels().IndexOf(route.PanelName);
  if (index >= 0 && Panels().GetPanel(index)->Connected()) {
    Panels().GetPanel(index)->LogoutSession();
  } else if (index >= 0) {
    Panels().Delete(index);
    FLastUsedPanelIndex = -1;
  }
  ClearClipboard();
  newRemote = "\\";
  return wfx::FS_EXEC_SYMLINK;
}

int TTotalCmdKofPlugin::ShowPluginProperties() {
  const TKofPluginConfiguration& cfg = Cfg();
  const auto yesNo = [](bool value) { return std::string(value ? "yes" : "no"); };
  ShowMessageDlg(RootName(),
                 "Koffra plugin " + AppVersion() + ", built " + BuildTimeText() + "\r\n\r\nPlugin file:\t" + Module() +
                     "\r\nSettings and sessions:\t" + RegistryFilePath(TRegRoot::CurrentUser) +
                     "\r\nMachine-wide settings:\t" + RegistryFilePath(TRegRoot::LocalMachine) +
                     "\r\nSessions:\t" + std::to_string(cfg.SessionManager().Sessions().Count()) +
                     (cfg.ReadOnly() ? " (set machine-wide: read only)" : "") +
                     "\r\n\r\nAccess code kept for:\t" +
                     (cfg.AccessCodeTimeout() < 0 ? std::string("as each session sets it")
                                                  : std::to_string(cfg.AccessCodeTimeout()) + " s") +
                     "\r\nClipboard cleared after:\t" + std::to_string(cfg.ClipboardTimeoutSec()) +
                     " s\r\nAccessories folder shown:\t" + yesNo(cfg.DisplayHelpFolders()) +
                     "\r\nRecords editable:\t" + yesNo(cfg.EditableRecords()) +
                     "\r\n\r\nF7 in the sessions folder adds a session; Alt+Enter on a session changes its "
                     "connection.",
                 0x10000);
  return wfx::FS_EXEC_OK;
}

int TTotalCmdKofPlugin::ExecuteCommandLine(uint64_t window, const std::string& remote, std::string_view text,
                                           std::string& newRemote) {
  std::lock_guard guard(Lock());
  if (window != MainHandle()) SetMainHandle(window);
  const std::string folder = StripTrailingDelimiter(remote.empty() ? std::string("\\") : remote);
  const TRoutedPath route = RoutePath(folder, true);
  const std::string command = LowerCase(Trim(text));
  if (command == "logout") {
    if (IsRoot(route)) return wfx::FS_EXEC_OK;
    FLoggedOutFolder = folder;
    return ExecuteLogout(route, newRemote);
  }
  if (command == "reload") {
    // The sessions and settings as stored now (another host may have changed
    // them), or the session's own profile. On FS_EXEC_OK Double Commander lists
    // the folder again, which reads it from the server.
    if (IsRoot(route)) {
      Cfg().Init();
      for (const std::string& notice : TakeRegistryNotices()) ShowMessageDlg("Koffra configuration", notice, 0x10000);
    } else if (auto* panel = dynamic_cast<TPluginKofPanel*>(RoutedPanel(route))) {
      if (panel->CurrentSession()) panel->CurrentSession()->Reload();
    }
    return wfx::FS_EXEC_OK;
  }
  ShowMessageDlg("Command line", "\"" + Trim(text) + "\" is not a command of the plugin. " + kCommandLineHelp, 0x10000);
  return wfx::FS_EXEC_OK;
}

int TTotalCmdKofPlugin::GetIcon(const std::string& remote, int flags) {
  std::lock_guard guard(Lock());
  const TRoutedPath route = RoutePath(remote, true);
  if (IsRoot(route)) return wfx::FS_ICON_USEDEFAULT;  // icons come with the resources of a later version
  TPluginKofCommonPanel* panel = RoutedPanel(route);
  if (!panel || panel->NoneAction()) return wfx::FS_ICON_USEDEFAULT;
  return panel->GetIcon(route.PanelPath, flags);
}

void TTotalCmdKofPlugin::StatusInfo(const std::string& dir, TFileSysStatus operation, bool start) {
  std::lock_guard guard(Lock());
  if (dir == "\\") {
    switch (operation) {
      case fsoGetSingle:
      case fsoGetMulti:
      case fsoGetMultiThread: FGetPanel = start; break;
      case fsoPutSingle:
      case fsoPutMulti:
      case fsoPutMultiThread: FPutPanel = start; break;
      case fsoDelete:
        FDeleting = start;
        FRemovePanel = start;
        break;
      case fsoSearch: FSearchPanel = start; break;
      default: break;
    }
    return;
  }
  const TRoutedPath route = RoutePath(dir, true);
  if (operation == fsoRenMovSingle || operation == fsoRenMovMulti) FRenMovOp = start;
  if (TPluginKofCommonPanel* panel = IsRoot(route) ? nullptr : RoutedPanel(route))
    panel->StatusInfo(dir, operation, start);
}

}  // namespace kof
