#pragma once
// The concrete vault classes: the two box kinds, the record kinds and the
// agent objects, with their JSON (plain and client-encrypted) and secrets.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/KofFields.h"
#include "model/KofFileStreamEx.h"
#include "model/KofObjects.h"
#include "model/KofRecordTypes.h"

namespace kof {

// ---------------------------------------------------------------- boxes

enum TWatchedType : std::uint8_t { wtChanges, wtAccesses };

class TKofSafeBox : public TKofObject {
 public:
  explicit TKofSafeBox(const TJSONObject& JSON);
  TKofSafeBox(std::string_view AName, std::string_view APasswordPattern, bool APrivateBox, std::int32_t AParentId);
  ~TKofSafeBox() override;

  TKofObjectType GetObjType() const override { return kofSafeBox; }
  std::string GetNameSuffix() const override { return FPrivateBox ? " - private" : " - shared"; }
  std::string GetUniqueName() const override;
  void SaveToList(TSecureLines& List) const override;
  // Boxes always travel in plain text.
  SecureString SaveEncryptedTo(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey, bool AUpdate,
                               bool AFileContent) const override;
  void WipeStrings() override;

  const SecureString& PasswordPattern() const { return FPasswordPattern; }
  void SetPasswordPattern(std::string_view AValue) { FPasswordPattern.Assign(AValue); }
  const std::string& Description() const { return FDescription; }
  void SetDescription(std::string_view AValue) { FDescription = AValue; }
  bool PrivateBox() const { return FPrivateBox; }
  void SetPrivateBox(bool AValue) { FPrivateBox = AValue; }
  std::int32_t ParentId() const { return FParentId; }
  void SetParentId(std::int32_t AValue) { FParentId = AValue; }
  const std::string& OwnerName() const { return FOwnerName; }
  void SetOwnerName(std::string_view AValue) { FOwnerName = AValue; }
  const std::string& BoxACL() const { return FBoxACL; }
  const std::string& DomainName() const { return FDomainName; }
  void SetDomainName(std::string_view AValue) { FDomainName = AValue; }
  const std::string& ExternalFilesPath() const { return FExternalFilesPath; }
  void SetExternalFilesPath(std::string_view AValue) { FExternalFilesPath = AValue; }
  bool CanCreateRecordTags() const { return FCanCreateRecordTags; }
  bool CanCreateRecordTagsPresent() const { return FCanCreateRecordTagsPresent; }
  std::int64_t RecordsCount() const { return FRecordsCount; }
  std::int64_t Order() const { return FOrder; }
  bool Pinned() const { return FOrder > 0; }
  bool WatchedChanges() const { return FWatchedChanges; }
  void SetWatchedChanges(bool AValue);
  bool WatchedAccesses() const { return FWatchedAccesses; }
  void SetWatchedAccesses(bool AValue);
  bool WatchedChangesModified() const { return FWatchedChangesModified; }
  bool WatchedAccessesModified() const { return FWatchedAccessesModified; }
  bool WatchedModified() const { return FWatchedChangesModified || FWatchedAccessesModified; }
  void ClearWatched(std::initializer_list<TWatchedType> AWatchTypes);
  bool HasPermissionToCreate() const { return FBoxACL.find('C') != std::string::npos; }
  bool HasPermissionToDelete() const { return FBoxACL.find('D') != std::string::npos; }
  bool HasPermissionToModify() const { return FBoxACL.find('M') != std::string::npos; }
  TKofList& ElementList() { return FElementList; }
  const TKofList& ElementList() const { return FElementList; }

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;

 private:
  SecureString FPasswordPattern;
  std::string FDescription;
  bool FPrivateBox = false;
  std::int32_t FParentId = 0;
  std::string FOwnerName, FBoxACL, FDomainName, FExternalFilesPath;
  bool FCanCreateRecordTags = false;
  bool FCanCreateRecordTagsPresent = false;
  std::int64_t FRecordsCount = 0;
  bool FWatchedChanges = false, FWatchedAccesses = false;
  bool FWatchedAccessesModified = false, FWatchedChangesModified = false;
  std::int64_t FOrder = 0;
  TKofList FElementList;
};

class TKofSafeBoxGroup : public TKofSafeBox {
 public:
  using TKofSafeBox::TKofSafeBox;
  TKofObjectType GetObjType() const override { return kofSafeBoxGroup; }
};

// ---------------------------------------------------------------- records

class TKofRecord : public TKofObject {
 public:
  explicit TKofRecord(const TJSONObject& JSON);
  TKofRecord(std::string_view AName, std::string_view ADescription, std::string_view ATags, std::string_view ANote);
  ~TKofRecord() override;

