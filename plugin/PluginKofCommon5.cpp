#include "plugin/PluginKofCommon5.h"

#include <algorithm>
#include <chrono>

#include "platform/KofClock.h"
#include "platform/KofFolders.h"
#include "platform/KofLastError.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "resources/KofResources.h"
#include "sessions/PluginKofConfiguration5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {

// ---------------------------------------------------------------------------
TPluginKofCommonPanel::TPluginKofCommonPanel(TCommonKofPlugin& owner, int number, std::string panelName,
                                             TFindHandle pluginHandle)
    : FOwner(owner), FPluginHandle(pluginHandle), FPanelNumber(number), FPanelName(std::move(panelName)) {}

bool TPluginKofCommonPanel::LoginSession(int, const std::string&, TLoginOptions) { return false; }

TKofStep TPluginKofCommonPanel::MatchLevelTo(int, const TKofHostPath&, TFileSysStatus) { return {}; }

TKofListing TPluginKofCommonPanel::FindFirst(int, const TKofHostPath&, wfx::WIN32_FIND_DATAW&, bool) { return {}; }

bool TPluginKofCommonPanel::FindNext(wfx::WIN32_FIND_DATAW&) { return false; }

TCodeOutcome TPluginKofCommonPanel::GetFile(int, const TKofHostPath&, const std::string&, int,
                                            wfx::RemoteInfoStruct*) {
  return {wfx::FS_FILE_NOTFOUND};
}

TCodeOutcome TPluginKofCommonPanel::PutFile(int, const std::string&, const TKofHostPath&, int) {
  return {wfx::FS_FILE_WRITEERROR};
}

TDoneOutcome TPluginKofCommonPanel::DeleteFile(int, const TKofHostPath&) { return {false, wfx::ERROR_NO_MORE_FILES}; }
TDoneOutcome TPluginKofCommonPanel::MakeDirectory(int, const TKofHostPath&) { return {false}; }
TDoneOutcome TPluginKofCommonPanel::RemoveDir(int, const TKofHostPath&) { return {false}; }

TCodeOutcome TPluginKofCommonPanel::Execute(uint64_t, const TKofHostPath&, TVerbType, std::string&) {
  return {wfx::FS_EXEC_ERROR, wfx::ERROR_NO_MORE_FILES};
}

std::string TPluginKofCommonPanel::IconName(const TKofHostPath&, int) { return {}; }
void TPluginKofCommonPanel::StatusInfo(const TKofHostPath&, TFileSysStatus, bool) {}

// ---------------------------------------------------------------------------
int TPanelList::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[i].first == name) return i;
  return -1;
}

int TPanelList::Add(std::string name, std::unique_ptr<TPluginKofCommonPanel> panel) {
  if (IndexOf(name) >= 0) throw std::runtime_error("List does not allow duplicates");
  auto pos = std::lower_bound(FItems.begin(), FItems.end(), name,
                              [](const auto& item, const std::string& n) { return item.first < n; });
  pos = FItems.emplace(pos, std::move(name), std::move(panel));
  return static_cast<int>(pos - FItems.begin());
}

TPluginKofCommonPanel* TPanelList::GetPanel(int index) const {
  return (index >= 0 && index < Count()) ? FItems[index].second.get() : nullptr;
}

void TPanelList::Delete(int index) {
  if (index >= 0 && index < Count()) FItems.erase(FItems.begin() + index);
}

int TPanelList::Refresh(int focusedIndex, std::string_view name1, std::string_view name2) {
  if (focusedIndex < 0 || focusedIndex >= Count()) return -1;
  const std::string focused = FItems[focusedIndex].first;
  auto keep = [&](const std::string& n) {
    return SameText(n, focused) || SameText(n, name1) || (!name2.empty() && SameText(n, name2));
  };
  std::erase_if(FItems, [&](const auto& item) { return !keep(item.first); });
  return IndexOf(focused);
}

// ---------------------------------------------------------------------------
TCommonKofPlugin::TCommonKofPlugin()
    : FCfg(std::make_unique<TKofPluginConfiguration>()),
      FPrompts(std::make_unique<TKofRequestPrompts>(*this)),
      FAppVersion(AppVersionText()),
      FClipInterval(std::chrono::seconds(FCfg->ClipboardTimeoutSec())),
      FClipboardTimer([this] {
        // Runs on the timer's thread (on Windows from the host's message loop), also while a
        // host call waits in a prompt: it takes only the clipboard's lock, and the notice
        // waits for the next host call.
        std::lock_guard guard(FClipMutex);
        // A copy made while this handler waited restarted the countdown: nothing is due.
        if (FClipboardTimer.Enabled() || !FClipboard.HoldsOwnText()) return;
        if (ClearOwnLocked() == TClearResult::Cleared) FClipboardCleared = true;
      }) {}

TCommonKofPlugin::~TCommonKofPlugin() {
  FClipboardTimer.Stop();
  ClearClipboard();
}

bool TCommonKofPlugin::CopySecretToClipboard(std::string_view secret, bool notify, std::string& error) {
  FLock.AssertHeld();
  std::lock_guard clip(FClipMutex);
  // A failed copy leaves the earlier secret and its countdown as they were.
  if (!FClipboard.SetText(secret, error)) return false;
  FClipboardCleared = false;
  FClipboardClearFailed = false;
  FClipFailureTold = false;
  FClipNotify = notify;
  FClipboardTimer.Start(FClipInterval);
  return true;
}

