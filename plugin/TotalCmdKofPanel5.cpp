#include "plugin/TotalCmdKofPanel5.h"

#include <cstdio>
#include <utility>

#include "platform/KofCalendar.h"
#include "dialogs/KofSmallDialogs.h"
#include "plugin/KofDialogProperties.h"
#include "plugin/TotalCmdKofClasses5.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "sessions/PluginKofConfiguration5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofDebug.h"
#include "support/KofText.h"

namespace kof {
namespace {

// What tells the host that the plugin did all there was to do: Double
// Commander reports FS_EXEC_ERROR as a failure to open, and does nothing on -10.
#ifdef _WIN32
constexpr int kExecDone = wfx::FS_EXEC_ERROR;
#else
constexpr int kExecDone = -10;
#endif

std::string Folder(std::string_view name) { return "\\" + std::string(name); }

// "yyyy-mm-dd hh:nn:ss" of a point in time as the vault objects hold it.
std::string DateTimeText(TDateTime value) {
  const std::time_t t = static_cast<std::time_t>(DateTimeToUnix(value));
  const std::tm parts = UtcCalendarTime(t).value_or(std::tm{});
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

// How a deleted item is named in the bin folder.
std::string BinEntryName(const TDeletedItem& item) {
  const std::string qualified = item.QualifiedName();
  switch (item.ObjType()) {
    case kofSafeBox: return UpperCase(qualified) + ".<BOX>";
    case kofSafeBoxGroup: return UpperCase(qualified) + ".<GRP>";
    default: return qualified + LowerCase(KofObjectExtensions[item.ObjType()]);
  }
}

const TDeletedItem* FindBinItem(const TDeletedItemList& list, std::string_view entry) {
  const std::string key = CutToUtf16Units(entry, kMaxListedUnits);
  for (int i = 0; i < list.Count(); ++i)
    if (SameText(CutToUtf16Units(BinEntryName(*list.GetResultItem(i)), kMaxListedUnits), key))
      return list.GetResultItem(i);
  return nullptr;
}

// The bin lists names as the host can show them.
void EscapeBinNames(TDeletedItemList& list) {
  for (int i = 0; i < list.Count(); ++i) {
    TDeletedItem& item = *list.GetResultItem(i);
    item.SetName(TKofFileSysList::ReplaceFsName(item.Name()));
    item.SetParent(TKofFileSysList::ReplaceFsName(item.Parent()));
  }
}

std::string RestoreQuestion(const TDeletedItem& item) {
  const std::string kind = GetKofObjectTypeName(item.ObjType());
  const std::string name = TKofFileSysList::ReplaceFsNameBack(item.Name());
  if (item.Parent().empty()) return "Restore \"" + name + "\" " + kind + "?";
  const std::string parent = TKofFileSysList::ReplaceFsNameBack(item.Parent());
  const char* where = kofBoxKinds.Contains(item.ObjType()) ? "\" Safe Box Group?" : "\" Safe Box?";
  return "Restore \"" + name + "\" " + kind + " to \"" + parent + where;
}

}  // namespace

TTotalCmdKofPanel::TTotalCmdKofPanel(TTotalCmdKofPlugin& owner, int number, std::string panelName,
                                     TFindHandle pluginHandle)
    : TPluginKofPanel(owner, number, std::move(panelName), pluginHandle), FPlugin(owner) {}

// --- login

bool TTotalCmdKofPanel::LoginSession(int mode, const std::string& sessionName, TLoginOptions options) {
  const bool ok = TPluginKofPanel::LoginSession(mode, sessionName, options);
  if (ok) {
    if (FCurrentSession) FCurrentSession->Reload();
  } else if (!options.Silent && sessionName != ".." && Owner().Cfg().SessionManager().FindByName(sessionName) < 0) {
    Prompts().ShowMessage("Advice", "Cannot find the Session \"" + sessionName + "\"");
  }
  return ok;
}

// --- listing

bool TTotalCmdKofPanel::DisplayHelpFolders() const {
  return FCurrentSession && FCurrentSession->DisplayHelpFolders();
}

TKofListing TTotalCmdKofPanel::FindFirst(int mode, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd,
                                         bool readItems) {
  FKOFHelpList.clear();
  FRecords.clear();
  FItemIdx = 0;
  if (DisplayHelpFolders() && path.Kind() == TPathKind::Accessories) return {ListAccessories(fd)};
  if (path.Kind() == TPathKind::Bin) return ListBin(fd);
  TKofStep walk = GoToPath(mode, path, false);
  if (!walk.Ok) return {kNoHandle, std::move(walk.Failure)};
  QueueSpecialFolders();
  if (!readItems) return {};
  return ReadItems(mode, fd);
}

bool TTotalCmdKofPanel::FindNext(wfx::WIN32_FIND_DATAW& fd) {
  if (FItemIdx < FRecords.size()) {
    fd = FRecords[FItemIdx++];
    return true;
  }
  if (FKOFHelpList.empty() || FSearching) return false;
  fd = FKOFHelpList.back();
  FKOFHelpList.pop_back();
  return true;
}

void TTotalCmdKofPanel::QueueSpecialFolders() {
  wfx::WIN32_FIND_DATAW entry;
  if (DisplayHelpFolders()) {
    FillSpecialFolder(entry, kAccessoriesEntry);
    FKOFHelpList.push_back(entry);
  }
  if (Level() == fslRoot) {
    FillSpecialFolder(entry, kBinEntry);
    FKOFHelpList.push_back(entry);
  }
}

TFindHandle TTotalCmdKofPanel::FirstQueued(wfx::WIN32_FIND_DATAW& fd) {
  return FindNext(fd) ? PluginHandle() : kNoHandle;
}

TKofListing TTotalCmdKofPanel::ReadItems(int mode, wfx::WIN32_FIND_DATAW& fd) {
  TPluginPanelItemList items;
  // A level that could not be read still lists the plugin's own folders.
  TKofStep read = GetFileItemsByParent(mode | kModeFsNames, items, true);
  FRecords.resize(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TPluginPanelItem& item = items[i];
    wfx::WIN32_FIND_DATAW& entry = FRecords[i];
    ClearFindData(entry);
    entry.dwFileAttributes = item.FSafeBoxOrSession ? kAttrFolder : kAttrRecord;
    SetTime(entry, DateTimeToFileTime(item.FKofObjDatetime));
    SetSize(entry, static_cast<uint64_t>(std::max<std::int64_t>(0, item.FFileSize)));
    SetFindName(entry, item.FFileName);
  }
  return {FirstQueued(fd), std::move(read.Failure)};
}

std::string TTotalCmdKofPanel::ServerInfoText() const {
  return "Product:\t" + KofProduct() + "\r\n\r\nServer version:\t" + KofVersion() + "\r\n\r\nAPI version:\t" +
         KofApiVersion() + "\r\n\r\nPlugin version:\t" + Owner().AppVersion();
}

TFindHandle TTotalCmdKofPanel::ListAccessories(wfx::WIN32_FIND_DATAW& fd) {
  wfx::WIN32_FIND_DATAW entry;
  FillSpecialEntry(entry, kLogoutEntry, 0);
  FKOFHelpList.push_back(entry);
  FillSpecialEntry(entry, kServerInfoEntry, Utf16Units(ServerInfoText()));
  FKOFHelpList.push_back(entry);
  FillSpecialEntry(entry, kConfigurationEntry, 0);
  FKOFHelpList.push_back(entry);
  const bool encrypted = KofClient() && KofClient()->DecryptNaCL();
  FillSpecialEntry(entry, encrypted ? kEncryptionOnEntry : kEncryptionOffEntry, 0);
  FKOFHelpList.push_back(entry);
  FillSpecialEntry(entry, Owner().Substitutions().Count() > 0 ? kMappingOnEntry : kMappingOffEntry, 999);
  FKOFHelpList.push_back(entry);
  FillHelpEntry(fd, Plugin().Help2().size());
  return PluginHandle();
}

const TDeletedItem* TTotalCmdKofPanel::ListedBinItem(std::string_view entry) const {
  return FindBinItem(FInfoKOFTrashList, entry);
}

void TTotalCmdKofPanel::FillBinEntry(wfx::WIN32_FIND_DATAW& fd, const TDeletedItem& item) const {
  ClearFindData(fd);
  fd.dwFileAttributes = kAttrRecord;
  SetTime(fd, DateTimeToFileTime(item.DateOf()));
  fd.dwReserved0 = static_cast<uint32_t>(item.Id());
  std::uint64_t size = 100;
  switch (item.ObjType()) {
    case kofSafeBox:
    case kofSafeBoxGroup: size = 0; break;
    case kofFile:
    case kofCertificate: size = 100000; break;
    case kofExternalFile: size = KofClient() ? static_cast<uint64_t>(FileSizeLimit() + 1) : 15000001; break;
    default: break;
  }
  SetSize(fd, size);
  SetFindName(fd, BinEntryName(item));
}

TKofListing TTotalCmdKofPanel::ListBin(wfx::WIN32_FIND_DATAW& fd) {
  if (!Connected()) return {};
  if (!KofClient()->GetDeletedRecords(&FInfoKOFTrashList))
    return {kNoHandle, TKofFailure{std::string(kBinEntry), KofClient()->ErrorMsg()}};
  EscapeBinNames(FInfoKOFTrashList);
  for (int i = 0; i < FInfoKOFTrashList.Count(); ++i) {
    wfx::WIN32_FIND_DATAW entry;
    FillBinEntry(entry, *FInfoKOFTrashList.GetResultItem(i));
    FKOFHelpList.push_back(entry);
  }
  return {FirstQueued(fd)};
}

// --- transfers

TCodeOutcome TTotalCmdKofPanel::GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags,
                                        wfx::RemoteInfoStruct*) {
  return FTransfers.GetFile(mode, remote, local, flags);
}

TCodeOutcome TTotalCmdKofPanel::PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags) {
  return FTransfers.PutFile(mode, local, remote, flags);
}

