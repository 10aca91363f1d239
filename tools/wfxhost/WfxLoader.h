#pragma once
// Loads a file-system plugin and calls its exports as a file manager does.
// Shared by the wfxhost command line and the flow tests.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plugin/WfxAbi.h"
#include "tools/wfxhost/DialogStandIn.h"

namespace wfxhost {

struct Entry {
  uint32_t Attributes = 0;
  uint64_t Size = 0;
  wfx::FILETIME WriteTime{};
  wfx::FILETIME CreationTime{};
  wfx::FILETIME AccessTime{};
  uint32_t Reserved0 = 0;
  uint32_t Reserved1 = 0;
  std::string Name;
};

struct Request {
  int Type = 0;
  std::string Title;
  std::string Text;
};

// What the plugin asked through RequestProc, and how it is answered.
class Answers {
 public:
  // Each answer in order; "!cancel" cancels. Yes/no questions accept
  // yes/y/ok/1/true (anything else is no). When the queue is empty the
  // fallback runs (interactive), or the request is cancelled.
  void Push(std::string answer) { FQueue.push_back(std::move(answer)); }
  void LoadFile(const std::string& path);
  void SetFallback(std::function<std::optional<std::string>(const Request&)> fn) { FFallback = std::move(fn); }
  // Called for every request before it is answered.
  void SetObserver(std::function<void(const Request&)> fn) { FObserver = std::move(fn); }
  std::optional<std::string> Next(const Request& r);
  const std::vector<Request>& Asked() const { return FAsked; }
  void ClearAsked() { FAsked.clear(); }

 private:
  std::deque<std::string> FQueue;
  std::function<std::optional<std::string>(const Request&)> FFallback;
  std::function<void(const Request&)> FObserver;
  std::vector<Request> FAsked;
};

struct Result {
  int Code = 0;
  int LastError = 0;
  // Exec: the remote-name buffer as the plugin left it.
  std::string Buffer;
};

class Plugin {
 public:
  Plugin() = default;
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Loads the library and calls FsSetDefaultParams and FsInitW. Throws on
  // failure. An empty path takes the exports of the running program, which
  // links the plugin in.
  void Load(const std::string& path, int pluginNumber = 1);
  void Unload();
  Answers& GetAnswers() { return FAnswers; }
  // Offers the plugin the extension interface at the next Load, with the stand-in's scripted dialogs.
  void EnableDialogs(bool on = true) { FDialogsEnabled = on; }
  DialogStandIn& Dialogs() { return FDialogs; }
  // Copy progress lines are collected here; set AbortAt to make ProgressProc abort.
  std::vector<std::string>& ProgressLog() { return FProgress; }
  // ProgressProc asks to stop once a transfer passed this percentage (above 0); nullopt never.
  void SetAbortAt(std::optional<int> percent) { FAbortAt = percent; }
  std::optional<int> AbortAt() const { return FAbortAt; }
  // Called with each progress report (source, target, percent), e.g. to print it.
  void SetProgressObserver(std::function<void(const std::string&, const std::string&, int)> fn) {
    FProgressObserver = std::move(fn);
  }
  void NotifyProgress(const std::string& source, const std::string& target, int percent) const {
    if (FProgressObserver) FProgressObserver(source, target, percent);
  }
  int InitResult() const { return FInitResult; }

