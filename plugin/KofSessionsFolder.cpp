#include "plugin/KofSessionsFolder.h"

#include <memory>

#include "platform/KofFileIO.h"
#include "plugin/KofDialogProperties.h"
#include "plugin/PluginKofCommon5.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "sessions/PluginKofConfiguration5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

// "\Work.<KOF>" -> "Work.<KOF>"
std::string EntryName(const std::string& path) { return ExtractFileName(path); }

// The name a session gets from an entry or file name: a session extension is dropped.
std::string PureName(const std::string& entryName) {
  return TKofSession::ExtractPureFileName(TKofSession::PanelNameToFileName(entryName));
}

}  // namespace

TKofSessionsFolder::TKofSessionsFolder(TCommonKofPlugin& plugin) : FPlugin(plugin) {}

TKofSessionManager& TKofSessionsFolder::Manager() const { return FPlugin.Cfg().SessionManager(); }

void TKofSessionsFolder::StartListing() {
  // Another window may have changed the store since the last listing.
  Manager().Reload(raSelect);
  Manager().Sessions().Start();
}

bool TKofSessionsFolder::NextEntry(wfx::WIN32_FIND_DATAW& fd) {
  const TKofSession* next = Manager().Sessions().Next();
  if (!next) return false;
  const TKofSession& session = *next;
  ClearFindData(fd);
  SetSpecialAttributes(fd);
  SetUnknownTime(fd, NowFileTime());
  SetUnknownSize(fd);
#ifdef _WIN32
  // Nothing reads the address back (sessions are found by name); where the
  // host reads dwReserved0 as a Unix mode it holds the mode instead.
  const auto address = reinterpret_cast<uintptr_t>(&session);
  fd.dwReserved0 = static_cast<uint32_t>(address);
  fd.dwReserved1 = static_cast<uint32_t>(static_cast<uint64_t>(address) >> 32);
#endif
  SetFindName(fd, session.PanelName());
  return true;
}

std::string TKofSessionsFolder::SessionNameFor(const std::string& panelName) const {
  const int index = Manager().FindByName(panelName);
  return index < 0 ? std::string() : Manager().Sessions().Items(index).Name();
}

std::string TKofSessionsFolder::SessionNameForEntry(const std::string& path) const {
  const int index = FindEntry(path);
  return index < 0 ? std::string() : Manager().Sessions().Items(index).Name();
}

int TKofSessionsFolder::FindEntry(const std::string& entryPath) const {
  return Manager().FindByDisplayName(TKofSession::PanelNameToFileName(EntryName(entryPath)));
}

void TKofSessionsFolder::ShowStoreError() const {
  const std::string& message = Manager().ErrorMessage();
  if (!message.empty()) FPlugin.ShowMessageDlg("Session", message, 0x10000);
}

void TKofSessionsFolder::ShowDuplicate(const std::string& name) const {
  FPlugin.ShowMessageDlg("Session", "Duplicate session name \"" + ReplaceAll(name, "\"", "\"\"") + "\"", 0x10000);
}

bool TKofSessionsFolder::RefuseName(const std::string& name) const {
  const std::string problem = TKofSession::CheckName(name);
  if (problem.empty()) return false;
  FPlugin.ShowMessageDlg("Session", problem, 0x10000);
  return true;
}

int TKofSessionsFolder::Export(const std::string& entryPath, const std::string& local, int flags) {
  std::string target = local;
  if (!FPlugin.InTemporary(local)) target = TKofSession::PanelNameToFileName(local);
  if (!(flags & wfx::FS_COPYFLAGS_OVERWRITE) && PathExists(target)) return wfx::FS_FILE_EXISTS;
  const int index = FindEntry(entryPath);
  if (index < 0) return wfx::FS_FILE_NOTFOUND;
  TKofSession& session = Manager().Sessions().Items(index);
  if (!session.SaveTo(target)) return wfx::FS_FILE_WRITEERROR;
  if (flags & wfx::FS_COPYFLAGS_MOVE) {
    if (!FPlugin.ManageSession(session, saDelete)) return wfx::FS_FILE_NOTFOUND;
  }
  return wfx::FS_FILE_OK;
}

