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
constexpr const char* kExternalNotDeleted = "The external file was not deleted from the Storage";

bool IsBox(const TKofObject& object) { return kofBoxKinds.Contains(object.ObjType()); }

// A file or certificate record whose file the server keeps with it.
bool HasRecordFile(const TKofRecord& record) {
  const auto* file = dynamic_cast<const TKofFile*>(&record);
  return file && record.ObjType() != kofExternalFile && !file->Filename().empty();
}

// The member a host entry names, reading the level again once when the name
// is not there (it may have been created since the level was read).
TKofObject* FindMember(TTotalCmdKofPanel& panel, const std::string& entry) {
  TLevelData& level = panel.GetLevelData(panel.Level());
  if (TKofObject* object = level.Find(entry)) return object;
  TPluginPanelItemList items;
  if (!panel.GetFileItemsByParent(kModeFsNames, items, true).Ok) return nullptr;
  return panel.GetLevelData(panel.Level()).Find(entry);
}

}  // namespace

std::string RecordNameFromEntry(std::string_view entry) {
  const std::string ext = ExtractFileExt(entry);
  if (ext.empty()) return std::string(entry);
  const TKofObjectType kind = GetKofObjectTypeByExt(ext);
  if (kind == kofSafeBox || kind == kofFile) return std::string(entry);
  return std::string(entry.substr(0, entry.size() - ext.size()));
}

// --- file content between sessions

TDownloadSink TKofSpooledContent::Sink() {
  const int fd = FFile.Handle.Fd();
  return {[this, fd] {
            FSize = 0;
            if (SeekFile(fd, 0, SEEK_SET) == 0 && TruncateFile(fd, 0)) return true;
            FFile.Error = errno;
            return false;
          },
          [this, fd](const char* data, std::size_t length) {
            if (!WriteAll(fd, data, length)) {
              FFile.Error = errno;
              return false;
            }
            FSize += static_cast<std::int64_t>(length);
            return true;
          }};
}

TUploadSource TKofSpooledContent::Source() const { return FileUploadSource(FFile.Handle.Fd(), FSize); }

