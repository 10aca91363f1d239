#pragma once
// Changes to a session's tree that move no local file: new safe boxes and
// groups, removing boxes, deleting records and bin items, renames, and copies
// and moves of records within a session and between two sessions.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/KofRESTsend.h"
#include "model/KofObjects.h"
#include "platform/KofFileIO.h"
#include "plugin/KofCopyReport.h"
#include "plugin/KofHostPaths.h"
#include "plugin/KofOutcome.h"
#include "support/SecureString.h"

namespace kof {

class TKofClient;
class TKofObject;
class TKofRecord;
class TTotalCmdKofPanel;
class TTotalCmdKofPlugin;

// The file content of a record on its way to another session, in an unnamed
// private temporary file: the copy never holds a whole file in memory.
class TKofSpooledContent {
 public:
  // Makes the temporary file; only a record with a file needs one.
  bool Open() {
    if (!Valid()) FFile = CreateUnnamedTempFile();
    return Valid();
  }
  bool Valid() const { return FFile.Handle.Valid(); }
  // errno of the failure to create it or to write to it.
  int Error() const { return FFile.Error; }
  std::int64_t Size() const { return FSize; }
  // Where a download writes; each attempt starts the content over.
  TDownloadSink Sink();
  // What an upload reads.
  TUploadSource Source() const;
  // The whole content when it has at most MAXBYTES, else nothing.
  std::optional<SecureString> Small(std::size_t maxBytes) const;

 private:
  TOpenedFile FFile;
  std::int64_t FSize = 0;
};

// A box to create at the panel's current level.
struct TNewBox {
  std::string Name;
  bool Group = false;
  bool Private = false;
  std::int32_t ParentId = 0;
};

class TKofTreeOps {
 public:
  explicit TKofTreeOps(TTotalCmdKofPanel& panel) : FPanel(panel) {}
  TKofTreeOps(const TKofTreeOps&) = delete;
  TKofTreeOps& operator=(const TKofTreeOps&) = delete;

  // F7 on a path of the session: the kind follows the parent level.
  TDoneOutcome MakeDirectory(int mode, const TKofHostPath& dir);
  TDoneOutcome RemoveDir(int mode, const TKofHostPath& dir);
  TDoneOutcome DeleteFile(int mode, const TKofHostPath& remote);
  // An object already read: 0 or FS_FILE_NOTFOUND.
  int DeleteRecord(TKofObject& object);
  // Deletes each member of the current level; false when one of them failed.
  bool DeleteFileItems(const std::vector<TKofObject*>& items, const std::string& dir);

  // A rename within one folder of the session (the folder is the current level).
  TCodeOutcome Rename(const TKofHostPath& oldName, const TKofHostPath& newName, bool move, bool overwrite);
  // The record OLD of this panel with its secrets, for a copy elsewhere, and
  // the file of a file or certificate record in CONTENT; null (told) when it cannot be read.
  std::unique_ptr<TKofRecord> ReadForCopy(const TKofHostPath& oldName, TKofObject*& listed,
                                          TKofSpooledContent& content);
  // Stores a copy of RECORD as the entry NEWNAME in this panel, named NAME
  // (or after the entry), with the file CONTENT gives (none: no file), and
  // reads it back; the new record's id, or 0 after a failure (recorded), -1
  // when the name exists.
  std::int32_t PutRecord(const TKofRecord& record, const TUploadSource* content, const TKofHostPath& newName,
                         bool overwrite, const std::string& name = {});

  void CountItem(int delta) { Counters().AllCopiedRecords += delta; }
  void CountCopied() { ++Counters().OKCopiedRecords; }
  void CountDeleted() { ++Counters().OKDeletedRecords; }
  // The source of a move, once its copy is stored: deleted and counted, or reported.
  void DeleteMovedSource(TKofObject& record, const TKofHostPath& oldName);

  // Reads the current level from the server, so that it shows what an operation changed.
  void ReadLevelAgain();

  // A failed step: a detail of the report while a rename/move runs, else a message.
  void Report(TDetailOperations operation, const std::string& dir, const std::string& name,
              const std::string& message, const std::string& key);

 private:
  TKofClient& Client() const;
  TTotalCmdKofPlugin& Plugin() const;
  TKofOperationCounts& Counters() const;
  bool CollectingDetails() const;
  TDoneOutcome CreateBox(const TKofHostPath& dir, const TNewBox& box);
  TDoneOutcome RefuseBoxHere(const TKofHostPath& dir, int detailError);
  bool BoxEmptyForMove(const TKofObject& box);
  bool DeleteBox(TKofObject& box, const TKofHostPath& dir);
  // Where the external-file layer removes a box's stored files; false until it exists.
  bool DeleteExternalFiles(const TKofObject& box, const TKofHostPath& dir);
  bool DeleteExternalRecord(const TKofObject& record, const TKofHostPath& remote);
  TCodeOutcome RenameObject(const TKofObject& listed, const std::string& newName, const TKofHostPath& oldName);
  struct TExistingRecord {
    std::int32_t Id;
    TKofObjectType Kind;
  };
  // The record ID of the current box that a duplicate answer named.
  std::optional<TExistingRecord> ReadExisting(std::int32_t id);
  // Whether the record ID read back is RECORD's copy named NAME, with all SIZE bytes of its file (below 0: none).
  bool StoredAsSent(const TKofRecord& record, std::int32_t id, const std::string& name, std::int64_t size);
  // With EXISTING writes COPY over it (else COPY was just added as ID), then sends its file from CONTENT.
  bool Store(TKofObject& copy, const TUploadSource* content, const std::optional<TExistingRecord>& existing,
             std::int32_t& id);

  TTotalCmdKofPanel& FPanel;
};

// The name a record takes from a target entry name: the whole name unless
// its extension is one of the record kinds' (".file" and ".safeBox" count as
// part of the name).
std::string RecordNameFromEntry(std::string_view entry);

// The end of a move: the boxes it created whose source folder was never
// removed are offered to RemoveDir once more (only empty ones go).
void OfferHeldBoxes(TTotalCmdKofPlugin& plugin);
// Drops the first held box whose path below its session ends like PANELPATH.
void ReleaseHeldBox(std::vector<std::string>& held, const std::string& panelPath);

// The plugin object's rename, copy or move of an entry between two folders of
// sessions (one session or two), after the sessions folder had its turn.
TCodeOutcome RenMovInSessions(TTotalCmdKofPlugin& plugin, TTotalCmdKofPanel& source, TTotalCmdKofPanel& target,
                              const TKofHostPath& oldName, const TKofHostPath& newName, bool move, bool overwrite);

class TKofSessionsFolder;

// A file record holding a session file, copied or moved into the sessions folder as a new session.
TCodeOutcome RecordToSession(TKofSessionsFolder& folder, TTotalCmdKofPanel& source, const TKofHostPath& oldName,
                             const TKofHostPath& newName, bool move, bool overwrite);
// A session copied or moved into a session's box as a file record holding its session file.
TCodeOutcome SessionToRecord(TKofSessionsFolder& folder, TTotalCmdKofPanel& target, const TKofHostPath& oldName,
                             const TKofHostPath& newName, bool move, bool overwrite);

}  // namespace kof
