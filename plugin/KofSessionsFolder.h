#pragma once
// The sessions folder: listing the sessions, exporting and importing session
// files, creating, renaming, copying and deleting sessions.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "plugin/KofOutcome.h"
#include "plugin/WfxAbi.h"
#include "support/SecureString.h"

namespace kof {

class TCommonKofPlugin;
class TKofSession;
class TKofSessionManager;

class TKofSessionsFolder {
 public:
  explicit TKofSessionsFolder(TCommonKofPlugin& plugin);

  void StartListing();
  bool NextEntry(wfx::WIN32_FIND_DATAW& fd);

  // The session's name for a panel name (exact session name), or empty.
  std::string SessionNameFor(const std::string& panelName) const;
  // The session's name for an entry path such as \Work.<KOF>, or empty.
  std::string SessionNameForEntry(const std::string& path) const;

  int Export(const std::string& entryPath, const std::string& local, int flags);
  TCodeOutcome Import(const std::string& local, const std::string& entryPath, int flags);
  // A new session from a session file's bytes (a record copied into the folder).
  TCodeOutcome ImportText(std::string_view bytes, const std::string& entryPath, bool overwrite);
  // The session file of the session an entry names; nothing when there is none.
  std::optional<std::string> SessionText(const std::string& entryPath) const;
  bool Delete(const std::string& entryPath);
  TDoneOutcome NewSession(const std::string& name);
  TCodeOutcome RenMov(const std::string& oldPath, const std::string& newPath, bool move, bool overwrite);
  int Properties(const std::string& entryPath);

  int WriteHelp(std::string_view document, const std::string& local, int flags);
  int WriteNotice(const std::string& local, std::string_view text);

 private:
  TKofSessionManager& Manager() const;
  // Tells why a name cannot be a session's; true when refused.
  bool RefuseName(const std::string& name) const;
  // Index of the session an entry path such as \Work.<KOF> names, or -1.
  int FindEntry(const std::string& entryPath) const;
  void ShowDuplicate(const std::string& name) const;
  void ShowStoreError() const;
  // Adds a loaded session; OVERWRITE replaces one of that name.
  TCodeOutcome AddImported(std::unique_ptr<TKofSession> session, bool overwrite);

  TCommonKofPlugin& FPlugin;
};

}  // namespace kof
