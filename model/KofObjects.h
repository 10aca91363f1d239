#pragma once
// The root of the vault object model: TKofObject with its factories, the
// owning list TKofList, the text conversions used on every JSON text field,
// server times, and the small result objects that travel beside the vault
// objects (search hits, domain tags, bin items).
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/KofNaCL.h"
#include "model/KofConsts.h"
#include "model/KofTime.h"
#include "support/KofJSON.h"
#include "support/SecureString.h"

namespace kof {

// Lines of the text form; they may hold secrets.
using TSecureLines = std::vector<SecureString>;

class EKofError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual const char* ClassName() const { return "EKofError"; }
};
// The factories' refusals ("Kof object not found", unknown type, ...).
class EKofObjectError : public EKofError {
 public:
  using EKofError::EKofError;
  const char* ClassName() const override { return "EKofObjectError"; }
};
// A value that must be a number is not one.
class EConvertError : public EKofError {
 public:
  using EKofError::EKofError;
  const char* ClassName() const override { return "EConvertError"; }
};
// A text that is not a usable JSON object (besides the parser's own errors).
class EKofJSONError : public EKofError {
 public:
  using EKofError::EKofError;
  const char* ClassName() const override { return "EKofJSONError"; }
};
// Client encryption of an outgoing value failed; nothing must be sent.
class EKofCryptError : public EKofError {
 public:
  using EKofError::EKofError;
  const char* ClassName() const override { return "EKofCryptError"; }
};

// ParseJSON for the model and the client: throws EKofJSONError for bad
// syntax, bad UTF-8 or nesting deeper than kMaxJSONDepth, in words that never
// quote the text (it may hold a secret field).
TJSONObject ParseKofJSON(std::string_view AText);

// ---------------------------------------------------------------- JSON values

// The text of a member: string contents, decimal text of a number, "true",
// "false", "null"; empty for objects and arrays; nothing when absent.
std::optional<std::string> JSONValueText(const TJSONObject& AJSON, std::string_view AKey);
std::optional<std::int32_t> StrToInt32(std::string_view AText);
std::optional<std::int64_t> StrToInt64(std::string_view AText);
// "true"/"false" in any case, or a number (non-zero is true); else false.
bool StrToBoolean(std::string_view AText);

// ---------------------------------------------------------------- TKofObject

class TKofList;
class TKofFieldWriter;

class TKofObject {
 public:
  TKofObject() = default;
  explicit TKofObject(const TJSONObject& JSON);
  TKofObject(const TKofObject&) = delete;
  TKofObject& operator=(const TKofObject&) = delete;
  virtual ~TKofObject();

  virtual TKofObjectType GetObjType() const = 0;
  virtual std::string GetNameSuffix() const { return {}; }
  virtual std::string GetUniqueName() const { return FName; }
  virtual bool AssignNonEmptyFieldsFrom(const TKofObject& Obj);
  virtual void GetSecureFieldsFrom(const TKofObject& Obj);
  virtual void SaveToList(TSecureLines& List) const;
  // The JSON text, every member in its place (some are written twice); AIndent
  // as for TJSONWriter. A value that is not valid UTF-8 raises.
  SecureString SaveTo(bool AUpdate, bool AFileContent, int AIndent = -1) const;
  // Every value a JSON string with the encrypted field text. Throws
  // EKofCryptError when a value cannot be encrypted.
  virtual SecureString SaveEncryptedTo(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey, bool AUpdate,
                                      bool AFileContent) const;
  // Decrypts the fields in their fixed order, stopping at the first failure
  // (the later fields keep their ciphertext).
  [[nodiscard]] virtual bool Decrypt(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey);
  virtual void WipeStrings() {}

