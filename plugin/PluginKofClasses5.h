#pragma once
// A panel: one logged-in session, its level stack from the session root down
// to a safe box inside a group, and the login that opens it. Host-independent;
// the questions go through the plugin's prompts, and the host's panel supplies
// the find-data records.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "client/GWardenUtils.h"
#include "client/KofClients.h"
#include "model/KofFilesys.h"
#include "plugin/PluginKofCommon5.h"
#include "support/SecureString.h"

namespace kof {

class TKofSession;

// One entry of a listing before it becomes the host's record.
struct TPluginPanelItem {
  TDateTime FKofObjDatetime = 0;  // UTC
  std::int64_t FFileSize = 0;
  std::string FFileName;
  bool FSafeBoxOrSession = false;
  std::int64_t FKofObjId = -1;
  TKofObjectType FKofObjType = kofConfiguration;
};
using TPluginPanelItemList = std::vector<TPluginPanelItem>;

// A listing normally carries the sizes of its external files; without them at
// most this many records are read for their sizes (the rest show 0).
inline constexpr int kMaxSizeReadsPerListing = 32;

// Names in the host's name buffer are cut to this many UTF-16 units.
inline constexpr std::size_t kMaxListedUnits = 259;

// The content of one level of the stack.
class TLevelData {
 public:
  TLevelData() { Clear(true); }
  void Clear(bool allFields);
  bool IsClear() const { return FParentBoxId == -1; }
  bool Modifiable() const;
  // Fills both name lists from FKOFList: the members of the given kinds, each
  // name unique ignoring case and within the host's name limit.
  void Populate(TKofObjectSet kinds);
  // The member listed (or displayed) under this name; the host may have cut it.
  TKofObject* Find(std::string_view name, std::string* listedName = nullptr) const;
  TKofObject* ById(std::int32_t id) const;
  // Drops a member the server no longer holds; every other member keeps the
  // name it was listed under (the host goes on naming it so).
  void Forget(std::int32_t id);

  std::int32_t FParentBoxId = -1;
  TKofObjectType FTypeOf = kofSafeBox;
  std::string FBoxName;
  std::string FFsBoxName;
  std::string FACL;
  TKofFileSysList FKOFList;
  TKofNameList FPopulatedList;
  TKofNameList FFSList;
  bool FRead = false;

 private:
  // Listings of thousands of members look members up by id once per entry.
  std::unordered_map<std::int32_t, TKofObject*> FById;
};

// Entries of a listing that must differ, ignoring case, after they were cut
// to the host's limit, from each other and from the plugin's own entries:
// later duplicates get " [id]" before their extension. True when a name
// changed (the list must be sorted again).
bool MakeListedNamesUnique(std::vector<TKofNameList::TEntry>& entries, bool keepExtension);

class TPluginKofPanel : public TPluginKofCommonPanel {
 public:
  TPluginKofPanel(TCommonKofPlugin& owner, int number, std::string panelName, TFindHandle pluginHandle);
  ~TPluginKofPanel() override;

  bool LoginSession(int mode, const std::string& sessionName, TLoginOptions options) override;
  bool Connected() const override { return FKOFClient && FKOFClient->Connected(); }
  bool ClipCopyMessage() const override;
  void SetLevel(TPluginKofLevel level) override { FLevel = level; }
  TKofStep MatchLevelTo(int mode, const TKofHostPath& path, TFileSysStatus operation) override;
  bool MatchLevelBack(int mode);
  std::string IconName(const TKofHostPath& remote, int flags) override;

  // One step in the level stack: a child's name or "..".
  bool SetDirectory(int mode, const std::string& dir);
  // Reads the current level from the server.
  TKofStep GetFileItemsByParent(int mode, TPluginPanelItemList& items, bool secretFields);
  // Brings the stack to a host path of this session; reads the last level when
  // asked (a failure to read it still counts as reached).
  TKofStep GoToPath(int mode, const TKofHostPath& path, bool readLast);

