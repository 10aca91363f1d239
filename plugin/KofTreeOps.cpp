#include "plugin/KofTreeOps.h"

#include "client/KofClients.h"
#include "model/KofClasses.h"
#include "model/KofFilesys.h"
#include "plugin/KofSessionsFolder.h"
#include "plugin/TotalCmdKofClasses5.h"
#include "plugin/TotalCmdKofPanel5.h"
#include "support/KofJSON.h"
#include "support/KofText.h"
#include "sessions/PluginKofSessions5.h"
#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

constexpr const char* kNotThisType = "It is not possible to create Safe Box of this type in the parent Safe Box.";
constexpr const char* kTooDeep = "Exceeded maximum level of Safe Boxes tree";
constexpr const char* kKeyBoxDuplicate = "safebox.duplicate";
constexpr const char* kKeyHasExternalFiles = "safebox.delete.hasexternalfiles";
constexpr const char* kSameSession = "Cannot copy/move files in the same session. Use a different session that has the same URL.";
constexpr const char* kNoExternalFiles = "External files in the Storage are not handled by this version.";

bool IsBox(const TKofObject& object) { return kofBoxKinds.Contains(object.ObjType()); }

// The member a host entry names, reading the level again once when the name
// is not there (it may have been created since the level was read).
TKofObject* FindMember(TTotalCmdKofPanel& panel, const std::string& entry) {
  TLevelData& level = panel.GetLevelData(panel.Level());
  if (TKofObject* object = level.Find(entry)) return object;
  TPluginPanelItemList items;
  if (!panel.GetFileItemsByParent(kModeFsNames, items, true).Ok) return nullptr;
  return panel.GetLevelData(panel.Level()).Find(entry);
}

std::int64_t ContentSize(const TKofRecord& record) {
  const auto* file = dynamic_cast<const TKofFile*>(&record);
  return file && file->Stream() ? static_cast<std::int64_t>(file->Stream()->size()) : -1;
}

}  // namespace

std::string RecordNameFromEntry(std::string_view entry) {
  const std::string ext = ExtractFileExt(entry);
  if (ext.empty()) return std::string(entry);
  const TKofObjectType kind = GetKofObjectTypeByExt(ext);
  if (kind == kofSafeBox || kind == kofFile) return std::string(entry);
  return std::string(entry.substr(0, entry.size() - ext.size()));
}

TKofClient& TKofTreeOps::Client() const { return *FPanel.KofClient(); }
TTotalCmdKofPlugin& TKofTreeOps::Plugin() const { return FPanel.Plugin(); }
TKofOperationCounts& TKofTreeOps::Counters() const { return Plugin().OperationLog().Counts; }
bool TKofTreeOps::CollectingDetails() const { return Plugin().OperationLog().AddingDetailsAllowed(); }

void TKofTreeOps::ClearCounters() {
  Plugin().OperationLog().ClearCounters();
  Plugin().OperationLog().Details.Clear();
}

void TKofTreeOps::Report(TDetailOperations operation, const std::string& dir, const std::string& name,
                         const std::string& message, const std::string& key) {
  if (CollectingDetails()) {
    Plugin().OperationLog().AddDetail(operation, dir, name, message, key);
    return;
  }
  FPanel.Prompts().ShowMessage(name.empty() ? dir : name, message);
}

// --- new safe boxes

TDoneOutcome TKofTreeOps::MakeDirectory(int mode, const TKofHostPath& dir) {
  if (dir.Kind() == TPathKind::Accessory || dir.Parts().size() < 2) return {false, wfx::ERROR_ACCESS_DENIED};
  TKofOperationCounts& counters = Counters();
  // The parent itself: the stack may stand in a box of the new name already.
  if (!FPanel.MatchLevelTo(mode, dir.Parent(), fsoRenMovSingle).Ok) {
    ++counters.AllCreatedBoxes;
    Report(dopCreateBox, dir.Full(), dir.Name(), kTooDeep, kTooDeep);
    return {false, wfx::ERROR_INVALID_LEVEL};
  }
  TNewBox box{TKofFileSysList::ReplaceFsNameBack(dir.Name()), false, false,
              FPanel.GetLevelData(FPanel.Level()).FParentBoxId};
  switch (FPanel.Level()) {
    case fslRoot:
      if (!FPanel.Prompts().AskNewSafeBox(dir.Full(), box.Name, box.Group, box.Private))
        return {false, wfx::ERROR_CANCELLED};
      ++counters.AllCreatedBoxes;
      return CreateBox(dir, box);
    case fslBox:
      // In a safe box the server has the last word on what it may hold.
      ++counters.AllCreatedBoxes;
      return CreateBox(dir, box);
    case fslInGrp: ++counters.AllCreatedBoxes; return RefuseBoxHere(dir, wfx::ERROR_WRITE_PROTECT);
    default: return {false, wfx::ERROR_INVALID_LEVEL};
  }
}

