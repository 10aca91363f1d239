#include "plugin/PluginKofClasses5.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "client/GWardenAPI.h"
#include "platform/KofClock.h"
#include "plugin/KofIconChoice.h"
#include "plugin/KofServerTrust.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "resources/KofResources.h"
#include "sessions/PluginKofConfiguration5.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

constexpr const char* kClientName = "TotalCmd plugin";
constexpr int kConnectionTimeoutMs = 3000;

// The name with a tag before its extension (or at its end), cut so that the
// whole stays within the host's limit.
std::string WithTag(std::string_view name, std::string_view tag, bool keepExtension) {
  std::string ext = keepExtension ? ExtractFileExt(name) : std::string();
  if (Utf16Units(ext) + Utf16Units(tag) >= kMaxListedUnits) ext.clear();
  const std::string_view stem = name.substr(0, name.size() - ext.size());
  const std::size_t room = kMaxListedUnits - Utf16Units(tag) - Utf16Units(ext);
  return CutToUtf16Units(stem, room) + std::string(tag) + ext;
}

// A file record whose stored file has another extension is listed with that
// one, so that the copy out gets a name the desktop can open.
std::string ShownFileRecordName(std::string_view listed, const TKofFile& object) {
  const std::string inner = object.Filename();
  const std::string innerExt = TKofFileSysList::ReplaceFsName(ExtractFileExt(inner));
  const std::string ext = ExtractFileExt(listed);
  if (innerExt.size() <= 1 || innerExt == ext) return std::string(listed);
  return std::string(listed.substr(0, listed.size() - ext.size())) + innerExt;
}

bool IsBox(const TKofObject& object) { return kofBoxKinds.Contains(object.ObjType()); }

bool SameParts(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const std::string& x, const std::string& y) { return SameText(x, y); });
}

}  // namespace

bool MakeListedNamesUnique(std::vector<TKofNameList::TEntry>& entries, bool keepExtension) {
  std::unordered_set<std::string> used;
  used.reserve(entries.size() + 3);
  // The plugin's own folders stand beside the members, and the way-back entry
  // counts wherever it stands: a member of such a name is listed tagged, so
  // that both are listed once and the member stays reachable.
  for (std::string_view own : {kBinEntry, kAccessoriesEntry, kGotoSessionsEntry}) used.insert(LowerCase(own));
  bool changed = false;
  for (TKofNameList::TEntry& entry : entries) {
    std::string name = CutToUtf16Units(entry.Name, kMaxListedUnits);
    for (int attempt = 0; !used.insert(LowerCase(name)).second; ++attempt) {
      const std::string tag =
          " [" + std::to_string(entry.Id) + (attempt > 0 ? "-" + std::to_string(attempt) : std::string()) + "]";
      name = WithTag(entry.Name, tag, keepExtension);
    }
    if (name != entry.Name) {
      changed = true;
      entry.Name = std::move(name);
    }
  }
  return changed;
}

// ---------------------------------------------------------------------------
// TLevelData

void TLevelData::Clear(bool allFields) {
  FKOFList.Clear();
  FById.clear();
  FPopulatedList.Clear();
  FFSList.Clear();
  FRead = false;
  if (!allFields) return;
  FParentBoxId = -1;
  FBoxName.clear();
  FFsBoxName.clear();
  FACL.clear();
  FTypeOf = kofSafeBox;
}

bool TLevelData::Modifiable() const { return FACL.empty() || FACL.find_first_of("Mm") != std::string::npos; }

