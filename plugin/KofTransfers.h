#pragma once
// Copies between a session's safe boxes and local files: records out to local
// files (the file itself, or the JSON text of a record viewed in a temporary
// folder), local files into records, and the counters a multi-file transfer
// reports. File content streams between the socket and the file.
#include <cstdint>
#include <string>
#include <utility>

#include "model/KofObjects.h"
#include "plugin/KofHostPaths.h"
#include "plugin/KofOutcome.h"

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
  int AllCopiedRecords() const { return FAllCopiedRecords; }
  int OKCopiedRecords() const { return FOKCopiedRecords; }
  void ClearCounters();

 private:
  TKofClient& Client() const;
  // Asks whether to go on after an item failed; false stops.
  bool AskContinueAfter(const std::string& item, const std::string& message);
  bool AskCancel();
  TCodeOutcome CopyOut(int mode, const TKofObject& object, const TKofHostPath& remote, const std::string& local,
                       const TCopyInfo& info, bool move);
  TCodeOutcome WriteJSONText(const TKofObject& object, const std::string& local);
  TCodeOutcome DownloadRecord(TKofFile& record, const TKofHostPath& remote, const std::string& local, bool encrypt);
  // Adds a certificate or file record (by the name's extension) and sends the local file into it.
  TCodeOutcome StoreNew(int fd, const std::string& local, const TKofHostPath& remote, std::int64_t size,
                        const TCopyInfo& info);
  // Writes the local file into the existing record ID (a duplicate the user wants replaced).
  TCodeOutcome StoreOver(std::int32_t id, int fd, const std::string& local, const TKofHostPath& remote,
                         std::int64_t size, const TCopyInfo& info);
  // Sends the content of the local file open as FD into the record, reading it while it is sent.
  bool Upload(TKofFile& record, int fd, const std::string& local, const std::string& remote, std::int64_t size,
              bool& aborted);
  TCodeOutcome StoreFailed(const std::string& item, bool aborted);
  std::string RefusalText(bool root) const;

  TTotalCmdKofPanel& FPanel;
  // The full path of the entry an open was asked for, or empty.
  std::string FOpened;
  TKofEditedRecord FEditedInfo;
  int FAllCopiedRecords = 0;
  int FOKCopiedRecords = 0;
};

// Whether a file of SIZE bytes goes to the external storage instead of a
// record: servers from version 5 on, when the session stores every file there
// or the file exceeds the server's limit.
bool NeedsExternalStorage(int serverMajorVersion, bool storeAllFiles, std::int64_t sizeLimit, std::int64_t size);

// Overwrites a file's whole content with 0x55 bytes, so that no plaintext of a
// temporary copy remains; a missing file is left alone. False when it could not.
bool TransliterateFile(const std::string& path);

}  // namespace kof