// --- verbs

TCodeOutcome TTotalCmdKofPanel::Execute(uint64_t window, const TKofHostPath& remote, TVerbType verb,
                                        std::string& newRemote) {
  const std::string entry = remote.Name();
  if (remote.Kind() == TPathKind::BinItem) return {ExecuteBin(entry, verb, newRemote)};
  if (verb == vtProperties && remote.Kind() != TPathKind::Accessory && Connected())
    if (const TKofObject* object = GetLevelData(Level()).Find(entry)) return {EditProperties(window, *object)};
  if (verb == vtOpen && FileBox() && remote.Kind() != TPathKind::Accessory) {
    const TKofObject* object = GetLevelData(Level()).Find(entry);
    if (!object) return {wfx::FS_EXEC_ERROR};
    const TKofObjectType kind = object->ObjType();
    if (kind == kofAccount || kind == kofAccountSec || kind == kofCreditCard) return OpenPasswordRecord(object->Id());
    // The host downloads the file, opens it, and brings a changed file back through PutFile.
    if (kind == kofFile || kind == kofCertificate || kind == kofExternalFile) {
      FTransfers.SetOpened(remote.Full());
      return {wfx::FS_EXEC_YOURSELF};
    }
    return {wfx::FS_EXEC_OK};
  }
  if (SameText(entry, kServerInfoEntry)) {
    const std::string info = ServerInfoText();
    LogEntryFormat(false, "Server information: %s", ReplaceAll(ReplaceAll(info, "\r\n\r\n", "; "), "\t", " ").c_str());
    Prompts().ShowMessage(std::string(kServerInfoEntry), info);
  } else if (SameText(entry, kMappingOnEntry) || SameText(entry, kMappingOffEntry)) {
    return {ExecuteMapping(remote, newRemote)};
  } else if ((SameText(entry, kConfigurationEntry) || (entry == ".." && verb == vtProperties)) && FCurrentSession) {
    EditSessionSettings();
  }
  return {wfx::FS_EXEC_OK};
}