  TKofClient* KofClient() const { return FKOFClient.get(); }
  TPluginKofLevel Level() const { return FLevel; }
  bool AmInBoxGroup() const { return FLevel == fslBox && FLevelIsGroupBox; }
  bool FileBox() const { return FLevel == fslInGrp || (FLevel == fslBox && !FLevelIsGroupBox); }
  TLevelData& GetLevelData(TPluginKofLevel level) { return FLevels[level]; }
  // A backslash and the names of the levels above the current one (the session name at the sessions level).
  std::string CurDir() const { return LevelPath(&TLevelData::FBoxName); }
  std::string FsCurDir() const { return LevelPath(&TLevelData::FFsBoxName); }
  const std::string& SessionName() const { return FSessionName; }
  TKofSession* CurrentSession() const { return FCurrentSession.get(); }
  std::int64_t FileSizeLimit() const { return FFileSizeLimit; }
  const std::string& KofProduct() const { return FKofProduct; }
  const std::string& KofApiVersion() const { return FKofApiVersion; }
  const std::string& KofVersion() const { return FKofVersion; }
  const std::string& BackDir() const { return FBackDir; }
  // Forgets the access code when it is older than the session allows.
  void CheckAccessCode();

 protected:
  TKofPrompts& Prompts() const { return Owner().Prompts(); }
  // True without asking while the client holds a code; else asks until a code
  // is accepted or the user cancels.
  bool AskAccessCode(const std::string& prompt);
  virtual void SetSession(TKofSession& session, bool save);
  void SaveSession(TKofSession& session);
  virtual void SessionLoggedOut();
  virtual void LevelChanged(TPluginKofLevel) {}

  // Gives an entered access code to the client and checks it; false (told) when refused.
  bool AcceptAccessCode(const SecureString& code);
  bool AskAccessCodeForClient(SecureString& code, bool invalid);
  void Logout();

  std::unique_ptr<TKofClient> FKOFClient;
  std::unique_ptr<TKofSession> FCurrentSession;
  std::string FSessionName;
  std::string FInfoText;
  std::string FBackDir;
  TFileSysStatus FOperation = fsoNone;

 private:
  std::string LevelPath(std::string TLevelData::*name) const;
  bool LoginToServer(TKofSession& session, int mode, bool silent);
  // The login's questions; a changed domain or user name marks the session modified.
  bool AskSessionLogin(TKofSession& session, SecureString& password);
  void CreateClient(const TKofSession& session);
  bool CheckUser(bool silent, const std::string& ssoTitle);
  // Asks the single-sign-on client for a certificate for this login; tells
  // why when a client is installed but cannot give one (unless silent).
  bool GetCertificate(std::string& certificate, bool silent);
  // The password login of the session; false (told) when it fails.
  bool PasswordLogin(TKofSession& session, bool silent);
  bool RunSecondFactor();
  bool CheckSecondFactorForClient(TKofClient& client);
  void AfterLogin(TKofSession& session);
  void GotoRoot();
  // Nothing when the level was read.
  std::optional<TKofFailure> ReadLevel(TLevelData& level, bool secretFields);
  void AppendItems(const TLevelData& level, int mode, TPluginPanelItemList& items);
  // The plain size of a listed external file; reads the record when the
  // listing lacks it, while RECORDREADSLEFT allows.
  std::int64_t ExternalFileSize(const TKofObject& object, int& recordReadsLeft);
  bool EnterChild(const std::string& name, bool reread);
  bool GoUp();
  int AccessCodeTimeout() const;

  std::int64_t FFileSizeLimit = 0;
  TGWardenCertInfo FGWardenInfo;
  TGWardenStatus FGWardenStatus = TGWardenStatus::gwDisconnected;
  TPluginKofLevel FLevel = fslSessions;
  bool FLevelIsGroupBox = false;
  std::array<TLevelData, 4> FLevels;
  bool FSSLChecked = false;
  std::chrono::steady_clock::time_point FAccessCodeTime{};
  std::string FKofProduct;
  std::string FKofApiVersion;
  std::string FKofVersion;
};

}  // namespace kof