void TLevelData::Populate(TKofObjectSet kinds) {
  const bool boxes = kinds == kofBoxKinds;
  FById.clear();
  for (const auto& member : FKOFList) FById.try_emplace(member->Id(), member.get());
  FKOFList.Populate(FPopulatedList, kinds, false, boxes);
  FKOFList.Populate(FFSList, kinds, true, boxes);
  // Both lists come sorted; they are sorted again only when a name changed.
  std::vector<TKofNameList::TEntry> shown = FFSList.Entries();
  bool changed = false;
  for (TKofNameList::TEntry& entry : shown) {
    const TKofObject* object = ById(entry.Id);
    if (!object || !kofFileKinds.Contains(object->ObjType())) continue;
    std::string name = ShownFileRecordName(entry.Name, static_cast<const TKofFile&>(*object));
    if (name != entry.Name) {
      entry.Name = std::move(name);
      changed = true;
    }
  }
  if (MakeListedNamesUnique(shown, !boxes) || changed) FFSList.Assign(std::move(shown));
  std::vector<TKofNameList::TEntry> display = FPopulatedList.Entries();
  if (MakeListedNamesUnique(display, !boxes)) FPopulatedList.Assign(std::move(display));
  FRead = true;
}

TKofObject* TLevelData::Find(std::string_view name, std::string* listedName) const {
  const std::string key = CutToUtf16Units(name, kMaxListedUnits);
  // The host names members by their listed form; a display name may equal
  // another member's listed one, so it only counts when no listed name matches.
  int index = FFSList.IndexOf(key);
  std::int32_t id = index >= 0 ? FFSList[index].Id : 0;
  if (index < 0) {
    index = FPopulatedList.IndexOf(key);
    if (index < 0) return nullptr;
    id = FPopulatedList[index].Id;
  }
  if (listedName) {
    listedName->clear();
    for (const auto& entry : FFSList.Entries())
      if (entry.Id == id) *listedName = entry.Name;
  }
  return ById(id);
}

void TLevelData::Forget(std::int32_t id) {
  const auto without = [id](const TKofNameList& list) {
    std::vector<TKofNameList::TEntry> kept;
    for (const TKofNameList::TEntry& entry : list.Entries())
      if (entry.Id != id) kept.push_back(entry);
    return kept;
  };
  FPopulatedList.Assign(without(FPopulatedList));
  FFSList.Assign(without(FFSList));
  FById.erase(id);
  for (int i = 0; i < FKOFList.Count(); ++i) {
    if (FKOFList[i]->Id() != id) continue;
    FKOFList.Delete(i);
    return;
  }
}

TKofObject* TLevelData::ById(std::int32_t id) const {
  const auto hit = FById.find(id);
  return hit == FById.end() ? nullptr : hit->second;
}

// ---------------------------------------------------------------------------
// TPluginKofPanel

TPluginKofPanel::TPluginKofPanel(TCommonKofPlugin& owner, int number, std::string panelName,
                                 TFindHandle pluginHandle)
    : TPluginKofCommonPanel(owner, number, std::move(panelName), pluginHandle) {}

TPluginKofPanel::~TPluginKofPanel() = default;

bool TPluginKofPanel::ClipCopyMessage() const { return !FCurrentSession || FCurrentSession->ClipCopyMessage(); }

std::string TPluginKofPanel::LevelPath(std::string TLevelData::*name) const {
  std::string dir = "\\" + FLevels[0].*name;
  for (int i = 1; i < FLevel; ++i) dir += "\\" + FLevels[i].*name;
  return dir;
}

// --- login

bool TPluginKofPanel::LoginSession(int mode, const std::string& sessionName, TLoginOptions options) {
  Owner().SetInCredentialsPhase(true);
  bool ok = false;
  if (sessionName == "..") {
    ok = true;
  } else if (!FSSLChecked && !TKofClient::CheckSSL(ExtractFilePath(Owner().Module()), false)) {
    if (!options.Silent)
      Prompts().ShowMessage("Koffra plugin", "Cannot load " + TKofClient::SSLLibraryName() + " or " +
                                    TKofClient::CryptoLibraryName() + " ssl libraries.");
  } else {
    FSSLChecked = true;
    TKofSessionManager& manager = Owner().Cfg().SessionManager();
    const int index = manager.FindByName(sessionName);
    if (index >= 0) {
      ok = LoginToServer(manager.Sessions().Items(index), mode, options.Silent);
      if (ok && options.GotoRoot && FKOFClient) GotoRoot();
    }
  }
  Owner().SetFsStatus(ok ? fsMounting : fsInit);
  Owner().SetInCredentialsPhase(false);
  return ok;
}

