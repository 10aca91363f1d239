#include "plugin/KofTransfers.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/KofClients.h"
#include "platform/KofFileIO.h"
#include "plugin/TotalCmdKofClasses5.h"
#include "model/KofFileStreamEx.h"
#include "model/KofFilesys.h"
#include "plugin/TotalCmdKofPanel5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofDebug.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"
#include "versions/VarnokVersions.h"

namespace kof {
namespace {

constexpr std::size_t kWipeBlock = 0x40000;

bool StoredFileKind(TKofObjectType kind) {
  return kind == kofFile || kind == kofCertificate || kind == kofExternalFile;
}

constexpr TCodeOutcome kReadFailed{wfx::FS_FILE_READERROR, wfx::ERROR_READ_FAULT};

std::string ErrorNumberText(const char* format, const std::string& path, int error) {
  std::string text = format;
  text.replace(text.find("%s"), 2, path);
  text.replace(text.find("%d"), 2, std::to_string(error));
  return text;
}

// The host's progress of one transfer: called at least every 1 MiB and every
// 0.2 s with the byte-accurate percentage, so that a file manager repaints and
// a cancel stops the transfer at once.
class TTransferProgress {
 public:
  TTransferProgress(TCommonKofPlugin& plugin, std::string source, std::string target, std::int64_t total)
      : FPlugin(plugin), FSource(std::move(source)), FTarget(std::move(target)), FTotal(total) {}

  void Restart() {
    FDone = 0;
    FReported = 0;
    FLast = std::chrono::steady_clock::now();
  }
  // True when the user asked to stop.
  bool Moved(std::size_t bytes) {
    FDone += static_cast<std::int64_t>(bytes);
    const auto now = std::chrono::steady_clock::now();
    if (FDone - FReported < (1 << 20) && now - FLast < std::chrono::milliseconds(200)) return false;
    FReported = FDone;
    FLast = now;
    return FPlugin.Progress(FSource, FTarget, Percent());
  }

 private:
  int Percent() const {
    if (FTotal <= 0) return 0;
    // The size a listing knows may be approximate; never claim the end early.
    return static_cast<int>(std::min<std::int64_t>(99, FDone * 100 / FTotal));
  }

  TCommonKofPlugin& FPlugin;
  std::string FSource;
  std::string FTarget;
  std::int64_t FTotal;
  std::int64_t FDone = 0;
  std::int64_t FReported = 0;
  std::chrono::steady_clock::time_point FLast = std::chrono::steady_clock::now();
};

}  // namespace

bool TransliterateFile(const std::string& path) {
  if (!FileExists(path)) return true;
  TOpenedFile file = OpenFileForOverwriting(path);
  if (!file.Handle.Valid()) return false;
  const std::optional<std::int64_t> size = FileSize(file.Handle.Fd());
  if (!size) return false;
  const std::vector<char> block(kWipeBlock, 0x55);
  for (std::int64_t left = *size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, kWipeBlock));
    if (!WriteAll(file.Handle.Fd(), block.data(), n)) return false;
    left -= static_cast<std::int64_t>(n);
  }
  return true;
}

TKofClient& TKofTransfers::Client() const { return *FPanel.KofClient(); }

bool TKofTransfers::AskContinueAfter(const std::string& item, const std::string& message) {
  RememberServerError();
  const std::string& key = Client().ErrorKey();
  if (SameText(key, kKeyInvalidAccessCode) || SameText(key, kKeyBannedAccessCode)) {
    FPanel.Prompts().ShowMessage("Error", message);
    return false;
  }
  return FPanel.Prompts().AskYesNo(item, message + ". Continue?");
}

void TKofTransfers::ForgetFailure() {
  if (FPanel.Connected()) Client().ClearError();
  FLastPlugErrorStr.clear();
  FServerError.reset();
}

void TKofTransfers::RememberServerError() {
  TKofClient& client = Client();
  FServerError = TServerError{client.ErrorMsg(), client.ErrorKey()};
}

