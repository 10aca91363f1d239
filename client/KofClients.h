#pragma once
// The connection of one session to the vault server: status, login by
// password or certificate, the user's state, access codes and the second
// factor, and the rule by which a failed request is repeated after the user
// supplied what the server asked for.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/KofErrors.h"
#include "client/KofRESTsend.h"
#include "client/KofUri.h"
#include "model/KofClasses.h"
#include "support/KofJSON.h"
#include "support/SecureString.h"
#include "support/VarnokIntList.h"

namespace kof {

class TKofClient;
class TKofPasswords;

struct TRequirements {
  int MinLength = 0;
  int MinUpper = 0;
  int MinLower = 0;
  int MinDigits = 0;
  int MinSpecials = 0;
  double MinEntropy = 0;
};

struct TKofVersion {
  int Version = 0;
  int Revision = 0;
  int Build = 0;
  std::int64_t Encoded = 0;
};

enum class TWhatWipe : unsigned { wipPassword = 1, wipAccessCode = 2 };
using TWhatWipeSet = unsigned;
constexpr TWhatWipeSet operator|(TWhatWipe a, TWhatWipe b) { return unsigned(a) | unsigned(b); }

// Writes a client certificate (DER bytes) and returns true when it supplied one.
using TLoginGetCertificate = std::function<bool(std::string& ACertificate)>;
// Asks for the password of a login; false when the user cancelled.
using TLoginUserCallback = std::function<bool(const std::string& ABaseURL, const std::string& ADomain,
                                              const std::string& AUserName, SecureString& APassword)>;
// Asks for the access code; Invalid when the server rejected the last one.
using TGetAccessCodeCallback = std::function<bool(SecureString& AAccessCode, bool Invalid)>;
// Runs the second-factor check (through SecondFactor); false when cancelled.
using TClientCheckSecondFactor = std::function<bool(TKofClient& AClient)>;

// What GetSafeBoxes returns besides the boxes right below the parent.
struct TSafeBoxesOptions {
  bool ExpandAll = false;          // every box and group of the subtree, parents before their children
  bool IncludeGroupBoxes = false;  // without ExpandAll: the groups too
  bool RecordsCount = false;       // each box with its number of records
};

// What a search path asks for: nothing appended, "?queryType=DEFAULT", "?queryType=STANDARD".
enum class TSearchQueryType { qtNone, qtDefault, qtStandard };

class TKofClient : public TKofUri {
 public:
  TKofClient();
  TKofClient(std::string_view ABaseURL, TKofLanguage ALanguage);
  TKofClient(std::string_view ABaseURL, std::string_view AUserName, std::string_view APassword,
             std::string_view AAccessCode, std::string_view ADomain, TKofLanguage ALanguage);
  ~TKofClient() override;

  // --- operations; each returns false and leaves the error state on failure
  [[nodiscard]] bool Status(bool DoLoadErrorMessages = true);
  // ACertificate: DER bytes of a client certificate, or nullptr for a password login.
  [[nodiscard]] bool Connect(const std::string* ACertificate, std::string_view AClientName,
                             std::string_view AClientVersion, std::string_view AClientBuild,
                             bool ForceDisconnect = false);
  void Disconnect(bool AWipeStrings) override;
  void WipeStrings(TWhatWipeSet WhatWipe);
  void WipeStrings(TWhatWipe WhatWipe) { WipeStrings(unsigned(WhatWipe)); }
  [[nodiscard]] bool LoginStatus(bool& AAuthenticated, bool CallEvents);
  [[nodiscard]] bool GetUserConfiguration(std::string_view AUserCodeInURL, bool ACheckBase);
  [[nodiscard]] bool SetNewAccessCode(std::string_view ANewAccessCode);
  [[nodiscard]] bool SecondFactor(std::string_view ASecurityCode, std::string_view ATOTPKey);
  [[nodiscard]] bool RegisterSecondFactor(std::string& ASecretKeyUri, std::string_view ASecurityKey,
                                          std::string_view AIssuer, std::string_view AUsername,
                                          std::string_view ADomain);
  [[nodiscard]] bool GetSecondFactorQR(std::string_view ASecretKeyUri, std::string* APngImage);
  [[nodiscard]] bool LoadErrorMessages(std::string& JSONMessages) override;