void TPluginKofPanel::CreateClient(const TKofSession& session) {
  FKOFClient = std::make_unique<TKofClient>(session.URL(), TKofLanguage::koflngEnglish);
  FKOFClient->SetModulePath(ExtractFilePath(Owner().Module()));
  FKOFClient->SetConnectionTimeout(kConnectionTimeoutMs);
  FKOFClient->SetReadTimeout(Owner().Cfg().ReadTimeoutMs());
  FKOFClient->SetOnUserLogin(
      [this](const std::string& baseURL, const std::string& domain, const std::string& user, SecureString& password) {
        return Prompts().AskRelogin(baseURL, domain, user, password);
      });
  FKOFClient->SetOnGetAccessCode([this](SecureString& code, bool invalid) { return AskAccessCodeForClient(code, invalid); });
  FKOFClient->SetOnCheckSecondFactor([this](TKofClient& client) { return CheckSecondFactorForClient(client); });
  FKOFClient->SetOnGetCertificate([this](std::string& certificate) {
    return GetCertificate(certificate, false) && !certificate.empty();
  });
}

namespace {
constexpr char kGWardenTitle[] = "GWarden";
}  // namespace

bool TPluginKofPanel::LoginToServer(TKofSession& session, int mode, bool silent) {
  FKOFClient.reset();
  if (mode & kModeSessionsDelete) return true;
  FSessionName = session.Name();
  // The certificate serves this login only: it lives in this frame and the
  // client forgets it once the login is answered.
  std::string certificate;
  const bool sso = GetCertificate(certificate, silent) && !certificate.empty();
  CreateClient(session);

  const TTrustResult trust = StatusWithTrustedServer(
      *FKOFClient, session, [this](const std::string& title, const std::string& question) {
        return Prompts().AskYesNo(title, question);
      });
  if (trust.SessionChanged()) SaveSession(session);  // the user's decision stands whatever follows
  if (!trust.Ok) {
    if (!silent) Prompts().ShowMessage(trust.Title.empty() ? FSessionName : trust.Title, trust.Message);
    FKOFClient.reset();
    return false;
  }

  bool connected = false;
  if (sso) {
    connected = FKOFClient->Connect(&certificate, kClientName, AppVersionText(), BuildTimeText(), true);
    if (!connected && !silent)
      Prompts().ShowMessage("Connection", "Single sign-on login failed: " + FKOFClient->ErrorMsg() +
                                              "\r\nLog in with your password.");
  }
  if (!connected && !PasswordLogin(session, silent)) return false;
  const bool bySso = FKOFClient->ConnectedByCertificate();
  const std::string ssoName = FGWardenInfo.Cn.empty() ? std::string(kGWardenTitle) : kGWardenTitle + ("-" + FGWardenInfo.Cn);
  if (!CheckUser(silent, bySso ? ssoName : "")) {
    FKOFClient.reset();
    return false;
  }
  FSessionName = bySso ? ssoName : session.Name();
  if (bySso && !silent) Prompts().ShowLoggedUser(FSessionName, FSessionName);
  if (!RunSecondFactor()) {
    FKOFClient.reset();
    return false;
  }
  AfterLogin(session);
  return true;
}

bool TPluginKofPanel::GetCertificate(std::string& certificate, bool silent) {
  const TGWardenQueryResult result = GWardenQuery(&certificate, FGWardenInfo, FGWardenStatus, false);
  if (result.Ok && !FGWardenInfo.Cn.empty()) FSessionName = kGWardenTitle + ("-" + FGWardenInfo.Cn);
  // Without a single-sign-on client there is nothing to say; with one that
  // cannot help, the user learns why before the password is asked.
  if (!result.Ok && result.Installed && !silent)
    Prompts().ShowMessage(kGWardenTitle, "Single sign-on is not available: " + result.Why + ".\r\nLog in with your password.");
  return result.Ok;
}

