#pragma once
// Session profiles and their store.
//
//   TKofSessionManager (owned by the configuration) owns TKofSessionList, which
//   owns the TKofSession objects loaded from the registry store.
//
//   Listing:   Sessions().Count() / Items(i), in store order; each session's
//              PanelName() is what the sessions folder shows.
//   Lookup:    FindByName / FindByDisplayName / FindByShortName: index or -1,
//              names compared without regard to case (every letter).
//              SessionExists(name): the per-user store has that subkey.
//   Changing:  Add / Update / Rename / Copy / Delete (a session), each true on
//              success; on false, Sessions().ErrorCode() says why (1 duplicate,
//              2 missing, 3 unreadable, 4 write failed, 5 invalid name) and
//              ErrorMessage() words it for the user. After a success the list is
//              rebuilt from the store: every TKofSession& taken from it before
//              is gone; look sessions up again by name. RenMovCopySession
//              renames/moves/copies within the sessions folder.
//   Files:     SaveTo(path) / FileText() export a session file; CheckSessionFile
//              (path or bytes) says whether an import is acceptable and why not
//              (every refusal maps to FS_FILE_READERROR for the host);
//              LoadFromFile(path, name) loads one (nullptr when refused).
//   Names:     CheckName(name) gives the reason a name cannot be stored, or "".
//
// All store changes run under the manager's lock; the store itself is shared
// with other processes through the registry's lock and atomic replace.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sessions/KofSettings.h"
#include "support/KofText.h"
#include "support/VarnokCommonTypes.h"

namespace kof {

class TKofPluginConfiguration;
class TKofRegistry;
class TKofSessionList;
class TKofSessionManager;

enum TRegistryArea { raSelect, raHKLM, raHKCU, raHkcuOld };

inline constexpr char kPluginKey[] = "Software\\Varnok\\Koffra TC Plugin";
inline constexpr char kSessionsKey[] = "Software\\Varnok\\Koffra TC Plugin\\Sessions";
inline constexpr char kLegacyKey[] = "Software\\VarnokOld\\KofPlugin";
inline constexpr char kLegacySessionsKey[] = "Software\\VarnokOld\\KofPlugin\\Sessions";
inline constexpr char kSessionSection[] = "Koffra Session";
inline constexpr char kSessionPanelExt[] = ".<KOF>";
// Where a session keeps its pinned server certificate: only in the store,
// written only while a pin is set. A session file never carries one, so a
// shared file cannot make anybody trust a server.
inline constexpr char kCertificatePinValue[] = "CertificatePin";
// The http:// address the user agreed to reach without encryption; only in
// the store, never in session files, so a shared file cannot agree for anyone.
inline constexpr char kPlainHttpURLValue[] = "PlainHttpURL";
// A session file is a few hundred bytes; anything this large is not one.
inline constexpr std::size_t kMaxSessionFileBytes = 1u << 20;

// The name a versioning mode has in session files; "Never" for verNone.
const char* VersionTypeName(TVersionType type);
// The mode whose name equals TEXT without regard to case; verNone when none does.
TVersionType VersionTypeFromName(std::string_view text);

// An INI text held in memory: sections of name=value lines, names compared
// without regard to case, written as UTF-8 without byte-order mark, CR LF.
class TKofIniFile {
 public:
  TKofIniFile() = default;
  explicit TKofIniFile(std::string_view text) { SetText(text); }

  void SetText(std::string_view text);
  // Every section as "[name]", its lines, then one empty line.
  std::string Text() const;

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view name) const;
  std::string ReadString(std::string_view section, std::string_view name, std::string_view def) const;
  // DEF when absent or not a decimal integer.
  int ReadInteger(std::string_view section, std::string_view name, int def) const;
  // A value is one line: line breaks and other control characters become blanks.
  void WriteString(std::string_view section, std::string_view name, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view name, int value);
  void Clear() {
    FSections.clear();
    FIndex.clear();
  }

  // Writes Text() to PATH, replacing its content; false when it cannot.
  bool UpdateFile(const std::string& path) const;

 private:
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Lines;
  };
  const TSection* FindSection(std::string_view section) const;
  TSection& ForceSection(std::string_view section);
  std::vector<TSection> FSections;
  // Section index by lower-case name: a file of many sections parses in linear time.
  std::unordered_map<std::string, std::size_t> FIndex;
};