  bool AssignNonEmptyFieldsFrom(const TKofObject& Obj) override;
  void GetSecureFieldsFrom(const TKofObject& Obj) override;
  void SaveToList(TSecureLines& List) const override;
  bool Decrypt(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey) override;
  void WipeStrings() override;

  const std::string& Description() const { return FDescription; }
  void SetDescription(std::string_view AValue) { FDescription = AValue; }
  TKofLauncher Launcher() const { return FLauncher; }
  void SetLauncher(TKofLauncher AValue);
  const std::string& Note() const { return FNote; }
  void SetNote(std::string_view AValue) { FNote = AValue; }
  const std::string& Site() const { return FSite; }
  void SetSite(std::string_view AValue) { FSite = AValue; }
  const SecureString& SecNote() const { return FSecNote; }
  void SetSecNote(std::string_view AValue) { FSecNote.Assign(AValue); }
  TTagList& TagList() { return FTags; }
  const TTagList& TagList() const { return FTags; }
  std::string Tags() const { return FTags.CommaText(); }
  void SetTags(std::string_view ACommaText) { FTags.SetCommaText(ACommaText); }

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;
  // Secret accounts, files, certificates and credit cards carry "sec-note".
  bool WritesSecNote() const;
  // Copies the fields of the kind's table marked AUse (fuMerge, fuAssign) that are not empty in AObj.
  void CopyNonEmptyFields(const TKofObject& AObj, unsigned AUse);

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  std::string FDescription;
  TKofLauncher FLauncher = kofLauncherNone;
  // The launcher text as it came when it named no launcher (ciphertext).
  std::string FLauncherText;
  std::string FNote, FSite;
  SecureString FSecNote;
  TTagList FTags;
  bool FTagsAsText = false;
};

class TKofAccountCommon : public TKofRecord {
 public:
  explicit TKofAccountCommon(const TJSONObject& JSON);
  TKofAccountCommon(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                    std::string_view ANote, std::string_view APasswordPattern, std::string_view APassword,
                    std::string_view ASite);
  ~TKofAccountCommon() override;


  const std::string& LoginSite() const { return FLoginSite; }
  void SetLoginSite(std::string_view AValue) { FLoginSite = AValue; }
  const SecureString& PasswordPattern() const { return FPasswordPattern; }
  void SetPasswordPattern(std::string_view AValue) { FPasswordPattern.Assign(AValue); }
  const SecureString& Password() const { return FPassword; }
  // Also sets the repeated password.
  void SetPassword(std::string_view AValue);
  const SecureString& PasswordRe() const { return FPasswordRe; }
  void SetPasswordRe(std::string_view AValue) { FPasswordRe.Assign(AValue); }

  // {"password", "passwordRe"} for changing the password.
  TJSONObject SavePasswords() const;
  TJSONObject SaveAndEncryptPasswords(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey) const;

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;
  void WritePasswordPattern(TKofFieldWriter& W) const { W.Text("passwordPattern", FPasswordPattern.View()); }

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  std::string FLoginSite;
  SecureString FPasswordPattern, FPassword, FPasswordRe;
};

class TKofAccount : public TKofAccountCommon {
 public:
  explicit TKofAccount(const TJSONObject& JSON);
  TKofAccount(std::string_view AName, std::string_view ADescription, std::string_view ATags, std::string_view ANote,
              std::string_view APasswordPattern, std::string_view APassword, std::string_view ALoginName,
              std::string_view AServerAddress, std::string_view ASite);
  // Password-only object of a secret-field answer.
  static std::unique_ptr<TKofAccount> PasswordOnly(std::string_view APassword);