void TKofTransfers::AddDetail(TDetailOperations operation, const TKofHostPath& remote) {
  TKofOperationLog& log = FPanel.Owner().OperationLog();
  if (!log.AddingDetailsAllowed()) return;
  if (FServerError)
    log.AddDetail(operation, remote.Parent().Full(), remote.Name(), FServerError->Msg, FServerError->Key);
  else
    log.AddDetail(operation, remote.Parent().Full(), remote.Name(), FPanel.Connected() ? &Client() : nullptr,
                  FLastPlugErrorStr);
}

void TKofTransfers::Tell(std::string_view title, const std::string& text) {
  FLastPlugErrorStr = text;
  FPanel.Prompts().ShowMessage(title, text);
}

bool TKofTransfers::AskCancel() {
  return FPanel.Prompts().AskYesNo("Operation has been interrupted", "Do you really want to cancel it?");
}

TCodeOutcome TKofTransfers::GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags) {
  // The plugin's own entries of a session give no file.
  if (remote.Kind() == TPathKind::Accessory) return {wfx::FS_FILE_OK, wfx::ERROR_NO_MORE_FILES};
  if (remote.Kind() == TPathKind::BinItem) return {wfx::FS_FILE_OK};
  if (FPanel.NoneAction()) return {wfx::FS_FILE_OK};
  TCommonKofPlugin& plugin = FPanel.Owner();
  if (plugin.Progress(local, remote.Full(), 0)) return {wfx::FS_FILE_USERABORT};
  TCopyInfo info;
  if (flags & wfx::FS_COPYFLAGS_OVERWRITE) info.Decided = info.Overwrite = true;
  // Only the download of the entry opened serves the open: any other copy asks before it replaces a file.
  const bool opening = !FOpened.empty() && remote.Full() == FOpened;
  if (opening) mode |= 0x1 | 0x8;
  if (!FPanel.MatchLevelTo(mode, remote.Parent(), fsoGetSingle).Ok || !FPanel.Connected()) {
    if (opening && plugin.InTemporary(local)) TransliterateFile(local);
    return {wfx::FS_FILE_NOTFOUND, wfx::ERROR_INVALID_LEVEL};
  }
  if (FPanel.Level() == fslRoot || FPanel.AmInBoxGroup()) {
    FPanel.Prompts().ShowMessage("Error", FPanel.Level() == fslRoot ? "Cannot copy from Root"
                                                                    : "Cannot copy from Safe Box Group");
    return {wfx::FS_FILE_READERROR, wfx::ERROR_ACCESS_DENIED};
  }
  const TKofObject* object = FPanel.GetLevelData(FPanel.Level()).Find(remote.Name());
  if (!object || kofBoxKinds.Contains(object->ObjType())) return {wfx::FS_FILE_NOTFOUND};
  // A record that is no file may only be viewed: its text goes to a temporary folder.
  info.AsText = plugin.InTemporary(local) && !StoredFileKind(object->ObjType());
  if (!info.AsText && !StoredFileKind(object->ObjType())) {
    // A single account copied gives no file but its password, on the clipboard.
    const TKofObjectType kind = object->ObjType();
    if ((kind == kofAccount || kind == kofAccountSec) && FPanel.ListOperation() == fsoGetSingle &&
        !(flags & wfx::FS_COPYFLAGS_MOVE))
      FPanel.CopyRecordPassword(object->Id(), "Search record");
    return {wfx::FS_FILE_READERROR, wfx::ERROR_ACCESS_DENIED};
  }
  plugin.OperationLog().LastCopyInter = plugin.InTemporary(local);
  return Counted(dopReadRec, remote, local,
                 [&] { return GetFileItemsByLevel(mode, *object, remote, local, info, flags & wfx::FS_COPYFLAGS_MOVE); });
}

TCodeOutcome TKofTransfers::Counted(TDetailOperations operation, const TKofHostPath& remote,
                                    const std::string& local, const std::function<TCodeOutcome()>& transfer) {
  TKofOperationLog& log = FPanel.Owner().OperationLog();
  ++log.Counts.AllCopiedRecords;
  ForgetFailure();
  const TCodeOutcome result = transfer();
  if (result.Value == wfx::FS_FILE_EXISTS || result.Value == wfx::FS_FILE_USERABORT) {
    // Neither is a failure of the item: the host asks, or the user stopped.
    --log.Counts.AllCopiedRecords;
    return result;
  }
  if (result.Value != wfx::FS_FILE_OK) {
    AddDetail(operation, remote);
    return result;
  }
  ++log.Counts.OKCopiedRecords;
  if (FPanel.Owner().Progress(local, remote.Full(), 100)) return {wfx::FS_FILE_USERABORT};
  return result;
}