// Why a session file cannot be imported.
enum class TSessionFileResult {
  Ok,
  BadExtension,  // not .KOF, .CFG or .INI
  NotFound,
  Unreadable,    // cannot be opened or read
  TooLarge,      // more than kMaxSessionFileBytes
  NotText,       // binary (a zero byte) or not UTF-8
  NoURL,         // no "Koffra Session" section with a non-empty URL
};

// How a save treats the session's entry, decided under the store's lock.
enum class TStoreWrite {
  Upsert,        // create it or replace it
  MustExist,     // replace it; a session deleted meanwhile stays deleted
  MustNotExist,  // create it; a name taken meanwhile is not overwritten
};

enum class TSaveResult { Saved, Failed, Missing, Exists };

struct TSessionFileCheck {
  TSessionFileResult Result = TSessionFileResult::Ok;
  std::string Message;  // for the user; empty when Ok
  bool Ok() const { return Result == TSessionFileResult::Ok; }
};

// Where a session connects, and as whom.
struct TSessionAddress {
  std::string URL;
  std::string Domain;
  std::string Username;
};

class TKofSession {
 public:
  // --- names and files (no instance needed) ---
  static std::string ExtractPureFileName(std::string_view fileName);
  static std::string FileNameToPanelName(std::string_view fileName);
  static std::string PanelNameToFileName(std::string_view fileName);
  static bool ValidInputExt(std::string_view ext);
  // Why NAME cannot name a session ("" when it can): empty, only dots, a
  // backslash or slash, a control character, not UTF-8, longer than 253 (the
  // listed name with ".<KOF>" must fit the host's 259 characters).
  static std::string CheckName(std::string_view name);
  static bool Valid(const std::string& fileName) { return CheckSessionFile(fileName).Ok(); }
  static bool Valid(const TKofIniFile& ini);
  // CHECKEXTENSION: the file name must carry a session-file extension.
  static TSessionFileCheck CheckSessionFile(const std::string& fileName, bool checkExtension = false);
  static TSessionFileCheck CheckSessionText(std::string_view bytes);
  static std::string EnrichedAppendix(std::string_view name, int accessCodeTimeout, bool editableRecords,
                                      bool filesWithPasswords, TVersionType versionType);
  static std::string Join(std::string_view prefix, std::string_view name);
  static std::string Separate(std::string_view prefix, std::string_view name);

  // --- construction ---
  TKofSession(TKofSessionList* owner, std::string_view name, std::string shortName, TSessionAddress address,
              const TSessionSettings& settings);
  // The constructor with every field in order, as the profile's description has it.
  TKofSession(TKofSessionList* owner, std::string_view name, std::string shortName, std::string url,
              std::string domain, std::string username, int accessCodeTimeout, bool editableRecords,
              bool filesWithPasswords, TVersionType versionType, bool errorGrouping, bool clipCopyMessage,
              bool allowedVersionTypeChange, bool displayHelpFolders, bool encryptingFiles, bool storeAllFiles,
              int bufferSize);
  // A copy without owner, named NEWNAME (pure) or as the source.
  static std::unique_ptr<TKofSession> Clone(const TKofSession& source, std::string_view newName = {});
  // From an open session key; fallbacks come from the owner's configuration.
  static std::unique_ptr<TKofSession> Load(TKofSessionList* owner, std::string_view name, TRegistryArea area,
                                           const TKofRegistry& reg);
  static std::unique_ptr<TKofSession> Load(TKofSessionList* owner, std::string_view name, const TKofIniFile& ini);
  // Loads an acceptable session file under NEWNAME (or the file's own name);
  // nullptr when CheckSessionFile refuses it (CHECK, when given, says why).
  static std::unique_ptr<TKofSession> LoadFromFile(const std::string& fileName, std::string_view newName = {},
                                                   TSessionFileCheck* check = nullptr);