  // --- vault content. Lists are filled in place (a nil list gives false
  // without a request); returned objects belong to the caller. Missing
  // objects, ids of 0 or less, a wrong kind or a missing stream raise
  // EKofError to the caller instead of ending in the error state.
  [[nodiscard]] bool GetSafeBoxes(int BoxId, TKofList* List, const TSafeBoxesOptions& AOptions);
  [[nodiscard]] bool GetSafeBoxes(int BoxId, TKofList* List, bool ExpandAll, bool IncludeGroupBoxes,
                                  bool RecordsCount) {
    return GetSafeBoxes(BoxId, List, {ExpandAll, IncludeGroupBoxes, RecordsCount});
  }
  [[nodiscard]] std::unique_ptr<TKofSafeBox> GetSafeBox(int BoxId);
  // SecretFields and Download are accepted for the callers' sake and change nothing.
  [[nodiscard]] bool GetRecords(int BoxId, TKofList* List, bool SecretFields, bool Download, bool GetFileSizes);
  [[nodiscard]] std::unique_ptr<TKofRecord> GetRecord(int RecId, bool InclSecretFields, bool Download,
                                                      const THookMonitor& AFileMonitor = {});
  [[nodiscard]] bool ReadSecretFields(TKofObject* AObj, bool ADownload, bool AToBeDecrypted,
                                      const THookMonitor& AFileMonitor = {});
  // Appends the content to Stream, or to the record's own stream when Stream is nullptr.
  [[nodiscard]] bool DownloadFile(TKofFile* KofObj, TBytes* Stream, const THookMonitor& AFileMonitor = {});
  // The content to Sink as it arrives; a stop by the sink is error rfStopped.
  [[nodiscard]] bool DownloadFileTo(TKofFile* KofObj, const TDownloadSink& Sink, const THookMonitor& AFileMonitor = {});
  // An object with an id of 1 or more is updated instead unless ForceAdd.
  [[nodiscard]] bool Add(int BoxId, TKofObject* KofObj, std::int32_t& Id, bool ForceAdd = false,
                         const THookMonitor& AFileMonitor = {}, bool ForceCreateTag = false);
  // With FreeObj the object is freed when the add succeeded (not when it became an update).
  [[nodiscard]] bool Add(int BoxId, std::unique_ptr<TKofObject>& KofObj, std::int32_t& Id, bool ForceAdd, bool FreeObj,
                         const THookMonitor& AFileMonitor = {}, bool ForceCreateTag = false);
  [[nodiscard]] bool Update(TKofObject* KofObj, bool AUploadFileOrChangePasswords);
  [[nodiscard]] bool UpdatePassword(TKofObject* Acc);
  // Sends the record's own stream, or Stream when the record has none.
  [[nodiscard]] bool UploadFile(TKofFile* KofObj, const TBytes* Stream);
  // The content read from Source while it is sent; a stop by the source is error rfStopped.
  [[nodiscard]] bool UploadFileFrom(TKofFile* KofObj, const TUploadSource& Source,
                                    const THookMonitor& AFileMonitor = {});
  [[nodiscard]] bool Delete(TKofObject* Obj);
  [[nodiscard]] bool GetRecordTags(int BoxId, TDomainTagsList* List);
  [[nodiscard]] bool GetRecordTags(int BoxId, std::vector<std::string>* List);
  [[nodiscard]] bool GetRecordTags(TDomainTagsList* List, std::string_view ADomain);
  [[nodiscard]] bool GetRecordTags(std::vector<std::string>* List, std::string_view ADomain);
  [[nodiscard]] bool Search(std::string_view AExpression, TSearchResultList* List,
                            TSearchQueryType AQueryType = TSearchQueryType::qtNone);
  // Record ids, each with its box id (0xFFFFFFFF when unknown) as DWord.
  [[nodiscard]] bool SearchByNote(std::string_view APattern, TIntegerList* List);
  [[nodiscard]] bool GetDeletedRecords(TDeletedItemList* List);
  [[nodiscard]] bool RestoreDeletedRecords(const TIntegerList* List);
  [[nodiscard]] bool RestoreDeletedRecord(std::int32_t Id);
  [[nodiscard]] bool RemoveDeletedRecords(const TIntegerList* List);
  [[nodiscard]] bool RemoveDeletedRecord(std::int32_t Id);
  [[nodiscard]] bool SetWatched(TKofSafeBox* ABox, bool WithRecords);
  // -1 when unknown or not answered; parse faults pass to the caller.
  std::int64_t GetFileSizeLimit();
  [[nodiscard]] bool GetExternalFileParams(int ABoxId, SecureString& AKey, SecureString& AIv, SecureString& AAad,
                                           std::string& AFilePath);

