#pragma once
// The base of every server client: the server's message catalogue and the
// client-encryption state, plus the small name/value list used for form
// bodies and header lines.
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/KofNaCL.h"
#include "support/KofText.h"
#include "support/SecureString.h"

namespace kof {

enum class TKofLanguage { koflngEnglish, koflngCzech, koflngGermany, koflngFrance };

// "en", "cs", "de", "fr".
std::string LanguageCode(TKofLanguage ALanguage);
// The language whose code equals the text (ignoring case); English otherwise.
TKofLanguage LanguageFromCode(std::string_view ACode);

// Ordered name/value pairs. Values may be secrets (passwords, access codes),
// so they are held in wiping storage.
class TBodyStringList {
 public:
  struct TEntry {
    std::string Name;
    SecureString Value;
  };

  explicit TBodyStringList(char ANameValueSeparator = '=') : FSeparator(ANameValueSeparator) {}

  char NameValueSeparator() const { return FSeparator; }
  void Add(std::string_view AName, std::string_view AValue);
  void Clear() { FEntries.clear(); }
  bool Empty() const { return FEntries.empty(); }
  std::size_t Count() const { return FEntries.size(); }
  const std::vector<TEntry>& Entries() const { return FEntries; }
  // First value of the name (exact match), or nullptr.
  const SecureString* Find(std::string_view AName) const;
  // name, separator (plus a blank after ':'), value.
  SecureString Line(std::size_t AIndex) const;

 private:
  char FSeparator;
  std::vector<TEntry> FEntries;
};

struct TKofErrorRec {
  std::string Key;
  std::string Msg;
};
using TKofErrorTable = std::vector<TKofErrorRec>;
// Fills the buffer with the catalogue's JSON bytes; false when it could not.
using TErrorMessagesLoad = std::function<bool(std::string& JSONMessages)>;

// The server's own texts for its message keys, in one language.
class TKofErrorMessages {
 public:
  [[nodiscard]] bool Refresh();
  bool Empty() const { return FKofErrorTable.empty() || FKeyIndex.empty(); }
  // The catalogue text with "{0}", "{1}", ... replaced (first occurrence
  // each); for an unknown key the key made readable and false.
  bool GetErrorText(std::string_view AKey, const std::vector<std::string>& AParams, std::string& AResMsg) const;

  TKofLanguage Language() const { return FLanguage; }
  void SetLanguage(TKofLanguage AValue);
  const TKofErrorTable& KofErrorTable() const { return FKofErrorTable; }
  void SetOnLoad(TErrorMessagesLoad AOnLoad) { FOnLoad = std::move(AOnLoad); }
  // Replaces the catalogue by the members of a JSON object; an unparsable
  // text leaves it empty, one nested too deeply raises EKofResponseError.
  void LoadFromJSON(std::string_view AJSON);

 private:
  struct TCaseLess {
    bool operator()(const std::string& a, const std::string& b) const { return CompareText(a, b) < 0; }
  };
  TKofLanguage FLanguage = TKofLanguage::koflngEnglish;
  TKofErrorTable FKofErrorTable;
  std::map<std::string, std::size_t, TCaseLess> FKeyIndex;
  TErrorMessagesLoad FOnLoad;
};

// "Total.failure" -> "Total failure"; "login.failed" -> "Login failed".
std::string ReadableKey(std::string_view AKey);

class TKofClientBase : public IKofClientEncryption {
 public:
  TKofClientBase();
  ~TKofClientBase() override;
  TKofClientBase(const TKofClientBase&) = delete;
  TKofClientBase& operator=(const TKofClientBase&) = delete;

  virtual bool LoadErrorMessages(std::string& JSONMessages);
  virtual void Disconnect(bool AWipeStrings);

  TSaltyClientEncryption* NaCLEncryption() const override { return FNaCLEncryption.get(); }
  const TBytes& KOFServerPublicKeyBytes() const override { return FKofServerPublicKeyBytes; }
  // Replaces (and frees) the engine; nullptr switches client encryption off.
  void SetNaCLEncryption(std::unique_ptr<TSaltyClientEncryption> AValue) { FNaCLEncryption = std::move(AValue); }
  void SetKOFServerPublicKeyBytes(const TBytes& AValue) { FKofServerPublicKeyBytes = AValue; }
  std::string KOFServerPublicKeyBase64() const { return Base64Encode(FKofServerPublicKeyBytes); }
  TBytes GetKofPublicKey() const { return FKofServerPublicKeyBytes; }
  const std::string& KOFServerCePublicKey() const { return FKOFServerCePublicKey; }
  void SetKOFServerCePublicKey(std::string_view AValue) { FKOFServerCePublicKey = AValue; }
  const std::string& KOFServerCeAlgorithm() const { return FKOFServerCeAlgorithm; }
  void SetKOFServerCeAlgorithm(std::string_view AValue) { FKOFServerCeAlgorithm = AValue; }

  TKofErrorMessages& ErrorMessages() { return *FErrorMessages; }
  const TKofErrorMessages& ErrorMessages() const { return *FErrorMessages; }

  // Adds "KOF-Access-Code" (only with a code), "KOF-Encryption" and
  // "KOF-PublicKey" to a header or form list. Needs an engine.
  void SetNaCLProperties(TBodyStringList& AList, const SecureString& AAccessCode);
  void StopNaCLEncryptionForDebuggingOnly() { FNaCLEncryption.reset(); }

 private:
  std::string FKOFServerCePublicKey;
  TBytes FKofServerPublicKeyBytes;
  std::string FKOFServerCeAlgorithm;
  std::unique_ptr<TSaltyClientEncryption> FNaCLEncryption;
  std::unique_ptr<TKofErrorMessages> FErrorMessages;
};

}  // namespace kof