bool TPluginKofPanel::PasswordLogin(TKofSession& session, bool silent) {
  SecureString password;
  if (!AskSessionLogin(session, password)) {
    FKOFClient.reset();
    return false;
  }
  FKOFClient->SetDomain(session.Domain());
  FKOFClient->SetUserName(session.Username());
  FKOFClient->SetPassword(password.View());
  WipeString(password);
  if (FKOFClient->Connect(nullptr, kClientName, AppVersionText(), BuildTimeText(), false)) return true;
  if (!silent) {
    const bool badLogin = FKOFClient->HTTP() && FKOFClient->HTTP()->ResultCode() == 401;
    Prompts().ShowMessage("Connection", badLogin ? "Login failed: unknown user name or bad password" : FKOFClient->ErrorMsg());
  }
  FKOFClient.reset();
  SessionLoggedOut();
  return false;
}

bool TPluginKofPanel::AskSessionLogin(TKofSession& session, SecureString& password) {
  SecureString domain(session.Domain());
  SecureString user(session.Username());
  if (!Prompts().AskLogin("Login to " + session.Name(), session.URL(), domain, user, password)) return false;
  if (!SameText(domain.View(), session.Domain()) || !SameText(user.View(), session.Username())) {
    session.SetDomain(std::string(domain.View()));
    session.SetUsername(std::string(user.View()));
    session.SetModified(true);
  }
  return true;
}

bool TPluginKofPanel::CheckUser(bool silent, const std::string& ssoTitle) {
  bool authenticated = false;
  // A configuration answer that could not be read leaves its error behind: the
  // user's state is unknown, so the login does not go on.
  const bool ok = FKOFClient->LoginStatus(authenticated, true) && FKOFClient->GetUserConfiguration("", false) &&
                  FKOFClient->ErrorCode() == 0;
  if (!ok) {
    if (!silent) Prompts().ShowMessage(ssoTitle.empty() ? FKOFClient->UserName() : ssoTitle, FKOFClient->ErrorMsg());
  } else if (!FKOFClient->HasAccessCode()) {
    if (!silent)
      Prompts().ShowMessage(ssoTitle.empty() ? FKOFClient->Domain() + "/" + FKOFClient->UserName() : ssoTitle,
                            "User has not an access code. Set it up in the web client");
  } else {
    return true;
  }
  FKOFClient->Disconnect(true);
  return false;
}

bool TPluginKofPanel::RunSecondFactor() {
  if (!FKOFClient->SecondFactorRequired()) return true;
  if (CheckSecondFactorForClient(*FKOFClient)) return true;
  FKOFClient->Disconnect(true);
  return false;
}

bool TPluginKofPanel::CheckSecondFactorForClient(TKofClient& client) {
  for (;;) {
    SecureString code;
    if (!Prompts().AskSecondFactor(FSessionName, code)) return false;
    // An empty answer cannot prove anything: ask again rather than go on unverified.
    const std::string_view typed = code.View();
    if (std::all_of(typed.begin(), typed.end(), [](unsigned char c) { return std::isspace(c); })) continue;
    const bool verified = client.SecondFactor(code.View(), "");
    WipeString(code);
    if (verified) return true;
    if (client.ErrorCode() == 500 && client.ErrorKey() == kKeySecondFactorInvalid) continue;
    Prompts().ShowMessage(FSessionName, client.ErrorMsg());
    return false;
  }
}

void TPluginKofPanel::AfterLogin(TKofSession& session) {
  try {
    const std::int64_t limit = FKOFClient->GetFileSizeLimit();
    if (limit > 0) FFileSizeLimit = limit;
  } catch (const std::exception&) {
    // The limit is only a courtesy check before uploads; the server enforces its own.
  }
  FKofProduct = FKOFClient->KofProduct();
  FKofApiVersion = FKOFClient->KofApiVersion();
  FKofVersion = FKOFClient->KofVersion();
  SetSession(session, true);
  Owner().ReloadSubstitutions();
}

void TPluginKofPanel::GotoRoot() {
  for (TLevelData& level : FLevels) level.Clear(true);
  FLevels[fslSessions].FParentBoxId = std::numeric_limits<std::int32_t>::max();
  FLevels[fslSessions].FBoxName = Name();
  FLevels[fslSessions].FFsBoxName = Name();
  FLevels[fslRoot].FParentBoxId = 0;
  FLevel = fslRoot;
  FLevelIsGroupBox = false;
}