TCodeOutcome TKofTransfers::GetFileItemsByLevel(int mode, const TKofObject& object, const TKofHostPath& remote,
                                                const std::string& local, const TCopyInfo& info, bool move) {
  FPanel.CheckAccessCode();
  FEditedInfo = {};
  FOpenedCopy.clear();
  FLastSecNote.Clear();
  const bool opening = (mode & 0x8) != 0;
  if (opening && !FPanel.AskAccessCode("Editing record")) return {wfx::FS_FILE_USERABORT};
  const std::int32_t id = object.Id();
  // The host shows this file in its viewer and removes it afterwards.
  if (info.AsText) return WriteJSONText(object, local);
  if (object.ObjType() == kofExternalFile) return GetExternalFile(object, local, info, opening, move);
  if (FileExists(local) && !opening && !info.Overwrite) return {wfx::FS_FILE_EXISTS};
  std::unique_ptr<TKofRecord> record = Client().GetRecord(id, true, false);
  auto* file = dynamic_cast<TKofFile*>(record.get());
  if (!file) {
    AskContinueAfter(remote.Name(), Client().ErrorMsg());
    return kReadFailed;
  }
  if (info.OnlyNewer && FileExists(local)) {
    const std::optional<std::int64_t> localTime = FileModifiedUnix(local);
    if (localTime && DateTimeToUnix(file->ModifiedUTC()) <= *localTime) return {wfx::FS_FILE_OK};
  }
  TKofSession* session = FPanel.CurrentSession();
  if (opening && session && session->FilesWithPasswords() && FPanel.CopyPasswordToClipboard(*file) &&
      FPanel.ClipCopyMessage())
    FPanel.Prompts().ShowMessage("Information", "The password was copied to clipboard");
  if (opening) {
    FEditedInfo = {id, file->ModifiedUTC()};
    FOpenedCopy = local;
    auto* certificate = dynamic_cast<TKofCertificate*>(file);
    FLastSecNote = certificate ? certificate->FilePassword() : file->SecNote();
  }
  const bool encrypt = session && session->EncryptingFiles() && FPanel.Owner().InTemporary(local);
  TCodeOutcome written = DownloadRecord(*file, remote, local, encrypt);
  record->WipeStrings();
  if (written.Value != wfx::FS_FILE_OK || !move) return written;
  if (!Client().Delete(file)) {
    RememberServerError();
    FPanel.Prompts().ShowMessage("Error", Client().ErrorMsg());
    return {wfx::FS_FILE_READERROR, wfx::ERROR_READ_FAULT};
  }
  return written;
}

TCodeOutcome TKofTransfers::GetExternalFile(const TKofObject& object, const std::string& local, const TCopyInfo& info,
                                            bool opening, bool move) {
  TKofSession* session = FPanel.CurrentSession();
  // The plain copy an open leaves in a temporary folder is the user's alone.
  const bool encrypt =
      (opening || (session && session->EncryptingFiles())) && FPanel.Owner().InTemporary(local);
  const TCodeOutcome result =
      External(FPanel.ExternalFiles().CopyOut(object.Id(), local, info.Overwrite || opening, encrypt, move));
  if (opening && result.Value == wfx::FS_FILE_OK) {
    FEditedInfo = {object.Id(), object.ModifiedUTC()};
    FOpenedCopy = local;
  }
  return result;
}