namespace {

std::vector<TMappingRule> MappingRules(const TExtSubstitutions& rules) {
  std::vector<TMappingRule> out;
  for (const auto& rule : rules) out.push_back({rule->KofPattern(), rule->Replacement(), rule->Expanded(), rule->InfoStr()});
  return out;
}

}  // namespace

int TTotalCmdKofPanel::ExecuteMapping(const TKofHostPath& remote, std::string& newRemote) {
  Owner().ReloadSubstitutions();
  LogEntryFormat(false, "Mapping information: %d mapping path(s) to external files",
                 static_cast<int>(Owner().Substitutions().Count()));
  TMappingPathsDialog dialog(MappingRules(Owner().Substitutions()), FMappingEvaluated, [this] {
    Owner().ReloadSubstitutions();
    return MappingRules(Owner().Substitutions());
  });
  if (Prompts().ShowDialog(dialog)) FMappingEvaluated = dialog.DisplayEvaluated();
  else Prompts().ShowMessage("Mapping paths", MappingText(Owner().Substitutions()));
  if (Owner().Substitutions().Count() == 0) return wfx::FS_EXEC_OK;
  // The accessories folder is read again, so that its entry says ENABLED or DISABLED as the rules are now.
  newRemote = remote.Parent().Canonical() + "\\";
  return wfx::FS_EXEC_SYMLINK;
}

