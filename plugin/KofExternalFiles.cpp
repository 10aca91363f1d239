#include "plugin/KofExternalFiles.h"

#include <algorithm>
#include <cerrno>

#include "client/KofClients.h"
#include "client/KofErrors.h"
#include "extfiles/KofUtils.h"
#include "model/KofFilesys.h"
#include "platform/KofFileIO.h"
#include "plugin/TotalCmdKofClasses5.h"
#include "plugin/TotalCmdKofPanel5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofDebug.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

constexpr const char* kTitle = "External File Error";
constexpr const char* kDeleteTitle = "Error deleting external file";
constexpr std::size_t kMiB = 1048576;
constexpr const char* kLoadFailed = "Error loading/decrypting the external file from Storage";
constexpr const char* kSaveFailed = "Error saving/encrypting the external file to storage";
constexpr const char* kRecryptFailed = "Error recrypting the external file in Storage";
constexpr const char* kInterrupted = "Copying has been interrupted";

constexpr TCodeOutcome kReadFailed{wfx::FS_FILE_READERROR, wfx::ERROR_READ_FAULT};
constexpr TCodeOutcome kWriteFailed{wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};

TExtTransfer Only(TCodeOutcome outcome) { return {outcome, {}, false, efcOk}; }

std::string Replaced(std::string text, std::string_view value) {
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

// Windows separates folders with "\" as well as "/".
#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\";
#else
constexpr std::string_view kSeparators = "/";
#endif

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

// Sets the progress names for one operation when no outer one set them, and
// clears what it set at the end, however the operation ends.
class TKofExternalFiles::TProgressNames {
 public:
  TProgressNames(TKofExternalFiles& owner, const std::string& source, const std::string& target)
      : FOwner(owner), FSet(owner.FProgressSrcName.empty() && owner.FProgressDstName.empty()) {
    if (!FSet) return;
    FOwner.FProgressSrcName = source;
    FOwner.FProgressDstName = target;
  }
  ~TProgressNames() {
    if (!FSet) return;
    FOwner.FProgressSrcName.clear();
    FOwner.FProgressDstName.clear();
  }
  TProgressNames(const TProgressNames&) = delete;
  TProgressNames& operator=(const TProgressNames&) = delete;

 private:
  TKofExternalFiles& FOwner;
  bool FSet;
};

// Key material stays in the cipher only while an operation runs.
class TKeyScope {
 public:
  explicit TKeyScope(TOpenSSLGcmCrypto& codec) : FCodec(codec) {}
  ~TKeyScope() { FCodec.ClearKeys(); }
  TKeyScope(const TKeyScope&) = delete;
  TKeyScope& operator=(const TKeyScope&) = delete;

 private:
  TOpenSSLGcmCrypto& FCodec;
};

TKofExternalFiles::TKofExternalFiles(TTotalCmdKofPanel& panel) : FPanel(panel) { FSslCodec.SetIncludedErrNo(true); }

TKofClient& TKofExternalFiles::Client() const { return *FPanel.KofClient(); }

std::size_t TKofExternalFiles::BufferSize() const {
  const TKofSession* session = FPanel.CurrentSession();
  if (!session) return kMiB;
  return static_cast<std::size_t>(std::clamp(session->BufferSize(), 1, 64)) * kMiB;
}

void TKofExternalFiles::ShowError(const std::string& text) const { FPanel.Prompts().ShowMessage(kTitle, text); }

std::string TKofExternalFiles::MapStoredPath(std::string_view stored) const {
  return LocalStoredPath(FPanel.Owner().Substitutions(), ExpandEnvironmentVariables(stored));
}

std::int64_t TKofExternalFiles::GetStoredFileSize(const std::string& stored, bool plain) const {
  const std::string local = MapStoredPath(stored);
  const std::optional<std::int64_t> size = local.empty() ? std::nullopt : FileSizeOf(local);
  if (!size) return 0;
  return plain ? PlainSizeOfStoredFile(*size) : *size;
}

bool TKofExternalFiles::CheckPaths(const std::string& readPath, const std::string& writePath) const {
  if (readPath.empty() || !FileExists(readPath)) {
    ShowError(Replaced("File %s not exists.", readPath));
    return false;
  }
  // A stored path that this machine cannot reach names no local folder.
  const std::string folder = !IsLocalStoredPath(writePath) ? std::string() : FolderOf(writePath);
  if (folder.empty() || !FolderExists(folder)) {
    ShowError(Replaced("Folder %s not exists.", folder.empty() ? ExtractFilePath(writePath) : folder));
    return false;
  }
  return true;
}

TCryptoStatusEvent TKofExternalFiles::ProgressEvent() {
  return [this](int percent, bool& broken) {
    if (FPanel.Owner().Progress(FProgressSrcName, FProgressDstName, percent)) broken = true;
  };
}

void TKofExternalFiles::SetKeys(int set, const TKofExternalFileAttributes& attrs) {
  if (set == 0) {
    FSslCodec.SetKey(attrs.efKey.View());
    FSslCodec.SetIv(attrs.efIV.View());
    FSslCodec.SetAad(attrs.efAAD.View());
  } else {
    FSslCodec.SetKey2(attrs.efKey.View());
    FSslCodec.SetIv2(attrs.efIV.View());
    FSslCodec.SetAad2(attrs.efAAD.View());
  }
}

bool TKofExternalFiles::RecryptStoredFile(const std::string& source, const std::string& target,
                                          const TKofExternalFileAttributes& sourceAttrs,
                                          const TKofExternalFileAttributes& targetAttrs) {
  FSslCodec.ClearLastError();
  const std::string from = MapStoredPath(source);
  const std::string to = MapStoredPath(target);
  if (from.empty()) {
    ShowError(Replaced("File %s not exists.", source));
    return false;
  }
  if (!CheckPaths(from, to.empty() ? target : to)) return false;
  const TProgressNames names(*this, sourceAttrs.efFilePath, targetAttrs.efFilePath);
  const TKeyScope keys(FSslCodec);
  SetKeys(0, sourceAttrs);
  SetKeys(1, targetAttrs);
  return FSslCodec.Recrypt(from, to, BufferSize(), ProgressEvent()) == 0;
}

bool TKofExternalFiles::DecryptStoredFile(const std::string& stored, const std::string& local,
                                          const TKofExternalFile& record, bool encryptTarget) {
  FSslCodec.ClearLastError();
  const std::string from = MapStoredPath(stored);
  if (from.empty()) {
    ShowError(Replaced("File %s not exists.", stored));
    return false;
  }
  if (!CheckPaths(from, local)) return false;
  const TProgressNames names(*this, stored, record.Name());
  const TKeyScope keys(FSslCodec);
  SetKeys(0, record.Attributes());
  return FSslCodec.Decrypt(from, local, BufferSize(), ProgressEvent(), encryptTarget) == 0;
}

bool TKofExternalFiles::EncryptStoredFile(const std::string& local, const std::string& stored,
                                          const TKofExternalFileAttributes& attrs) {
  FSslCodec.ClearLastError();
  const std::string to = MapStoredPath(stored);
  if (!CheckPaths(local, to.empty() ? stored : to)) return false;
  const TProgressNames names(*this, local, attrs.efFilePath);
  const TKeyScope keys(FSslCodec);
  SetKeys(0, attrs);
  return FSslCodec.Encrypt(local, to, BufferSize(), ProgressEvent()) == 0;
}

void TKofExternalFiles::DiscardStoredFile(const std::string& stored) {
  const std::string local = MapStoredPath(stored);
  if (!local.empty() && FileExists(local)) RemoveFile(local);
}

// --- deleting

bool TKofExternalFiles::ReportDeleteError(int code, const std::string& path, const std::string& recordName,
                                          bool askDelete) {
  TKofPrompts& prompts = FPanel.Prompts();
  TKofClient& client = Client();
  if (client.ErrorCode() != 0 && client.ErrorCode() != 200) {
    prompts.ShowMessage("KOF Error", recordName + "\r\n" + client.ErrorMsg());
    return false;
  }
  const std::string missing = recordName + "\r\n\r\nEncrypted external file not found \"" + path +
                              "\". \r\n\r\nCannot operate external file without external file path access!";
  if (code == efcNotFound && askDelete) {
    const std::string question =
        missing +
        "\r\n\r\nDo you want to delete the external file record anyway?\r\n\r\n(You may have incorrectly mapped "
        "disks.\r\nIf you delete and empty record that does not know the link to the encrypted file attached, you "
        "will most likely never find it and the file will remain taking up storage space!)";
    return prompts.AskYesNo(kDeleteTitle, question) && prompts.AskYesNo("Delete external file record", "Are you sure?");
  }
  if (code == efcNotFound) {
    prompts.ShowMessage(kDeleteTitle, missing);
    return false;
  }
  const int error = errno;
  prompts.ShowMessage(kDeleteTitle, error != 0
                                        ? recordName + "\r\n" + SystemErrorText(error) + " (" + path + ")"
                                        : recordName + "\r\nCannot delete external file (" + path + ")");
  return false;
}

int TKofExternalFiles::DeleteStoredFile(const std::string& stored, const std::string& recordName, bool retry,
                                        bool silent) {
  const std::string local = MapStoredPath(stored);
  if (!local.empty() && FileExists(local)) {
    const int error = RemoveFile(local);
    if (error == 0) return efcOk;
    Client().ClearError();
    errno = error;
    ReportDeleteError(efcFailed, local, recordName, false);
    return efcFailed;
  }
  // Nothing left to delete once the caller knew it might be gone.
  if (retry) return efcOk;
  return ConfirmMissingStoredFile(stored, recordName, silent);
}

int TKofExternalFiles::ConfirmMissingStoredFile(const std::string& stored, const std::string& recordName,
                                                bool silent) {
  if (silent) return efcNotFound;
  Client().ClearError();
  return ReportDeleteError(efcNotFound, stored, recordName, true) ? efcOk : efcNotFound;
}

int TKofExternalFiles::DeleteRecordForGood(TKofExternalFile& record) {
  TKofClient& client = Client();
  if (!client.Delete(&record)) return efcFailed;
  // A record in the bin without its file could be restored to nothing.
  if (!client.RemoveDeletedRecord(record.Id())) return efcNotFound;  // the record stays, in the bin
  return efcOk;
}

// A stored file moved to a hidden name beside it while its record goes: the
// move shows that the file can be removed there, and is undone when the record
// stays (in its box, or in the bin, from where it may be restored).
class TKofExternalFiles::TStoredFileAside {
 public:
  explicit TStoredFileAside(std::string path) : FPath(std::move(path)) {
    std::string aside;
    // The hidden name is taken first, so the move cannot land on someone's file.
    TPrivateFile placeholder = CreatePrivateTempFile(FolderOf(FPath), ".kof~del", aside);
    if (!placeholder.Handle.Valid()) {
      FError = placeholder.Error;
      return;
    }
    placeholder.Handle.Reset();
    FError = RenameFile(FPath, aside);
    if (FError != 0) {
      (void)RemoveFile(aside);
      return;
    }
    FAside = std::move(aside);
  }
  ~TStoredFileAside() { (void)PutBack(); }
  TStoredFileAside(const TStoredFileAside&) = delete;
  TStoredFileAside& operator=(const TStoredFileAside&) = delete;

  // errno of a failed move aside.
  int Error() const { return FError; }
  const std::string& Aside() const { return FAside; }
  int PutBack() { return FAside.empty() ? 0 : Finish(RenameFile(FAside, FPath)); }
  int Remove() { return FAside.empty() ? 0 : Finish(RemoveFile(FAside)); }

 private:
  int Finish(int error) {
    if (error == 0) FAside.clear();
    return error;
  }

  std::string FPath;
  std::string FAside;
  int FError = 0;
};

int TKofExternalFiles::DeleteExternalFile(TKofExternalFile* record, bool silent) {
  if (!record) return efcNotExternal;
  const std::string stored = record->efFilePath();
  const std::string local = MapStoredPath(stored);
  if (local.empty() || !FileExists(local)) {
    const int code = ConfirmMissingStoredFile(stored, record->Name(), silent);
    return code == efcOk ? DeleteRecordForGood(*record) : code;
  }
  // The record goes before its file: a record whose deletion failed still
  // has its file, and so does one the bin kept.
  TStoredFileAside aside(local);
  if (aside.Error() != 0) {
    Client().ClearError();
    errno = aside.Error();
    ReportDeleteError(efcFailed, local, record->Name(), false);
    return efcFailed;
  }
  const int code = DeleteRecordForGood(*record);
  if (code != efcOk) {
    if (const int error = aside.PutBack())
      ShowError(record->Name() + "\r\nThe stored file could not get its name back (" + SystemErrorText(error) +
                "): it lies at " + aside.Aside());
    return code;
  }
  // No record points at the file any more; if it cannot go, the user hears where it stays.
  if (const int error = aside.Remove())
    ShowError(record->Name() + "\r\n" + SystemErrorText(error) + " (" + aside.Aside() + ")");
  return efcOk;
}

int TKofExternalFiles::DeleteExternalFileRecord(std::int32_t id, const std::string& name) {
  std::unique_ptr<TKofRecord> record = Client().GetRecord(id, true, false);
  auto* external = dynamic_cast<TKofExternalFile*>(record.get());
  if (!external) return efcNoRecord;
  const TWipedObject wiped(*record);
  if (!name.empty()) external->SetName(name);
  return DeleteExternalFile(external, false);
}

bool TKofExternalFiles::DeleteBoxExternalFiles(std::int32_t boxId, bool silent, bool stopOnError) {
  TKofClient& client = Client();
  const auto serverError = [&] {
    if (!silent) FPanel.Prompts().ShowMessage("KOF Error", client.ErrorMsg());
    return false;
  };
  TKofList children;
  if (!client.GetSafeBoxes(boxId, &children, {.IncludeGroupBoxes = true})) return serverError();
  if (children.Count() > 0) {
    for (const auto& child : children)
      if (!DeleteBoxExternalFiles(child->Id(), silent, stopOnError)) return false;
    return true;
  }
  TKofList records;
  if (!client.GetRecords(boxId, &records, false, false, false)) return serverError();
  bool all = true;
  for (const auto& listed : records) {
    if (listed->ObjType() != kofExternalFile) continue;
    const std::unique_ptr<TKofRecord> record = client.GetRecord(listed->Id(), true, false);
    int code = efcNotExternal;
    if (record) {
      const TWipedObject wiped(*record);
      code = DeleteExternalFile(dynamic_cast<TKofExternalFile*>(record.get()), silent);
    }
    if (code == efcOk) continue;
    all = false;
    if (stopOnError) return false;
  }
  return all;
}

// --- copying into another box

int TKofExternalFiles::CopyExternalFileRecord(TTotalCmdKofPanel& target, TKofExternalFile& newRecord, bool overwrite,
                                              const TKofExternalFile& source) {
  const std::int32_t boxId = target.GetLevelData(target.Level()).FParentBoxId;
  const TKofExternalFileAttributes sourceAttrs = source.Attributes();
  const TKofExternalFileAttributes newAttrs = newRecord.Attributes();
  if (!RecryptStoredFile(source.efFilePath(), newRecord.efFilePath(), sourceAttrs, newAttrs)) {
    if (!FSslCodec.CopyingHasBeenInterrupted()) return efcFailed;
    FSslCodec.SetCopyingHasBeenInterrupted(false);
    return efcInterrupted;
  }
  TKofClient& client = *target.KofClient();
  std::int32_t id = 0;
  if (client.Add(boxId, &newRecord, id, true)) return efcOk;
  if (!IsDuplicateKey(client.ErrorKey()) || !overwrite) {
    // No record points at the new stored file: it must not stay behind.
    target.ExternalFiles().DiscardStoredFile(newRecord.efFilePath());
    return IsDuplicateKey(client.ErrorKey()) ? efcExists : efcFailed;
  }
  const TExtTransfer over =
      target.ExternalFiles().StoreOver(client.RecordId(), newAttrs, newRecord.FileSize());
  return over.Code;
}

TExtTransfer TKofExternalFiles::CipherFailure(const std::string& failure, bool reading) {
  if (FSslCodec.CopyingHasBeenInterrupted()) {
    FSslCodec.SetCopyingHasBeenInterrupted(false);
    return {{wfx::FS_FILE_USERABORT}, kInterrupted, false, efcInterrupted};
  }
  // A missing file or folder was told already; the cipher's own failure is told here.
  if (FSslCodec.LastError() != 0) ShowError(FSslCodec.LastErrorMsg());
  return {reading ? kReadFailed : kWriteFailed, failure, false, efcFailed};
}

TExtTransfer TKofExternalFiles::CopyOut(std::int32_t id, const std::string& local, bool overwrite, bool encrypt,
                                        bool move) {
  if (FileExists(local) && !overwrite) return Only({wfx::FS_FILE_EXISTS});
  std::unique_ptr<TKofRecord> record = Client().GetRecord(id, true, false);
  auto* external = dynamic_cast<TKofExternalFile*>(record.get());
  if (!external) {
    FPanel.Prompts().ShowMessage("Error", Client().ErrorMsg());
    return {kReadFailed, Client().ErrorMsg(), true, efcNoRecord};
  }
  const TWipedObject wiped(*record);
  const std::string stored = external->efFilePath();
  LogEntryFormat(false, "External file: decrypt to \"%s\"", local.c_str());
  if (!DecryptStoredFile(stored, local, *external, encrypt)) return CipherFailure(kLoadFailed, true);
  const int deleted = move ? DeleteExternalFile(external, false) : efcOk;
  if (deleted != efcOk) {
    const std::string text = "Cannot delete file " + stored + ".";
    ShowError(text);
    return {kReadFailed, text, false, deleted};
  }
  return Only({wfx::FS_FILE_OK});
}

TExtTransfer TKofExternalFiles::Seal(const std::string& local, TKofExternalFileAttributes& attrs) {
  const std::int32_t boxId = FPanel.GetLevelData(FPanel.Level()).FParentBoxId;
  TKofClient& client = Client();
  if (!client.GetExternalFileParams(boxId, attrs.efKey, attrs.efIV, attrs.efAAD, attrs.efFilePath)) {
    FPanel.Prompts().ShowMessage(kTitle, client.ErrorMsg());
    return {{wfx::FS_FILE_USERABORT}, client.ErrorMsg(), true, efcFailed};
  }
  attrs.efOrigFileName = ExtractFileName(local);
  LogEntryFormat(false, "External file: encrypt \"%s\"", local.c_str());
  if (!EncryptStoredFile(local, attrs.efFilePath, attrs)) {
    DiscardStoredFile(attrs.efFilePath);
    return CipherFailure(kSaveFailed, false);
  }
  return Only({wfx::FS_FILE_OK});
}

bool TKofExternalFiles::AddRecord(const std::string& name, const TKofExternalFileAttributes& attrs,
                                  std::int64_t size) {
  TKofExternalFile record(name, "", "", "", attrs.efOrigFileName, attrs.efFilePath, attrs.efKey.View(),
                          attrs.efIV.View(), attrs.efAAD.View(), size);
  const TWipedObject wiped(record);
  std::int32_t id = 0;
  return Client().Add(FPanel.GetLevelData(FPanel.Level()).FParentBoxId, &record, id, true);
}

TExtTransfer TKofExternalFiles::Store(const std::string& local, const std::string& name, std::int64_t size,
                                      std::int32_t existingId, bool overwrite) {
  TKofExternalFileAttributes attrs;
  const TExtTransfer sealed = Seal(local, attrs);
  if (sealed.Outcome.Value != wfx::FS_FILE_OK) return sealed;
  if (existingId > 0) return StoreOver(existingId, attrs, size);
  if (AddRecord(name, attrs, size)) return Only({wfx::FS_FILE_OK});
  TKofClient& client = Client();
  if (IsDuplicateKey(client.ErrorKey()) && overwrite) return StoreOver(client.RecordId(), attrs, size);
  // No record points at the stored file: it must not stay behind.
  DiscardStoredFile(attrs.efFilePath);
  if (IsDuplicateKey(client.ErrorKey())) return Only({wfx::FS_FILE_EXISTS});
  FPanel.Prompts().ShowMessage("Error", client.ErrorMsg());
  return {kWriteFailed, client.ErrorMsg(), true, efcFailed};
}

TExtTransfer TKofExternalFiles::StoreOver(std::int32_t id, const TKofExternalFileAttributes& attrs,
                                          std::int64_t size) {
  TKofClient& client = Client();
  std::unique_ptr<TKofRecord> existing = client.GetRecord(id, true, false);
  if (!existing) {
    DiscardStoredFile(attrs.efFilePath);
    return {kWriteFailed, client.ErrorMsg(), true, efcFailed};
  }
  const TWipedObject wiped(*existing);
  auto* external = dynamic_cast<TKofExternalFile*>(existing.get());
  if (!external) {
    DiscardStoredFile(attrs.efFilePath);
    const std::string text = "Existing record \"" + existing->Name() + "\" is not an external file.\nSkipped.";
    FPanel.Prompts().ShowMessage("Error", text);
    return {kWriteFailed, text, false, efcNotExternal};
  }
  const std::string old = external->efFilePath();
  external->Assign(attrs);
  external->SetFileSize(size);
  const bool updated = client.Update(external, false);
  const std::string name = external->Name();
  if (!updated) {
    DiscardStoredFile(attrs.efFilePath);
    FPanel.Prompts().ShowMessage("Error", client.ErrorMsg());
    return {kWriteFailed, client.ErrorMsg(), true, efcFailed};
  }
  // Only now does the record point at the new file: the old one may go.
  if (!SameText(old, attrs.efFilePath)) (void)DeleteStoredFile(old, name, true, true);
  return Only({wfx::FS_FILE_OK});
}

// --- between boxes and sessions

TCodeOutcome TKofExternalFiles::CopyBetweenBoxes(TTotalCmdKofPlugin& plugin, TTotalCmdKofPanel& source,
                                                 TTotalCmdKofPanel& target, TKofExternalFile& record,
                                                 const TKofHostPath& oldName, const TKofHostPath& newName, bool move,
                                                 bool overwrite) {
  TKofTreeOps& from = source.Tree();
  const std::string dir = newName.Parent().Full();
  const std::string entry = newName.Name();
  if (newName.Parts().size() < 2 || !target.MatchLevelTo(0, newName.Parent(), fsoRenMovSingle).Ok ||
      !target.FileBox()) {
    from.Report(dopSaveRec, dir, entry, "Records are stored in safe boxes only", "");
    return {wfx::FS_FILE_WRITEERROR};
  }
  TLevelData& level = target.GetLevelData(target.Level());
  const TKofObject* existing = level.Find(entry);
  if (existing && !overwrite) {
    from.CountItem(-1);
    return {wfx::FS_FILE_EXISTS};
  }
  if (!target.AskAccessCode("Putting record(-s)")) {
    from.Report(dopSaveRec, dir, entry, "No access code", "");
    return {wfx::FS_FILE_WRITEERROR};
  }
  TKofClient& client = *target.KofClient();
  TKofExternalFileAttributes attrs;
  if (!client.GetExternalFileParams(level.FParentBoxId, attrs.efKey, attrs.efIV, attrs.efAAD, attrs.efFilePath)) {
    from.Report(dopSaveRec, dir, entry, client.ErrorMsg(), client.ErrorKey());
    plugin.ShowMessageDlg(kTitle, client.ErrorMsg(), 0x10000);
    return {wfx::FS_FILE_USERABORT};
  }
  const std::string name = oldName.Name() == entry ? record.Name()
                                                   : TKofFileSysList::ReplaceFsNameBack(RecordNameFromEntry(entry));
  TKofExternalFile copy(name, record.Description(), record.Tags(), record.Note(), record.efOrigFilename(),
                        attrs.efFilePath, attrs.efKey.View(), attrs.efIV.View(), attrs.efAAD.View(),
                        record.FileSize());
  const TWipedObject wiped(copy);
  const int code = source.ExternalFiles().CopyExternalFileRecord(target, copy, overwrite, record);
  switch (code) {
    case efcOk: break;
    case efcExists: from.CountItem(-1); return {wfx::FS_FILE_EXISTS};
    case efcInterrupted: return {wfx::FS_FILE_USERABORT};
    default: {
      const TOpenSSLGcmCrypto& codec = source.ExternalFiles().Codec();
      if (code == efcFailed && codec.LastError() != 0)
        plugin.ShowMessageDlg(kTitle, codec.LastErrorMsg(), 0x10000);
      from.Report(dopSaveRec, dir, entry, kRecryptFailed, "");
      return {wfx::FS_FILE_WRITEERROR};
    }
  }
  from.CountCopied();
  target.Tree().ReadLevelAgain();
  if (!move) return {wfx::FS_FILE_OK};
  // The source as the copy read it, secrets and all.
  const int deleted = source.ExternalFiles().DeleteExternalFile(&record, false);
  if (deleted == efcOk)
    from.CountDeleted();
  else
    from.Report(dopDeleteRec, oldName.Parent().Full(), oldName.Name(), source.KofClient()->ErrorMsg(),
                source.KofClient()->ErrorKey());
  return {wfx::FS_FILE_OK};
}

std::string MappingText(const TExtSubstitutions& rules) {
  if (rules.Count() == 0) return "Mapping paths to external files is not set";
  std::string text;
  for (const auto& rule : rules) {
    text += rule->KofPattern() + "   ->   " + rule->Replacement();
    if (rule->Expanded() != rule->Replacement()) text += "   (" + rule->Expanded() + ")";
    text += "\r\n";
  }
  return text;
}

}  // namespace kof
