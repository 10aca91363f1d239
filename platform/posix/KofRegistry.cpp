#include "platform/KofRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <utility>
#include <nlohmann/json.hpp>

#include "platform/KofFolders.h"
#include "support/KofText.h"

namespace kof {

using json = nlohmann::json;

namespace {

constexpr const char* kKeys = "keys";
constexpr const char* kValues = "values";
constexpr const char* kType = "type";
constexpr const char* kData = "data";
constexpr const char* kDWord = "dword";
constexpr const char* kString = "sz";
// Far beyond any real store; a bigger file is not ours.
constexpr std::size_t kMaxDocumentBytes = 16u << 20;
constexpr int kMaxKeyDepth = 64;

std::mutex gNoticeMutex;
std::vector<std::string> gNotices;
std::set<std::string> gNoticesGiven;

// A problem that stays (a damaged machine-wide file we may not move) is met on
// every read; the user hears of it once.
void AddNotice(std::string notice, bool once = false) {
  std::lock_guard guard(gNoticeMutex);
  if (!once || gNoticesGiven.insert(notice).second) gNotices.push_back(std::move(notice));
}

std::string ErrnoText(int error) { return std::strerror(error); }

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

// --- document shape --------------------------------------------------------

bool ValidValue(const json& value) {
  if (!value.is_object() || !value.contains(kType) || !value.contains(kData)) return false;
  const json& type = value[kType];
  const json& data = value[kData];
  if (type == kDWord) return data.is_number_unsigned() && data.get<uint64_t>() <= 0xFFFFFFFFu;
  if (type == kString) return data.is_string();
  return false;
}

// Two names that differ only in case would make every lookup ambiguous.
bool UniqueNames(const json& members) {
  std::vector<std::string> names;
  for (const auto& item : members.items()) names.push_back(LowerCase(item.key()));
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) == names.end();
}

bool ValidNode(const json& node, int depth, std::string& why) {
  if (!node.is_object()) return why = "a key is not a JSON object", false;
  if (depth > kMaxKeyDepth) return why = "keys are nested too deeply", false;
  if (node.contains(kValues)) {
    const json& values = node[kValues];
    if (!values.is_object() || !UniqueNames(values)) return why = "a list of values is malformed", false;
    for (const auto& item : values.items())
      if (!ValidValue(item.value())) return why = "value \"" + item.key() + "\" is malformed", false;
  }
  if (node.contains(kKeys)) {
    const json& keys = node[kKeys];
    if (!keys.is_object() || !UniqueNames(keys)) return why = "a list of subkeys is malformed", false;
    for (const auto& item : keys.items()) {
      if (!ValidRegistryKeyName(item.key())) return why = "a subkey has an invalid name", false;
      if (!ValidNode(item.value(), depth + 1, why)) return false;
    }
  }
  return true;
}

json* FindMember(json& node, const char* list, std::string_view name) {
  if (!node.is_object() || !node.contains(list)) return nullptr;
  for (auto& item : node[list].items())
    if (SameText(item.key(), name)) return &item.value();
  return nullptr;
}

const json* FindMember(const json& node, const char* list, std::string_view name) {
  return FindMember(const_cast<json&>(node), list, name);
}

bool EraseMember(json& node, const char* list, std::string_view name) {
  if (!node.is_object() || !node.contains(list)) return false;
  json& members = node[list];
  for (auto it = members.begin(); it != members.end(); ++it)
    if (SameText(it.key(), name)) {
      members.erase(it);
      return true;
    }
  return false;
}

json* FindKey(json& root, const std::vector<std::string>& path, bool create) {
  json* node = &root;
  for (const std::string& part : path) {
    json* child = FindMember(*node, kKeys, part);
    if (!child) {
      if (!create) return nullptr;
      child = &((*node)[kKeys][part] = json::object());
    }
    node = child;
  }
  return node;
}

std::optional<std::vector<std::string>> SplitKeyPath(std::string_view key) {
  std::vector<std::string> parts = SplitBackslashPath(key);
  for (const std::string& part : parts)
    if (!ValidRegistryKeyName(part)) return std::nullopt;
  return parts;
}

std::vector<std::string> SortedNames(const json* node, const char* list) {
  std::vector<std::string> names;
  if (node && node->is_object() && node->contains(list))
    for (const auto& item : (*node)[list].items()) names.push_back(item.key());
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  return names;
}

// --- files -----------------------------------------------------------------

enum class TReadResult { Missing, Ok, Corrupt, Unreadable };

TReadResult ReadDocument(const std::string& path, json& doc, std::string& why) {
  doc = json::object();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return TReadResult::Missing;
    why = ErrnoText(errno);
    return TReadResult::Unreadable;
  }
  TFileHandle file(fd);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return why = ErrnoText(errno), TReadResult::Unreadable;
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxDocumentBytes) return why = "the file is too large", TReadResult::Corrupt;
  }
  // An empty file holds nothing yet (someone created it by hand); zero bytes
  // are no blank: a file of them is damage (a crash before the data reached the disk).
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return TReadResult::Ok;
  json parsed = json::parse(text, nullptr, false);
  if (parsed.is_discarded()) return why = "it is not valid JSON", TReadResult::Corrupt;
  if (!ValidNode(parsed, 0, why)) return TReadResult::Corrupt;
  doc = std::move(parsed);
  return TReadResult::Ok;
}