TCodeOutcome TTotalCmdKofPanel::OpenPasswordRecord(std::int32_t id) {
  CopyRecordPassword(id, "Viewing account");
  // The host is to do nothing more, whatever happened here.
  return {kExecDone, wfx::ERROR_NO_MORE_FILES};
}

void TTotalCmdKofPanel::CopyRecordPassword(std::int32_t id, const std::string& prompt) {
  CheckAccessCode();
  FInfoText = prompt;
  if (!AskAccessCode(FInfoText)) return;
  const std::unique_ptr<TKofRecord> record = KofClient()->GetRecord(id, true, false, nullptr);
  if (!record) {
    Prompts().ShowMessage("Error", KofClient()->ErrorMsg());
  } else if (CopyPasswordToClipboard(*record) && ClipCopyMessage()) {
    Prompts().ShowMessage("Information", "The password was copied to clipboard");
  }
  if (record) record->WipeStrings();
}

bool TTotalCmdKofPanel::CopyPasswordToClipboard(const TKofRecord& record) {
  const SecureString* secret = nullptr;
  switch (record.ObjType()) {
    case kofAccount:
    case kofAccountSec: secret = &static_cast<const TKofAccountCommon&>(record).Password(); break;
    case kofFile: secret = &static_cast<const TKofFile&>(record).SecNote(); break;
    case kofCertificate: secret = &static_cast<const TKofCertificate&>(record).FilePassword(); break;
    default: return false;
  }
  if (record.ObjType() == kofFile && secret->Empty()) return false;
  std::string error;
  if (Owner().CopySecretToClipboard(secret->View(), ClipCopyMessage(), error)) return true;
  Prompts().ShowMessage("Clipboard", error);
  return false;
}

void TTotalCmdKofPanel::EditSessionSettings() {
  FCurrentSession->Reload();
  TSessionConfigValues values = SessionValues(*FCurrentSession);
  TSessionConfigOptions options = SessionDialogOptions(Owner());
  options.LockIdentity = true;
  options.ReadOnly = Owner().Cfg().SessionManager().ReadOnly();
  if (KofClient()) options.LoggedUser = KofClient()->UserName();
  if (!Prompts().EditSession(values, options)) return;
  // The connection of a logged-in session stays as it is.
  values.Address = {FCurrentSession->URL(), FCurrentSession->Domain(), FCurrentSession->Username()};
  ApplySessionValues(*FCurrentSession, values);
  SaveSession(*FCurrentSession);
}

int TTotalCmdKofPanel::EditProperties(uint64_t window, const TKofObject& object) {
  Owner().SetCurHandle(window);
  const bool box = kofBoxKinds.Contains(object.ObjType());
  if (!box) {
    CheckAccessCode();
    FInfoText = "Record properties";
    if (!AskAccessCode(FInfoText)) return wfx::FS_EXEC_OK;
  }
  const TPropertiesContext context{Owner(), *KofClient(), FCurrentSession && FCurrentSession->EditableRecords(),
                                   GetLevelData(Level()).Modifiable(), ClipCopyMessage(),
                                   GetLevelData(Level()).FParentBoxId};
  if (box) EditBoxProperties(context, object.Id());
  else EditRecordProperties(context, object.Id());
  return wfx::FS_EXEC_OK;
}