  // --- store and files ---
  // Writes the session to the per-user store. False when the key cannot be
  // opened, the name cannot be stored or the entry is gone (a session taken
  // from the per-user store is never re-created by a save); a failing write
  // raises ERegistryException. A caller that holds a lock of its own (the
  // plugin's) takes it before this takes the store's.
  bool Save(std::string_view newName = {}) { return Store(newName, DefaultWrite()) == TSaveResult::Saved; }
  TSaveResult Store(std::string_view newName, TStoreWrite how);
  // Sessions of the per-user store must still be there; the others are copied into it.
  TStoreWrite DefaultWrite() const { return FArea == raHKCU ? TStoreWrite::MustExist : TStoreWrite::Upsert; }
  // Writes the values into REG's open key (inside the caller's update).
  void WriteValues(TKofRegistry& reg) const;
  bool SaveTo(const std::string& fileName) const;
  bool SaveTo(TKofIniFile* ini) const;
  // The session file's bytes.
  std::string FileText() const;
  void Reload();
  // Takes the trust answers the user's own store keeps for this machine-wide
  // session, when they were given for the same address.
  void ReadUserTrust();
  void ClearPreviousName() { FPreviousName.clear(); }

  // --- properties ---
  TKofSessionList* Owner() const { return FOwner; }
  std::string DisplayName() const;
  std::string PanelName() const { return FName + kSessionPanelExt; }
  const std::string& Name() const { return FName; }
  void SetName(std::string_view name);
  const std::string& ShortName() const { return FShortName; }
  const std::string& URL() const { return FURL; }
  void SetURL(std::string value) { FURL = std::move(value); }
  const std::string& Domain() const { return FDomain; }
  void SetDomain(std::string value) { FDomain = std::move(value); }
  const std::string& Username() const { return FUsername; }
  void SetUsername(std::string value) { FUsername = std::move(value); }
  std::size_t FileSize() const { return FileText().size(); }
  const std::string& PreviousName() const { return FPreviousName; }
  int AccessCodeTimeout() const { return FSettings.AccessCodeTimeout; }
  void SetAccessCodeTimeout(int value) { FSettings.AccessCodeTimeout = value; }
  bool EditableRecords() const { return FSettings.EditableRecords; }
  void SetEditableRecords(bool value) { FSettings.EditableRecords = value; }
  bool FilesWithPasswords() const { return FSettings.FilesWithPasswords; }
  void SetFilesWithPasswords(bool value) { FSettings.FilesWithPasswords = value; }
  TVersionType VersionType() const { return FSettings.VersionType; }
  void SetVersionType(TVersionType value) { FSettings.VersionType = value; }
  bool ErrorGrouping() const { return FSettings.ErrorGrouping; }
  void SetErrorGrouping(bool value) { FSettings.ErrorGrouping = value; }
  bool ClipCopyMessage() const { return FSettings.ClipCopyMessage; }
  void SetClipCopyMessage(bool value) { FSettings.ClipCopyMessage = value; }
  bool AllowedVersionTypeChange() const { return FSettings.AllowedVersionTypeChange; }
  void SetAllowedVersionTypeChange(bool value) { FSettings.AllowedVersionTypeChange = value; }
  bool DisplayHelpFolders() const { return FSettings.DisplayHelpFolders; }
  void SetDisplayHelpFolders(bool value) { FSettings.DisplayHelpFolders = value; }
  bool EncryptingFiles() const { return FSettings.EncryptingFiles; }
  void SetEncryptingFiles(bool value) { FSettings.EncryptingFiles = value; }
  bool StoreAllFiles() const { return FSettings.StoreAllFiles; }
  void SetStoreAllFiles(bool value) { FSettings.StoreAllFiles = value; }
  int BufferSize() const { return FSettings.BufferSize; }
  void SetBufferSize(int value) { FSettings.BufferSize = value; }
  // SHA-256 fingerprint ("AB:CD:..." hex) of the server certificate the user
  // chose to trust; empty when the server must verify against the trusted CAs.
  const std::string& CertificatePin() const { return FCertificatePin; }
  void SetCertificatePin(std::string_view value) { FCertificatePin = Trim(value); }
  // The http:// base URL the user agreed to use unencrypted; empty when none.
  const std::string& PlainHttpURL() const { return FPlainHttpURL; }
  void SetPlainHttpURL(std::string_view value) { FPlainHttpURL = Trim(value); }
  const TSessionSettings& Settings() const { return FSettings; }
  int ClipboardTimeoutSec() const { return FClipboardTimeoutSec; }
  virtual bool Versioning() const;
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }

  virtual ~TKofSession() = default;

 private:
  TKofSession() = default;
  const TKofPluginConfiguration* Configuration() const;
  void ReadValues(const TKofRegistry& reg, TRegistryArea area);

  TKofSessionList* FOwner = nullptr;
  std::string FName;
  std::string FShortName;
  std::string FURL;
  std::string FDomain;
  std::string FUsername;
  bool FModified = false;
  TSessionSettings FSettings;
  std::string FCertificatePin;
  std::string FPlainHttpURL;
  int FClipboardTimeoutSec = 60;
  std::string FPreviousName;
  // Where the session was loaded from; raSelect for one made in memory.
  TRegistryArea FArea = raSelect;
};