std::string UtcStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

// Never overwrites: the damaged document stays for the user to inspect.
bool MoveAside(const std::string& path, const std::string& why) {
  const std::string base = path + ".corrupt-" + UtcStamp();
  std::string aside = base;
  struct stat st {};
  for (int n = 1; ::lstat(aside.c_str(), &st) == 0; ++n) aside = base + "-" + std::to_string(n);
  if (::rename(path.c_str(), aside.c_str()) != 0) {
    AddNotice("The settings file \"" + path + "\" cannot be read (" + why + ") and could not be moved aside (" +
              ErrnoText(errno) + "). It is left as it is; settings cannot be saved until it is repaired or removed.",
              true);
    return false;
  }
  AddNotice("The settings file \"" + path + "\" cannot be read (" + why + "). It was renamed to \"" + aside +
            "\"; the plugin continues with empty settings.");
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Temporary file beside the target, fsync, rename: a crash leaves the old or
// the new document, never half of one.
bool ReplaceDocument(const std::string& path, const json& doc, std::string& why) {
  const std::string text = doc.dump(1, '\t') + "\n";
  std::string tempPath;
  TPrivateFile temp = CreatePrivateTempFile(Folder(path), ".registry.json.tmp-", tempPath);
  if (!temp.Handle.Valid()) return why = ErrnoText(temp.Error), false;
  if (!WriteAll(temp.Handle.Fd(), text) || ::fsync(temp.Handle.Fd()) != 0) {
    why = ErrnoText(errno);
    ::unlink(tempPath.c_str());
    return false;
  }
  temp.Handle.Reset();
  if (::rename(tempPath.c_str(), path.c_str()) != 0) {
    why = ErrnoText(errno);
    ::unlink(tempPath.c_str());
    return false;
  }
  if (const int dir = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// Exclusive advisory lock on "<document>.lock"; held for a whole read-modify-write.
TFileHandle LockDocument(const std::string& path, std::string& why) {
  if (!ForceFolders(Folder(path))) {
    why = "the folder \"" + Folder(path) + "\" cannot be created";
    return {};
  }
  TFileHandle lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock.Valid()) {
    why = ErrnoText(errno);
    return {};
  }
  while (::flock(lock.Fd(), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    why = ErrnoText(errno);
    return {};
  }
  return lock;
}

// Reads the document for a change, under the lock. A corrupt one must be moved
// aside before anything may be written in its place.
bool LoadLocked(const std::string& path, json& doc, std::string& why) {
  switch (ReadDocument(path, doc, why)) {
    case TReadResult::Missing:
    case TReadResult::Ok: return true;
    case TReadResult::Corrupt: doc = json::object(); return MoveAside(path, why) || (why = "unreadable store", false);
    case TReadResult::Unreadable: return false;
  }
  return false;
}

json LoadForReading(const std::string& path) {
  json doc;
  std::string why;
  TReadResult result = ReadDocument(path, doc, why);
  if (result == TReadResult::Corrupt) {
    std::string lockWhy;
    TFileHandle lock = LockDocument(path, lockWhy);
    // Another process may have repaired or replaced it meanwhile.
    result = ReadDocument(path, doc, why);
    if (result == TReadResult::Corrupt) MoveAside(path, why);
  } else if (result == TReadResult::Unreadable) {
    AddNotice("The settings file \"" + path + "\" cannot be read (" + why + ").", true);
  }
  if (result != TReadResult::Ok) doc = json::object();
  return doc;
}

std::string ConfigFolder(const char* variable, const std::string& fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? std::string(value) : fallback;
}

}  // namespace

std::string RegistryFilePath(TRegRoot root) {
  std::string folder = root == TRegRoot::LocalMachine ? ConfigFolder("KOFFRA_SYSTEM_CONFIG_DIR", "/etc/xdg/koffra")
                                                      : UserConfigFolder();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/registry.json";
}

std::string UserConfigFolder() {
  std::string folder = ConfigFolder("KOFFRA_CONFIG_HOME", RoamingAppDataFolder() + "/koffra");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::vector<std::string> TakeRegistryNotices() {
  std::lock_guard guard(gNoticeMutex);
  return std::exchange(gNotices, {});
}

// ---------------------------------------------------------------------------

struct TKofRegistry::TState {
  json Doc = json::object();  // snapshot, or the working copy during an update
  bool Loaded = false;
  bool InUpdate = false;
  bool Dirty = false;
  bool UpdateFailed = false;
  TFileHandle Lock;
};

TKofRegistry::TKofRegistry(TRegRoot root) : FRoot(root), FState(std::make_unique<TState>()) {}

TKofRegistry::~TKofRegistry() { CancelUpdate(); }

void TKofRegistry::CancelUpdate() {
  if (!FState->InUpdate) return;
  FState->InUpdate = false;
  FState->Dirty = false;
  FState->Loaded = false;
  FState->Lock.Reset();
  FState->Doc = json::object();
}

void TKofRegistry::SetRootKey(TRegRoot root) {
  CloseKey();
  FRoot = root;
  FState->Loaded = false;
}

void TKofRegistry::RefreshSnapshot() {
  if (FState->InUpdate) return;
  FState->Doc = LoadForReading(RegistryFilePath(FRoot));
  FState->Loaded = true;
}

const json* TKofRegistry::OpenNode() const {
  if (!FKeyOpen) return nullptr;
  return FindKey(FState->Doc, FCurrentKey, false);
}

bool TKofRegistry::Mutate(const std::function<bool(json& root)>& change) {
  FLastError.clear();
  if (FRoot == TRegRoot::None) return FLastError = "no root key", false;
  if (FState->InUpdate) {
    if (FState->UpdateFailed) return FLastError = "the store could not be locked", false;
    if (!change(FState->Doc)) return false;
    FState->Dirty = true;
    return true;
  }
  const std::string path = RegistryFilePath(FRoot);
  std::string why;
  TFileHandle lock = LockDocument(path, why);
  json doc;
  if (!lock.Valid() || !LoadLocked(path, doc, why)) return FLastError = why, false;
  if (!change(doc)) return false;
  if (!ReplaceDocument(path, doc, why)) return FLastError = "\"" + path + "\": " + why, false;
  FState->Doc = std::move(doc);
  FState->Loaded = true;
  return true;
}

bool TKofRegistry::OpenKey(std::string_view key, bool canCreate) {
  CloseKey();
  const auto path = SplitKeyPath(key);
  if (!path || FRoot == TRegRoot::None) return false;
  RefreshSnapshot();
  if (!FindKey(FState->Doc, *path, false)) {
    if (!canCreate || !Mutate([&](json& root) { return FindKey(root, *path, true) != nullptr; })) return false;
  }
  FCurrentKey = *path;
  FCurrentPath = std::string(key);
  FKeyOpen = true;
  return true;
}

bool TKofRegistry::OpenKeyReadOnly(std::string_view key) { return OpenKey(key, false); }

bool TKofRegistry::OpenKeyInSnapshot(std::string_view key) {
  if (!FState->Loaded) return OpenKey(key, false);
  CloseKey();
  const auto path = SplitKeyPath(key);
  if (!path || !FindKey(FState->Doc, *path, false)) return false;
  FCurrentKey = *path;
  FCurrentPath = std::string(key);
  FKeyOpen = true;
  return true;
}

void TKofRegistry::CloseKey() {
  FKeyOpen = false;
  FCurrentKey.clear();
  FCurrentPath.clear();
}

bool TKofRegistry::KeyExists(std::string_view key) {
  const auto path = SplitKeyPath(key);
  if (!path || FRoot == TRegRoot::None) return false;
  RefreshSnapshot();
  return FindKey(FState->Doc, *path, false) != nullptr;
}

bool TKofRegistry::DeleteKey(std::string_view key) {
  const auto path = SplitKeyPath(key);
  if (!path || path->empty()) return false;
  std::vector<std::string> parent(path->begin(), path->end() - 1);
  return Mutate([&](json& root) {
    json* node = FindKey(root, parent, false);
    return node && EraseMember(*node, kKeys, path->back());
  });
}

bool TKofRegistry::ValueExists(std::string_view name) const { return GetDataType(name) != TRegDataType::None; }

TRegDataType TKofRegistry::GetDataType(std::string_view name) const {
  const json* node = OpenNode();
  const json* value = node ? FindMember(*node, kValues, name) : nullptr;
  if (!value) return TRegDataType::None;
  return (*value)[kType] == kDWord ? TRegDataType::DWord : TRegDataType::String;
}

std::optional<uint32_t> TKofRegistry::TryReadInteger(std::string_view name) const {
  if (GetDataType(name) != TRegDataType::DWord) return std::nullopt;
  return (*FindMember(*OpenNode(), kValues, name))[kData].get<uint32_t>();
}

std::optional<std::string> TKofRegistry::TryReadString(std::string_view name) const {
  if (GetDataType(name) != TRegDataType::String) return std::nullopt;
  return (*FindMember(*OpenNode(), kValues, name))[kData].get<std::string>();
}

void TKofRegistry::WriteInteger(std::string_view name, uint32_t value) {
  WriteValue(name, {{kType, kDWord}, {kData, value}});
}

void TKofRegistry::WriteString(std::string_view name, std::string_view value) {
  if (!IsValidUtf8(value)) throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
  WriteValue(name, {{kType, kString}, {kData, std::string(value)}});
}

void TKofRegistry::WriteValue(std::string_view name, const json& entry) {
  const bool ok = FKeyOpen && IsValidUtf8(name) && Mutate([&](json& root) {
                    // A key deleted by someone else meanwhile is not brought back.
                    json* node = FindKey(root, FCurrentKey, false);
                    if (!node) return FLastError = "the key no longer exists", false;
                    json* old = FindMember(*node, kValues, name);
                    (old ? *old : (*node)[kValues][std::string(name)]) = entry;
                    return true;
                  });
  if (!ok) throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
}

bool TKofRegistry::DeleteValue(std::string_view name) {
  return FKeyOpen && Mutate([&](json& root) {
           json* node = FindKey(root, FCurrentKey, false);
           return node && EraseMember(*node, kValues, name);
         });
}

std::vector<std::string> TKofRegistry::GetKeyNames() const { return SortedNames(OpenNode(), kKeys); }

std::vector<std::string> TKofRegistry::GetValueNames() const { return SortedNames(OpenNode(), kValues); }

void TKofRegistry::BeginUpdate() {
  if (FState->InUpdate) return;
  FState->InUpdate = true;
  FState->Dirty = false;
  FState->UpdateFailed = false;
  const std::string path = RegistryFilePath(FRoot);
  std::string why;
  FState->Lock = LockDocument(path, why);
  json doc;
  if (!FState->Lock.Valid() || !LoadLocked(path, doc, why)) {
    FState->UpdateFailed = true;
    FLastError = why;
    FState->Lock.Reset();
    return;
  }
  FState->Doc = std::move(doc);
  FState->Loaded = true;
}

bool TKofRegistry::EndUpdate() {
  if (!FState->InUpdate) return true;
  FState->InUpdate = false;
  bool ok = !FState->UpdateFailed;
  if (ok && FState->Dirty) {
    std::string why;
    const std::string path = RegistryFilePath(FRoot);
    ok = ReplaceDocument(path, FState->Doc, why);
    if (!ok) FLastError = "\"" + path + "\": " + why;
  }
  FState->Lock.Reset();
  FState->Dirty = false;
  if (!ok) FState->Loaded = false;
  return ok;
}

}  // namespace kof