int TTotalCmdKofPanel::ExecuteBin(const std::string& entry, TVerbType verb, std::string& newRemote) {
  if (!Connected()) return wfx::FS_EXEC_OK;
  if (verb == vtProperties) {
    TDeletedItemList fresh;
    if (!KofClient()->GetDeletedRecords(&fresh)) {
      Prompts().ShowMessage(std::string(kBinEntry), KofClient()->ErrorMsg());
      return wfx::FS_EXEC_OK;
    }
    EscapeBinNames(fresh);
    if (const TDeletedItem* item = FindBinItem(fresh, entry))
      Prompts().ShowMessage("Deleted item", "Name:\t\t" + TKofFileSysList::ReplaceFsNameBack(item->Name()) + "\r\nSafe Box:\t" +
                                   TKofFileSysList::ReplaceFsNameBack(item->Parent()) + "\r\nDescription:\t" +
                                   item->Description() + "\r\nDeleted:\t" + DateTimeText(item->DateOf()) +
                                   "\r\nType:\t\t" + GetKofObjectTypeName(item->ObjType()) + "\r\n");
    return wfx::FS_EXEC_OK;
  }
  if (verb != vtOpen) return wfx::FS_EXEC_OK;
  // Only what the bin showed last can be restored from it.
  const TDeletedItem* item = FindBinItem(FInfoKOFTrashList, entry);
  if (!item || !Prompts().AskYesNo("Restore", RestoreQuestion(*item))) return wfx::FS_EXEC_OK;
  if (!KofClient()->RestoreDeletedRecord(item->Id())) {
    Prompts().ShowMessage("Restore", KofClient()->ErrorMsg());
    return wfx::FS_EXEC_OK;
  }
  newRemote = "\\" + Name() + Folder(kBinEntry);
  return wfx::FS_EXEC_SYMLINK;
}

void TTotalCmdKofPanel::StatusInfo(const TKofHostPath&, TFileSysStatus operation, bool start) {
  FOperation = start ? operation : fsoNone;
  // The download and upload that follow an open still serve it.
  if (!start && operation != fsoGetSingle && operation != fsoPutSingle && operation != fsoExec)
    FTransfers.SetOpened({});
  TKofOperationLog& log = Owner().OperationLog();
  switch (operation) {
    case fsoGetSingle:
    case fsoPutSingle: log.TransOp = start; break;
    case fsoGetMulti:
    case fsoPutMulti:
    case fsoGetMultiThread:
    case fsoPutMultiThread:
      if (start) {
        BeginWalk();
        ClearCounters();
      } else {
        EndWalk(true);
        const bool out = operation == fsoGetMulti || operation == fsoGetMultiThread;
        if (log.HasErrors(false)) ReportOperation(out ? TReportForm::CopyOut : TReportForm::Copy);
        ClearCounters();
      }
      log.TransOp = start;
      break;
    case fsoRenMovSingle:
    case fsoRenMovMulti:
      if (start) {
        BeginWalk();
        ClearCounters();
      } else {
        EndWalk(true);
        const bool byDeletion = Plugin().Moving() || Plugin().Renaming();
        if (log.HasErrors(byDeletion))
          ReportOperation(Plugin().Renaming() ? TReportForm::Rename
                          : Plugin().Moving() ? TReportForm::Move
                                              : TReportForm::Copy);
      }
      break;
    case fsoDelete: FDeleteStart = start && Connected() ? FsCurDir() : std::string(); break;
    case fsoSearch:
    case fsoSearchText:
      // A search changes nothing: the start folder's listing still holds.
      if (start)
        BeginWalk();
      else
        EndWalk(false);
      break;
    default: break;
  }
}

void TTotalCmdKofPanel::BeginWalk() {
  // The host walks the folders below the operation's own with listings of its
  // own; the plugin's special folders are no part of what it collects.
  FSearching = true;
  FWalkStart = Connected() ? FsCurDir() : std::string();
}

void TTotalCmdKofPanel::EndWalk(bool read) {
  FSearching = false;
  const std::string start = std::exchange(FWalkStart, {});
  // Back where the operation started, with that folder as the operation left it.
  if (!start.empty() && !SameText(start, FsCurDir())) ReturnTo(start, read);
}

void TTotalCmdKofPanel::RestoreDeleteLevel() {
  if (!FDeleteStart.empty()) ReturnTo(FDeleteStart, false);
}

void TTotalCmdKofPanel::ReturnTo(const std::string& dir, bool read) {
  // Never a login: a panel that left its session stays where it is.
  if (!Connected() || Level() == fslSessions) return;
  (void)GoToPath(0, TKofHostPath(dir), read);
}

void TTotalCmdKofPanel::ClearCounters() {
  TKofOperationLog& log = Owner().OperationLog();
  log.ClearCounters();
  log.Details.Clear();
  Plugin().SetMoving(false);
}

void TTotalCmdKofPanel::ReportOperation(TReportForm form) {
  TKofOperationLog& log = Owner().OperationLog();
  const TCopyReport report = log.Report(form, FCurrentSession && FCurrentSession->ErrorGrouping());
  if (!report.Text.empty()) Prompts().ShowCopyResult(report);
  log.Details.Clear();
}

}  // namespace kof
