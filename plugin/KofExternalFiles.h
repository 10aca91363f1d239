#pragma once
// The external files of a panel: records whose content lies encrypted on the
// storage share (the path the server names, mapped to this machine by the
// substitution rules), and the operations on their stored files: store,
// bring back, re-key into another box, delete with the record.
//
// A stored file is only ever written under a temporary name and renamed into
// place once complete, and a plain file only once the tag verified (the
// container sees to both); a record never points at a stored file that is
// not complete, and a stored file that no record points at is removed.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "extfiles/KofOpenSslCrypto.h"
#include "extfiles/KofUtils.h"
#include "model/KofClasses.h"
#include "plugin/KofHostPaths.h"
#include "plugin/KofOutcome.h"

namespace kof {

class TKofClient;
class TKofRecord;
class TTotalCmdKofPanel;
class TTotalCmdKofPlugin;

// Result codes of the deletions and of the copy into another box.
enum TExtFileCode : int {
  efcOk = 0,
  efcExists = 1,        // the target exists and was not overwritten
  efcNotFound = 2,      // the stored file was not found and the record was kept
  efcNoRecord = 3,      // the record was not found
  efcFailed = 4,        // deleting (or storing) failed
  efcInterrupted = 5,   // the user broke the operation
  efcNotExternal = 6,   // no record given, or the existing target is not an external file
};

// What a transfer of an external file gives the copy flows: the host's result
// and, for a failure, the text the operation report records.
struct TExtTransfer {
  TCodeOutcome Outcome;
  std::string Failure;
  bool ServerError = false;  // the failure is the client's last error
  int Code = 0;              // an efc code where one applies
};

class TKofExternalFiles {
 public:
  explicit TKofExternalFiles(TTotalCmdKofPanel& panel);
  TKofExternalFiles(const TKofExternalFiles&) = delete;
  TKofExternalFiles& operator=(const TKofExternalFiles&) = delete;

  // Where a stored path (environment variables expanded, then mapped) lies
  // here; empty when this machine cannot reach it.
  std::string MapStoredPath(std::string_view stored) const;
  // The size of the stored file, or with PLAIN its plain size; 0 when missing.
  std::int64_t GetStoredFileSize(const std::string& stored, bool plain) const;

  // The cipher operations; false after a failure (told, unless it was the user's break).
  bool RecryptStoredFile(const std::string& source, const std::string& target,
                         const TKofExternalFileAttributes& sourceAttrs, const TKofExternalFileAttributes& targetAttrs);
  bool DecryptStoredFile(const std::string& stored, const std::string& local, const TKofExternalFile& record,
                         bool encryptTarget);
  bool EncryptStoredFile(const std::string& local, const std::string& stored, const TKofExternalFileAttributes& attrs);

  // Deletes the stored file of the named record; an efc code.
  int DeleteStoredFile(const std::string& stored, const std::string& recordName, bool retry, bool silent);
  // The record, its copy in the bin, then the stored file; a record that
  // stays (in its box or in the bin) keeps its stored file.
  int DeleteExternalFile(TKofExternalFile* record, bool silent);
  int DeleteExternalFileRecord(std::int32_t id, const std::string& name);
  // Every external file of the box and the boxes below it; true when the walk completed.
  bool DeleteBoxExternalFiles(std::int32_t boxId, bool silent, bool stopOnError);
  // Re-keys SOURCE's stored file into NEWRECORD's place and adds NEWRECORD to
  // TARGET's current box (over an existing external file with OVERWRITE).
  int CopyExternalFileRecord(TTotalCmdKofPanel& target, TKofExternalFile& newRecord, bool overwrite,
                             const TKofExternalFile& source);
  // Tells why a stored file was not deleted; with ASKDELETE asks whether the record goes anyway.
  bool ReportDeleteError(int code, const std::string& path, const std::string& recordName, bool askDelete);

  // --- the copy flows' steps
  // The record ID as the local file LOCAL (plain); with MOVE the record and its stored file go afterwards.
  TExtTransfer CopyOut(std::int32_t id, const std::string& local, bool overwrite, bool encrypt, bool move);
  // The local file as a new external-file record NAME in the current box, or
  // over the external-file record EXISTINGID (0: none known).
  TExtTransfer Store(const std::string& local, const std::string& name, std::int64_t size, std::int32_t existingId,
                     bool overwrite);
  // The local file sealed into a new stored file for the current box; ATTRS
  // receives its place and key material. No record points at it yet.
  TExtTransfer Seal(const std::string& local, TKofExternalFileAttributes& attrs);
  // A new external-file record NAME in the current box for the sealed file
  // ATTRS; false with the client's error (the stored file stays).
  bool AddRecord(const std::string& name, const TKofExternalFileAttributes& attrs, std::int64_t size);
  // The existing external-file record ID updated to ATTRS; its old stored file
  // goes once the record points at the new one, the new one when it does not.
  TExtTransfer StoreOver(std::int32_t id, const TKofExternalFileAttributes& attrs, std::int64_t size);
  // Removes a stored file that no record points at.
  void DiscardStoredFile(const std::string& stored);

  // A copy or move of an external-file record from SOURCE into the entry
  // NEWNAME of TARGET (another box of the same session or of another
  // session): the target box's parameters, the stored file re-keyed, the
  // source deleted for a move.
  static TCodeOutcome CopyBetweenBoxes(TTotalCmdKofPlugin& plugin, TTotalCmdKofPanel& source,
                                       TTotalCmdKofPanel& target, TKofExternalFile& record,
                                       const TKofHostPath& oldName, const TKofHostPath& newName, bool move,
                                       bool overwrite);

  const TOpenSSLGcmCrypto& Codec() const { return FSslCodec; }

 private:
  TKofClient& Client() const;
  std::size_t BufferSize() const;
  void ShowError(const std::string& text) const;
  // The local paths of the file read and the file written, or empty (told) when unusable.
  bool CheckPaths(const std::string& readPath, const std::string& writePath) const;
  // The progress names for the operation: set when still empty, cleared at its end.
  class TProgressNames;
  TCryptoStatusEvent ProgressEvent();
  void SetKeys(int set, const TKofExternalFileAttributes& attrs);
  class TStoredFileAside;
  // A stored file that is not there: with the user's agreement (asked unless
  // SILENT) its record may go anyway (efcOk), else efcNotFound.
  int ConfirmMissingStoredFile(const std::string& stored, const std::string& recordName, bool silent);
  // Deletes the record and removes it from the bin.
  int DeleteRecordForGood(TKofExternalFile& record);
  TExtTransfer CipherFailure(const std::string& failure, bool reading);

  TTotalCmdKofPanel& FPanel;
  std::string FProgressSrcName;
  std::string FProgressDstName;
  TOpenSSLGcmCrypto FSslCodec;
};

// The rules as the accessories folder shows them: one line per rule.
std::string MappingText(const TExtSubstitutions& rules);

}  // namespace kof
