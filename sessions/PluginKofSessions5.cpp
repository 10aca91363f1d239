#include "sessions/PluginKofSessions5.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"
#include "platform/KofRegistry.h"
#include "sessions/PluginKofConfiguration5.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

constexpr std::array<const char*, kVersionTypeCount> kVersionTypeNames = {
    "Never",
    "Filename_ver_(Date)_(User)_(Domain)",
    "Filename_ver_(Number)",
    "Filename_ver_(Date)_(User)",
    "Filename_ver_(Date)_(User)_(Domain)~(Index)",
    "Filename_ver_(Date)_(User)~(Index)",
};

constexpr const char* kSessionExts[] = {".KOF", ".CFG", ".INI"};
constexpr std::size_t kMaxSessionNameUnits = 259 - (sizeof kSessionPanelExt - 1);
constexpr char kLoopbackURL[] = "http://127.0.0.1";

// Position of the extension's dot: the last dot after the last path or drive delimiter.
std::size_t ExtPos(std::string_view fileName) {
  const std::size_t dot = fileName.find_last_of(".\\/:");
  return dot != std::string_view::npos && fileName[dot] == '.' ? dot : std::string_view::npos;
}

std::string_view ExtOf(std::string_view fileName) {
  const std::size_t dot = ExtPos(fileName);
  return dot == std::string_view::npos ? std::string_view() : fileName.substr(dot);
}

std::string ReplaceExt(std::string_view fileName, std::string_view ext) {
  return std::string(fileName.substr(0, ExtPos(fileName))) + std::string(ext);
}

std::string Quoted(std::string_view text) { return "\"" + ReplaceAll(text, "\"", "\"\"") + "\""; }

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

TSessionFileCheck Refused(TSessionFileResult result, std::string message) { return {result, std::move(message)}; }

TSessionFileCheck ReadLimited(const std::string& fileName, std::string& bytes) {
  TSmallFile file = ReadSmallRegularFile(fileName, kMaxSessionFileBytes);
  const std::string shown = Quoted(fileName);
  switch (file.Status) {
    case TSmallRead::Ok: bytes = std::move(file.Bytes); return {};
    case TSmallRead::NotFound:
      return Refused(TSessionFileResult::NotFound, "The session file " + shown + " does not exist.");
    case TSmallRead::NotRegular: return Refused(TSessionFileResult::Unreadable, shown + " is not a regular file.");
    case TSmallRead::TooLarge:
      return Refused(TSessionFileResult::TooLarge, shown + " is too large to be a session file (over 1 MiB).");
    case TSmallRead::Unreadable: break;
  }
  return Refused(TSessionFileResult::Unreadable,
                 "The session file " + shown + " cannot be read: " + SystemErrorText(file.Error) + ".");
}

std::string_view WithoutBom(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return bytes;
}

TSessionFileCheck CheckText(std::string_view bytes, std::string_view subject) {
  if (bytes.size() > kMaxSessionFileBytes)
    return Refused(TSessionFileResult::TooLarge, std::string(subject) + " is too large to be a session file (over 1 MiB).");
  if (bytes.find('\0') != std::string_view::npos)
    return Refused(TSessionFileResult::NotText, std::string(subject) + " is not a session file: it holds binary data.");
  bytes = WithoutBom(bytes);
  if (!IsValidUtf8(bytes))
    return Refused(TSessionFileResult::NotText, std::string(subject) + " is not a session file: it is not UTF-8 text.");
  if (!TKofSession::Valid(TKofIniFile(bytes)))
    return Refused(TSessionFileResult::NoURL, std::string(subject) + " is not a session file: it has no section [" +
                                                  kSessionSection + "] with a URL.");
  return {};
}

TSessionFileCheck ReadSessionFile(const std::string& fileName, bool checkExtension, std::string& bytes) {
  if (checkExtension && !TKofSession::ValidInputExt(ExtOf(fileName)))
    return Refused(TSessionFileResult::BadExtension,
                   Quoted(ExtractFileName(fileName)) + " is not a session file: its extension must be .KOF, .CFG or .INI.");
  TSessionFileCheck check = ReadLimited(fileName, bytes);
  if (!check.Ok()) return check;
  return CheckText(bytes, Quoted(fileName));
}

std::string SessionKey(std::string_view name) { return std::string(kSessionsKey) + "\\" + std::string(name); }