  // The linked TLS engine works (curl's TLS backend is OpenSSL).
  [[nodiscard]] static bool CheckSSL(std::string_view APath, bool AForceInit);
  // 0 when the library (1: crypto, else TLS) is loaded (or linked in), else an error code.
  static int CheckSSLLib(int AWhat, std::string& LibPath);
  static std::string CryptoLibraryName();
  static std::string SSLLibraryName();

  // --- error state
  void ClearError(bool IncludeErrorKey = true);
  void RestoreTraffic();
  const std::string& ErrorKey() const { return FError.Key; }
  int RecordId() const { return FError.RecordId; }
  int ErrorCode() const { return FError.Code; }
  const std::string& ErrorSubj() const { return FError.Subj; }
  void SetErrorSubj(std::string_view AValue) { FError.Subj = AValue; }
  std::string ErrorMsg() const;
  int ResponseSize() const { return FResponseSize; }

  // --- connection data
  TRESTsend* HTTP() const { return FHTTP.get(); }
  const std::string& ModulePath() const { return FModulePath; }
  const std::string& DllPath() const { return FModulePath; }
  void SetModulePath(std::string_view AValue) { FModulePath = AValue; }
  const std::string& BaseURL() const { return FBaseURL; }
  void SetBaseURL(std::string_view AValue) { FBaseURL = PrepareURL(AValue, true, false, true); }
  const std::string& Domain() const { return FDomain; }
  void SetDomain(std::string_view AValue) { FDomain = AValue; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(std::string_view AValue) { FUserName = AValue; }
  const SecureString& Password() const { return FPassword; }
  void SetPassword(std::string_view AValue) { FPassword.Assign(AValue); }
  const SecureString& AccessCode() const { return FAccessCode; }
  void SetAccessCode(std::string_view AValue);
  bool Connected() const { return FConnected; }
  void SetConnected(bool AValue);
  bool ConnectedByCertificate() const { return FConnectedByCertificate; }
  int ConnectionTimeout() const { return FConnectionTimeout; }
  void SetConnectionTimeout(int AValue);
  // How long to wait for an answer, in ms; 0 keeps the request layer's default.
  int ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int AValue);
  TKofLanguage Language() const { return ErrorMessages().Language(); }
  void SetLanguage(TKofLanguage AValue) { ErrorMessages().SetLanguage(AValue); }
  bool Authenticated();
  bool DecryptNaCL() const { return NaCLEncryption() != nullptr; }
  std::string CertifPubKey() const { return FHTTP ? FHTTP->SSL().PeerSubject() : std::string(); }

