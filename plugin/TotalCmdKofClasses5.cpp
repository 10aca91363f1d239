#include "plugin/TotalCmdKofClasses5.h"

#include "plugin/KofIconChoice.h"
#include "plugin/KofSessionsFolder.h"
#include "plugin/KofTreeOps.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "plugin/TotalCmdKofPanel5.h"
#include "resources/KofResources.h"
#include "sessions/PluginKofConfiguration5.h"
#include "sessions/PluginKofSessions5.h"
#include "platform/KofRegistry.h"
#include "support/KofDebug.h"
#include "support/KofText.h"

namespace kof {
namespace {

// A local file the host names after one of the plugin's entries (its copy of the entry).
bool LocalNames(std::string_view local, std::string_view entry) { return local.find(entry) != std::string_view::npos; }

constexpr const char* kCommandLineHelp =
    "Commands: \"logout\" ends the session, \"reload\" reads the sessions (or the session's settings) again "
    "and lists the folder anew.";

TFindOutcome Listed(TFindHandle handle) {
  return handle == kNoHandle ? TFindOutcome{kNoHandle, wfx::ERROR_NO_MORE_FILES} : TFindOutcome{handle};
}

}  // namespace

// ---------------------------------------------------------------------------
TTotalCmdKofPlugin::TTotalCmdKofPlugin(TPluginType pluginType, int globalNumber)
    : FGlobalNumber(globalNumber), FSessionsFolder(std::make_unique<TKofSessionsFolder>(*this)) {
  FPluginType = pluginType;
  FLastUsedPanelIndex = -1;
}

TTotalCmdKofPlugin::~TTotalCmdKofPlugin() {
  // Unloading is the one way in that does not pass an export.
  TKofHold hold(Lock());
  Disconnect();
  SetNumber(0);
  SetLogWriter(nullptr);
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
  ReadConfiguration();
  ReloadSubstitutions();
  return true;
}

void TTotalCmdKofPlugin::ReadConfiguration() {
  Cfg().Init();
  for (const std::string& notice : TakeRegistryNotices()) ShowMessageDlg("Koffra configuration", notice, 0x10000);
  if (const std::string problem = Cfg().ApplyDiagnosticLog(); !problem.empty())
    ShowMessageDlg("Koffra configuration", problem, 0x10000);
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
  if (kind == 0x01) {
    Prompts().ShowMessage(title, message);
    return true;
  }
  if (kind == 0x03 || kind == 0x04) return Prompts().AskYesNo(title, message);
  return Prompts().AskOkCancel(title, message);
}

void TTotalCmdKofPlugin::Disconnect() {
  ClearClipboard();
  FreePanels();
}

bool TTotalCmdKofPlugin::SessionsFolderBusy() const {
  return (FDeleting && FRemovePanel) || FPutPanel || FGetPanel || FSearchPanel;
}

TPluginKofCommonPanel* TTotalCmdKofPlugin::RoutedPanel(const TKofHostPath& path) {
  const int index = Panels().IndexOf(path.PanelName());
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

TKofListing TTotalCmdKofPlugin::FindFirstInPanel(int mode, TPluginKofCommonPanel& panel, const TKofHostPath& path,
                                                 wfx::WIN32_FIND_DATAW& fd) {
  // A path the stack cannot reach lists nothing, not what an earlier listing left behind.
  TKofStep walk = panel.MatchLevelTo(mode, path, panel.ListOperation());
  if (!walk.Ok) return {kNoHandle, std::move(walk.Failure)};
  TKofListing listing = panel.FindFirst(mode | kModeSilent, path, fd, true);
  // A listing without entries of its own may still have the plugin's.
  if (listing.Handle != kNoHandle || panel.FindNext(fd)) listing.Handle = panel.PluginHandle();
  return listing;
}

TKofListing TTotalCmdKofPlugin::Reconnect(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd) {
  const std::string sessionName = FSessionsFolder->SessionNameFor(path.PanelName());
  if (sessionName.empty()) {
    FillGotoSessionsEntry(fd);
    return {kGotoSessionsHandle};
  }
  std::unique_ptr<TPluginKofCommonPanel> panel = CreatePanel(path.PanelName());
  if (!panel->LoginSession(0, sessionName, {.GotoRoot = true, .Silent = false})) {
    FillGotoSessionsEntry(fd);
    return {kGotoSessionsHandle};
  }
  panel->SetLevel(fslRoot);
  TPluginKofCommonPanel& walker = *panel;
  // The login stands even when the rest of the path does not exist any more:
  // dropping it would only ask for the password again at the next listing.
  FLastUsedPanelIndex = Panels().Add(path.PanelName(), std::move(panel));
  // Walk down from the session root, one component at a time, as a host would.
  TKofListing listing;
  for (std::size_t count = 1; count <= path.Parts().size(); ++count) {
    listing = FindFirstInPanel(mode, walker, path.Prefix(count), fd);
    if (listing.Handle == kNoHandle) break;
  }
  return listing;
}

TFindOutcome TTotalCmdKofPlugin::FindFirst(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd) {
  if (SessionsFolderBusy()) return Listed(kNoHandle);
  if (path.InSessionsFolder()) return Listed(ListSessionsFolder(fd));
  if (!FLoggedOutFolder.empty() && SameText(path.Canonical(), FLoggedOutFolder)) {
    // That listing is no reason to log in again.
    FLoggedOutFolder.clear();
    return Listed(kNoHandle);
  }
  if (TPluginKofCommonPanel* panel = RoutedPanel(path)) {
    // A logged-out panel still lists its accessories (the host re-reads the folder it
    // left by "__Logout Session__"); any other path of the session logs in again.
    if (panel->Connected() || path.Kind() == TPathKind::Accessories)
      return Told(FindFirstInPanel(mode, *panel, path, fd));
    Panels().Delete(FLastUsedPanelIndex);
    FLastUsedPanelIndex = -1;
  }
  return Told(Reconnect(mode, path, fd));
}

TFindOutcome TTotalCmdKofPlugin::Told(const TKofListing& listing) {
  // The host shows a listing that failed as an empty folder (or one with the
  // plugin's folders only): the user hears why here, once per listing.
  if (listing.Failure && !listing.Failure->Message.empty())
    Prompts().ShowMessage(listing.Failure->Title, listing.Failure->Message);
  return Listed(listing.Handle);
}

bool TTotalCmdKofPlugin::FindNext(TFindHandle handle, wfx::WIN32_FIND_DATAW& fd) {
  if (handle == FSessionHandle) return FSessionsFolder->NextEntry(fd);
  for (int i = Panels().Count() - 1; i >= 0; --i) {
    TPluginKofCommonPanel* panel = Panels().GetPanel(i);
    if (panel->PluginHandle() == handle) return panel->FindNext(fd);
  }
  return false;
}

int TTotalCmdKofPlugin::FindClose(TFindHandle) {
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

TCodeOutcome TTotalCmdKofPlugin::GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags,
                                         wfx::RemoteInfoStruct* info) {
  if (remote.Kind() == TPathKind::SessionsHelp) return {FSessionsFolder->WriteHelp(FHelp1, local, flags)};
  if (remote.IsHelp()) return {FSessionsFolder->WriteHelp(FHelp2, local, flags)};
  if (remote.Kind() == TPathKind::GotoSessions || LocalNames(local, kGotoSessionsEntry))
    return {FSessionsFolder->WriteNotice(local, "Press Enter on this entry to go to the Sessions folder")};
  if (remote.IsLogoutEntry() || LocalNames(local, kLogoutEntry))
    return {FSessionsFolder->WriteNotice(local, "Press Enter on this entry to logout of the Session")};

  if (remote.InSessionsFolder()) return {FSessionsFolder->Export(remote.PanelPath(), local, flags)};
  TPluginKofCommonPanel* panel = RoutedPanel(remote);
  if (!panel) return {wfx::FS_FILE_NOTFOUND};
  const TCodeOutcome result = panel->GetFile(mode, remote, local, flags, info);
  TrimPanelsAfterTransfer(local);
  return result;
}

TCodeOutcome TTotalCmdKofPlugin::PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags) {
  if (remote.InSessionsFolder()) return FSessionsFolder->Import(local, remote.PanelPath(), flags);
  TPluginKofCommonPanel* panel = RoutedPanel(remote);
  if (!panel) return {wfx::FS_FILE_WRITEERROR};
  const TCodeOutcome result = panel->PutFile(mode, local, remote, flags);
  TrimPanelsAfterTransfer(local);
  return result;
}

// ---------------------------------------------------------------------------
// Tree maintenance

TDoneOutcome TTotalCmdKofPlugin::DeleteFile(int mode, const TKofHostPath& remote) {
  if (remote.Kind() == TPathKind::Accessory || remote.Kind() == TPathKind::GotoSessions) return {true};
  if (remote.InSessionsFolder()) return {FSessionsFolder->Delete(remote.PanelPath())};
  TPluginKofCommonPanel* panel = RoutedPanel(remote);
  if (!panel) return {false};
  return panel->DeleteFile(mode, remote);
}

TDoneOutcome TTotalCmdKofPlugin::MakeDirectory(int mode, const TKofHostPath& dir) {
  const bool readOnly = Cfg().SessionManager().ReadOnly();
  if (FPutPanel || readOnly) {
    if (readOnly) Prompts().ShowMessage(dir.Full(), "Not allowed to add a session here");
    return {false, wfx::ERROR_WRITE_PROTECT};
  }
  if (dir.Kind() == TPathKind::Accessories || dir.Kind() == TPathKind::Bin) return {true};
  // The sessions folder itself holds no safe boxes.
  if (dir.InSessionsFolder()) return {false, wfx::ERROR_ACCESS_DENIED};
  TPluginKofCommonPanel* panel = RoutedPanel(dir);
  if (!panel) {
    if (!dir.PanelPath().empty()) return {false};
    return FSessionsFolder->NewSession(dir.PanelName());
  }
  if (panel->NoneAction()) return {false, wfx::ERROR_INVALID_LEVEL};
  return panel->MakeDirectory(mode, dir);
}

TDoneOutcome TTotalCmdKofPlugin::RemoveDir(int mode, const TKofHostPath& dir) {
  if (dir.IsHelp() || dir.Kind() == TPathKind::Accessories || dir.Kind() == TPathKind::Bin || FDeleting) return {true};
  TPluginKofCommonPanel* panel = dir.InSessionsFolder() ? nullptr : RoutedPanel(dir);
  if (!panel) return {false};
  const TDoneOutcome result = panel->RemoveDir(mode, dir);
  if (result.Value && RenMovOp()) ReleaseHeldBox(FHeldBoxes, dir.PanelPath());
  return result;
}

TCodeOutcome TTotalCmdKofPlugin::RenMovFile(const TKofHostPath& oldName, const TKofHostPath& newName, bool move,
                                            bool overwrite, wfx::RemoteInfoStruct*) {
  FRenaming = false;
  if (Progress(oldName.Full(), newName.Full(), 0)) return {wfx::FS_FILE_USERABORT};
  if (oldName.IsHelp()) return {wfx::FS_FILE_OK};
  if ((!oldName.InSessionsFolder() && Panels().IndexOf(oldName.PanelName()) < 0) ||
      (!newName.InSessionsFolder() && Panels().IndexOf(newName.PanelName()) < 0))
    return {wfx::FS_FILE_NOTFOUND};
  TCodeOutcome result{wfx::FS_FILE_NOTSUPPORTED};
  if (oldName.InSessionsFolder() && newName.InSessionsFolder()) {
    result = FSessionsFolder->RenMov(oldName.PanelPath(), newName.PanelPath(), move, overwrite);
    if (result.Value == wfx::FS_FILE_OK && move) FRenaming = true;
  } else {
    // The plugin's own entries are neither renamed nor copied.
    for (const TKofHostPath* path : {&oldName, &newName})
      if (!path->InSessionsFolder() && path->Kind() != TPathKind::Vault) return {wfx::FS_FILE_OK};
    auto* source = dynamic_cast<TTotalCmdKofPanel*>(oldName.InSessionsFolder() ? nullptr : RoutedPanel(oldName));
    auto* target = dynamic_cast<TTotalCmdKofPanel*>(
        newName.InSessionsFolder() ? nullptr : Panels().GetPanel(Panels().IndexOf(newName.PanelName())));
    if (move) FMoving = true;
    if (source && target)
      result = RenMovInSessions(*this, *source, *target, oldName, newName, move, overwrite);
    else if (source)
      result = RecordToSession(*FSessionsFolder, *source, oldName, newName, move, overwrite);
    else if (target)
      result = SessionToRecord(*FSessionsFolder, *target, oldName, newName, move, overwrite);
    else
      result = {wfx::FS_FILE_NOTFOUND};
  }
  if (result.Value == wfx::FS_FILE_OK && Progress(oldName.Full(), newName.Full(), 100)) return {wfx::FS_FILE_USERABORT};
  if (result.Value != wfx::FS_FILE_EXISTS && Panels().Count() > 2)
    FLastUsedPanelIndex = Panels().Refresh(FLastUsedPanelIndex, oldName.PanelName(), newName.PanelName());
  return result;
}

// ---------------------------------------------------------------------------
// Execute, icons, status

int TTotalCmdKofPlugin::ExecuteOpenSession(uint64_t window, const TKofHostPath& remote, std::string& newRemote) {
  SetCurHandle(window);
  const std::string sessionName = FSessionsFolder->SessionNameForEntry(remote.PanelPath());
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

int TTotalCmdKofPlugin::ExecuteSessionsFolder(uint64_t window, const TKofHostPath& remote, TVerbType verb,
                                              std::string& newRemote) {
  if (remote.Kind() == TPathKind::SessionsHelp) {
    if (verb != vtOpen) return wfx::FS_EXEC_OK;
    newRemote = "\\";
    return wfx::FS_EXEC_SYMLINK;
  }
  if (remote.Kind() == TPathKind::GotoSessions) return wfx::FS_EXEC_OK;
  // The host's "configure plugin" asks for the properties of the root.
  if (verb == vtProperties && remote.Full() == "\\") return ShowPluginProperties();
  if (verb == vtOpen && remote.Kind() == TPathKind::SessionEntry) return ExecuteOpenSession(window, remote, newRemote);
  if (verb == vtProperties) {
    SetCurHandle(window);
    return FSessionsFolder->Properties(remote.PanelPath());
  }
  return wfx::FS_EXEC_OK;
}

TCodeOutcome TTotalCmdKofPlugin::Execute(uint64_t window, const TKofHostPath& remote, TVerbType verb,
                                         std::string& newRemote) {
  if (window != MainHandle()) SetMainHandle(window);
  if (verb == vtCmdLine) return {wfx::FS_EXEC_OK};
  if (verb == vtOpen && !remote.InSessionsFolder() &&
      (remote.IsLogoutEntry() || remote.Kind() == TPathKind::GotoSessions))
    return {ExecuteLogout(remote, newRemote)};
  if (remote.InSessionsFolder() || remote.Kind() == TPathKind::SessionsHelp)
    return {ExecuteSessionsFolder(window, remote, verb, newRemote)};
  return ExecuteInPanel(window, remote, verb, newRemote);
}

TCodeOutcome TTotalCmdKofPlugin::ExecuteInPanel(uint64_t window, const TKofHostPath& remote, TVerbType verb,
                                                std::string& newRemote) {
  TPluginKofCommonPanel* panel = RoutedPanel(remote);
  if (!panel) return {wfx::FS_EXEC_ERROR, wfx::ERROR_NO_MORE_FILES};
  if (panel->NoneAction()) return {wfx::FS_EXEC_ERROR, wfx::ERROR_INVALID_LEVEL};
  if (!panel->MatchLevelTo(0, remote.Parent(), fsoExec).Ok) {
    if (verb == vtProperties) return {2};
    return {wfx::FS_EXEC_ERROR, wfx::ERROR_NO_MORE_FILES};
  }
  return panel->Execute(window, remote, verb, newRemote);
}

int TTotalCmdKofPlugin::ExecuteLogout(const TKofHostPath& remote, std::string& newRemote) {
  const int index = Panels().IndexOf(remote.PanelName());
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
                     // Tells where the log goes, or how to switch it on, so a user can find it.
                     "\r\nDiagnostic log:\t" +
                     (cfg.DiagnosticLog() ? TKofPluginConfiguration::DiagnosticLogPath()
                                          : std::string("off (setting \"Diagnostic Log\" in the settings file)")) +
                     "\r\n\r\nF7 in the sessions folder adds a session; Alt+Enter on a session changes its "
                     "connection.",
                 0x10000);
  return wfx::FS_EXEC_OK;
}

TCodeOutcome TTotalCmdKofPlugin::ExecuteCommandLine(uint64_t window, const TKofHostPath& remote,
                                                    std::string_view text, std::string& newRemote) {
  if (window != MainHandle()) SetMainHandle(window);
  const std::string command = LowerCase(Trim(text));
  if (command == "logout") {
    if (remote.InSessionsFolder()) return {wfx::FS_EXEC_OK};
    FLoggedOutFolder = remote.Canonical();
    return {ExecuteLogout(remote, newRemote)};
  }
  if (command == "reload") {
    // The sessions and settings as stored now (another host may have changed
    // them), or the session's own profile. On FS_EXEC_OK Double Commander lists
    // the folder again, which reads it from the server.
    if (remote.InSessionsFolder()) {
      ReadConfiguration();
    } else if (auto* panel = dynamic_cast<TPluginKofPanel*>(RoutedPanel(remote))) {
      if (panel->CurrentSession()) panel->CurrentSession()->Reload();
    }
    return {wfx::FS_EXEC_OK};
  }
  ShowMessageDlg("Command line", "\"" + Trim(text) + "\" is not a command of the plugin. " + kCommandLineHelp, 0x10000);
  return {wfx::FS_EXEC_OK};
}

std::string TTotalCmdKofPlugin::IconName(const TKofHostPath& remote, int flags) {
  if (std::string name = SpecialIconName(remote); !name.empty()) return name;
  TPluginKofCommonPanel* panel = RoutedPanel(remote);
  if (!panel || panel->NoneAction()) return {};
  return panel->IconName(remote, flags);
}

void TTotalCmdKofPlugin::StatusInfo(const TKofHostPath& dir, TFileSysStatus operation, bool start) {
  if (dir.Full() == "\\") {
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
  if (operation == fsoRenMovSingle || operation == fsoRenMovMulti) {
    if (start)
      FHeldBoxes.clear();
    else if (FMoving)
      OfferHeldBoxes(*this);  // while the flag still keeps non-empty boxes
    OperationLog().RenMovOp = start;
  }
  if (TPluginKofCommonPanel* panel = dir.InSessionsFolder() ? nullptr : RoutedPanel(dir))
    panel->StatusInfo(dir, operation, start);
}

}  // namespace kof