  TKofObjectType GetObjType() const override { return kofAccount; }

  const std::string& LoginName() const { return FLoginName; }
  void SetLoginName(std::string_view AValue) { FLoginName = AValue; }
  const std::string& ServerAddress() const { return FServerAddress; }
  void SetServerAddress(std::string_view AValue) { FServerAddress = AValue; }

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  std::string FLoginName, FServerAddress;
};

class TKofSecAccount : public TKofAccountCommon {
 public:
  explicit TKofSecAccount(const TJSONObject& JSON);
  TKofSecAccount(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                 std::string_view ANote, std::string_view APasswordPattern, std::string_view APassword,
                 std::string_view ASecLoginName, std::string_view ASecServerAddress, std::string_view ASite,
                 std::string_view ASecNote);
  ~TKofSecAccount() override;
  static std::unique_ptr<TKofSecAccount> PasswordOnly(std::string_view APassword);

  TKofObjectType GetObjType() const override { return kofAccountSec; }

  const SecureString& SecLoginName() const { return FSecLoginName; }
  void SetSecLoginName(std::string_view AValue) { FSecLoginName.Assign(AValue); }
  const SecureString& SecServerAddress() const { return FSecServerAddress; }
  void SetSecServerAddress(std::string_view AValue) { FSecServerAddress.Assign(AValue); }

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  SecureString FSecLoginName, FSecServerAddress;
};

// ---------------------------------------------------------------- files

class TKofFile : public TKofRecord {
 public:
  explicit TKofFile(const TJSONObject& JSON);
  // Owning forms: the content is copied.
  TKofFile(std::string_view AName, std::string_view ADescription, std::string_view ATags, std::string_view ANote,
           std::string_view ASecNote, std::string_view AFilename, TBytes* AStream, bool AOwnStream);
  TKofFile(std::string_view AName, std::string_view ADescription, std::string_view ATags, std::string_view ANote,
           std::string_view ASecNote, std::string_view AFilename, TByteSpan AData);
  // Loads the file; the file name is the name part of FilePath unless AFilename is given.
  TKofFile(const std::string& FilePath, std::string_view AName, std::string_view ADescription,
           std::string_view ATags, std::string_view ANote, std::string_view ASecNote, std::string_view AFilename);

  TKofObjectType GetObjType() const override { return kofFile; }
  bool Decrypt(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey) override;
  virtual std::string GetFilename() const { return FFileName; }
  virtual void SetFilename(std::string_view AValue) { FFileName = AValue; }

  std::string Filename() const { return GetFilename(); }
  // Falls back to the stream size when not above 0.
  std::int64_t FileSizeApprox() const;
  void SetFileSizeApprox(std::int64_t AValue) { FFileSizeApprox = AValue; }
  TBytes* Stream() const { return FStream; }
  // Whether the record holds its content itself (and frees it with itself).
  bool OwnStream() const { return FStream != nullptr && FStream == FOwnedStream.get(); }
  // With AOwnStream the content of AStream is copied into a stream the record
  // owns. Otherwise the record refers to AStream, which the caller keeps alive
  // while the record uses it; referring to the record's own stream keeps it.
  void SetStream(TBytes* AStream, bool AOwnStream);