TCodeOutcome TKofTransfers::WriteJSONText(const TKofObject& object, const std::string& local) {
  std::unique_ptr<TKofRecord> record = Client().GetRecord(object.Id(), true, true);
  if (!record) {
    RememberServerError();
    FPanel.Prompts().ShowMessage("Error", Client().ErrorMsg());
    return {wfx::FS_FILE_READERROR, wfx::ERROR_READ_FAULT};
  }
  SecureString text = record->SaveTo(false, true, 2);
  record->WipeStrings();
  TReplacementFile out(local);
  TFileHandle fd = out.TakeHandle();
  const bool ok = out.Valid() && WriteAll(fd.Fd(), text.CStr(), text.Size()) && out.Commit(fd.Fd(), 0600);
  const int error = out.Error() ? out.Error() : errno;
  text.Clear();
  if (ok) return {wfx::FS_FILE_OK};
  Tell("Loading", SystemErrorText(error) + " (error #" + std::to_string(error) + ")");
  return {wfx::FS_FILE_READERROR, wfx::ERROR_WRITE_FAULT};
}

TCodeOutcome TKofTransfers::DownloadRecord(TKofFile& record, const TKofHostPath& remote, const std::string& local,
                                           bool encrypt) {
  const std::string title = encrypt ? "Encrypting" : "Loading";
  LogEntryFormat(false, "savefil: \"%s\"; mode = %x; size = %lld", local.c_str(), fmCreate | (encrypt ? fmEncrypted : 0),
                 static_cast<long long>(record.FileSizeApprox()));
  // The content arrives in a new file beside the target, which takes the
  // target's place only once all of it is there.
  TReplacementFile out(local);
  if (!out.Valid()) {
    Tell(
        title, encrypt ? ErrorNumberText("Encryption of temporary file \"%s\" failed (error #%d).\r\n\r\n"
                                         "Uncheck encrypting in the Session Configuration dialog or properly set "
                                         "up EFS on Windows.",
                                         local, out.Error())
                       : ErrorNumberText("Loading file \"%s\" failed (error #%d).", local, out.Error()));
    return {wfx::FS_FILE_READERROR, wfx::ERROR_WRITE_FAULT};
  }
  TFileHandle fd = out.TakeHandle();
  TTransferProgress progress(FPanel.Owner(), local, remote.Full(), record.FileSizeApprox());
  int writeError = 0;
  bool aborted = false;
  const TDownloadSink sink{[&] {
                             progress.Restart();
                             if (SeekFile(fd.Fd(), 0, SEEK_SET) == 0 && TruncateFile(fd.Fd(), 0)) return true;
                             writeError = errno;
                             return false;
                           },
                           [&](const char* data, std::size_t length) {
                             if (!WriteAll(fd.Fd(), data, length)) {
                               writeError = errno;
                               return false;
                             }
                             aborted = progress.Moved(length);
                             return !aborted;
                           }};
  const bool downloaded = Client().DownloadFileTo(&record, sink);
  if (aborted) {
    out.Discard();
    AskCancel();
    return {wfx::FS_FILE_USERABORT};
  }
  if (writeError != 0 || (downloaded && !out.Commit(fd.Fd(), encrypt ? 0600 : DefaultFileMode()))) {
    const int error = writeError ? writeError : out.Error();
    out.Discard();
    LogErrorBlock("FileRec", "Save", 0, error > 0 ? error : -1, local);
    Tell(title, SystemErrorText(error) + " (error #" + std::to_string(error) + ")");
    return {wfx::FS_FILE_READERROR, wfx::ERROR_WRITE_FAULT};
  }
  if (!downloaded) {
    out.Discard();
    AskContinueAfter(remote.Name(), Client().ErrorMsg());
    return kReadFailed;
  }
  return {wfx::FS_FILE_OK};
}

bool NeedsExternalStorage(int serverMajorVersion, bool storeAllFiles, std::int64_t sizeLimit, std::int64_t size) {
  return serverMajorVersion > 4 && (storeAllFiles || (sizeLimit > 0 && size > sizeLimit));
}

std::string TKofTransfers::RefusalText(bool root) const {
  if (Client().Language() == TKofLanguage::koflngCzech)
    return root ? "Nelze kop\u00EDrovat soubory nebo z\u00E1znamy do Z\u00E1kladn\u00ED \u00FArovn\u011B "
                  "bezpe\u010Dnostn\u00EDch schr\u00E1nek"
                : "Nelze kop\u00EDrovat soubory nebo z\u00E1znamy do Skupiny bezpe\u010Dnostn\u00EDch schr\u00E1nek";
  return root ? "Cannot copy files to Root" : "Cannot copy files to Safe Box Group";
}