TDoneOutcome TKofTreeOps::RefuseBoxHere(const TKofHostPath& dir, int detailError) {
  Report(dopCreateBox, dir.Full(), dir.Name(), kNotThisType, "");
  return {false, CollectingDetails() ? detailError : wfx::ERROR_WRITE_FAULT};
}

TDoneOutcome TKofTreeOps::CreateBox(const TKofHostPath& dir, const TNewBox& box) {
  FPanel.FTransfers.SetOpened({});
  FPanel.CheckAccessCode();
  std::unique_ptr<TKofObject> object;
  if (box.Group)
    object = std::make_unique<TKofSafeBoxGroup>(box.Name, "", box.Private, box.ParentId);
  else
    object = std::make_unique<TKofSafeBox>(box.Name, "", box.Private, box.ParentId);
  std::int32_t id = 0;
  bool ok = Client().Add(box.ParentId, object, id, true, true);
  // A box of that name is there already: a copy of a folder tree fills it.
  const bool reused = !ok && Client().ErrorKey() == kKeyBoxDuplicate;
  if (!ok && !reused) {
    const std::string reason = Client().ErrorMsg();
    if (CollectingDetails()) {
      Report(dopCreateBox, dir.Full(), dir.Name(), reason, Client().ErrorKey());
      return {false, wfx::ERROR_ACCESS_DENIED};
    }
    FPanel.Prompts().ShowMessage(dir.Full(), std::string(kNotThisType) + "\r\n\r\n" + reason);
    return {false, wfx::ERROR_WRITE_FAULT};
  }
  ++Counters().OKCreatedBoxes;
  // A box that was there before the move is the user's, whatever the move leaves in it.
  if (Plugin().RenMovOp() && !reused) Plugin().HeldBoxes().push_back(dir.Canonical());
  // The parent as it is now, so that the new box can be entered at once.
  TPluginPanelItemList items;
  (void)FPanel.GetFileItemsByParent(kModeFsNames, items, true);
  return {true};
}

// --- removing safe boxes

bool TKofTreeOps::BoxEmptyForMove(const TKofObject& box) {
  TKofList members;
  if (box.ObjType() == kofSafeBoxGroup) return Client().GetSafeBoxes(box.Id(), &members, {}) && members.Count() == 0;
  return Client().GetRecords(box.Id(), &members, false, false, false) && members.Count() == 0;
}

TDoneOutcome TKofTreeOps::RemoveDir(int mode, const TKofHostPath& dir) {
  if (dir.Kind() == TPathKind::Accessories || dir.Kind() == TPathKind::Accessory) return {true};
  if (dir.Parts().size() < 2) return {false};
  if (!FPanel.MatchLevelTo(mode, dir.Parent(), fsoDelete).Ok) return {false, wfx::ERROR_PATH_NOT_FOUND};
  const TKofObject* box = FindMember(FPanel, dir.Name());
  if (!box || !IsBox(*box)) return {false};
  // A move removes a source folder only once everything in it went over.
  if (Plugin().RenMovOp()) {
    Plugin().SetMoving(true);
    if (!BoxEmptyForMove(*box)) return {false};
  }
  if (!DeleteBox(*box, dir)) return {false};
  ++Counters().OKRemovedBoxes;
  TPluginPanelItemList items;
  (void)FPanel.GetFileItemsByParent(kModeFsNames, items, true);
  return {true};
}