  // --- what the server said
  const std::string& KofProduct() const { return FKofProduct; }
  const std::string& KofApiVersion() const { return FKofApiVersion; }
  std::int64_t KofGmtTime() const { return FKofGmtTime; }
  const std::string& KofServerTime() const { return FKofServerTime; }
  const std::string& KofVersion() const { return FKofVersion; }
  TKofVersion KofVersionEncoded() const;
  int AccessCodeValidityTimoutSec() const { return FAccessCodeValidityTimeoutSec; }
  bool SecondFactorRequired() const { return FSecondFactorRequired; }
  bool HasAccessCode() const { return FHasAccessCode; }
  bool KofUser() const { return FKofUser; }
  bool KofAdmin() const { return FKofAdmin; }
  bool CfgAdmin() const { return FCfgAdmin; }
  bool UserManager() const { return FUserManager; }
  bool SafeBoxUser() const { return FSafeBoxUser; }
  bool SafeBoxAdmin() const { return FSafeBoxAdmin; }
  bool SafeBoxManager() const { return FSafeBoxManager; }
  bool Auditor() const { return FAuditor; }
  bool SecurityOfficer() const { return FSecurityOfficer; }
  bool MustConfigureSecondFactor() const { return FMustConfigureSecondFactor; }
  const std::string& Uid() const { return FUid; }
  const std::string& Locale() const { return FLocale; }
  const TRequirements& LoginPasswordRequirements() const { return FLoginPasswordRequirements; }
  const TRequirements& AccessCodeRequirements() const { return FAccessCodeRequirements; }

  // --- TLS; a non-empty certificate or CA turns verification on
  bool VerifyCertificate() const { return FTLS.VerifyCert(); }
  void SetVerifyCertificate(bool AValue);
  void SetCertificateFile(std::string_view AValue);
  void SetCertificate(std::string_view AValue);
  void SetCertCAFile(std::string_view AValue);
  void SetCertCA(std::string_view AValue);
  void SetCertCABytes(const TBytes& AValue);
  void SetPFX(std::string_view AValue);
  void SetImprint(std::string_view AValue);
  const TKofOpenSSL& TLS() const { return FTLS; }

  // --- callbacks
  void SetOnGetCertificate(TLoginGetCertificate AValue) { FOnGetCertificate = std::move(AValue); }
  void SetOnUserLogin(TLoginUserCallback AValue) { FOnUserLogin = std::move(AValue); }
  void SetOnGetAccessCode(TGetAccessCodeCallback AValue) { FOnGetAccessCode = std::move(AValue); }
  void SetOnCheckSecondFactor(TClientCheckSecondFactor AValue) { FOnCheckSecondFactor = std::move(AValue); }

 protected:
  // The password services are operations of the client kept in a unit of their own.
  friend class TKofPasswords;

  // The steps every operation is made of.
  void CreateHTTP();
  std::string URL(std::string_view APath) const { return FBaseURL + std::string(APath); }
  // Sends (again after each RetryRequest that answers true) until the answer is 200.
  [[nodiscard]] bool RunRequest(const std::function<bool(TRESTsend&)>& ASend, const std::string& AResponse,
                                bool CallEvents = true);
  // Records an exception of the body as error kErrException.
  bool Guarded(const std::function<bool()>& ABody);
  [[nodiscard]] bool CheckResponse(bool AResult, const std::string& AResponse);
  [[nodiscard]] bool ParseErrorResponse(const std::string& AResponse);
  [[nodiscard]] bool ParseErrorText(std::string_view AText);
  [[nodiscard]] bool RetryRequest(bool CallEvents);
  void SetError(int ACode, std::string_view AMessage, std::string_view AKey);
  void SetDecryptError() { SetError(kErrDecrypt, "NaCL Decrypt Error", kKeyCryptoError); }