  // ---- factories: the only way objects are built from server JSON.
  // Class of the JSON's "template" (or "type"); with a client that has an
  // engine and a server key, an unknown type string is taken as ciphertext.
  static std::unique_ptr<TKofObject> CreateObject(const TJSONObject& JSON, const IKofClientEncryption* AClient);
  // The first object of a server answer, or a password-only object of AClass
  // for a {"password": ...} answer; null when there is none.
  static std::unique_ptr<TKofObject> CreateObject(std::string_view Strm, const IKofClientEncryption* AClient,
                                                  std::string_view AObjectName, bool HasPreamble,
                                                  std::optional<TKofObjectType> AClass = std::nullopt);
  // Array members that cannot be read are left out and counted in List.Unreadable(),
  // so that one bad record does not hide the others.
  static void AddObjects(const IKofClientEncryption* AClient, TKofList& List, std::string_view Strm,
                         std::string_view AObjectName, bool ClearList, bool HasPreamble);

  // ---- text conversions
  static std::string JSToStr(std::string_view S);
  static std::string TextToJS(std::string_view S);
  static std::string JSToMnemo(std::string_view S);
  static std::string TextToMnemo(std::string_view S);
  static std::string MnemoToStr(std::string_view S);

  TKofObjectType ObjType() const { return GetObjType(); }
  std::string UniqueName() const { return GetUniqueName(); }
  bool Mark() const { return FMark; }
  void SetMark(bool AValue) { FMark = AValue; }
  std::int32_t Id() const { return FId; }
  void SetId(std::int32_t AId) { FId = AId; }
  TDateTime Modified() const { return FModified; }
  TDateTime ModifiedUTC() const { return FModifiedUTC; }
  bool NeedsToBeDecrypted() const { return FNeedsToBeDecrypted; }
  void SetNeedsToBeDecrypted(bool AValue) { FNeedsToBeDecrypted = AValue; }
  const std::string& Name() const { return FName; }
  void SetName(std::string_view AValue) { FName = AValue; }
  bool SecureFieldsUsed() const { return FSecureFieldsUsed; }
  // Length of the JSON text of SaveTo(true, false).
  std::int64_t Size() const;
  // SaveTo(false, false) as an object value (of a member written twice it keeps the later).
  TJSONObject JSONObj() const;
  // SaveTo(false, false), with U+FFFD for bytes that are not UTF-8.
  std::string JSONStr() const;

  // Any object a caller hangs on this one; an owned one goes with it.
  void AttachObject(std::shared_ptr<void> AObject);  // owned
  void AttachObject(void* AObject);                  // not owned
  void DetachObject();
  void* AttachedObject() const { return FAttachedObject; }
  bool OwnedObject() const { return FOwnedObject; }

 protected:
  // Appends this class's pairs after its parent's; SaveTo and
  // SaveEncryptedTo differ only in the writer.
  virtual void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const;
  void SetSecureFieldsUsed(bool AValue) { FSecureFieldsUsed = AValue; }

  // Reading helpers: a missing key leaves the field as it is.
  static bool ReadText(const TJSONObject& J, std::string_view AKey, std::string& AField);
  bool ReadSecret(const TJSONObject& J, std::string_view AKey, SecureString& AField);
  bool ReadSecret(const TJSONObject& J, std::string_view AKey, std::string& AField);
  static void ReadInt(const TJSONObject& J, std::string_view AKey, std::int32_t& AField, std::int32_t ADefault = 0);
  static void ReadInt64(const TJSONObject& J, std::string_view AKey, std::int64_t& AField, std::int64_t ADefault = 0);
  static void ReadBool(const TJSONObject& J, std::string_view AKey, bool& AField);
  // The "attributes" member when it is an object.
  static const TJSONObject* Attributes(const TJSONObject& J);

  // One field of Decrypt: false (field unchanged) when the engine fails.
  static bool DecryptField(TSaltyClientEncryption& Enc, TByteSpan Key, std::string& AField);
  static bool DecryptField(TSaltyClientEncryption& Enc, TByteSpan Key, SecureString& AField);

 private:
  friend struct TKofFieldAccess;  // decryption of the fields a table names
  void SetModified(std::int64_t AMilliseconds);
  SecureString PlainJSON(bool AUpdate, bool AFileContent, int AIndent, TJSONWriter::TInvalidUTF8 AInvalid) const;