std::optional<SecureString> TKofSpooledContent::Small(std::size_t maxBytes) const {
  if (!Valid() || FSize > static_cast<std::int64_t>(maxBytes) || SeekFile(FFile.Handle.Fd(), 0, SEEK_SET) != 0) return std::nullopt;
  // A session file may hold credentials: no plain copy of it outlives this call.
  std::string bytes(static_cast<std::size_t>(FSize), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::int64_t n = ReadSome(FFile.Handle.Fd(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      WipeString(bytes);
      return std::nullopt;
    }
    done += static_cast<std::size_t>(n);
  }
  SecureString result(bytes);
  WipeString(bytes);
  return result;
}

TKofClient& TKofTreeOps::Client() const { return *FPanel.KofClient(); }
TTotalCmdKofPlugin& TKofTreeOps::Plugin() const { return FPanel.Plugin(); }
TKofOperationCounts& TKofTreeOps::Counters() const { return Plugin().OperationLog().Counts; }
bool TKofTreeOps::CollectingDetails() const { return Plugin().OperationLog().AddingDetailsAllowed(); }

void TKofTreeOps::ReadLevelAgain() {
  TPluginPanelItemList items;
  (void)FPanel.GetFileItemsByParent(kModeFsNames, items, true);
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
  ReadLevelAgain();
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
  // The host's listings of the folders below moved the stack on.
  FPanel.RestoreDeleteLevel();
  if (!FPanel.MatchLevelTo(mode, dir.Parent(), fsoDelete).Ok) return {false, wfx::ERROR_PATH_NOT_FOUND};
  TKofObject* box = FindMember(FPanel, dir.Name());
  if (!box || !IsBox(*box)) return {false};
  // A move removes a source folder only once everything in it went over.
  if (Plugin().RenMovOp()) {
    Plugin().SetMoving(true);
    if (!BoxEmptyForMove(*box)) return {false};
  }
  const TPluginKofLevel parent = FPanel.Level();
  const std::int32_t id = box->Id();
  if (!DeleteBox(*box, dir)) return {false};
  FPanel.GetLevelData(parent).Forget(id);
  return {true};
}

bool TKofTreeOps::DeleteBox(TKofObject& box, const TKofHostPath& dir) {
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
  if (FPanel.ExternalFiles().DeleteBoxExternalFiles(box.Id(), false, true)) return true;
  Report(dopRemoveBox, dir.Parent().Full(), TKofFileSysList::ReplaceFsNameBack(box.Name()), kExternalNotDeleted, "");
  return false;
}

// --- deleting records

bool TKofTreeOps::DeleteFileItems(const std::vector<TKofObject*>& items, const std::string& dir) {
  bool all = true;
  // The server deletes by kind and id, which the listing holds: nothing is read first.
  for (TKofObject* item : items) {
    if (Client().Delete(item)) continue;
    all = false;
    // The question about a box's external files comes first.
    if (IsBox(*item) && Client().ErrorKey() == kKeyHasExternalFiles) continue;
    Report(IsBox(*item) ? dopRemoveBox : dopDeleteRec, dir, TKofFileSysList::ReplaceFsNameBack(item->Name()),
           Client().ErrorMsg(), Client().ErrorKey());
  }
  return all;
}

int TKofTreeOps::DeleteRecord(TKofObject& object) { return Client().Delete(&object) ? 0 : wfx::FS_FILE_NOTFOUND; }

void TKofTreeOps::DeleteMovedSource(TKofObject& record, const TKofHostPath& oldName) {
  if (DeleteRecord(record) == 0) {
    CountDeleted();
    return;
  }
  Report(dopDeleteRec, oldName.Parent().Full(), oldName.Name(), Client().ErrorMsg(), Client().ErrorKey());
}

bool TKofTreeOps::DeleteExternalRecord(const TKofObject& record, const TKofHostPath& remote) {
  // The record and its stored file go together: neither is left without the other.
  const std::string name = TKofFileSysList::ReplaceFsNameBack(record.Name());
  const int code = FPanel.ExternalFiles().DeleteExternalFileRecord(record.Id(), name);
  if (code == 0) return true;
  Report(dopDeleteRec, remote.Parent().Full(), name,
         Client().ErrorCode() != 0 && Client().ErrorCode() != 200 ? Client().ErrorMsg() : kExternalNotDeleted,
         Client().ErrorKey());
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
  TKofObject* object = FindMember(FPanel, remote.Name());
  if (!object) return {false, kNone};
  const std::int32_t id = object->Id();
  const bool ok = object->ObjType() == kofExternalFile ? DeleteExternalRecord(*object, remote)
                                                        : DeleteFileItems({object}, remote.Parent().Full());
  if (!ok) return {false, kNone};
  // The other members keep the names the host listed them under: a multi-file
  // delete names them so, and a listing read now could rename a duplicate.
  FPanel.GetLevelData(FPanel.Level()).Forget(id);
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
      ReadLevelAgain();
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

std::unique_ptr<TKofRecord> TKofTreeOps::ReadForCopy(const TKofHostPath& oldName, TKofObject*& listed,
                                                     TKofSpooledContent& content) {
  listed = nullptr;
  if (oldName.Parts().size() < 2 || !FPanel.MatchLevelTo(0, oldName.Parent(), fsoRenMovSingle).Ok) return nullptr;
  listed = FindMember(FPanel, oldName.Name());
  if (!listed || IsBox(*listed)) return nullptr;
  FPanel.CheckAccessCode();
  std::unique_ptr<TKofRecord> record;
  if (FPanel.AskAccessCode("Copying record(-s)")) record = Client().GetRecord(listed->Id(), true, false);
  if (record && HasRecordFile(*record)) {
    // The file goes to a private temporary file, not into memory.
    const bool spooled = content.Open() && Client().DownloadFileTo(static_cast<TKofFile*>(record.get()), content.Sink());
    if (!spooled) {
      const std::string reason = !content.Valid() || Client().ErrorMsg().empty()
                                     ? "The file could not be kept for the copy: " + SystemErrorText(content.Error())
                                     : Client().ErrorMsg();
      Report(dopReadRec, oldName.Parent().Full(), oldName.Name(), reason, Client().ErrorKey());
      record->WipeStrings();
      return nullptr;
    }
  }
  if (!record)
    Report(dopReadRec, oldName.Parent().Full(), oldName.Name(),
           Client().ErrorMsg().empty() ? "The record could not be read" : Client().ErrorMsg(), Client().ErrorKey());
  return record;
}

std::int32_t TKofTreeOps::PutRecord(const TKofRecord& record, const TUploadSource* content,
                                    const TKofHostPath& newName, bool overwrite, const std::string& recordName) {
  const std::string dir = newName.Parent().Full();
  const std::string entry = newName.Name();
  if (newName.Parts().size() < 2 || !FPanel.MatchLevelTo(0, newName.Parent(), fsoRenMovSingle).Ok ||
      !FPanel.FileBox()) {
    Report(dopSaveRec, dir, entry, "Records are stored in safe boxes only", "");
    return 0;
  }
  const TLevelData& level = FPanel.GetLevelData(FPanel.Level());
  const std::int32_t boxId = level.FParentBoxId;
  // The level as the stack read it; a record of that name made since shows in the server's duplicate answer.
  std::optional<TExistingRecord> existing;
  std::string listedName;  // what an overwrite keeps: the entry may carry the file's extension
  if (const TKofObject* listed = level.Find(entry)) {
    existing = TExistingRecord{listed->Id(), listed->ObjType()};
    listedName = listed->Name();
  }
  if (existing && !overwrite) return -1;
  if (!FPanel.AskAccessCode("Putting record(-s)")) {
    Report(dopSaveRec, dir, entry, "No access code", "");
    return 0;
  }
  // Every field but the file, which goes up from CONTENT.
  TJSONObject json = ParseKofJSON(record.SaveTo(false, false).View());
  const TJSONWiper wiper(json);
  std::unique_ptr<TKofObject> copy = TKofObject::CreateObject(json, &Client());
  if (!copy || copy->ObjType() != record.ObjType()) {
    Report(dopSaveRec, dir, entry, "The record could not be copied", "");
    return 0;
  }
  const TWipedObject wiped(*copy);
  const std::string name = !recordName.empty() ? recordName
                           : !listedName.empty() ? listedName
                                                 : TKofFileSysList::ReplaceFsNameBack(RecordNameFromEntry(entry));
  copy->SetName(name);
  if (auto* file = dynamic_cast<TKofFile*>(copy.get()); file && content) file->SetFileSizeApprox(content->Size);
  std::int32_t id = 0;
  if (!existing) {
    copy->SetId(0);
    if (!Client().Add(boxId, copy.get(), id, true) && IsDuplicateKey(Client().ErrorKey())) {
      if (!overwrite) return -1;
      existing = ReadExisting(Client().RecordId());
      if (!existing) {
        Report(dopSaveRec, dir, entry, Client().ErrorMsg(), Client().ErrorKey());
        return 0;
      }
    } else if (id <= 0) {
      Report(dopSaveRec, dir, entry, Client().ErrorMsg(), Client().ErrorKey());
      return 0;
    }
  }
  if (existing && existing->Kind != copy->ObjType()) {
    Report(dopSaveRec, dir, entry, "A record of another kind has this name", "");
    return 0;
  }
  const bool stored = Store(*copy, content, existing, id);
  if (!stored || !StoredAsSent(record, id, name, content ? content->Size : -1)) {
    if (stored) Report(dopSaveRec, dir, entry, "The stored copy does not match the record", "");
    else Report(dopSaveRec, dir, entry, Client().ErrorMsg(), Client().ErrorKey());
    if (!existing && id > 0) {
      // Nothing half-copied stays behind.
      copy->SetId(id);  // by its id: the read-back may have failed
      (void)Client().Delete(copy.get());
    }
    return 0;
  }
  ReadLevelAgain();
  return id;
}

bool TKofTreeOps::Store(TKofObject& copy, const TUploadSource* content, const std::optional<TExistingRecord>& existing,
                        std::int32_t& id) {
  auto* file = dynamic_cast<TKofFile*>(&copy);
  const auto upload = [&] { return !content || !file || Client().UploadFileFrom(file, *content); };
  if (!existing) return upload();
  // Written over in place, content first: a failed upload leaves the target's
  // fields describing the content it still holds.
  id = existing->Id;
  copy.SetId(id);
  return upload() && Client().Update(&copy, true);
}

std::optional<TKofTreeOps::TExistingRecord> TKofTreeOps::ReadExisting(std::int32_t id) {
  if (id <= 0) return std::nullopt;
  const std::unique_ptr<TKofRecord> record = Client().GetRecord(id, false, false);
  if (!record) return std::nullopt;
  return TExistingRecord{id, record->ObjType()};
}

bool TKofTreeOps::StoredAsSent(const TKofRecord& record, std::int32_t id, const std::string& name,
                               std::int64_t size) {
  // What the source may be deleted for: the target holds a record of that
  // kind and name, with all of its file.
  const std::unique_ptr<TKofRecord> back = Client().GetRecord(id, false, false);
  const auto* file = dynamic_cast<const TKofFile*>(back.get());
  return back && back->Id() == id && back->ObjType() == record.ObjType() && back->Name() == name &&
         (size < 0 || (file && file->FileSizeApprox() == size));
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
    // The item is not counted; what failed before it in the operation is still reported.
    plugin.ShowMessageDlg(source.SessionName(), kSameSession, 0x10000);
    return {wfx::FS_FILE_USERABORT};
  }
  from.CountItem(1);
  if (&source == &target && SameText(oldName.Parent().Canonical(), newName.Parent().Canonical()))
    return from.Rename(oldName, newName, move, overwrite);
  TKofObject* listed = nullptr;
  TKofSpooledContent content;
  std::unique_ptr<TKofRecord> record = from.ReadForCopy(oldName, listed, content);
  if (!record) return {listed ? wfx::FS_FILE_READERROR : wfx::FS_FILE_NOTFOUND};
  const TWipedObject wiped(*record);
  if (record->ObjType() == kofExternalFile) {
    return TKofExternalFiles::CopyBetweenBoxes(plugin, source, target, static_cast<TKofExternalFile&>(*record),
                                               oldName, newName, move, overwrite);
  }
  // Under the entry it was listed as, the copy keeps the record's own name.
  const bool sameEntry = oldName.Name() == newName.Name();
  const bool withFile = HasRecordFile(*record);
  const TUploadSource file = content.Source();
  const std::int32_t id =
      to.PutRecord(*record, withFile ? &file : nullptr, newName, overwrite, sameEntry ? record->Name() : std::string());
  if (id < 0) {
    from.CountItem(-1);
    return {wfx::FS_FILE_EXISTS};
  }
  if (id == 0) return {wfx::FS_FILE_WRITEERROR};
  from.CountCopied();
  if (move) from.DeleteMovedSource(*record, oldName);
  return {wfx::FS_FILE_OK};
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
  from.CountItem(1);
  if (!TKofSession::ValidInputExt(ext)) {
    from.Report(dopSaveRec, "\\", entry, "A session needs the extension .KOF, .CFG or .INI", "");
    return {wfx::FS_FILE_NOTFOUND};
  }
  TKofObject* listed = nullptr;
  TKofSpooledContent content;
  std::unique_ptr<TKofRecord> record = from.ReadForCopy(oldName, listed, content);
  if (!record) return {listed ? wfx::FS_FILE_READERROR : wfx::FS_FILE_NOTFOUND};
  const TWipedObject wiped(*record);
  const std::optional<SecureString> bytes =
      record->ObjType() == kofFile ? content.Small(kMaxSessionFileBytes) : std::nullopt;
  if (!bytes) {
    from.Report(dopSaveRec, "\\", entry, "Only a file record holding a session file becomes a session", "");
    return {wfx::FS_FILE_READERROR};
  }
  const TCodeOutcome result =
      folder.ImportText(bytes->View(), InFolder(newName, entry.substr(0, entry.size() - ext.size()) + ".KOF"), overwrite);
  if (result.Value == wfx::FS_FILE_EXISTS) {
    from.CountItem(-1);
    return result;
  }
  if (result.Value != wfx::FS_FILE_OK) {
    from.Report(dopSaveRec, "\\", entry, "The record holds no valid session file", "");
    return result;
  }
  from.CountCopied();
  if (move) from.DeleteMovedSource(*record, oldName);
  return result;
}

TCodeOutcome SessionToRecord(TKofSessionsFolder& folder, TTotalCmdKofPanel& target, const TKofHostPath& oldName,
                             const TKofHostPath& newName, bool move, bool overwrite) {
  TKofTreeOps& to = target.Tree();
  const std::optional<std::string> text = folder.SessionText(oldName.PanelPath());
  if (!text) return {wfx::FS_FILE_NOTFOUND};
  to.CountItem(1);
  const std::string entry = SessionRecordEntry(newName.Name());
  const TKofFile record(entry, "", "", "", "", entry, nullptr, false);
  const TUploadSource file{static_cast<std::int64_t>(text->size()),
                           [&](std::int64_t offset, char* buffer, std::size_t length) {
                             const std::size_t n = std::min(length, text->size() - static_cast<std::size_t>(offset));
                             std::copy_n(text->data() + offset, n, buffer);
                             return static_cast<std::int64_t>(n);
                           }};
  const std::int32_t id =
      to.PutRecord(record, &file, TKofHostPath(InFolder(newName, entry), THostRole::Target), overwrite);
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