bool TCommonKofPlugin::CopyTextToClipboard(std::string_view text, std::string& error) {
  FLock.AssertHeld();
  std::lock_guard clip(FClipMutex);
  return FClipboard.SetText(text, error);
}

TClearResult TCommonKofPlugin::ClearOwnLocked() {
  const TClearResult result = FClipboard.ClearOwn();
  if (result != TClearResult::Failed) return result;
  // The secret may still be there: try again soon, and tell the user once.
  FClipboardTimer.Start(std::min(FClipInterval, kClipboardRetryInterval));
  if (!std::exchange(FClipFailureTold, true)) FClipboardClearFailed = true;
  return result;
}

TClearResult TCommonKofPlugin::ClearClipboard() {
  std::lock_guard clip(FClipMutex);
  FClipboardTimer.Stop();
  return ClearOwnLocked();
}

void TCommonKofPlugin::DeliverClipboardNotice() {
  if (FClipboardClearFailed.exchange(false)) NotifyClipboardNotCleared();
  if (FClipboardCleared.exchange(false)) NotifyClipboardCleared();
}

void TCommonKofPlugin::NotifyClipboardNotCleared() {
  FLock.AssertHeld();
  // Whatever the session's notice setting: the user must know a password may be lying there.
  Prompts().ShowMessage("Information",
                        "The Clipboard could not be cleared: it may still hold the copied secret. The plugin keeps "
                        "trying; copying something else replaces it at once.");
}

void TCommonKofPlugin::SetModule(const std::string& value) {
  FModule = value;
  FPureModule = ExtractFileNameNoExt(value);
}

void TCommonKofPlugin::NotifyClipboardCleared() {
  FLock.AssertHeld();
  if (!FClipNotify) return;
  if (FActiveDialog) {
    FClipClearMsg = true;
    return;
  }
  Prompts().ShowMessage("Information", "The Clipboard was cleared");
}

void TCommonKofPlugin::ClipLock(bool enter) {
  FLock.AssertHeld();
  if (enter) {
    if (FDialogDepth++ == 0) FClipClearMsg = false;
    FActiveDialog = true;
    return;
  }
  if (FDialogDepth > 0 && --FDialogDepth > 0) return;
  if (FClipClearMsg) {
    Clock().Sleep(std::chrono::milliseconds(300));
    SecureString none;
    RequestText(wfx::RT_MsgOK, "Information", "The Clipboard was cleared", none, 0);
  }
  FActiveDialog = false;
  FClipClearMsg = false;
}

bool TCommonKofPlugin::ManageSession(TKofSession& session, TSessionDlgAction action) {
  TKofSessionManager& manager = FCfg->SessionManager();
  switch (action) {
    case saNew: return manager.Add(session);
    case saModify: return manager.Update(session);
    case saRename: return manager.Rename(session);
    case saNewName: return manager.Copy(session);
    case saDelete: return manager.Delete(session);
    case saView: return false;
  }
  return false;
}

bool TCommonKofPlugin::RequestText(int requestType, std::string_view title, std::string_view text,
                                   SecureString& answer, int maxLength) {
  if (!FProcedures.RequestProc) return false;
  std::u16string wTitle = Utf8ToUtf16(title);
  std::u16string wText = Utf8ToUtf16(text);
  std::u16string buffer;
  if (maxLength > 0) {
    // The host edits the buffer in place: preset it with the default answer.
    buffer.assign(static_cast<std::size_t>(maxLength) + 1, u'\0');
    CopyToHostBuffer(answer.View(), buffer.data(), static_cast<std::size_t>(maxLength));
  }
  const bool ok = FProcedures.RequestProc(FNumber, requestType, wTitle.data(), wText.data(),
                                          maxLength > 0 ? buffer.data() : nullptr, maxLength) != 0;
  if (maxLength > 0) {
    buffer.back() = 0;  // the host may have filled the whole buffer
    std::string reply = Utf16ToUtf8(std::u16string_view(buffer.data(), Utf16Length(buffer.data(), maxLength)));
    answer.Assign(reply);
    WipeString(reply);
    WipeString(buffer);
  }
  return ok;
}

bool TCommonKofPlugin::Progress(std::string_view source, std::string_view target, int percent) {
  if (!FProcedures.ProgressProc) return false;
  std::u16string s = Utf8ToUtf16(source), t = Utf8ToUtf16(target);
  // Any answer but 0 asks to stop, whatever number a host uses for it.
  return FProcedures.ProgressProc(FNumber, s.data(), t.data(), percent) != 0;
}

bool TCommonKofPlugin::InTemporary(std::string_view path) const {
  if (path.empty()) return false;
  std::vector<std::string> folders = TemporaryFolders();
  folders.push_back(LocalAppDataFolder() + "/");
  for (const std::string& folder : folders)
    if (folder.size() > 1 && StartsText(folder, path)) return true;
  return false;
}

bool TCommonKofPlugin::CopyFromToTempDir(std::string_view path, bool checkExtension) const {
  return InTemporary(path) && (!checkExtension || SameText(ExtractFileExt(path), ".TMP"));
}

void TCommonKofPlugin::FreePanels() {
  FPanels.Clear();
  FLastUsedPanelIndex = -1;
}

}  // namespace kof