// Writes SES under its name into REG, whose update the caller holds open.
TSaveResult StoreInUpdate(const TKofSession& ses, TKofRegistry& reg, TStoreWrite how) {
  const std::string key = SessionKey(ses.Name());
  const bool exists = reg.KeyExists(key);
  if (how == TStoreWrite::MustExist && !exists) return TSaveResult::Missing;
  if (how == TStoreWrite::MustNotExist && exists) return TSaveResult::Exists;
  if (!reg.OpenKey(key, true)) return TSaveResult::Failed;
  ses.WriteValues(reg);
  return TSaveResult::Saved;
}

}  // namespace

const char* VersionTypeName(TVersionType type) {
  return static_cast<int>(type) < kVersionTypeCount ? kVersionTypeNames[type] : kVersionTypeNames[verNone];
}

TVersionType VersionTypeFromName(std::string_view text) {
  for (int i = 0; i < kVersionTypeCount; ++i)
    if (SameText(text, kVersionTypeNames[static_cast<std::size_t>(i)])) return static_cast<TVersionType>(i);
  return verNone;
}

// --- TKofIniFile -------------------------------------------------------------

void TKofIniFile::SetText(std::string_view text) {
  Clear();
  text = WithoutBom(text);
  TSection* current = nullptr;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = &ForceSection(std::string_view(line).substr(1, line.size() - 2));
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!current || eq == std::string::npos) continue;
    current->Lines.emplace_back(Trim(std::string_view(line).substr(0, eq)), Trim(std::string_view(line).substr(eq + 1)));
  }
}

std::string TKofIniFile::Text() const {
  std::string text;
  for (const TSection& section : FSections) {
    text += "[" + section.Name + "]\r\n";
    for (const auto& [name, value] : section.Lines) text += name + "=" + value + "\r\n";
    text += "\r\n";
  }
  return text;
}

const TKofIniFile::TSection* TKofIniFile::FindSection(std::string_view section) const {
  const auto found = FIndex.find(LowerCase(section));
  return found == FIndex.end() ? nullptr : &FSections[found->second];
}

TKofIniFile::TSection& TKofIniFile::ForceSection(std::string_view section) {
  const auto [entry, added] = FIndex.try_emplace(LowerCase(section), FSections.size());
  if (added) FSections.push_back({std::string(section), {}});
  return FSections[entry->second];
}

bool TKofIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TKofIniFile::ValueExists(std::string_view section, std::string_view name) const {
  const TSection* s = FindSection(section);
  return s && std::any_of(s->Lines.begin(), s->Lines.end(), [&](const auto& line) { return SameText(line.first, name); });
}

std::string TKofIniFile::ReadString(std::string_view section, std::string_view name, std::string_view def) const {
  if (const TSection* s = FindSection(section))
    for (const auto& [key, value] : s->Lines)
      if (SameText(key, name)) return value;
  return std::string(def);
}

int TKofIniFile::ReadInteger(std::string_view section, std::string_view name, int def) const {
  return ParseInt(ReadString(section, name, "")).value_or(def);
}