bool TKofTreeOps::DeleteBox(const TKofObject& box, const TKofHostPath& dir) {
  if (DeleteFileItems({&box}, dir.Full())) return true;
  if (Client().ErrorKey() != kKeyHasExternalFiles) return false;
  const std::string name = TKofFileSysList::ReplaceFsNameBack(box.Name());
  const std::string reason = Client().ErrorMsg();
  if (!FPanel.Prompts().AskYesNo("Remove Safe Box", "Cannot delete safe box \"" + name +
                                                        "\". It contains external files stored in the Storage. "
                                                        "Delete these external files?")) {
    Report(dopRemoveBox, dir.Parent().Full(), name, reason, kKeyHasExternalFiles);
    return false;
  }
  return DeleteExternalFiles(box, dir) && DeleteFileItems({&box}, dir.Full());
}

bool TKofTreeOps::DeleteExternalFiles(const TKofObject& box, const TKofHostPath& dir) {
  Report(dopRemoveBox, dir.Full(), TKofFileSysList::ReplaceFsNameBack(box.Name()), kNoExternalFiles, "");
  return false;
}

// --- deleting records

bool TKofTreeOps::DeleteFileItems(const std::vector<const TKofObject*>& items, const std::string& dir) {
  bool all = true;
  for (const TKofObject* item : items) {
    std::unique_ptr<TKofObject> fresh;
    if (IsBox(*item))
      fresh = Client().GetSafeBox(item->Id());
    else
      fresh = Client().GetRecord(item->Id(), false, false);
    if (fresh && Client().Delete(fresh.get())) continue;
    all = false;
    // The question about a box's external files comes first.
    if (IsBox(*item) && Client().ErrorKey() == kKeyHasExternalFiles) continue;
    Report(IsBox(*item) ? dopRemoveBox : dopDeleteRec, dir, TKofFileSysList::ReplaceFsNameBack(item->Name()),
           Client().ErrorMsg(), Client().ErrorKey());
  }
  return all;
}

int TKofTreeOps::DeleteRecord(TKofObject& object) { return Client().Delete(&object) ? 0 : wfx::FS_FILE_NOTFOUND; }

bool TKofTreeOps::DeleteExternalRecord(const TKofObject& record, const TKofHostPath& remote) {
  // Deleting only the record would leave its stored file behind for good.
  Report(dopDeleteRec, remote.Parent().Full(), TKofFileSysList::ReplaceFsNameBack(record.Name()), kNoExternalFiles, "");
  return false;
}

TDoneOutcome TKofTreeOps::DeleteFile(int mode, const TKofHostPath& remote) {
  constexpr int kNone = wfx::ERROR_NO_MORE_FILES;
  if (remote.Kind() == TPathKind::Accessory || remote.Kind() == TPathKind::Accessories) return {true};
  if (remote.Kind() == TPathKind::BinItem) {
    // The host's own confirmation was the question.
    const TDeletedItem* item = FPanel.ListedBinItem(remote.Name());
    if (!item || !Client().RemoveDeletedRecord(item->Id())) return {false, kNone};
    return {true};
  }
  if (remote.Parts().size() < 2) return {false, kNone};
  if (!FPanel.MatchLevelTo(mode, remote.Parent(), fsoDelete).Ok) return {false, kNone};
  const TKofObject* object = FindMember(FPanel, remote.Name());
  if (!object) return {false, kNone};
  const bool ok = object->ObjType() == kofExternalFile ? DeleteExternalRecord(*object, remote)
                                                        : DeleteFileItems({object}, remote.Parent().Full());
  if (!ok) return {false, kNone};
  TPluginPanelItemList items;
  (void)FPanel.GetFileItemsByParent(kModeFsNames, items, true);
  return {true};
}

// --- renames