TCodeOutcome TKofSessionsFolder::Import(const std::string& local, const std::string& entryPath, int flags) {
  const TSessionFileCheck check = TKofSession::CheckSessionFile(local, true);
  if (!check.Ok()) {
    FPlugin.ShowMessageDlg("Session import", check.Message, 0x10000);
    return {wfx::FS_FILE_READERROR};
  }
  const std::string name = PureName(EntryName(entryPath));
  if (RefuseName(name)) return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_ACCESS_DENIED};
  const bool overwrite = flags & wfx::FS_COPYFLAGS_OVERWRITE;
  if (!overwrite && Manager().FindByDisplayName(name + ".KOF") >= 0) return {wfx::FS_FILE_EXISTS};
  return AddImported(TKofSession::LoadFromFile(local, name), overwrite);
}

TCodeOutcome TKofSessionsFolder::AddImported(std::unique_ptr<TKofSession> session, bool overwrite) {
  if (!session) return {wfx::FS_FILE_READERROR};
  // Whether the name is taken is decided again under the store's lock: the list may be stale.
  if (Manager().Add(*session, overwrite ? TStoreWrite::Upsert : TStoreWrite::MustNotExist)) return {wfx::FS_FILE_OK};
  if (Manager().ErrorCode() == 1) return {wfx::FS_FILE_EXISTS};
  ShowStoreError();
  return {wfx::FS_FILE_READERROR};
}

TCodeOutcome TKofSessionsFolder::ImportText(std::string_view bytes, const std::string& entryPath, bool overwrite) {
  if (!TKofSession::CheckSessionText(bytes).Ok()) return {wfx::FS_FILE_READERROR};
  const std::string name = PureName(EntryName(entryPath));
  if (RefuseName(name)) return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_ACCESS_DENIED};
  if (!overwrite && Manager().FindByDisplayName(name + ".KOF") >= 0) return {wfx::FS_FILE_EXISTS};
  return AddImported(TKofSession::Load(nullptr, name, TKofIniFile(bytes)), overwrite);
}

std::optional<std::string> TKofSessionsFolder::SessionText(const std::string& entryPath) const {
  const int index = FindEntry(entryPath);
  if (index < 0) return std::nullopt;
  return Manager().Sessions().Items(index).FileText();
}

bool TKofSessionsFolder::Delete(const std::string& entryPath) {
  const int index = FindEntry(entryPath);
  if (index < 0) return false;
  return FPlugin.ManageSession(Manager().Sessions().Items(index), saDelete);
}

TDoneOutcome TKofSessionsFolder::NewSession(const std::string& requested) {
  const std::string proposed = TKofSession::ExtractPureFileName(requested);
  if (RefuseName(proposed)) return {false, wfx::ERROR_ACCESS_DENIED};
  if (Manager().SessionExists(proposed) || Manager().FindByName(proposed) >= 0) {
    ShowDuplicate(proposed);
    return {false};
  }
  // A new session starts from the built-in defaults, not from the stored settings.
  const TKofPluginConfiguration defaults;
  TSessionConfigValues values = SessionValues(*defaults.NewSession(proposed, "", "", ""));
  TSessionConfigOptions options = SessionDialogOptions(FPlugin);
  options.NewSession = true;
  options.ReadOnly = Manager().ReadOnly();
  if (!FPlugin.Prompts().EditSession(values, options)) return {false};
  if (values.Address.URL.empty()) {
    FPlugin.ShowMessageDlg("Session", "A session needs the address (URL) of its Koffra server.", 0x10000);
    return {false};
  }
  const std::string name = values.Name.empty() ? proposed : values.Name;
  if (RefuseName(name)) return {false, wfx::ERROR_ACCESS_DENIED};
  if (Manager().SessionExists(name) || Manager().FindByName(name) >= 0) {
    ShowDuplicate(name);
    return {false};
  }
  std::unique_ptr<TKofSession> session = defaults.NewSession(name, "", "", "");
  ApplySessionValues(*session, values);
  if (FPlugin.ManageSession(*session, saNew)) return {true};
  ShowStoreError();
  return {false};
}