  bool FMark = false;
  std::int32_t FId = 0;
  TDateTime FModified = 0;
  TDateTime FModifiedUTC = 0;
  void* FAttachedObject = nullptr;
  std::shared_ptr<void> FAttachedOwner;
  bool FOwnedObject = false;
  bool FNeedsToBeDecrypted = false;
  std::string FName;
  bool FSecureFieldsUsed = false;
  // The type string itself did not decrypt: Decrypt can never succeed.
  bool FUndecryptable = false;
};

// Wipes an object's secrets when it goes out of scope, whichever way the work ends.
class TWipedObject {
 public:
  explicit TWipedObject(TKofObject& object) : FObject(object) {}
  TWipedObject(const TWipedObject&) = delete;
  TWipedObject& operator=(const TWipedObject&) = delete;
  ~TWipedObject() { FObject.WipeStrings(); }

 private:
  TKofObject& FObject;
};

// Writes one pair; the plain writer keeps JSON types and converts notes, the
// encrypting writer turns every value into its encrypted field text.
class TKofFieldWriter {
 public:
  explicit TKofFieldWriter(TJSONWriter& AOut) : FOut(AOut) {}
  virtual ~TKofFieldWriter() = default;
  virtual void Text(std::string_view AKey, std::string_view AValue) = 0;
  // Notes: line breaks go to JSON form in plain output, stay as held when encrypted.
  virtual void Note(std::string_view AKey, std::string_view AValue) = 0;
  virtual void Number(std::string_view AKey, std::int64_t AValue) = 0;
  virtual void Boolean(std::string_view AKey, bool AValue) = 0;
  // Pairs written inside the nested object AKey until EndObject.
  void BeginObject(std::string_view AKey) { FOut.BeginObject(AKey); }
  void EndObject() { FOut.EndObject(); }

 protected:
  TJSONWriter& Out() { return FOut; }

 private:
  TJSONWriter& FOut;
};

// ---------------------------------------------------------------- TKofList

class TKofList {
 public:
  using TItems = std::vector<std::unique_ptr<TKofObject>>;
  TKofList() = default;
  TKofList(const TKofList&) = delete;
  TKofList& operator=(const TKofList&) = delete;
  virtual ~TKofList() = default;

  int Count() const { return static_cast<int>(FItems.size()); }
  TKofObject* Items(int AIndex) const { return FItems[AIndex].get(); }
  TKofObject* operator[](int AIndex) const { return FItems[AIndex].get(); }
  TItems::const_iterator begin() const { return FItems.begin(); }
  TItems::const_iterator end() const { return FItems.end(); }
  TKofObject* Add(std::unique_ptr<TKofObject> AObject);
  void Delete(int AIndex);
  std::unique_ptr<TKofObject> Extract(int AIndex);
  void Clear();

  bool Sorted() const { return FSorted; }
  // Members of a listing that could not be read (a wrong type, bytes that are
  // not UTF-8, a name that does not decrypt) and were left out; Clear resets it.
  int Unreadable() const { return FUnreadable; }
  void AddUnreadable() { ++FUnreadable; }
  std::int64_t Size() const;
  int NumberOfMarked() const;
  int StandardCount() const;

  TKofObject* FindBy(std::int32_t AId) const;
  bool FindSafeBox(std::int32_t AId, std::string& AName) const;
  // A box whose name occurs anywhere in AName, ignoring case.
  bool FindSafeBox(std::string_view AName, std::int32_t& AId) const;
  // Binary search by name; only on a sorted list (false at once otherwise).
  bool Find(std::string_view S, int& Index) const;
  void SortByName();

 private:
  TItems FItems;
  bool FSorted = false;
  int FUnreadable = 0;
};

// ---------------------------------------------------------------- search hits

class TSearchResult {
 public:
  explicit TSearchResult(const TJSONObject& JSON);
  std::int32_t Id() const { return FId; }
  const std::string& Name() const { return FName; }
  const std::string& Description() const { return FDescription; }
  const std::string& ObjTypeStr() const { return FType; }
  std::int32_t OwnerId() const { return FOwnerId; }
  const std::string& Template() const { return FTemplate; }
  const std::string& Parent() const { return FParent; }
  std::int32_t ParentId() const { return FParentId; }
  TKofObjectType ObjType() const { return FKofObjType; }