void TKofIniFile::WriteString(std::string_view section, std::string_view name, std::string_view value) {
  // A line break inside a value would smuggle further keys into the file.
  std::string line(value);
  std::replace_if(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
  TSection& s = ForceSection(section);
  for (auto& [key, old] : s.Lines)
    if (SameText(key, name)) {
      old = line;
      return;
    }
  s.Lines.emplace_back(std::string(name), line);
}

void TKofIniFile::WriteInteger(std::string_view section, std::string_view name, int value) {
  WriteString(section, name, std::to_string(value));
}

bool TKofIniFile::UpdateFile(const std::string& path) const { return WriteWholeFile(path, Text()); }

// --- TKofSession: names and files ---------------------------------------------

std::string TKofSession::ExtractPureFileName(std::string_view fileName) {
  return ValidInputExt(ExtOf(fileName)) ? std::string(fileName.substr(0, ExtPos(fileName))) : std::string(fileName);
}

std::string TKofSession::FileNameToPanelName(std::string_view fileName) {
  return SameText(ExtOf(fileName), ".KOF") ? ReplaceExt(fileName, kSessionPanelExt) : std::string(fileName);
}

std::string TKofSession::PanelNameToFileName(std::string_view fileName) {
  const std::string_view ext = ExtOf(fileName);
  return SameText(ext, kSessionPanelExt) || SameText(ext, "._KOF_") ? ReplaceExt(fileName, ".KOF")
                                                                     : std::string(fileName);
}

bool TKofSession::ValidInputExt(std::string_view ext) {
  return std::any_of(std::begin(kSessionExts), std::end(kSessionExts), [&](const char* e) { return SameText(ext, e); });
}

std::string TKofSession::CheckName(std::string_view name) {
  if (Trim(name).empty()) return "A session needs a name.";
  if (!IsValidUtf8(name)) return "The session name is not valid text.";
  const std::string shown = Quoted(name);
  if (name.find('\\') != std::string_view::npos)
    return "The session name " + shown + " cannot contain a backslash (\\).";
  // The host's paths use '/' as separator here: such a session could never be entered.
  if (name.find('/') != std::string_view::npos) return "The session name " + shown + " cannot contain a slash (/).";
  // The host takes "." and ".." (and Windows any run of dots) for the folder itself and its parent.
  if (name.find_first_not_of('.') == std::string_view::npos)
    return "The session name " + shown + " cannot be used: the file manager takes it for a folder of its own.";
  if (!ValidRegistryKeyName(name) && Utf16Units(name) <= kMaxSessionNameUnits)
    return "The session name cannot contain control characters.";
  // Listed with its ".<KOF>" the name must still fit the host's 259 characters, or it cannot be entered.
  if (Utf16Units(name) > kMaxSessionNameUnits)
    return "The session name " + shown + " is too long (at most " + std::to_string(kMaxSessionNameUnits) +
           " characters).";
  return {};
}

bool TKofSession::Valid(const TKofIniFile& ini) { return !ini.ReadString(kSessionSection, "URL", "").empty(); }

TSessionFileCheck TKofSession::CheckSessionFile(const std::string& fileName, bool checkExtension) {
  std::string bytes;
  return ReadSessionFile(fileName, checkExtension, bytes);
}

TSessionFileCheck TKofSession::CheckSessionText(std::string_view bytes) { return CheckText(bytes, "The file"); }

std::string TKofSession::EnrichedAppendix(std::string_view, int accessCodeTimeout, bool editableRecords,
                                          bool filesWithPasswords, TVersionType versionType) {
  std::string suffix = "_AC" + std::to_string(accessCodeTimeout / 60) + "-";
  suffix += filesWithPasswords ? "PWD-" : "NOPWD-";
  suffix += editableRecords ? "EDIT-" : "RECRO-";
  switch (versionType) {
    case verUserDomainDaily: return suffix + "DAYDOM";
    case verNumber: return suffix + "NUMVER";
    case verUserDaily: return suffix + "DAYUSR";
    case verUserDomainDailyIndex: return suffix + "DAYDOMIDX";
    case verUserDailyIndex: return suffix + "DAYUSRIDX";
    default: return suffix + "NOVER";
  }
}

std::string TKofSession::Join(std::string_view prefix, std::string_view name) {
  return std::string(prefix) + std::string(name);
}

std::string TKofSession::Separate(std::string_view prefix, std::string_view name) {
  return StartsText(prefix, name) ? std::string(name.substr(prefix.size())) : std::string();
}

// --- TKofSession: construction -------------------------------------------------

TKofSession::TKofSession(TKofSessionList* owner, std::string_view name, std::string shortName,
                         TSessionAddress address, const TSessionSettings& settings)
    : FOwner(owner),
      FName(ExtractPureFileName(name)),
      FShortName(std::move(shortName)),
      FURL(std::move(address.URL)),
      FDomain(std::move(address.Domain)),
      FUsername(std::move(address.Username)),
      FSettings(settings) {}

TKofSession::TKofSession(TKofSessionList* owner, std::string_view name, std::string shortName, std::string url,
                         std::string domain, std::string username, int accessCodeTimeout, bool editableRecords,
                         bool filesWithPasswords, TVersionType versionType, bool errorGrouping, bool clipCopyMessage,
                         bool allowedVersionTypeChange, bool displayHelpFolders, bool encryptingFiles,
                         bool storeAllFiles, int bufferSize)
    : TKofSession(owner, name, std::move(shortName), {std::move(url), std::move(domain), std::move(username)},
                  {accessCodeTimeout, editableRecords, filesWithPasswords, versionType, errorGrouping,
                   clipCopyMessage, allowedVersionTypeChange, displayHelpFolders, encryptingFiles, storeAllFiles,
                   bufferSize}) {}

std::unique_ptr<TKofSession> TKofSession::Clone(const TKofSession& source, std::string_view newName) {
  std::unique_ptr<TKofSession> copy(new TKofSession(source));
  copy->FOwner = nullptr;
  copy->FName = newName.empty() ? source.FName : ExtractPureFileName(newName);
  copy->FShortName.clear();
  copy->FPreviousName.clear();
  copy->FModified = false;
  return copy;
}

const TKofPluginConfiguration* TKofSession::Configuration() const {
  if (!FOwner || !FOwner->Owner()) return nullptr;
  return FOwner->Owner()->Owner();
}

void TKofSession::ReadValues(const TKofRegistry& reg, TRegistryArea area) {
  FURL = reg.TryReadString("URL").value_or("");
  FDomain = reg.TryReadString("Domain").value_or("");
  FUsername = reg.TryReadString("Username").value_or("");

  // Without an owner chain the built-in defaults stand in for the configuration's.
  const TKofPluginConfiguration* cfg = Configuration();
  const bool missing = ReadStoredSettings(reg, cfg ? cfg->SessionDefaults() : TSessionSettings{}, FSettings);
  // Most sessions have no pin: its absence is no gap to write back.
  FCertificatePin = Trim(reg.TryReadString(kCertificatePinValue).value_or(""));
  FPlainHttpURL = Trim(reg.TryReadString(kPlainHttpURLValue).value_or(""));
  // Incomplete and legacy sessions are written back in full to the per-user store.
  FModified = missing || area == raHkcuOld;
  FArea = area;
}

void TKofSession::ReadUserTrust() {
  if (!FCertificatePin.empty() || !CheckName(FName).empty()) return;
  TKofRegistry reg(TRegRoot::CurrentUser);
  // The answer was given for one address; a session the administrator moved asks again.
  if (!reg.OpenKeyReadOnly(SessionKey(FName)) || reg.TryReadString("URL").value_or("") != FURL) return;
  FCertificatePin = Trim(reg.TryReadString(kCertificatePinValue).value_or(""));
  if (FPlainHttpURL.empty()) FPlainHttpURL = Trim(reg.TryReadString(kPlainHttpURLValue).value_or(""));
}

std::unique_ptr<TKofSession> TKofSession::Load(TKofSessionList* owner, std::string_view name, TRegistryArea area,
                                               const TKofRegistry& reg) {
  std::unique_ptr<TKofSession> session(new TKofSession());
  session->FOwner = owner;
  session->FName = ExtractPureFileName(name);
  session->ReadValues(reg, area);
  return session;
}

std::unique_ptr<TKofSession> TKofSession::Load(TKofSessionList* owner, std::string_view name, const TKofIniFile& ini) {
  std::unique_ptr<TKofSession> s(new TKofSession());
  const char* section = kSessionSection;
  s->FOwner = owner;
  s->FName = ExtractPureFileName(name);
  s->FURL = ini.ReadString(section, "URL", kLoopbackURL);
  s->FDomain = ini.ReadString(section, "Domain", "SYSTEM");
  s->FUsername = ini.ReadString(section, "Username", "Admin");
  s->FSettings = ReadFileSettings(ini, section);
  // A pin in the file is ignored: trusting a server is the user's own answer at the first login.
  return s;
}

std::unique_ptr<TKofSession> TKofSession::LoadFromFile(const std::string& fileName, std::string_view newName,
                                                       TSessionFileCheck* check) {
  std::string bytes;
  TSessionFileCheck result = ReadSessionFile(fileName, false, bytes);
  if (check) *check = result;
  if (!result.Ok()) return nullptr;
  // The file's own name, never its folder, names the session by default.
  const std::string name = newName.empty() ? ExtractFileName(fileName) : std::string(newName);
  return Load(nullptr, name, TKofIniFile(bytes));
}

// --- TKofSession: store and files ------------------------------------------------

TSaveResult TKofSession::Store(std::string_view newName, TStoreWrite how) {
  if (!newName.empty()) FName = ExtractPureFileName(newName);
  if (!CheckName(FName).empty()) return TSaveResult::Failed;
  TKofRegistry reg(TRegRoot::CurrentUser);
  // One locked replace for the whole session: nobody ever sees half of it,
  // and whether the entry is there is decided in the same hold of the lock.
  reg.BeginUpdate();
  const TSaveResult result = StoreInUpdate(*this, reg, how);
  if (result != TSaveResult::Saved) return result;
  if (!reg.EndUpdate()) throw ERegistryException("Failed to set data for '" + FName + "': " + reg.LastError());
  FModified = false;
  FPreviousName.clear();
  return TSaveResult::Saved;
}

void TKofSession::WriteValues(TKofRegistry& reg) const {
  reg.WriteString("URL", FURL);
  reg.WriteString("Domain", FDomain);
  reg.WriteString("Username", FUsername);
  WriteStoredSettings(reg, FSettings);
  if (!FCertificatePin.empty())
    reg.WriteString(kCertificatePinValue, FCertificatePin);
  else
    reg.DeleteValue(kCertificatePinValue);  // a forgotten pin must not come back on the next load
  if (!FPlainHttpURL.empty())
    reg.WriteString(kPlainHttpURLValue, FPlainHttpURL);
  else
    reg.DeleteValue(kPlainHttpURLValue);
}

bool TKofSession::SaveTo(TKofIniFile* ini) const {
  if (!ini) return false;
  const char* section = kSessionSection;
  ini->WriteString(section, "URL", Trim(FURL));
  ini->WriteString(section, "Domain", Trim(FDomain));
  ini->WriteString(section, "Username", Trim(FUsername));
  WriteFileSettings(*ini, section, FSettings);
  return true;
}

std::string TKofSession::FileText() const {
  TKofIniFile ini;
  SaveTo(&ini);
  return ini.Text();
}

bool TKofSession::SaveTo(const std::string& fileName) const { return WriteWholeFile(fileName, FileText()); }

void TKofSession::Reload() {
  TKofRegistry reg(TRegRoot::CurrentUser);
  if (CheckName(FName).empty() && reg.OpenKeyReadOnly(SessionKey(FName))) ReadValues(reg, raHKCU);
  FModified = false;
}

std::string TKofSession::DisplayName() const { return ExtractPureFileName(FName) + ".KOF"; }

void TKofSession::SetName(std::string_view name) {
  if (FPreviousName.empty()) FPreviousName = FName;
  FName = std::string(name);
}

bool TKofSession::Versioning() const {
  return FSettings.VersionType != verNone && FSettings.VersionType < kVersionTypeCount;
}

// --- TKofSessionList ------------------------------------------------------------

TKofSessionList::~TKofSessionList() {
  for (auto& session : FItems) {
    if (!session->Modified()) continue;
    try {
      session->Save();
    } catch (const ERegistryException&) {
      // At unload nobody is left to tell; the store keeps its previous copy.
    }
  }
}

int TKofSessionList::IndexOf(const TKofSession* session) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == session) return static_cast<int>(i);
  return -1;
}