 private:
  [[nodiscard]] bool ReloginThroughCallbacks();
  void SetResponseSize(std::size_t ASize);
  // The GET every plain read is made of, with the usual retry.
  [[nodiscard]] bool Read(const std::string& APath, std::string& AAnswer, bool AOpen = true, bool UseAccessCode = true);
  // Read, then the objects of the answer's member AObjectName appended to AList.
  [[nodiscard]] bool ReadObjects(const std::string& APath, const char* AObjectName, TKofList& AList, bool AClear,
                                 bool AOpen);
  // Decrypts an object read with client encryption; false (error 997) when it does not open.
  [[nodiscard]] bool DecryptObject(TKofObject& AObj);
  // True (error kErrDecrypt) for an object whose values did not decrypt.
  [[nodiscard]] bool RefuseUndecrypted(const TKofObject& AObj);
  // The JSON text an add or update sends; it may hold secrets, so the caller wipes it.
  std::string PrepareObjectBody(const TKofObject& AObj, bool AUpdate);
  // Sends an add or update with the usual retry; an encrypted record body is
  // made again after the user gave a new access code.
  [[nodiscard]] bool SendObject(const TKofObject& AObj, bool AUpdate,
                                const std::function<bool(TRESTsend&, const std::string& ABody)>& ASend,
                                const std::string& AAnswer);
  [[nodiscard]] bool AddObject(int BoxId, TKofObject& KofObj, std::int32_t& Id, bool ForceAdd,
                               const THookMonitor& AFileMonitor, bool ForceCreateTag, bool& AUpdated);
  [[nodiscard]] bool SendFile(const TKofFile& AFile, const TBytes& AData, const THookMonitor& AFileMonitor);
  [[nodiscard]] bool SendFileFrom(const TKofFile& AFile, const TUploadSource& ASource,
                                  const THookMonitor& AFileMonitor);
  // Asks for an access code when none is held; false when there is none to be had.
  [[nodiscard]] bool EnsureAccessCode();
  [[nodiscard]] bool ReadRecordSecrets(TKofObject& AObj, bool ADownload, const THookMonitor& AFileMonitor);
  [[nodiscard]] bool MergePasswords(TKofObject& AObj, bool AToBeDecrypted);
  [[nodiscard]] bool ReadTags(const std::string& APath, TDomainTagsList* List);
  [[nodiscard]] bool ChangeDeletedRecords(const TIntegerList* List, bool ARestore);
  [[nodiscard]] bool SendWatched(int ABoxId, TWatchedType AKind, bool AOn, bool WithRecords);
  [[nodiscard]] bool ReadExternalFileParam(const TJSONObject& ADoc, const char* AName, SecureString& AValue);
  [[nodiscard]] bool AskForAccessCode(bool AInvalid, bool AEmptyFirst);
  void ParseLoginStatus(const TJSONObject& AObject, bool& AAuthenticated);
  void ParseUserConfiguration(const TJSONObject& AObject);
  void ParseStatus(const TJSONObject& AObject);
  [[nodiscard]] bool SwitchEncryptionFromStatus(const TJSONObject& AObject);
  void AddClientFields(TBodyStringList& AForm, std::string_view AClientName, std::string_view AClientVersion,
                       std::string_view AClientBuild) const;
  void SetStatusFailed();
  void ChangeTLS(const std::function<void(TKofOpenSSL&)>& AChange, bool ATurnsVerificationOn);

  std::unique_ptr<TRESTsend> FHTTP;
  std::string FModulePath;
  std::string FBaseURL;
  std::string FDomain;
  std::string FUserName;
  SecureString FPassword;
  SecureString FAccessCode;
  TKofError FError;
  bool FConnected = false;
  bool FConnectedByCertificate = false;
  std::string FKofProduct;
  std::string FKofApiVersion;
  std::int64_t FKofGmtTime = 0;
  std::string FKofServerTime;
  std::string FKofVersion;
  int FResponseSize = 0;
  int FConnectionTimeout = 0;
  int FReadTimeout = 0;
  int FAccessCodeValidityTimeoutSec = -1;
  bool FSecondFactorRequired = false;
  bool FHasAccessCode = false;
  bool FKofUser = false;
  bool FKofAdmin = false;
  bool FCfgAdmin = false;
  bool FUserManager = false;
  bool FSafeBoxUser = false;
  bool FSafeBoxAdmin = false;
  bool FSafeBoxManager = false;
  bool FAuditor = false;
  bool FSecurityOfficer = false;
  bool FMustConfigureSecondFactor = false;
  std::string FUid;
  std::string FLocale;
  TRequirements FLoginPasswordRequirements;
  TRequirements FAccessCodeRequirements;
  // TLS settings, kept here and copied into each new request object.
  TKofOpenSSL FTLS;
  bool FLoginCallbackRuns = false;
  bool FAcCallbackRuns = false;
  TLoginGetCertificate FOnGetCertificate;
  TLoginUserCallback FOnUserLogin;
  TGetAccessCodeCallback FOnGetAccessCode;
  TClientCheckSecondFactor FOnCheckSecondFactor;
};

}  // namespace kof