 private:
  std::int32_t FId = 1;
  std::string FName, FDescription, FType;
  std::int32_t FOwnerId = -1;
  std::string FTemplate, FParent;
  std::int32_t FParentId = -1;
  TKofObjectType FKofObjType = kofConfiguration;
};

template <class T>
class TOwningResultList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  T* GetResultItem(int AIndex) const { return FItems[AIndex].get(); }
  T* Add(std::unique_ptr<T> AItem) {
    FItems.push_back(std::move(AItem));
    return FItems.back().get();
  }
  void Clear() { FItems.clear(); }

 protected:
  std::vector<std::unique_ptr<T>> FItems;
};

using TSearchResultList = TOwningResultList<TSearchResult>;

// ---------------------------------------------------------------- domain tags

class TDomainTag {
 public:
  explicit TDomainTag(const TJSONObject& JSON);
  std::int32_t Id() const { return FId; }
  const std::string& Name() const { return FName; }
  const std::string& Description() const { return FDescription; }
  std::int32_t DomainId() const { return FDomainId; }

 private:
  std::int32_t FId = -1;
  std::string FName, FDescription;
  std::int32_t FDomainId = 0;
};

class TDomainTagsList : public TOwningResultList<TDomainTag> {
 public:
  bool FindBy(std::string_view AName, int& AIndex) const;
};

// ---------------------------------------------------------------- bin items

class TDeletedItem {
 public:
  explicit TDeletedItem(const TJSONObject& JSON);
  TKofObjectType ObjType() const { return FKofObjType; }
  std::int32_t Id() const { return FId; }
  const std::string& Name() const { return FName; }
  void SetName(std::string_view AValue) { FName = AValue; }
  const std::string& Owner() const { return FOwner; }
  const std::string& Domain() const { return FDomain; }
  std::int32_t OwnerId() const { return FOwnerId; }
  const std::string& TypeOf() const { return FType; }
  const std::string& Description() const { return FDescription; }
  bool WhiteBox() const { return FWhiteBox; }
  const std::string& Login() const { return FLogin; }
  const std::string& FromSite() const { return FFromSite; }
  const std::string& Template() const { return FTemplate; }
  const std::string& Parent() const { return FParent; }
  void SetParent(std::string_view AValue) { FParent = AValue; }
  TDateTime DateOf() const { return FDate; }
  bool DeletedParent() const { return FDeletedParent; }
  const std::string& DeletedParentType() const { return FDeletedParentType; }
  std::int32_t DeletedParentId() const { return FDeletedParentId; }
  const std::string& DeletedParentName() const { return FDeletedParentName; }
  std::int32_t Icon() const { return FIcon; }
  // Name, " ˸ " parent " " when there is a parent, then "[" id "]".
  std::string QualifiedName() const;

 private:
  std::int32_t FId = -1;
  std::string FName, FOwner, FDomain;
  std::int32_t FOwnerId = -1;
  std::string FType, FDescription;
  bool FWhiteBox = false;
  std::string FLogin, FFromSite, FTemplate, FParent;
  TDateTime FDate = 0;
  bool FDeletedParent = false;
  std::string FDeletedParentType;
  std::int32_t FDeletedParentId = -1;
  std::string FDeletedParentName;
  std::int32_t FIcon = 0;
  TKofObjectType FKofObjType = kofConfiguration;
};

class TDeletedItemList : public TOwningResultList<TDeletedItem> {
 public:
  // First item whose name (qualified name) is a prefix of the text, ignoring case.
  bool FindBy(std::string_view AName, int& AIndex) const;
  bool FindByQualified(std::string_view AQualifiedName, int& AIndex) const;
};

// First kind whose type string equals the text ignoring case.
std::optional<TKofObjectType> KofObjectTypeFromStr(std::string_view AType);

}  // namespace kof
