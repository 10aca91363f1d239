#pragma once
// Copies between a session's safe boxes and local files: records out to local
// files (the file itself, or the JSON text of a record viewed in a temporary
// folder), local files into records, and the counters a multi-file transfer
// reports. File content streams between the socket and the file.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <functional>
#include <memory>
#include <optional>

#include "client/KofRESTsend.h"
#include "model/KofObjects.h"
#include "plugin/KofCopyReport.h"
#include "plugin/KofExternalFiles.h"
#include "plugin/KofHostPaths.h"
#include "plugin/KofOutcome.h"
#include "support/SecureString.h"
#include "support/VarnokCommonTypes.h"

namespace kof {

class TKofClient;
class TKofFile;
class TKofRecord;
class TTotalCmdKofPanel;

// What a copy operation decided for targets that exist, and whether the
// local side is a temporary view file.
struct TCopyInfo {
  bool Decided = false;
  bool Overwrite = false;
  bool OnlyNewer = false;
  bool Skip = false;
  bool AsText = false;
};

// The record a file was last copied out for an open, for its upload after the edit.
struct TKofEditedRecord {
  std::int32_t Id = -1;
  TDateTime Modified = 0;
};

class TKofTransfers {
 public:
  explicit TKofTransfers(TTotalCmdKofPanel& panel) : FPanel(panel) {}
  TKofTransfers(const TKofTransfers&) = delete;
  TKofTransfers& operator=(const TKofTransfers&) = delete;

  // The host's copy of one entry of the panel to a local file.
  TCodeOutcome GetFile(int mode, const TKofHostPath& remote, const std::string& local, int flags);

  // The host's copy of one local file into the panel's safe box.
  TCodeOutcome PutFile(int mode, const std::string& local, const TKofHostPath& remote, int flags);

  // The next copies of the entry at REMOTE serve an open (Enter on a file
  // record); an empty path ends the open.
  void SetOpened(std::string remote) { FOpened = std::move(remote); }
  const TKofEditedRecord& EditedInfo() const { return FEditedInfo; }