const TKofSession* TKofSessionList::Next() {
  if (FReadIndex >= FItems.size()) return nullptr;
  return FItems[FReadIndex++].get();
}

void TKofSessionList::SetError(int code, std::string message) {
  FError = code;
  FErrorMessage = std::move(message);
}

void TKofSessionList::ResetError() { SetError(0, {}); }

bool TKofSessionList::Save() {
  ResetError();
  for (auto& session : FItems) {
    if (!session->Modified()) continue;
    std::string why;
    bool ok = false;
    try {
      ok = session->Save();
    } catch (const ERegistryException& e) {
      why = std::string(": ") + e.what();
    }
    if (!ok) {
      SetError(4, "The session " + Quoted(session->Name()) + " could not be saved" + why + ".");
      return false;
    }
  }
  return true;
}

bool TKofSessionList::LoadArea(TRegistryArea area) {
  ResetError();
  FSessionsExist = false;
  Clear();
  TRegRoot root = area == raHKLM ? TRegRoot::LocalMachine : TRegRoot::CurrentUser;
  std::string key = area == raHkcuOld ? kLegacySessionsKey : kSessionsKey;
  TKofRegistry reg(root);
  if (area == raSelect) {
    reg.SetRootKey(TRegRoot::LocalMachine);
    if (!reg.KeyExists(key)) {
      if (FOwner && FOwner->ReadOnly())
        return SetError(3, "The machine-wide session store is missing."), false;
      reg.SetRootKey(TRegRoot::CurrentUser);
      if (!reg.KeyExists(key)) return SetError(2, "There is no session store yet."), false;
    }
  } else {
    if (!reg.KeyExists(key)) return SetError(2, "There is no session store yet."), false;
    if (area != raHkcuOld && FOwner) FOwner->FReadOnly = area == raHKLM;
    FSessionsExist = true;
  }
  if (!reg.OpenKeyReadOnly(key)) return SetError(2, "The session store cannot be opened."), false;
  if (area == raSelect) area = reg.RootKey() == TRegRoot::LocalMachine ? raHKLM : raHKCU;
  // One snapshot for the whole list, so it never mixes two states of the store.
  const std::vector<std::string> names = reg.GetKeyNames();
  for (const std::string& name : names) {
    if (!reg.OpenKeyInSnapshot(key + "\\" + name)) {
      SetError(3, "The session " + Quoted(name) + " cannot be read from the store.");
      continue;
    }
    FItems.push_back(TKofSession::Load(this, name, area, reg));
    // The machine-wide store is read-only: the user's answers about its servers live in the user's own.
    if (area == raHKLM) FItems.back()->ReadUserTrust();
  }
  return !FItems.empty();
}