  std::string BuildPath(std::string_view Dir, std::string_view ALocalFile) const;
  void LoadFile(const std::string& AFilename);
  void LoadFile(TByteSpan AStream, std::string_view AFilename);
  // Raises EFCreateError when the target cannot be created, EWriteError when
  // the content cannot be written.
  void SaveToFile(std::string_view Dir, std::string_view ALocalFile, bool AEncrypted) const;

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;
  // Kinds whose JSON carries the file keys ("fileSizeApprox", "file", "content").
  bool HasFileKeys() const { return GetObjType() == kofFile || GetObjType() == kofCertificate; }
  // For classes that do not read the file keys.
  struct TNoFileKeys {};
  TKofFile(const TJSONObject& JSON, TNoFileKeys);
  void ReadFileKeys(const TJSONObject& JSON);

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  std::string FFileName;
  std::int64_t FFileSizeApprox = 0;
  // The content: FOwnedStream, a caller's stream, or none.
  std::unique_ptr<TBytes> FOwnedStream;
  TBytes* FStream = nullptr;
  // "content" that did not decode: encrypted content waiting for Decrypt.
  std::string FContentCipher;
};

class TKofCertificate : public TKofFile {
 public:
  explicit TKofCertificate(const TJSONObject& JSON);
  TKofCertificate(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                  std::string_view ANote, std::string_view ASecNote, std::string_view AFilename,
                  std::string_view AAlias, std::string_view AFilePassword, TBytes* AStream, bool AOwnStream);
  TKofCertificate(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                  std::string_view ANote, std::string_view ASecNote, std::string_view AFilename,
                  std::string_view AAlias, std::string_view AFilePassword, TByteSpan AData);
  TKofCertificate(const std::string& FilePath, std::string_view AName, std::string_view ADescription,
                  std::string_view ATags, std::string_view ANote, std::string_view ASecNote,
                  std::string_view AFilename, std::string_view AAlias, std::string_view AFilePassword);
  ~TKofCertificate() override;

  TKofObjectType GetObjType() const override { return kofCertificate; }

  const SecureString& Alias() const { return FAlias; }
  void SetAlias(std::string_view AValue) { FAlias.Assign(AValue); }
  const SecureString& FilePassword() const { return FFilePassword; }
  void SetFilePassword(std::string_view AValue) { FFilePassword.Assign(AValue); }
  std::string CertificateFile() const { return Filename(); }

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  void ReadCertificateKeys(const TJSONObject& JSON);
  SecureString FAlias, FFilePassword;
};

class TKofExternalFile;

// Where and how an external file's container is stored.
struct TKofExternalFileAttributes {
  TKofExternalFileAttributes() = default;
  explicit TKofExternalFileAttributes(const TKofObject* Rec) { Assign(Rec); }
  // Copies the five fields when Rec is an external file; empties efOldFilePath.
  void Assign(const TKofObject* Rec);
  void Clear();

  std::string efOrigFileName, efFilePath;
  SecureString efKey, efIV, efAAD;
  std::string efOldFilePath;
};

class TKofExternalFile : public TKofFile {
 public:
  explicit TKofExternalFile(const TJSONObject& JSON);
  TKofExternalFile(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                   std::string_view ANote, std::string_view AefOrigFileName, std::string_view AefFilePath,
                   std::string_view AefKey, std::string_view AefIV, std::string_view AefAAD, std::int64_t AFileSize);
  ~TKofExternalFile() override;

  TKofObjectType GetObjType() const override { return kofExternalFile; }
  std::string GetFilename() const override { return FefOrigFileName; }
  void SetFilename(std::string_view AValue) override { FefOrigFileName = AValue; }

  const std::string& efOrigFilename() const { return FefOrigFileName; }
  void SetefOrigFilename(std::string_view AValue) { FefOrigFileName = AValue; }
  const std::string& efFilePath() const { return FefFilePath; }
  // Every "/" becomes "\".
  void SetefFilePath(std::string_view AValue);
  const SecureString& efKey() const { return FefKey; }
  void SetefKey(std::string_view AValue) { FefKey.Assign(AValue); }
  const SecureString& efIV() const { return FefIV; }
  void SetefIV(std::string_view AValue) { FefIV.Assign(AValue); }
  const SecureString& efAAD() const { return FefAAD; }
  void SetefAAD(std::string_view AValue) { FefAAD.Assign(AValue); }
  std::int64_t FileSize() const { return FFileSize; }
  void SetFileSize(std::int64_t AValue);
  const std::string& FileSizeAsString() const { return FFileSizeAsString; }

  TKofExternalFileAttributes Attributes() const { return TKofExternalFileAttributes(this); }
  void Assign(const TKofExternalFileAttributes& Attrs);

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  std::string FefOrigFileName, FefFilePath;
  SecureString FefKey, FefIV, FefAAD;
  std::int64_t FFileSize = 0;
  std::string FFileSizeAsString;
};

// ---------------------------------------------------------------- credit cards

class TKofCreditCard : public TKofRecord {
 public:
  explicit TKofCreditCard(const TJSONObject& JSON);
  TKofCreditCard(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                 std::string_view ANote, std::string_view ASecNote, std::string_view ANumber,
                 std::string_view AExpiration, std::string_view ACvv, std::string_view APin);
  ~TKofCreditCard() override;