void TPluginKofPanel::SaveSession(TKofSession& session) {
  // A store that cannot be written must not undo a login the server accepted.
  try {
    Owner().Lock().AssertHeld();  // the store's own lock comes after it, as on every path that holds both
    switch (session.Store({}, session.DefaultWrite())) {
      case TSaveResult::Saved: break;
      case TSaveResult::Missing:
        Prompts().ShowMessage(FSessionName, "The session \"" + session.Name() +
                                                "\" was deleted meanwhile; its changes were not saved.");
        break;
      default: Prompts().ShowMessage(FSessionName, "The session could not be saved.");
    }
  } catch (const std::exception& error) {
    Prompts().ShowMessage(FSessionName, error.what());
  }
}

void TPluginKofPanel::SetSession(TKofSession& session, bool save) {
  if (save && session.Modified()) SaveSession(session);
  FCurrentSession = TKofSession::Clone(session);
}

void TPluginKofPanel::SessionLoggedOut() {
  if (FCurrentSession && FCurrentSession->Modified()) SaveSession(*FCurrentSession);
  FCurrentSession.reset();
}

void TPluginKofPanel::Logout() {
  if (FKOFClient) FKOFClient->Disconnect(true);
  SessionLoggedOut();
}

// --- access codes

int TPluginKofPanel::AccessCodeTimeout() const {
  return FCurrentSession ? FCurrentSession->AccessCodeTimeout() : Owner().Cfg().AccessCodeTimeout();
}

void TPluginKofPanel::CheckAccessCode() {
  if (!Connected()) return;
  bool authenticated = false;
  if (!FKOFClient->LoginStatus(authenticated, true) && IsAccessCodeKey(FKOFClient->ErrorKey()))
    Prompts().ShowMessage("Access Code", "Wrong access code");
  const auto age = std::chrono::duration_cast<std::chrono::seconds>(Clock().Steady() - FAccessCodeTime);
  if (!FKOFClient->AccessCode().Empty() && age.count() > AccessCodeTimeout())
    FKOFClient->WipeStrings(TWhatWipe::wipAccessCode);
}

bool TPluginKofPanel::AcceptAccessCode(const SecureString& code) {
  if (code.Empty()) return false;
  FKOFClient->SetAccessCode(code.View());
  bool authenticated = false;
  if (FKOFClient->LoginStatus(authenticated, false)) {
    FAccessCodeTime = Clock().Steady();
    return true;
  }
  // Forgotten, so that the next request asks again instead of sending it once more.
  FKOFClient->WipeStrings(TWhatWipe::wipAccessCode);
  Prompts().ShowMessage("Access Code", "Wrong access code");
  return false;
}

bool TPluginKofPanel::AskAccessCode(const std::string& prompt) {
  if (!FKOFClient) return false;
  if (!FKOFClient->AccessCode().Empty()) return true;
  for (std::string info = prompt;; info = "Invalid access code") {
    SecureString code;
    if (!Prompts().AskAccessCode(FSessionName, info, code) || code.Empty()) return false;
    if (AcceptAccessCode(code)) return true;
  }
}

bool TPluginKofPanel::AskAccessCodeForClient(SecureString& code, bool invalid) {
  // A rejected code must not satisfy the "already holds a code" shortcut.
  if (invalid) FKOFClient->WipeStrings(TWhatWipe::wipAccessCode);
  const bool entered = AskAccessCode(invalid ? "Invalid access code" : FInfoText);
  code.Assign(FKOFClient->AccessCode().View());
  return entered;
}

// --- levels

bool TPluginKofPanel::SetDirectory(int mode, const std::string& dir) {
  CheckAccessCode();
  bool ok = false;
  if (FLevel == fslSessions)
    ok = dir == "\\" || LoginSession(mode, dir, {.GotoRoot = true, .Silent = (mode & kModeSilent) != 0});
  else if (dir == "..")
    ok = GoUp();
  else
    ok = EnterChild(dir, true);
  if (ok) LevelChanged(FLevel);
  return ok;
}