  // Lists a folder; Result.Code is 0 when the listing had entries.
  std::vector<Entry> List(const std::string& path, Result* result = nullptr);
  Result Get(const std::string& remote, const std::string& local, int flags);
  Result Put(const std::string& local, const std::string& remote, int flags);
  // Several files in one operation, bracketed as a file manager brackets a
  // multi-file copy (the plugin folder's path); one result per file.
  std::vector<Result> GetMany(const std::string& remoteDir, const std::vector<std::string>& names,
                              const std::string& localDir, int flags);
  std::vector<Result> PutMany(const std::string& localDir, const std::vector<std::string>& names,
                              const std::string& remoteDir, int flags);
  Result Delete(const std::string& remote);
  Result MkDir(const std::string& path);
  Result RmDir(const std::string& path);
  Result RenMov(const std::string& from, const std::string& to, bool move, bool overwrite);
  // Several entries of one folder renamed, copied or moved into another in one
  // rename/move bracket, as a file manager does with a selection; one result per entry.
  std::vector<Result> RenMovMany(const std::string& fromDir, const std::vector<std::string>& names,
                                 const std::string& toDir, bool move, bool overwrite);
  // A folder copied or moved as a file manager does it: the folder's entries
  // are collected first (parents before children); then, in one rename/move
  // bracket, each folder is made in the target and each file copied or moved,
  // and after a move the source folders are removed, deepest first.
  // One result per call, in call order, each with the path it was for.
  std::vector<std::pair<std::string, Result>> RenMovTree(const std::string& from, const std::string& to, bool move,
                                                         bool overwrite);
  // Whether the entry at PATH is listed as a folder by its parent.
  bool IsFolder(const std::string& path);
  // On FS_EXEC_SYMLINK newPath receives the path the plugin wants shown, a
  // wfx://<root name> prefix taken off as a file manager does.
  Result Exec(const std::string& verb, const std::string& path, std::string* newPath = nullptr,
              uintptr_t mainWindow = 1);
  // Enter on a file the plugin wants the host to open (FS_EXEC_YOURSELF), as a
  // file manager does it: the file is copied into a new folder below the
  // temporary folder, EDIT may change it there, and a changed file is put back
  // with the overwrite flag. The caller removes Folder when it is done.
  struct EditRoundTrip {
    Result Exec;
    std::optional<Result> Get;
    std::optional<Result> Put;  // only when the file changed
    std::string Folder;
    std::string Local;
  };
  EditRoundTrip OpenAndEdit(const std::string& remote, const std::function<void(const std::string& local)>& edit);
  std::string RootName(int bufferSize = 260);
  bool Disconnect(const std::string& root);
  int Icon(const std::string& path, int flags);
  void Status(const std::string& dir, bool start, int operation);

  static std::string ParentOf(const std::string& path);

 private:
  template <class T>
  T Sym(const char* name);
  Result Bracketed(const std::string& dir, int operation, const std::function<int()>& call);
  std::vector<Result> Many(const std::string& dir, int operation, const std::vector<std::string>& names,
                           const std::function<int(const std::string&)>& call);

  void* FHandle = nullptr;
  Answers FAnswers;
  DialogStandIn FDialogs;
  bool FDialogsEnabled = false;
  wfx::ExtensionFinalize_t FExtensionFinalize = nullptr;
  std::vector<std::string> FProgress;
  std::optional<int> FAbortAt;
  std::function<void(const std::string&, const std::string&, int)> FProgressObserver;
  int FInitResult = -1;
  wfx::FsInitW_t FInit = nullptr;
  wfx::FsFindFirstW_t FFindFirst = nullptr;
  wfx::FsFindNextW_t FFindNext = nullptr;
  wfx::FsFindClose_t FFindClose = nullptr;
  wfx::FsGetFileW_t FGetFile = nullptr;
  wfx::FsPutFileW_t FPutFile = nullptr;
  wfx::FsDeleteFileW_t FDeleteFile = nullptr;
  wfx::FsMkDirW_t FMkDir = nullptr;
  wfx::FsRemoveDirW_t FRemoveDir = nullptr;
  wfx::FsRenMovFileW_t FRenMov = nullptr;
  wfx::FsExecuteFileW_t FExecute = nullptr;
  wfx::FsSetDefaultParams_t FSetDefaultParams = nullptr;
  wfx::FsGetDefRootName_t FGetDefRootName = nullptr;
  wfx::FsDisconnectW_t FDisconnect = nullptr;
  wfx::FsStatusInfoW_t FStatusInfo = nullptr;
  wfx::FsExtractCustomIconW_t FExtractIcon = nullptr;
};

// The sixteen names a plugin must export.
const std::vector<std::string>& ExportNames();
std::string RequestTypeName(int type);
std::string FileResultName(int code);
std::string ExecResultName(int code);
std::string FormatEntry(const Entry& e);

}  // namespace wfxhost