bool TKofSessionList::Rebuild() { return LoadArea(raSelect); }

bool TKofSessionList::AddToStore(TKofSession& ses, std::string_view newName, TStoreWrite how) {
  std::string why;
  TSaveResult result = TSaveResult::Failed;
  try {
    result = ses.Store(newName, how);
  } catch (const ERegistryException& e) {
    why = std::string(": ") + e.what();
  }
  switch (result) {
    case TSaveResult::Saved: Rebuild(); return true;
    case TSaveResult::Missing: return SetError(2, "The session " + Quoted(ses.Name()) + " no longer exists."), false;
    case TSaveResult::Exists: return SetError(1, "Duplicate session name " + Quoted(ses.Name())), false;
    case TSaveResult::Failed: break;
  }
  return SetError(4, "The session " + Quoted(ses.Name()) + " could not be saved" + why + "."), false;
}

bool TKofSessionList::MoveInStore(const TKofSession& ses, std::string_view oldName, TStoreWrite how, bool keepOld) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  // Source, target, write and removal in one hold of the store's lock: of two
  // processes renaming one session, the second finds it gone.
  reg.BeginUpdate();
  if (!ValidRegistryKeyName(oldName) || !reg.KeyExists(SessionKey(oldName)))
    return SetError(2, "The session " + Quoted(oldName) + " no longer exists."), false;
  TSaveResult result = TSaveResult::Failed;
  std::string why;
  try {
    result = StoreInUpdate(ses, reg, how);
  } catch (const ERegistryException& e) {
    why = std::string(": ") + e.what();
  }
  if (result == TSaveResult::Exists) return SetError(1, "Duplicate session name " + Quoted(ses.Name())), false;
  if (result == TSaveResult::Saved && !keepOld && !reg.DeleteKey(SessionKey(oldName)))
    return SetError(2, "The session " + Quoted(oldName) + " could not be deleted: " + reg.LastError() + "."), false;
  if (result != TSaveResult::Saved || !reg.EndUpdate()) {
    if (why.empty() && !reg.LastError().empty()) why = ": " + reg.LastError();
    return SetError(4, "The session " + Quoted(ses.Name()) + " could not be saved" + why + "."), false;
  }
  Rebuild();
  return true;
}

