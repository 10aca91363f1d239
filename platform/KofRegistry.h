#pragma once
// A small registry interface: two roots, keys addressed by backslash paths,
// DWORD and string values that keep their type, subkey enumeration, deletion.
// Key and value names compare without regard to case (every letter, not only
// A-Z). On Linux each root is one JSON document (see RegistryFilePath); every
// change is a read-modify-write under an advisory lock with an atomic replace,
// so two processes never lose each other's changes. A document that cannot be
// parsed is moved aside, never overwritten; the store then reads as empty and
// a notice is queued for the plugin (TakeRegistryNotices).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace kof {

enum class TRegRoot { None, CurrentUser, LocalMachine };
enum class TRegDataType { None, DWord, String };

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The document that holds a root: $KOFFRA_CONFIG_HOME/registry.json (per user)
// or $KOFFRA_SYSTEM_CONFIG_DIR/registry.json (machine-wide), with XDG defaults.
std::string RegistryFilePath(TRegRoot root);
// The per-user configuration folder: the folder of the per-user document.
std::string UserConfigFolder();

// Problems met while reading the documents (unreadable or corrupt files), in
// the order met, for the plugin to show; the queue is emptied by the call.
std::vector<std::string> TakeRegistryNotices();

// True when the name can be a key name: not empty, no backslash, no control
// character, valid UTF-8, at most 255 UTF-16 units.
bool ValidRegistryKeyName(std::string_view name);

class TKofRegistry {
 public:
  explicit TKofRegistry(TRegRoot root = TRegRoot::CurrentUser);
  ~TKofRegistry();
  TKofRegistry(const TKofRegistry&) = delete;
  TKofRegistry& operator=(const TKofRegistry&) = delete;

  TRegRoot RootKey() const { return FRoot; }
  void SetRootKey(TRegRoot root);

  // Key paths are always taken from the root ("Software\Vendor\App").
  // OpenKey with canCreate creates the missing keys of the path.
  bool OpenKey(std::string_view key, bool canCreate);
  bool OpenKeyReadOnly(std::string_view key);
  // Opens a key of the document as this accessor last read it, without
  // reading again: an enumeration then sees one consistent state.
  bool OpenKeyInSnapshot(std::string_view key);
  void CloseKey();
  bool KeyOpen() const { return FKeyOpen; }
  const std::string& CurrentPath() const { return FCurrentPath; }
  bool KeyExists(std::string_view key);
  // Deletes the key with all its subkeys and values.
  bool DeleteKey(std::string_view key);

  // Values of the open key.
  bool ValueExists(std::string_view name) const;
  TRegDataType GetDataType(std::string_view name) const;
  std::optional<uint32_t> TryReadInteger(std::string_view name) const;
  std::optional<std::string> TryReadString(std::string_view name) const;
  // Throw ERegistryException "Invalid data type for '<name>'" when the value is
  // missing or has another type.
  uint32_t ReadInteger(std::string_view name) const;
  std::string ReadString(std::string_view name) const;
  // Throw ERegistryException "Failed to set data for '<name>'" when the value
  // cannot be stored (no open key, text not UTF-8, document not writable).
  void WriteInteger(std::string_view name, uint32_t value);
  void WriteString(std::string_view name, std::string_view value);
  bool DeleteValue(std::string_view name);
  // Names of the open key's subkeys, sorted without regard to case.
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;

  // Groups writes into one locked read-modify-write: between the two calls the
  // writes go to memory; EndUpdate replaces the document once. EndUpdate
  // returns false (LastError tells why) when the document could not be written.
  // An update still open when the accessor is destroyed is cancelled: a write
  // interrupted by an exception never leaves half a change behind.
  void BeginUpdate();
  bool EndUpdate();
  void CancelUpdate();

  const std::string& LastError() const { return FLastError; }

 private:
  struct TState;
  // Stores one typed value under the open key; throws when it cannot.
  void WriteValue(std::string_view name, const nlohmann::json& entry);
  // Applies CHANGE to the document (in memory during an update, else as one
  // locked read-modify-write); false with FLastError set when it fails.
  bool Mutate(const std::function<bool(nlohmann::json& root)>& change);
  void RefreshSnapshot();
  const nlohmann::json* OpenNode() const;

  TRegRoot FRoot;
  bool FKeyOpen = false;
  std::string FCurrentPath;
  std::vector<std::string> FCurrentKey;
  std::unique_ptr<TState> FState;
  std::string FLastError;
};

}  // namespace kof