bool TPluginKofPanel::GoUp() {
  switch (FLevel) {
    case fslRoot:
      FLevels[fslRoot].Clear(true);
      Logout();
      break;
    case fslBox:
      FLevels[fslInGrp].Clear(true);
      FLevel = fslRoot;
      FLevelIsGroupBox = false;
      break;
    case fslInGrp:
      FLevels[fslInGrp].Clear(true);
      FLevel = fslBox;
      break;
    case fslSessions: break;
  }
  return true;
}

bool TPluginKofPanel::EnterChild(const std::string& name, bool reread) {
  TLevelData& current = FLevels[FLevel];
  std::string listed;
  TKofObject* object = current.Find(name, &listed);
  if (!object && reread && FLevel != fslInGrp) {
    // The level may have been read before the child was created elsewhere.
    if (!ReadLevel(current, true)) object = current.Find(name, &listed);
  }
  if (!object || !IsBox(*object) || FLevel == fslInGrp) return false;
  current.FBoxName = listed;
  for (const auto& entry : current.FPopulatedList.Entries())
    if (entry.Id == object->Id()) current.FBoxName = entry.Name;
  current.FFsBoxName = listed;
  const bool group = object->ObjType() == kofSafeBoxGroup;
  const TPluginKofLevel next = FLevel == fslBox ? fslInGrp : fslBox;
  TLevelData& child = FLevels[next];
  child.Clear(true);
  child.FParentBoxId = object->Id();
  child.FTypeOf = object->ObjType();
  child.FACL = static_cast<const TKofSafeBox&>(*object).BoxACL();
  FLevel = next;
  // The flag describes the box level; a box entered inside a group leaves it set.
  if (next == fslBox) FLevelIsGroupBox = group;
  return true;
}

std::optional<TKofFailure> TPluginKofPanel::ReadLevel(TLevelData& level, bool secretFields) {
  level.Clear(false);
  const bool boxes = FLevel == fslRoot || AmInBoxGroup();
  bool ok;
  if (boxes)
    ok = FKOFClient->GetSafeBoxes(level.FParentBoxId, &level.FKOFList, {.IncludeGroupBoxes = true});
  else
    ok = FKOFClient->GetRecords(level.FParentBoxId, &level.FKOFList, secretFields, false, true);
  if (!ok) {
    level.FKOFList.Clear();  // a partly read answer is not the level's content
    // Records the access code does not open are a level without entries, not a failure.
    if (boxes || !IsAccessCodeKey(FKOFClient->ErrorKey()))
      return TKofFailure{boxes ? "Boxes" : "Records", FKOFClient->ErrorMsg()};
  }
  level.Populate(boxes ? kofBoxKinds : kofRecordKinds);
  return std::nullopt;
}

TKofStep TPluginKofPanel::GetFileItemsByParent(int mode, TPluginPanelItemList& items, bool secretFields) {
  items.clear();
  CheckAccessCode();
  if (FLevel == fslSessions || !Connected()) return {};
  TLevelData& level = FLevels[FLevel];
  if (std::optional<TKofFailure> failure = ReadLevel(level, secretFields)) return {false, std::move(failure)};
  AppendItems(level, mode, items);
  return {true};
}

std::int64_t TPluginKofPanel::ExternalFileSize(const TKofObject& object, int& recordReadsLeft) {
  const auto& external = static_cast<const TKofExternalFile&>(object);
  if (!external.FileSizeAsString().empty()) return external.FileSize();
  // A server that does not give sizes in its listing: ask for the record,
  // but only for so many of them, so that a box of thousands still lists at once.
  if (recordReadsLeft <= 0) return 0;
  --recordReadsLeft;
  const std::unique_ptr<TKofRecord> record = FKOFClient->GetRecord(object.Id(), false, false, nullptr);
  if (!record || record->ObjType() != kofExternalFile) return 0;
  return static_cast<const TKofExternalFile&>(*record).FileSize();
}