TCodeOutcome TKofSessionsFolder::RenMov(const std::string& oldPath, const std::string& newPath, bool move,
                                        bool overwrite) {
  const int index = FindEntry(oldPath);
  if (index < 0) return {wfx::FS_FILE_NOTFOUND};
  const std::string oldName = Manager().Sessions().Items(index).Name();
  const std::string newName = PureName(EntryName(newPath));
  if (RefuseName(newName)) return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_ACCESS_DENIED};
  if (SameText(oldName, newName)) return {overwrite ? wfx::FS_FILE_OK : wfx::FS_FILE_EXISTS};
  const bool targetExists = Manager().SessionExists(newName) || Manager().FindByName(newName) >= 0;
  if (targetExists && !overwrite) return {wfx::FS_FILE_EXISTS};
  TKofSession& session = Manager().Sessions().Items(index);
  if (Manager().Sessions().RenMovCopySession(session, newName, !move,
                                             overwrite ? TStoreWrite::Upsert : TStoreWrite::MustNotExist))
    return {wfx::FS_FILE_OK};
  if (Manager().ErrorCode() == 1) return {wfx::FS_FILE_EXISTS};
  ShowStoreError();
  return {wfx::FS_FILE_WRITEERROR};
}

int TKofSessionsFolder::Properties(const std::string& entryPath) {
  const int index = FindEntry(entryPath);
  if (index < 0) {
    FPlugin.Prompts().ShowMessage("Advice", "Cannot find the Session \"" + PureName(EntryName(entryPath)) +
                                                "\". Try press F2 or Ctrl+R to reread the panel.");
    return wfx::FS_EXEC_OK;
  }
  TKofSession& session = Manager().Sessions().Items(index);
  const std::string name = session.Name();
  TSessionConfigValues values = SessionValues(session);
  TSessionConfigOptions options = SessionDialogOptions(FPlugin);
  options.ReadOnly = Manager().ReadOnly();
  if (!FPlugin.Prompts().EditSession(values, options) || values.Address.URL.empty()) return wfx::FS_EXEC_OK;
  const bool renamed = !values.Name.empty() && !SameText(values.Name, name);
  if (renamed && RefuseName(values.Name)) return wfx::FS_EXEC_OK;
  // A trusted certificate belongs to one server: another address drops it, and
  // the user may drop it on purpose after the server's certificate was renewed.
  if (!session.CertificatePin().empty() &&
      (values.Address.URL != session.URL() ||
       FPlugin.ShowMessageDlg("Session", "Forget the trusted certificate of the server of \"" + name +
                                             "\"? The next login will ask again whether to trust it.",
                              0x40009)))
    session.SetCertificatePin("");
  ApplySessionValues(session, values);
  if (!renamed) {
    if (!FPlugin.ManageSession(session, saModify)) ShowStoreError();
    return wfx::FS_EXEC_OK;
  }
  const bool asNew = FPlugin.ShowMessageDlg(
      "Session", "The session has been renamed. Save as new (click Yes) or save with a new name (rename) (click No)?",
      0x40009);
  session.SetName(values.Name);
  if (!FPlugin.ManageSession(session, asNew ? saNewName : saRename)) {
    if (Manager().ErrorCode() == 1) ShowDuplicate(values.Name);
    else ShowStoreError();
  }
  Manager().Reload(raSelect);
  FPlugin.ShowMessageDlg("Sessions", "A session has been changed or added. Press F2 or Ctrl+R to reload the session names.",
                         0x10000);
  return wfx::FS_EXEC_OK;
}

int TKofSessionsFolder::WriteHelp(std::string_view document, const std::string& local, int flags) {
  if (flags & wfx::FS_COPYFLAGS_OVERWRITE) return wfx::FS_FILE_WRITEERROR;
  return WriteWholeFile(local, document) ? wfx::FS_FILE_OK : wfx::FS_FILE_WRITEERROR;
}

int TKofSessionsFolder::WriteNotice(const std::string& local, std::string_view text) {
  std::string content;
  for (int i = 0; i < 8; ++i) content += "\r\n";
  content += "\t\t";
  content += text;
  content += "\r\n";
  return WriteWholeFile(local, content) ? wfx::FS_FILE_OK : wfx::FS_FILE_WRITEERROR;
}

}  // namespace kof