TCodeOutcome TKofTransfers::PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags) {
  if (FPanel.NoneAction()) return {wfx::FS_FILE_OK};
  if (remote.Kind() == TPathKind::Accessory || remote.Kind() == TPathKind::Accessories ||
      remote.Kind() == TPathKind::Bin || remote.Kind() == TPathKind::BinItem)
    return {wfx::FS_FILE_NOTSUPPORTED};
  if (FPanel.Owner().Progress(local, remote.Full(), 0)) return {wfx::FS_FILE_USERABORT};
  return Counted(dopSaveRec, remote, local, [&] { return PutFileItems(mode, local, remote, flags); });
}

TCodeOutcome TKofTransfers::PutFileItems(int mode, const std::string& local, const TKofHostPath& remote, int flags) {
  TCommonKofPlugin& plugin = FPanel.Owner();
  const std::optional<std::int64_t> size = FileSizeOf(local);
  if (!size) return {wfx::FS_FILE_NOTFOUND};
  // Opened before anything reaches the server: a file that cannot be read creates or changes no record.
  LogEntryFormat(false, "loadfil: \"%s\"", local.c_str());
  const TOpenedFile in = OpenFileForReading(local);
  if (!in.Handle.Valid()) {
    Tell("Error", ErrorNumberText("Cannot open file \"%s\" (error #%d).", local, in.Error));
    return {wfx::FS_FILE_READERROR, wfx::ERROR_READ_FAULT};
  }
  TCopyInfo info;
  if (flags & wfx::FS_COPYFLAGS_OVERWRITE) info.Decided = info.Overwrite = true;
  // Only the copy an open left in a temporary folder is the plugin's to wipe
  // once it served; any other file there is the user's.
  info.AsText = !FOpenedCopy.empty() && local == FOpenedCopy && plugin.InTemporary(local);
  if (!FPanel.MatchLevelTo(mode, remote.Parent(), fsoPutSingle).Ok || !FPanel.Connected())
    return {wfx::FS_FILE_NOTFOUND, wfx::ERROR_INVALID_LEVEL};
  const std::string item = remote.Name();
  if (FPanel.Level() == fslRoot || FPanel.AmInBoxGroup()) {
    Tell("Error", RefusalText(FPanel.Level() == fslRoot));
    return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};
  }
  TLevelData& level = FPanel.GetLevelData(FPanel.Level());
  const TKofObject* listed = level.Find(item);
  // The file the host brings back after an open is the record edited, whatever name it has now.
  const bool editing = !FOpened.empty() && remote.Full() == FOpened && FEditedInfo.Id > 0;
  const TKofObject* edited = editing ? level.ById(FEditedInfo.Id) : nullptr;
  if (listed && !edited && !info.Overwrite) return {wfx::FS_FILE_EXISTS};
  TKofSession* session = FPanel.CurrentSession();
  // An edited external file goes back to the storage whatever its size now.
  const bool external = (edited && edited->ObjType() == kofExternalFile) ||
                        NeedsExternalStorage(Client().KofVersionEncoded().Version,
                                             session && session->StoreAllFiles(), FPanel.FileSizeLimit(), *size);
  if (!FPanel.AskAccessCode("Putting record(-s)")) return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};
  // The entry the host asked to replace is that record, whatever name it is stored under.
  FEditDeclined = false;
  if (external) {
    const TCodeOutcome stored =
        edited ? StoreExternalEdit(local, remote, *size, *edited)
               : External(FPanel.ExternalFiles().Store(local, TKofFileSysList::ReplaceFsNameBack(item), *size,
                                                       listed ? listed->Id() : 0, info.Overwrite));
    return stored.Value == wfx::FS_FILE_OK ? AfterStored(local, flags, info) : stored;
  }
  TCodeOutcome result = edited   ? StoreEdit(in.Handle.Fd(), local, remote, *size, *edited)
                        : listed ? StoreOver(listed->Id(), in.Handle.Fd(), local, remote, *size, info)
                                 : StoreNew(in.Handle.Fd(), local, remote, *size, info);
  // An edit that could not be stored stays as it is, so that saving it again
  // loses nothing; only a stored one is wiped.
  if (result.Value != wfx::FS_FILE_OK) return result;
  return AfterStored(local, flags, info);
}