void TPluginKofPanel::AppendItems(const TLevelData& level, int mode, TPluginPanelItemList& items) {
  const TKofNameList& names = (mode & (kModeSearching | kModeFsNames)) ? level.FFSList : level.FPopulatedList;
  items.reserve(static_cast<std::size_t>(names.Count()));
  int sizeReadsLeft = kMaxSizeReadsPerListing;
  for (const auto& entry : names.Entries()) {
    const TKofObject* object = level.ById(entry.Id);
    if (!object) continue;
    TPluginPanelItem item;
    item.FFileName = entry.Name;
    item.FKofObjId = object->Id();
    item.FKofObjType = object->ObjType();
    item.FKofObjDatetime = object->ModifiedUTC();
    switch (object->ObjType()) {
      case kofSafeBox:
      case kofSafeBoxGroup: item.FSafeBoxOrSession = true; break;
      case kofFile:
      case kofCertificate:
        item.FFileSize = std::max<std::int64_t>(1, static_cast<const TKofFile&>(*object).FileSizeApprox());
        break;
      case kofExternalFile: item.FFileSize = ExternalFileSize(*object, sizeReadsLeft); break;
      default: item.FFileSize = object->Size(); break;
    }
    items.push_back(std::move(item));
  }
}

// --- moving the stack to a path

TKofStep TPluginKofPanel::GoToPath(int mode, const TKofHostPath& path, bool readLast) {
  const std::vector<std::string>& target = path.Parts();
  if (target.empty() || !SameText(target[0], Name())) return {};
  if (FLevel == fslSessions && !SetDirectory(mode, target[0])) return {};
  if (!Connected()) return {};
  const std::vector<std::string> current = TKofHostPath(FsCurDir()).Parts();
  std::size_t common = 1;
  while (common < current.size() && common < target.size() && SameText(current[common], target[common])) ++common;
  // One access-code check for the whole walk; its steps are plain moves.
  if (common < current.size() || common < target.size()) CheckAccessCode();
  for (std::size_t up = common; up < current.size(); ++up) GoUp();
  for (std::size_t i = common; i < target.size(); ++i) {
    if (!FLevels[FLevel].FRead) {
      if (std::optional<TKofFailure> failure = ReadLevel(FLevels[FLevel], true)) return {false, std::move(failure)};
    }
    if (!EnterChild(target[i], true)) return {};
  }
  LevelChanged(FLevel);
  if (readLast) return {true, ReadLevel(FLevels[FLevel], true)};
  return {true};
}

TKofStep TPluginKofPanel::MatchLevelTo(int mode, const TKofHostPath& path, TFileSysStatus operation) {
  const std::vector<std::string> current = TKofHostPath(FsCurDir()).Parts();
  if (path.Kind() == TPathKind::Accessories || path.Kind() == TPathKind::Bin || SameParts(path.Parts(), current))
    return {true};
  FBackDir = FsCurDir();
  const TKofHostPath dest = operation == fsoMkDir && path.Parts().size() > 1 ? path.Parent() : path;
  if (dest.Parts().empty() || current.empty() || !SameText(dest.Parts()[0], current[0]))
    throw std::runtime_error("Source[0] <> Dest[0]");
  return GoToPath(mode, dest, operation != fsoList);
}

// Asked while the host lists a folder: only the folder listed now is looked
// at, so that an icon never costs a request to the server.
std::string TPluginKofPanel::IconName(const TKofHostPath& remote, int flags) {
  if (flags != wfx::FS_ICONFLAG_SMALL || remote.Name() == ".." || !Connected()) return {};
  if (!SameParts(remote.Parent().Parts(), TKofHostPath(FsCurDir()).Parts())) return {};
  const TKofObject* object = GetLevelData(Level()).Find(remote.Name());
  return object ? VaultIconName(Level(), AmInBoxGroup(), *object) : std::string();
}

bool TPluginKofPanel::MatchLevelBack(int mode) {
  if (FBackDir.empty()) return true;
  const std::string back = FBackDir;
  FBackDir.clear();
  const bool ok = MatchLevelTo(mode, TKofHostPath(back), FOperation).Ok;
  FBackDir.clear();
  return ok;
}

}  // namespace kof
