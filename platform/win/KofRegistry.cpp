#include "platform/KofRegistry.h"

#include <algorithm>
#include <utility>

#include "platform/KofFolders.h"
#include "platform/win/KofWin.h"
#include "support/KofText.h"

namespace kof {
namespace {

HKEY RootHandle(TRegRoot root) {
  switch (root) {
    case TRegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case TRegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    default: return nullptr;
  }
}

std::optional<std::wstring> KeyPath(std::string_view key) {
  for (const std::string& part : SplitBackslashPath(key))
    if (!ValidRegistryKeyName(part)) return std::nullopt;
  return win::Wide(key);
}

std::string ErrorText(LSTATUS status) {
  wchar_t text[256] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(status), 0, text, 255, nullptr);
  std::string message = win::Utf8(std::wstring_view(text, n));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(status) : message;
}

std::vector<std::string> SortedByText(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  return names;
}

class TKey {
 public:
  TKey() = default;
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  ~TKey() { Reset(); }
  HKEY Get() const { return FKey; }
  HKEY* Put() {
    Reset();
    return &FKey;
  }
  void Reset() {
    if (FKey) ::RegCloseKey(FKey);
    FKey = nullptr;
  }

 private:
  HKEY FKey = nullptr;
};

}  // namespace

// The registry itself: there is no document; for what the user is shown the
// root's name stands in for its file.
std::string RegistryFilePath(TRegRoot root) {
  return root == TRegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string UserConfigFolder() {
  std::string folder = win::EnvVar(L"KOFFRA_CONFIG_HOME");
  if (folder.empty()) folder = RoamingAppDataFolder() + "\\Koffra";
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

// The registry never needs moving aside: there is nothing to report.
std::vector<std::string> TakeRegistryNotices() { return {}; }

// ---------------------------------------------------------------------------

struct TKofRegistry::TState {
  TKey Key;
  win::THandle UpdateMutex;  // held between BeginUpdate and EndUpdate
  bool InUpdate = false;
  bool UpdateFailed = false;
};

TKofRegistry::TKofRegistry(TRegRoot root) : FRoot(root), FState(std::make_unique<TState>()) {}

TKofRegistry::~TKofRegistry() { CancelUpdate(); }

void TKofRegistry::SetRootKey(TRegRoot root) {
  CloseKey();
  FRoot = root;
}

bool TKofRegistry::OpenKey(std::string_view key, bool canCreate) {
  CloseKey();
  const auto path = KeyPath(key);
  HKEY root = RootHandle(FRoot);
  if (!path || !root) return false;
  LSTATUS status = canCreate ? ::RegCreateKeyExW(root, path->c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                                 FState->Key.Put(), nullptr)
                             : ::RegOpenKeyExW(root, path->c_str(), 0, KEY_READ | KEY_WRITE, FState->Key.Put());
  // A machine-wide key is often readable only.
  if (status == ERROR_ACCESS_DENIED && !canCreate)
    status = ::RegOpenKeyExW(root, path->c_str(), 0, KEY_READ, FState->Key.Put());
  if (status != ERROR_SUCCESS) {
    FLastError = ErrorText(status);
    FState->Key.Reset();
    if (FState->InUpdate && canCreate) FState->UpdateFailed = true;
    return false;
  }
  FCurrentPath = std::string(key);
  FKeyOpen = true;
  return true;
}

bool TKofRegistry::OpenKeyReadOnly(std::string_view key) {
  CloseKey();
  const auto path = KeyPath(key);
  HKEY root = RootHandle(FRoot);
  if (!path || !root || ::RegOpenKeyExW(root, path->c_str(), 0, KEY_READ, FState->Key.Put()) != ERROR_SUCCESS) {
    FState->Key.Reset();
    return false;
  }
  FCurrentPath = std::string(key);
  FKeyOpen = true;
  return true;
}

// Each key is read where it is; an enumeration that meets a key deleted
// meanwhile simply finds it gone.
bool TKofRegistry::OpenKeyInSnapshot(std::string_view key) { return OpenKeyReadOnly(key); }

void TKofRegistry::CloseKey() {
  FState->Key.Reset();
  FKeyOpen = false;
  FCurrentKey.clear();
  FCurrentPath.clear();
}

bool TKofRegistry::KeyExists(std::string_view key) {
  const auto path = KeyPath(key);
  HKEY root = RootHandle(FRoot);
  TKey probe;
  return path && root && ::RegOpenKeyExW(root, path->c_str(), 0, KEY_READ, probe.Put()) == ERROR_SUCCESS;
}

bool TKofRegistry::DeleteKey(std::string_view key) {
  const auto path = KeyPath(key);
  HKEY root = RootHandle(FRoot);
  if (!path || path->empty() || !root) return false;
  const LSTATUS status = ::RegDeleteTreeW(root, path->c_str());
  if (status != ERROR_SUCCESS) {
    FLastError = ErrorText(status);
    return false;
  }
  return true;
}

TRegDataType TKofRegistry::GetDataType(std::string_view name) const {
  DWORD type = REG_NONE;
  if (!FKeyOpen || ::RegQueryValueExW(FState->Key.Get(), win::Wide(name).c_str(), nullptr, &type, nullptr, nullptr) !=
                       ERROR_SUCCESS)
    return TRegDataType::None;
  if (type == REG_DWORD) return TRegDataType::DWord;
  if (type == REG_SZ || type == REG_EXPAND_SZ) return TRegDataType::String;
  return TRegDataType::None;
}

bool TKofRegistry::ValueExists(std::string_view name) const { return GetDataType(name) != TRegDataType::None; }

std::optional<uint32_t> TKofRegistry::TryReadInteger(std::string_view name) const {
  DWORD type = REG_NONE, value = 0, size = sizeof value;
  if (!FKeyOpen || ::RegQueryValueExW(FState->Key.Get(), win::Wide(name).c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return std::nullopt;
  return value;
}

std::optional<std::string> TKofRegistry::TryReadString(std::string_view name) const {
  if (GetDataType(name) != TRegDataType::String) return std::nullopt;
  const std::wstring wideName = win::Wide(name);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = REG_NONE, size = 0;
    if (::RegQueryValueExW(FState->Key.Get(), wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS status = ::RegQueryValueExW(FState->Key.Get(), wideName.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(text.data()), &got);
    if (status == ERROR_MORE_DATA) continue;  // it grew meanwhile
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    text.resize(got / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return win::Utf8(text);
  }
  return std::nullopt;
}

void TKofRegistry::WriteInteger(std::string_view name, uint32_t value) {
  const DWORD data = value;
  const LSTATUS status =
      FKeyOpen ? ::RegSetValueExW(FState->Key.Get(), win::Wide(name).c_str(), 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&data), sizeof data)
               : ERROR_INVALID_HANDLE;
  if (status != ERROR_SUCCESS) {
    FLastError = ErrorText(status);
    throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
  }
}

void TKofRegistry::WriteString(std::string_view name, std::string_view value) {
  if (!IsValidUtf8(value) || !FKeyOpen) throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
  const std::wstring text = win::Wide(value);
  const LSTATUS status = ::RegSetValueExW(FState->Key.Get(), win::Wide(name).c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text.c_str()),
                                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) {
    FLastError = ErrorText(status);
    throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
  }
}

bool TKofRegistry::DeleteValue(std::string_view name) {
  return FKeyOpen && ::RegDeleteValueW(FState->Key.Get(), win::Wide(name).c_str()) == ERROR_SUCCESS;
}

std::vector<std::string> TKofRegistry::GetKeyNames() const {
  std::vector<std::string> names;
  if (!FKeyOpen) return names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (::RegEnumKeyExW(FState->Key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(win::Utf8(std::wstring_view(name, length)));
  }
  return SortedByText(std::move(names));
}

std::vector<std::string> TKofRegistry::GetValueNames() const {
  std::vector<std::string> names;
  if (!FKeyOpen) return names;
  wchar_t name[16384];
  for (DWORD index = 0;; ++index) {
    DWORD length = 16384;
    if (::RegEnumValueW(FState->Key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(win::Utf8(std::wstring_view(name, length)));
  }
  return SortedByText(std::move(names));
}

// The registry writes each value on its own. An update holds a mutex named
// for the root, so that two hosts never interleave their groups of writes
// (two renames of one session: the second finds it gone).
void TKofRegistry::BeginUpdate() {
  if (FState->InUpdate) return;
  FState->InUpdate = true;
  FState->UpdateFailed = false;
  const wchar_t* name =
      FRoot == TRegRoot::LocalMachine ? L"Local\\Koffra-registry-machine" : L"Local\\Koffra-registry-user";
  FState->UpdateMutex.Reset(::CreateMutexW(nullptr, FALSE, name));
  const DWORD waited = FState->UpdateMutex.Valid() ? ::WaitForSingleObject(FState->UpdateMutex.Get(), 10000) : WAIT_FAILED;
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    FState->UpdateMutex.Reset();
    FState->UpdateFailed = true;
    FLastError = "the store could not be locked";
  }
}

bool TKofRegistry::EndUpdate() {
  if (!FState->InUpdate) return true;
  const bool ok = !FState->UpdateFailed;
  CancelUpdate();
  return ok;
}

void TKofRegistry::CancelUpdate() {
  if (!FState->InUpdate) return;
  FState->InUpdate = false;
  if (FState->UpdateMutex.Valid()) ::ReleaseMutex(FState->UpdateMutex.Get());
  FState->UpdateMutex.Reset();
}

}  // namespace kof