TCodeOutcome TKofTransfers::AfterStored(const std::string& local, int flags, const TCopyInfo& info) {
  const bool declined = std::exchange(FEditDeclined, false);
  if (info.AsText && !declined) TransliterateFile(local);
  // Only now is the content stored: the local file may go (not when the user declined storing it).
  if ((flags & wfx::FS_COPYFLAGS_MOVE) && !info.AsText && !declined) {
    if (const int error = RemoveFile(local)) {
      Tell("Error", ErrorNumberText("Cannot delete file \"%s\" (error #%d).", local, error));
      return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};
    }
  }
  return {wfx::FS_FILE_OK};
}

TCodeOutcome TKofTransfers::External(const TExtTransfer& transfer) {
  if (transfer.ServerError) RememberServerError();
  if (!transfer.Failure.empty()) FLastPlugErrorStr = transfer.Failure;
  return transfer.Outcome;
}

std::unique_ptr<TKofFile> TKofTransfers::NewFileRecord(bool certificate, const std::string& name,
                                                        const std::string& fileName, const SecureString& password,
                                                        std::int64_t size) const {
  std::unique_ptr<TKofFile> record;
  if (certificate)
    record = std::make_unique<TKofCertificate>(name, "", "", "", password.View(), fileName, "", password.View(),
                                               nullptr, false);
  else
    record = std::make_unique<TKofFile>(name, "", "", "", password.View(), fileName, nullptr, false);
  record->SetFileSizeApprox(size);
  return record;
}

TKofTransfers::TAdded TKofTransfers::AddRecord(TKofFile& record, int fd, const std::string& local,
                                               const TKofHostPath& remote, std::int64_t size) {
  std::int32_t id = 0;
  const std::int32_t boxId = FPanel.GetLevelData(FPanel.Level()).FParentBoxId;
  TKofClient& client = Client();
  if (!client.Add(boxId, &record, id, true)) {
    if (IsDuplicateKey(client.ErrorKey())) return {TAddResult::Duplicate, {}};
    if (EndsText("stringtoolong", client.ErrorKey())) return {TAddResult::TooLong, {}};
    return {TAddResult::Failed, StoreFailed(remote.Name(), false)};
  }
  bool aborted = false;
  if (Upload(record, fd, local, remote.Full(), size, aborted)) return {TAddResult::Stored, {wfx::FS_FILE_OK}};
  const TCodeOutcome failed = StoreFailed(remote.Name(), aborted);
  // The record the server created must not stay behind without its file.
  if (record.Id() > 0 && !client.Delete(&record)) FPanel.Prompts().ShowMessage("Error", client.ErrorMsg());
  return {TAddResult::Failed, failed};
}

TCodeOutcome TKofTransfers::StoreNew(int fd, const std::string& local, const TKofHostPath& remote,
                                     std::int64_t size, const TCopyInfo& info) {
  const std::string name = TKofFileSysList::ReplaceFsNameBack(remote.Name());
  const std::unique_ptr<TKofFile> record = NewFileRecord(IsCertificateExtension(ExtractFileExt(name)), name, ExtractFileName(local), {}, size);
  const TAdded added = AddRecord(*record, fd, local, remote, size);
  switch (added.Result) {
    case TAddResult::Stored:
    case TAddResult::Failed: return added.Outcome;
    case TAddResult::TooLong: return StoreFailed(remote.Name(), false);
    case TAddResult::Duplicate: break;
  }
  if (!info.Overwrite && !info.OnlyNewer) return {wfx::FS_FILE_EXISTS};
  return StoreOver(Client().RecordId(), fd, local, remote, size, info);
}