TCodeOutcome TKofTreeOps::Rename(const TKofHostPath& oldName, const TKofHostPath& newName, bool move, bool overwrite) {
  if (oldName.Parts().size() < 2) return {wfx::FS_FILE_NOTFOUND};
  if (!FPanel.MatchLevelTo(0, oldName.Parent(), fsoRenMovSingle).Ok) return {wfx::FS_FILE_NOTFOUND};
  const TKofObject* listed = FindMember(FPanel, oldName.Name());
  if (!listed) return {wfx::FS_FILE_NOTFOUND};
  const std::string oldEntry = oldName.Name();
  const std::string newEntry = newName.Name();
  if (newEntry == oldEntry) {
    CountItem(-1);  // nothing to do, nothing failed
    return {overwrite ? wfx::FS_FILE_OK : wfx::FS_FILE_EXISTS};
  }
  std::string name = newEntry;
  if (!IsBox(*listed)) {
    const std::string ext = ExtractFileExt(newEntry);
    // The extension tells the record's kind; it is not the user's to change.
    if (!SameText(ExtractFileExt(oldEntry), ext)) {
      CountItem(-1);
      return {wfx::FS_FILE_OK};
    }
    if (ext.empty()) return {wfx::FS_FILE_NOTSUPPORTED};
    name = RecordNameFromEntry(newEntry);
  }
  if (move) Plugin().SetRenaming(true);
  return RenameObject(*listed, TKofFileSysList::ReplaceFsNameBack(name), oldName);
}

TCodeOutcome TKofTreeOps::RenameObject(const TKofObject& listed, const std::string& newName,
                                       const TKofHostPath& oldName) {
  FPanel.CheckAccessCode();
  // The object as the server holds it: the listing's names are escaped, and
  // fields it did not read are not sent, so the update changes the name alone.
  std::unique_ptr<TKofObject> fresh;
  if (IsBox(listed))
    fresh = Client().GetSafeBox(listed.Id());
  else
    fresh = Client().GetRecord(listed.Id(), false, false);
  if (fresh) {
    fresh->SetName(newName);
    if (Client().Update(fresh.get(), false)) {
      CountCopied();
      CountDeleted();
      TPluginPanelItemList items;
      (void)FPanel.GetFileItemsByParent(kModeFsNames, items, true);
      return {wfx::FS_FILE_OK};
    }
    if (IsDuplicateKey(Client().ErrorKey())) {
      CountItem(-1);
      return {wfx::FS_FILE_EXISTS};
    }
  }
  Report(dopUpdateRec, oldName.Parent().Full(), oldName.Name(), Client().ErrorMsg(), Client().ErrorKey());
  return {wfx::FS_FILE_WRITEERROR};
}

// --- copies between folders

std::unique_ptr<TKofRecord> TKofTreeOps::ReadForCopy(const TKofHostPath& oldName, TKofObject*& listed) {
  listed = nullptr;
  if (oldName.Parts().size() < 2 || !FPanel.MatchLevelTo(0, oldName.Parent(), fsoRenMovSingle).Ok) return nullptr;
  listed = FindMember(FPanel, oldName.Name());
  if (!listed || IsBox(*listed)) return nullptr;
  FPanel.CheckAccessCode();
  std::unique_ptr<TKofRecord> record;
  if (FPanel.AskAccessCode("Copying record(-s)")) record = Client().GetRecord(listed->Id(), true, true);
  if (!record)
    Report(dopReadRec, oldName.Parent().Full(), oldName.Name(),
           Client().ErrorMsg().empty() ? "The record could not be read" : Client().ErrorMsg(), Client().ErrorKey());
  return record;
}