  TKofObjectType GetObjType() const override { return kofCreditCard; }

  const SecureString& Number() const { return FNumber; }
  void SetNumber(std::string_view AValue) { FNumber.Assign(AValue); }
  const SecureString& Expiration() const { return FExpiration; }
  void SetExpiration(std::string_view AValue) { FExpiration.Assign(AValue); }
  const SecureString& Cvv() const { return FCvv; }
  void SetCvv(std::string_view AValue) { FCvv.Assign(AValue); }
  const SecureString& Pin() const { return FPin; }
  void SetPin(std::string_view AValue) { FPin.Assign(AValue); }

  // 0 (the zero date) for an empty or unparseable expiration.
  TDateTime GetExpirationDate(bool Local) const;
  void SetExpirationDate(bool Local, TDateTime Value);

 protected:
  void WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const override;

 private:
  friend struct TKofFieldAccess;  // the field table reaches the fields
  SecureString FNumber, FExpiration, FCvv, FPin;
};

// Month and year of the card dialog to the 15th of that month, local midnight, and back.
TDateTime ExpirationMonthToDate(int AMonth, int AYear);
void ExpirationDateToMonth(TDateTime ADate, int& AMonth, int& AYear);

// ---------------------------------------------------------------- agents

class TKofStation : public TKofObject {
 public:
  explicit TKofStation(const TJSONObject& JSON);
  ~TKofStation() override;
  TKofObjectType GetObjType() const override { return kofStation; }
  // Writes the base lines, then raises EKofError("N/A").
  void SaveToList(TSecureLines& List) const override;
  void WipeStrings() override;

  const std::string& StationName() const { return Name(); }
  const std::string& ConfigName() const { return FConfigName; }
  const std::string& OsPlatform() const { return FPlatform; }
  const std::string& UserName() const { return FUserName; }
  const std::string& DefaultUser() const { return FDefaultUser; }
  const std::string& DefaultDomain() const { return FDefaultDomain; }
  const std::string& StationIP() const { return FStationIP; }
  const std::string& TimeZone() const { return FTimeZone; }
  TDateTime Registered() const { return FRegistered; }
  TDateTime LastAccess() const { return FLastAccess; }
  std::string DefUser() const { return FDefUser.empty() ? FUserName : FDefUser; }
  void SetDefUser(std::string_view AValue) { FDefUser = AValue; }
  const SecureString& CurrentPassword() const { return FCurrentPassword; }
  TDateTime PasswordDate() const { return FPswdDate; }
  void SetPassword(std::string_view APassword, TDateTime ADate);

 private:
  std::string FConfigName, FPlatform, FUserName, FDefaultUser, FDefaultDomain, FStationIP, FTimeZone;
  TDateTime FRegistered = 0, FLastAccess = 0;
  std::string FDefUser;
  SecureString FCurrentPassword;
  TDateTime FPswdDate = 0;
};

class TKofConfiguration : public TKofObject {
 public:
  explicit TKofConfiguration(const TJSONObject& JSON);
  TKofObjectType GetObjType() const override { return kofConfiguration; }
  void SaveToList(TSecureLines& List) const override;

  const std::string& SeedBase() const { return FSeedBase; }
  const std::string& Pattern() const { return FPattern; }

 private:
  std::string FSeedBase, FPattern;
};

// ---------------------------------------------------------------- kinds

// The class of a kind: a constructor from JSON.
struct TKofObjectClass {
  TKofObjectType Type;
  std::unique_ptr<TKofObject> (*Create)(const TJSONObject& JSON);
};

// Class of a type string (case-insensitive; empty gives the configuration
// class). Unknown: nullptr, or EKofObjectError when ARaise.
const TKofObjectClass* GetKofObjectClass(std::string_view AType, bool ARaise);
const TKofObjectClass& KofObjectClassOf(TKofObjectType AType);

}  // namespace kof