TVersionType TKofTransfers::EditVersionMode(const std::string& name) {
  TKofSession* session = FPanel.CurrentSession();
  if (!session) {
    TParsedFilename parts;
    return TVersionEngine::ParseFilename(ExtractFileNameNoExt(name), parts);
  }
  TVersionType mode = session->VersionType();
  // A choice holds for the rest of the session, which keeps it unsaved.
  if (session->AllowedVersionTypeChange() && FPanel.Prompts().ChooseVersionMode(mode)) session->SetVersionType(mode);
  return mode;
}

SecureString TKofTransfers::EditPassword(const std::string& name, bool certificate) {
  SecureString password = FLastSecNote;
  TKofSession* session = FPanel.CurrentSession();
  if (!password.Empty() || !session || !session->FilesWithPasswords()) return password;
  const bool asked = certificate ? FPanel.Prompts().AskCertificatePassword(name, password)
                                 : FPanel.Prompts().AskFilePassword(name, password);
  if (!asked) password.Clear();
  return password;
}

TCodeOutcome TKofTransfers::StoreEdit(int fd, const std::string& local, const TKofHostPath& remote,
                                      std::int64_t size, const TKofObject& edited) {
  // A new version is of the edited record's kind, whatever its name says.
  const bool certificate = edited.ObjType() == kofCertificate;
  const SecureString password = EditPassword(remote.Name(), certificate);
  return StoreVersioned(
      edited.Name(), remote,
      [&](const std::string& name) {
        const std::unique_ptr<TKofFile> record =
            NewFileRecord(certificate, name, ExtractFileName(local), password, size);
        return AddRecord(*record, fd, local, remote, size);
      },
      [&](std::int32_t existing) {
        TCopyInfo overwrite;
        overwrite.Decided = overwrite.Overwrite = true;
        return StoreOver(existing, fd, local, remote, size, overwrite, &password);
      });
}

TCodeOutcome TKofTransfers::StoreExternalEdit(const std::string& local, const TKofHostPath& remote,
                                              std::int64_t size, const TKofObject& edited) {
  TKofExternalFiles& files = FPanel.ExternalFiles();
  // Sealed once, before any record may point at it; the versions tried only name it.
  TKofExternalFileAttributes attrs;
  const TCodeOutcome sealed = External(files.Seal(local, attrs));
  if (sealed.Value != wfx::FS_FILE_OK) return sealed;
  bool pointedAt = false;
  const TCodeOutcome result = StoreVersioned(
      edited.Name(), remote,
      [&](const std::string& name) -> TAdded {
        if (files.AddRecord(name, attrs, size)) {
          pointedAt = true;
          return {TAddResult::Stored, {wfx::FS_FILE_OK}};
        }
        if (IsDuplicateKey(Client().ErrorKey())) return {TAddResult::Duplicate, {}};
        if (EndsText("stringtoolong", Client().ErrorKey())) return {TAddResult::TooLong, {}};
        return {TAddResult::Failed, StoreFailed(remote.Name(), false)};
      },
      [&](std::int32_t existing) {
        // Written over, the record points at the new file; a failure removes it.
        pointedAt = true;
        return External(files.StoreOver(existing, attrs, size));
      });
  if (!pointedAt) files.DiscardStoredFile(attrs.efFilePath);
  return result;
}

TCodeOutcome TKofTransfers::StoreVersioned(std::string name, const TKofHostPath& remote,
                                           const std::function<TAdded(const std::string& name)>& add,
                                           const std::function<TCodeOutcome(std::int32_t existing)>& over) {
  const TVersionType mode = EditVersionMode(name);
  const TEditedInfo editedInfo{FEditedInfo.Id};
  // Each refused name raises the number or index of the next; the bound only
  // stops a server that refuses every name.
  constexpr int kMaxAttempts = 1000;
  bool duplicate = false;
  // A name shortened for the server keeps the version mark it was refused with.
  bool shortened = false;
  for (int attempt = 0; attempt < kMaxAttempts && !duplicate; ++attempt) {
    if (!std::exchange(shortened, false))
      name = TVersionEngine::CreateVersionedFilename(Client(), name, mode, &editedInfo);
    const TAdded added = add(name);
    switch (added.Result) {
      case TAddResult::Stored:
      case TAddResult::Failed: return added.Outcome;
      case TAddResult::TooLong: {
        const std::string before = name;
        TVersionEngine::AutoShortening(name, name);
        if (name == before) return StoreFailed(remote.Name(), false);
        shortened = true;
        break;
      }
      case TAddResult::Duplicate:
        duplicate = mode != verNumber && mode != verUserDomainDailyIndex && mode != verUserDailyIndex;
        break;
    }
  }
  if (!duplicate) {
    Tell("Error", "No free name was found for \"" + name + "\".");
    return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};
  }
  const std::int32_t existing = Client().RecordId();
  if (!FPanel.Prompts().AskYesNo("File exists", "File \"" + name + "\" already exists. Overwrite it?")) {
    // Nothing was stored: the edit stays in its file.
    FEditDeclined = true;
    return {wfx::FS_FILE_OK};
  }
  return over(existing);
}