std::int32_t TKofTreeOps::PutRecord(const TKofRecord& record, const TKofHostPath& newName, bool overwrite,
                                    const std::string& recordName) {
  const std::string dir = newName.Parent().Full();
  const std::string entry = newName.Name();
  if (newName.Parts().size() < 2 || !FPanel.MatchLevelTo(0, newName.Parent(), fsoRenMovSingle).Ok ||
      !FPanel.FileBox()) {
    Report(dopSaveRec, dir, entry, "Records are stored in safe boxes only", "");
    return 0;
  }
  const std::int32_t boxId = FPanel.GetLevelData(FPanel.Level()).FParentBoxId;
  const TKofObject* existing = FindMember(FPanel, entry);
  if (existing && !overwrite) return -1;
  if (!FPanel.AskAccessCode("Putting record(-s)")) {
    Report(dopSaveRec, dir, entry, "No access code", "");
    return 0;
  }
  TJSONObject json = ParseKofJSON(record.SaveTo(false, true).View());
  const TJSONWiper wiper(json);
  std::unique_ptr<TKofObject> copy = TKofObject::CreateObject(json, &Client());
  if (!copy || copy->ObjType() != record.ObjType()) {
    Report(dopSaveRec, dir, entry, "The record could not be copied", "");
    return 0;
  }
  const std::string name =
      recordName.empty() ? TKofFileSysList::ReplaceFsNameBack(RecordNameFromEntry(entry)) : recordName;
  copy->SetName(name);
  std::int32_t id = 0;
  bool ok;
  if (existing) {
    // Written over in place: the target keeps its record until the new content is stored.
    if (existing->ObjType() != copy->ObjType()) {
      Report(dopSaveRec, dir, entry, "A record of another kind has this name", "");
      copy->WipeStrings();
      return 0;
    }
    id = existing->Id();
    copy->SetId(id);
    ok = Client().Update(copy.get(), true);
  } else {
    copy->SetId(0);
    ok = Client().Add(boxId, copy.get(), id, true);
  }
  copy->WipeStrings();
  if (!ok) {
    if (!existing && IsDuplicateKey(Client().ErrorKey())) return -1;
    Report(dopSaveRec, dir, entry, Client().ErrorMsg(), Client().ErrorKey());
    return 0;
  }
  // What the source may be deleted for: the target holds a record of that
  // kind and name, with all of its file.
  const std::unique_ptr<TKofRecord> back = Client().GetRecord(id, false, false);
  const auto* file = dynamic_cast<const TKofFile*>(back.get());
  const std::int64_t size = ContentSize(record);
  const bool same = back && back->Id() == id && back->ObjType() == record.ObjType() &&
                    back->Name() == name && (size < 0 || (file && file->FileSizeApprox() == size));
  if (!same) {
    Report(dopSaveRec, dir, entry, "The stored copy does not match the record", "");
    if (!existing) {
      // Nothing half-copied stays behind.
      copy->SetId(id);  // by its id: the read-back may have failed
      (void)Client().Delete(copy.get());
    }
    return 0;
  }
  TPluginPanelItemList items;
  (void)FPanel.GetFileItemsByParent(kModeFsNames, items, true);
  return id;
}

// --- the plugin object's rename, copy and move

void ReleaseHeldBox(std::vector<std::string>& heldBoxes, const std::string& panelPath) {
  for (auto it = heldBoxes.begin(); it != heldBoxes.end(); ++it) {
    const TKofHostPath held(*it);
    if (!EndsText(panelPath, held.PanelPath()) && !EndsText(held.PanelPath(), panelPath)) continue;
    heldBoxes.erase(it);
    return;
  }
}

void OfferHeldBoxes(TTotalCmdKofPlugin& plugin) {
  plugin.Lock().AssertHeld();  // reached from the end of a move, inside the export
  // Deepest first, so that a group can go once its boxes went.
  std::vector<std::string> held = std::move(plugin.HeldBoxes());
  plugin.HeldBoxes().clear();
  for (auto it = held.rbegin(); it != held.rend(); ++it) (void)plugin.RemoveDir(0, TKofHostPath(*it));
}

TCodeOutcome RenMovInSessions(TTotalCmdKofPlugin& plugin, TTotalCmdKofPanel& source, TTotalCmdKofPanel& target,
                              const TKofHostPath& oldName, const TKofHostPath& newName, bool move, bool overwrite) {
  TKofTreeOps& from = source.Tree();
  TKofTreeOps& to = target.Tree();
  if (&source == &target && (!move || overwrite)) {
    plugin.ShowMessageDlg(source.SessionName(), kSameSession, 0x10000);
    from.ClearCounters();
    return {wfx::FS_FILE_USERABORT};
  }
  from.CountItem(1);
  if (&source == &target && SameText(oldName.Parent().Canonical(), newName.Parent().Canonical()))
    return from.Rename(oldName, newName, move, overwrite);
  TKofObject* listed = nullptr;
  std::unique_ptr<TKofRecord> record = from.ReadForCopy(oldName, listed);
  if (!record) return {listed ? wfx::FS_FILE_READERROR : wfx::FS_FILE_NOTFOUND};
  if (record->ObjType() == kofExternalFile) {
    record->WipeStrings();
    from.Report(dopSaveRec, newName.Parent().Full(), newName.Name(), kNoExternalFiles, "");
    plugin.ShowMessageDlg("External File Error", kNoExternalFiles, 0x10000);
    return {wfx::FS_FILE_USERABORT};
  }
  // Under the entry it was listed as, the copy keeps the record's own name.
  const bool sameEntry = oldName.Name() == newName.Name();
  const std::int32_t id = to.PutRecord(*record, newName, overwrite, sameEntry ? record->Name() : std::string());
  if (id < 0) {
    record->WipeStrings();
    from.CountItem(-1);
    return {wfx::FS_FILE_EXISTS};
  }
  if (id == 0) {
    record->WipeStrings();
    return {wfx::FS_FILE_WRITEERROR};
  }
  from.CountCopied();
  TCodeOutcome result{wfx::FS_FILE_OK};
  if (move) {
    if (from.DeleteRecord(*record) == 0) {
      from.CountDeleted();
    } else {
      from.Report(dopDeleteRec, oldName.Parent().Full(), oldName.Name(), source.KofClient()->ErrorMsg(),
                  source.KofClient()->ErrorKey());
    }
  }
  record->WipeStrings();
  return result;
}