bool TKofSessionList::DeleteFromStore(std::string_view name, const TKofSession* ses) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  if (!ValidRegistryKeyName(name) || !reg.DeleteKey(SessionKey(name))) {
    const std::string why = reg.LastError().empty() ? std::string() : ": " + reg.LastError();
    SetError(2, "The session " + Quoted(name) + " could not be deleted" + why + ".");
    return false;
  }
  if (const int index = IndexOf(ses); index >= 0) FItems.erase(FItems.begin() + index);
  Rebuild();
  return true;
}

bool TKofSessionList::RenMovCopySession(const TKofSession& ses, std::string_view newName, bool copy,
                                        TStoreWrite how) {
  std::unique_lock guard(FOwner ? std::unique_lock(FOwner->FLock) : std::unique_lock<std::recursive_mutex>());
  ResetError();
  // A clone first: the rebuild after the save destroys SES.
  const std::string target = TKofSession::ExtractPureFileName(newName);
  std::unique_ptr<TKofSession> added = TKofSession::Clone(ses, target);
  const std::string oldName = ses.Name();
  if (std::string problem = TKofSession::CheckName(target); !problem.empty()) return SetError(5, problem), false;
  return MoveInStore(*added, oldName, how, copy || SameText(oldName, target));
}

// --- TKofSessionManager ---------------------------------------------------------