class TKofSessionList {
 public:
  explicit TKofSessionList(TKofSessionManager* owner) : FOwner(owner) {}
  // Saves every modified session first; errors are not reported.
  ~TKofSessionList();
  TKofSessionList(const TKofSessionList&) = delete;
  TKofSessionList& operator=(const TKofSessionList&) = delete;

  TKofSessionManager* Owner() const { return FOwner; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TKofSession& Items(int index) { return *FItems.at(static_cast<std::size_t>(index)); }
  const TKofSession& Items(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }
  int IndexOf(const TKofSession* session) const;
  bool Exist() const { return FSessionsExist; }
  int ErrorCode() const { return FError; }
  // The last failure worded for the user; empty after a success.
  const std::string& ErrorMessage() const { return FErrorMessage; }

  // Enumeration for the sessions folder: Start, then Next until nullptr.
  void Start() { FReadIndex = 0; }
  const TKofSession* Next();

  // Empties the list without saving anything.
  void Clear() { FItems.clear(); }
  // Saves every modified session in order; false (ErrorCode 4) at the first failure.
  bool Save();
  // Stores a copy of SES under NEWNAME and, unless COPY, removes the old entry;
  // HOW says whether an entry of that name may be replaced (ErrorCode 1 when not).
  bool RenMovCopySession(const TKofSession& ses, std::string_view newName, bool copy,
                         TStoreWrite how = TStoreWrite::Upsert);

 private:
  friend class TKofSessionManager;
  void SetError(int code, std::string message);
  void ResetError();
  bool LoadArea(TRegistryArea area);
  bool AddToStore(TKofSession& ses, std::string_view newName, TStoreWrite how);
  // Stores SES and, unless KEEPOLD, removes OLDNAME, in one hold of the store's lock.
  bool MoveInStore(const TKofSession& ses, std::string_view oldName, TStoreWrite how, bool keepOld);
  bool DeleteFromStore(std::string_view name, const TKofSession* ses);
  bool Rebuild();

  TKofSessionManager* FOwner;
  std::vector<std::unique_ptr<TKofSession>> FItems;
  bool FSessionsExist = false;
  int FError = 0;
  std::string FErrorMessage;
  std::size_t FReadIndex = 0;
};

class TKofSessionManager {
 public:
  explicit TKofSessionManager(TKofPluginConfiguration* owner);
  ~TKofSessionManager();

  TKofPluginConfiguration* Owner() const { return FOwner; }
  TKofSessionList& Sessions() { return *FSessionList; }
  const TKofSessionList& Sessions() const { return *FSessionList; }
  bool ReadOnly() const { return FReadOnly; }
  int ErrorCode() const { return FSessionList->ErrorCode(); }
  const std::string& ErrorMessage() const { return FSessionList->ErrorMessage(); }

  bool Init();
  bool Load(TRegistryArea area);
  bool Reload(TRegistryArea area);

  int Find(std::string_view name) const { return FindByName(name); }
  int FindByName(std::string_view name) const;
  int FindByDisplayName(std::string_view name) const;
  int FindByShortName(std::string_view shortName) const;
  bool SessionExists(std::string_view name) const;

  // An import that must not replace a session passes MustNotExist (ErrorCode 1 when taken).
  bool Add(TKofSession& ses, TStoreWrite how = TStoreWrite::Upsert);
  bool Update(TKofSession& ses);
  bool Rename(TKofSession& ses);
  bool Copy(TKofSession& ses);
  bool Delete(TKofSession& ses);

 private:
  friend class TKofSessionList;
  bool LoadUnlocked(TRegistryArea area);
  template <class F>
  bool Guarded(TKofSession& ses, F&& operation);

  TKofPluginConfiguration* FOwner;
  std::recursive_mutex FLock;
  std::unique_ptr<TKofSessionList> FSessionList;
  bool FReadOnly = false;
};

}  // namespace kof