// --- sessions and records

namespace {

// A session's entry as a record's name: its extension becomes ".KOF".
std::string SessionRecordEntry(const std::string& entry) {
  const std::string ext = ExtractFileExt(entry);
  if (ext == ".<KOF>" || TKofSession::ValidInputExt(ext)) return entry.substr(0, entry.size() - ext.size()) + ".KOF";
  return entry + ".KOF";
}

std::string InFolder(const TKofHostPath& path, const std::string& name) {
  const std::string folder = path.Parent().Canonical();
  return (folder == "\\" ? "" : folder) + "\\" + name;
}

}  // namespace

TCodeOutcome RecordToSession(TKofSessionsFolder& folder, TTotalCmdKofPanel& source, const TKofHostPath& oldName,
                             const TKofHostPath& newName, bool move, bool overwrite) {
  TKofTreeOps& from = source.Tree();
  const std::string entry = newName.Name();
  const std::string ext = ExtractFileExt(entry);
  if (!TKofSession::ValidInputExt(ext)) return {wfx::FS_FILE_NOTFOUND};
  TKofObject* listed = nullptr;
  std::unique_ptr<TKofRecord> record = from.ReadForCopy(oldName, listed);
  if (!record) return {listed ? wfx::FS_FILE_READERROR : wfx::FS_FILE_NOTFOUND};
  const auto* file = record->ObjType() == kofFile ? static_cast<const TKofFile*>(record.get()) : nullptr;
  TCodeOutcome result{wfx::FS_FILE_READERROR};
  if (file && file->Stream()) {
    const std::string bytes(file->Stream()->begin(), file->Stream()->end());
    result = folder.ImportText(bytes, InFolder(newName, entry.substr(0, entry.size() - ext.size()) + ".KOF"), overwrite);
  }
  if (result.Value == wfx::FS_FILE_OK && move && from.DeleteRecord(*record) != 0) {
    from.Report(dopDeleteRec, oldName.Parent().Full(), oldName.Name(), source.KofClient()->ErrorMsg(),
                source.KofClient()->ErrorKey());
  }
  record->WipeStrings();
  // The sessions folder keeps no report.
  from.ClearCounters();
  return result;
}

TCodeOutcome SessionToRecord(TKofSessionsFolder& folder, TTotalCmdKofPanel& target, const TKofHostPath& oldName,
                             const TKofHostPath& newName, bool move, bool overwrite) {
  TKofTreeOps& to = target.Tree();
  const std::optional<std::string> text = folder.SessionText(oldName.PanelPath());
  if (!text) return {wfx::FS_FILE_NOTFOUND};
  to.CountItem(1);
  const std::string entry = SessionRecordEntry(newName.Name());
  const TKofFile record(entry, "", "", "", "", entry,
                        TByteSpan(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
  const std::int32_t id = to.PutRecord(record, TKofHostPath(InFolder(newName, entry), THostRole::Target), overwrite);
  if (id < 0) {
    to.CountItem(-1);
    return {wfx::FS_FILE_EXISTS};
  }
  if (id == 0) return {wfx::FS_FILE_WRITEERROR};
  to.CountCopied();
  if (move) {
    if (folder.Delete(oldName.PanelPath()))
      to.CountDeleted();
    else
      to.Report(dopDeleteRec, "\\", oldName.Name(), "The session could not be deleted", "");
  }
  return {wfx::FS_FILE_OK};
}

}  // namespace kof