TKofSessionManager::TKofSessionManager(TKofPluginConfiguration* owner)
    : FOwner(owner), FSessionList(std::make_unique<TKofSessionList>(this)) {}

TKofSessionManager::~TKofSessionManager() { FSessionList.reset(); }

bool TKofSessionManager::LoadUnlocked(TRegistryArea area) { return FSessionList->LoadArea(area); }

bool TKofSessionManager::Load(TRegistryArea area) {
  std::lock_guard guard(FLock);
  return LoadUnlocked(area);
}

bool TKofSessionManager::Reload(TRegistryArea area) {
  std::lock_guard guard(FLock);
  FSessionList->Clear();
  return LoadUnlocked(area);
}

bool TKofSessionManager::Init() {
  std::lock_guard guard(FLock);
  // A machine-wide store hides the per-user one, even when it is empty.
  LoadUnlocked(raHKLM);
  if (FSessionList->Exist()) {
    FReadOnly = true;
    return true;
  }
  LoadUnlocked(raHKCU);
  if (FSessionList->Exist()) {
    FReadOnly = false;
    return true;
  }
  LoadUnlocked(raHkcuOld);
  if (FSessionList->Count() == 0) return false;
  FReadOnly = false;
  FSessionList->Save();
  return true;
}

int TKofSessionManager::FindByName(std::string_view name) const {
  for (int i = 0; i < FSessionList->Count(); ++i)
    if (SameText(FSessionList->Items(i).Name(), name)) return i;
  return -1;
}

int TKofSessionManager::FindByDisplayName(std::string_view name) const {
  for (int i = 0; i < FSessionList->Count(); ++i)
    if (SameText(FSessionList->Items(i).DisplayName(), name)) return i;
  return -1;
}

int TKofSessionManager::FindByShortName(std::string_view shortName) const {
  for (int i = 0; i < FSessionList->Count(); ++i)
    if (SameText(FSessionList->Items(i).ShortName(), shortName)) return i;
  return -1;
}

bool TKofSessionManager::SessionExists(std::string_view name) const {
  if (!ValidRegistryKeyName(name)) return false;
  TKofRegistry reg(TRegRoot::CurrentUser);
  return reg.KeyExists(SessionKey(name));
}

template <class F>
bool TKofSessionManager::Guarded(TKofSession& ses, F&& operation) {
  std::lock_guard guard(FLock);
  FSessionList->ResetError();
  if (std::string problem = TKofSession::CheckName(ses.Name()); !problem.empty())
    return FSessionList->SetError(5, problem), false;
  return operation();
}

bool TKofSessionManager::Add(TKofSession& ses, TStoreWrite how) {
  return Guarded(ses, [&] { return FSessionList->AddToStore(ses, {}, how); });
}

bool TKofSessionManager::Update(TKofSession& ses) {
  return Guarded(ses, [&] {
    TKofSessionList& list = *FSessionList;
    if (!list.AddToStore(ses, {}, TStoreWrite::MustExist)) return false;
    return list.Count() > 0;
  });
}

bool TKofSessionManager::Copy(TKofSession& ses) {
  return Guarded(ses, [&] {
    std::unique_ptr<TKofSession> clone = TKofSession::Clone(ses);
    return FSessionList->AddToStore(*clone, {}, TStoreWrite::MustNotExist);
  });
}

bool TKofSessionManager::Rename(TKofSession& ses) {
  std::lock_guard guard(FLock);
  FSessionList->ResetError();
  if (ses.PreviousName().empty())
    return FSessionList->SetError(2, "The session " + Quoted(ses.Name()) + " has no previous name."), false;
  return Guarded(ses, [&] {
    const std::string previous = ses.PreviousName();
    std::unique_ptr<TKofSession> clone = TKofSession::Clone(ses);
    // The new entry is complete before the old one goes, in one replace of the store.
    return FSessionList->MoveInStore(*clone, previous, TStoreWrite::MustNotExist, false);
  });
}

bool TKofSessionManager::Delete(TKofSession& ses) {
  std::lock_guard guard(FLock);
  FSessionList->ResetError();
  return FSessionList->DeleteFromStore(ses.Name(), &ses);
}

}  // namespace kof