 private:
  TKofClient& Client() const;
  // Asks whether to go on after an item failed; false stops.
  bool AskContinueAfter(const std::string& item, const std::string& message);
  bool AskCancel();
  // Runs the transfer of one item and counts it for the report.
  TCodeOutcome Counted(TDetailOperations operation, const TKofHostPath& remote, const std::string& local,
                       const std::function<TCodeOutcome()>& transfer);
  // What failed in the item before: the report names it.
  void ForgetFailure();
  void RememberServerError();
  void AddDetail(TDetailOperations operation, const TKofHostPath& remote);
  // Shows a failure of the plugin itself and keeps its text for the report.
  void Tell(std::string_view title, const std::string& text);
  // The record of the current level copied out to LOCAL (its file, or its text for a view).
  TCodeOutcome GetFileItemsByLevel(int mode, const TKofObject& object, const TKofHostPath& remote,
                                   const std::string& local, const TCopyInfo& info, bool move);
  // PutFile after the host's progress was told: the local file stored in the current level, all but the counting.
  TCodeOutcome PutFileItems(int mode, const std::string& local, const TKofHostPath& remote, int flags);
  // The local file's fate after its content was stored (wiped or removed for a move).
  TCodeOutcome AfterStored(const std::string& local, int flags, const TCopyInfo& info);
  // What an external file's transfer gave, with its failure kept for the report.
  TCodeOutcome External(const TExtTransfer& transfer);
  // An external file decrypted to LOCAL; for an open, remembered for the upload of its edit.
  TCodeOutcome GetExternalFile(const TKofObject& object, const std::string& local, const TCopyInfo& info,
                               bool opening, bool move);
  TCodeOutcome WriteJSONText(const TKofObject& object, const std::string& local);
  TCodeOutcome DownloadRecord(TKofFile& record, const TKofHostPath& remote, const std::string& local, bool encrypt);
  // A certificate or file record with PASSWORD as its secret note (and the certificate's password).
  std::unique_ptr<TKofFile> NewFileRecord(bool certificate, const std::string& name, const std::string& fileName,
                                          const SecureString& password, std::int64_t size) const;
  enum class TAddResult { Stored, Duplicate, TooLong, Failed };
  struct TAdded {
    TAddResult Result;
    // For Stored and Failed (already told): what the host gets.
    TCodeOutcome Outcome;
  };
  // Adds the record and sends the local file into it; a record whose upload failed is deleted again.
  TAdded AddRecord(TKofFile& record, int fd, const std::string& local, const TKofHostPath& remote,
                   std::int64_t size);
  TCodeOutcome StoreNew(int fd, const std::string& local, const TKofHostPath& remote, std::int64_t size,
                        const TCopyInfo& info);
  // Writes the local file into the existing record ID (a duplicate the user wants replaced).
  TCodeOutcome StoreOver(std::int32_t id, int fd, const std::string& local, const TKofHostPath& remote,
                         std::int64_t size, const TCopyInfo& info, const SecureString* password = nullptr);
  // The upload of a file opened for editing: a new record under a versioned
  // name, or, once the name exists, over that record when the user agrees.
  TCodeOutcome StoreEdit(int fd, const std::string& local, const TKofHostPath& remote, std::int64_t size,
                         const TKofObject& edited);
  // The same for an edited external file: sealed into a new stored file,
  // which goes again when no record came to point at it.
  TCodeOutcome StoreExternalEdit(const std::string& local, const TKofHostPath& remote, std::int64_t size,
                                 const TKofObject& edited);
  // The versioned names for the edit of the record NAME: ADD tries each; once
  // the name exists the user decides whether OVER writes it into that record.
  TCodeOutcome StoreVersioned(std::string name, const TKofHostPath& remote,
                              const std::function<TAdded(const std::string& name)>& add,
                              const std::function<TCodeOutcome(std::int32_t existing)>& over);
  TVersionType EditVersionMode(const std::string& name);
  SecureString EditPassword(const std::string& name, bool certificate);
  // Sends the content of the local file open as FD into the record, reading it while it is sent.
  bool Upload(TKofFile& record, int fd, const std::string& local, const std::string& remote, std::int64_t size,
              bool& aborted);
  TCodeOutcome StoreFailed(const std::string& item, bool aborted);
  std::string RefusalText(bool root) const;

  TTotalCmdKofPanel& FPanel;
  // The full path of the entry an open was asked for, or empty.
  std::string FOpened;
  TKofEditedRecord FEditedInfo;
  // The local file the download of the open wrote.
  std::string FOpenedCopy;
  // The secret note (a certificate's password) of the record opened, for its upload.
  SecureString FLastSecNote;
  // The user kept the stored record as it was: the edited file is not wiped.
  bool FEditDeclined = false;
  // What failed in the plugin itself, for the report when the server said nothing.
  std::string FLastPlugErrorStr;
  // The server's error for the item, kept before a clean-up request replaces it.
  struct TServerError {
    std::string Msg;
    std::string Key;
  };
  std::optional<TServerError> FServerError;
};

// Whether a file of SIZE bytes goes to the external storage instead of a
// record: servers from version 5 on, when the session stores every file there
// or the file exceeds the server's limit.
bool NeedsExternalStorage(int serverMajorVersion, bool storeAllFiles, std::int64_t sizeLimit, std::int64_t size);

// The content of the open file FD (SIZE bytes) for an upload, read from the
// offsets the transfer asks for (a request repeated after a relogin reads it
// from its start again). PIECE hears of each piece read (its offset and
// length) and stops the transfer by answering false.
TUploadSource FileUploadSource(int fd, std::int64_t size,
                               std::function<bool(std::int64_t offset, std::size_t length)> piece = {});

// Overwrites a file's whole content with 0x55 bytes, so that no plaintext of a
// temporary copy remains; a missing file is left alone. False when it could not.
bool TransliterateFile(const std::string& path);

}  // namespace kof