TCodeOutcome TKofTransfers::StoreOver(std::int32_t id, int fd, const std::string& local,
                                      const TKofHostPath& remote, std::int64_t size, const TCopyInfo& info,
                                      const SecureString* password) {
  const std::string item = remote.Name();
  std::unique_ptr<TKofRecord> existing = id > 0 ? Client().GetRecord(id, false, false) : nullptr;
  if (!existing) return StoreFailed(item, false);
  auto* file = dynamic_cast<TKofFile*>(existing.get());
  if (!file || existing->ObjType() == kofExternalFile) {
    Tell("Error", "Existing record \"" + item + "\" is not File record.\nSkipped.");
    return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};
  }
  if (info.OnlyNewer) {
    const std::optional<std::int64_t> localTime = FileModifiedUnix(local);
    if (localTime && DateTimeToUnix(file->ModifiedUTC()) >= *localTime) return {wfx::FS_FILE_OK};
  }
  file->SetFilename(ExtractFileName(local));
  file->SetFileSizeApprox(size);
  if (password && !password->Empty()) {
    file->SetSecNote(password->View());
    if (auto* certificate = dynamic_cast<TKofCertificate*>(file)) certificate->SetFilePassword(password->View());
  }
  bool aborted = false;
  if (!Client().Update(file, false) || !Upload(*file, fd, local, remote.Full(), size, aborted))
    return StoreFailed(item, aborted);
  return {wfx::FS_FILE_OK};
}

bool TKofTransfers::Upload(TKofFile& record, int fd, const std::string& local, const std::string& remote,
                           std::int64_t size, bool& aborted) {
  TTransferProgress progress(FPanel.Owner(), local, remote, size);
  const TUploadSource source = FileUploadSource(fd, size, [&](std::int64_t offset, std::size_t length) {
    if (offset == 0) progress.Restart();
    aborted = progress.Moved(length);
    return !aborted;
  });
  return Client().UploadFileFrom(&record, source);
}

TUploadSource FileUploadSource(int fd, std::int64_t size,
                               std::function<bool(std::int64_t offset, std::size_t length)> piece) {
  // Where the file stands: pieces follow each other, so only a new start seeks.
  auto position = std::make_shared<std::int64_t>(-1);
  return {size, [fd, position, piece = std::move(piece)](std::int64_t offset, char* buffer,
                                                         std::size_t length) -> std::int64_t {
            if (offset != *position) {
              if (SeekFile(fd, offset, SEEK_SET) != offset) return -1;
              *position = offset;
            }
            const std::int64_t n = ReadSome(fd, buffer, length);
            if (n <= 0) return -1;
            *position += n;
            if (piece && !piece(offset, static_cast<std::size_t>(n))) return -1;
            return n;
          }};
}

TCodeOutcome TKofTransfers::StoreFailed(const std::string& item, bool aborted) {
  if (aborted) {
    AskCancel();
    return {wfx::FS_FILE_USERABORT};
  }
  TKofClient& client = Client();
  RememberServerError();
  if (client.ErrorCode() == 413)
    FPanel.Prompts().AskYesNo(item, "File is too big. Continue?");
  else
    AskContinueAfter(item, client.ErrorMsg());
  return {wfx::FS_FILE_WRITEERROR, wfx::ERROR_WRITE_FAULT};
}

}  // namespace kof
