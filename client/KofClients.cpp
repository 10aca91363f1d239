#include "client/KofClients.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include "support/KofJSON.h"

#include "client/KofAnswers.h"
#include "crypto/KofUrlEncode.h"
#include "platform/KofModulePath.h"
#include "support/KofText.h"

namespace kof {

namespace {


constexpr const char* kStatusFailed = "Getting Koffra server status failed. This is probably not a valid Koffra URL.";

// Sets a flag for the life of a scope; clears it also when the scope is left by an exception.
class TFlagScope {
 public:
  explicit TFlagScope(bool& AFlag) : FFlag(AFlag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
};

bool GetJSONBool(const TJSONObject& AObject, const char* AName) {
  const auto it = AObject.find(AName);
  return it != AObject.end() && it->is_boolean() && it->get<bool>();
}

void TakeText(const TJSONObject& AObject, const char* AName, std::string& AField) {
  const auto it = AObject.find(AName);
  if (it != AObject.end() && it->is_string()) AField = it->get<std::string>();
}


TRequirements ReadRequirements(const TJSONObject& AObject) {
  TRequirements result;
  if (!AObject.is_object()) return result;
  TakeNumber(AObject, "minLength", result.MinLength);
  TakeNumber(AObject, "minLower", result.MinLower);
  TakeNumber(AObject, "minUpper", result.MinUpper);
  TakeNumber(AObject, "minDigits", result.MinDigits);
  TakeNumber(AObject, "minSpecial", result.MinSpecials);
  TakeNumber(AObject, "minEntropy", result.MinEntropy);
  return result;
}

// Leading decimal digits as a number; 0 when there are none.
int LeadingNumber(std::string_view AText) {
  int value = 0;
  for (std::size_t i = 0; i < AText.size() && i < 9 && AText[i] >= '0' && AText[i] <= '9'; ++i)
    value = value * 10 + (AText[i] - '0');
  return value;
}

#ifdef _WIN32
// Linked into the plugin, OpenSSL would put its clean-up among the process's exit
// handlers, which run after the host has unloaded the plugin: a call into freed
// code as the host exits. Initialised first without it; the process's end frees all.
[[maybe_unused]] const bool kOpenSSLWithoutExitHandler = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
#endif

bool OpenSSLBackendWorks() {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  if (info == nullptr || info->ssl_version == nullptr || !StartsText("OpenSSL", info->ssl_version)) return false;
  return OpenSSL_version_num() >= 0x30000000L && OPENSSL_init_ssl(0, nullptr) == 1;
}

// A JSON string literal written straight into wiping storage.
void AppendJSONString(SecureString& AOut, std::string_view AText) {
  static constexpr char kHex[] = "0123456789abcdef";
  AOut.PushBack('"');
  for (unsigned char c : AText) {
    if (c == '"' || c == '\\') {
      AOut.PushBack('\\');
      AOut.PushBack(static_cast<char>(c));
    } else if (c < 0x20) {
      AOut.Append("\\u00");
      AOut.PushBack(kHex[c >> 4]);
      AOut.PushBack(kHex[c & 0x0F]);
    } else {
      AOut.PushBack(static_cast<char>(c));
    }
  }
  AOut.PushBack('"');
}

}  // namespace

SecureString TwinSecretBody(std::string_view AFirst, std::string_view ASecond, std::string_view AValue,
                            TSaltyClientEncryption* AEngine, TByteSpan AServerKey) {
  SecureString value(AValue);
  SecureString body("{");
  for (const std::string_view name : {AFirst, ASecond}) {
    if (AEngine) value.Assign(EncodeURLUTF8(AEngine->Encrypt(AServerKey, AValue)));
    if (body.Size() > 1) body.PushBack(',');
    AppendJSONString(body, name);
    body.PushBack(':');
    AppendJSONString(body, value.View());
  }
  body.PushBack('}');
  return body;
}

// --- construction ---

TKofClient::TKofClient() : TKofClient("", TKofLanguage::koflngEnglish) {}

TKofClient::TKofClient(std::string_view ABaseURL, TKofLanguage ALanguage)
    : TKofClient(ABaseURL, "", "", "", "SYSTEM", ALanguage) {}

TKofClient::TKofClient(std::string_view ABaseURL, std::string_view AUserName, std::string_view APassword,
                       std::string_view AAccessCode, std::string_view ADomain, TKofLanguage ALanguage)
    : FBaseURL(PrepareURL(ABaseURL, true, false, true)),
      FDomain(ADomain),
      FUserName(AUserName),
      FPassword(APassword),
      FAccessCode(AAccessCode) {
  SetLanguage(ALanguage);  // no request object yet: the catalogue stays empty
}

TKofClient::~TKofClient() {
  WipeString(FPassword);
  WipeString(FAccessCode);
  if (FConnected) Disconnect(true);
  FHTTP.reset();
}

void TKofClient::CreateHTTP() {
  if (FHTTP) return;
  FHTTP = std::make_unique<TRESTsend>(this, FAccessCode);
  if (FConnectionTimeout != 0) FHTTP->SetConnectionTimeout(FConnectionTimeout);
  if (FReadTimeout > 0) FHTTP->SetTimeout(FReadTimeout);
  FHTTP->SSL() = FTLS;
}

// --- error state ---

void TKofClient::SetError(int ACode, std::string_view AMessage, std::string_view AKey) {
  FError.Msg = AMessage;
  FError.Subj.clear();
  FError.Code = ACode;
  FError.Key = AKey;
}

void TKofClient::ClearError(bool IncludeErrorKey) {
  FResponseSize = 0;
  std::string key = FError.Key;
  SetError(0, "", "");
  FError.RecordId = 0;
  if (!IncludeErrorKey) FError.Key = std::move(key);
  RestoreTraffic();
}

void TKofClient::RestoreTraffic() {
  if (FHTTP) FHTTP->RestoreTraffic();
}

std::string TKofClient::ErrorMsg() const {
  return ComposeErrorMsg(FError, FHTTP ? FHTTP->ResultCode() : 0, FHTTP ? FHTTP->ResultString() : "", Language());
}

bool TKofClient::ParseErrorText(std::string_view AText) {
  return kof::ParseErrorText(AText, FHTTP ? FHTTP->ResultCode() : 0, ErrorMessages(), FError);
}

bool TKofClient::ParseErrorResponse(const std::string& AResponse) { return ParseErrorText(AResponse); }

bool TKofClient::CheckResponse(bool AResult, const std::string& AResponse) {
  if (!AResult) {
    SetError(FHTTP->LastError(), FHTTP->LastErrorDesc(), "");
    return false;
  }
  const int status = FHTTP->ResultCode();
  if (status == 200) {
    SetResponseSize(AResponse.size());
    return true;
  }
  if (ParseErrorResponse(AResponse)) {
    if (SameText(FError.Key, kKeyInvalidAccessCode) || SameText(FError.Key, kKeyBannedAccessCode))
      WipeStrings(TWhatWipe::wipAccessCode);
    return false;
  }
  const auto statusText = GetHttpStatusText(status, Language());
  SetError(status, statusText ? *statusText : FHTTP->ResultString(), "");
  return false;
}

bool TKofClient::Guarded(const std::function<bool()>& ABody) {
  try {
    return ABody();
  } catch (const std::exception& e) {
    SetError(kErrException, e.what(), ExceptionClassName(e));
  } catch (...) {
    SetError(kErrException, "Unexpected failure", "Exception");
  }
  return false;
}

bool TKofClient::RunRequest(const std::function<bool(TRESTsend&)>& ASend, const std::string& AResponse,
                            bool CallEvents) {
  // A request that goes through, also on a repeat, leaves the error state as
  // it found it: an operation that cleared it first ends with none, one that
  // did not keeps an earlier error (a failed decryption, say) in place.
  const TKofError before = FError;
  for (;;) {
    CreateHTTP();  // a relogin replaces the request object
    const bool sent = ASend(*FHTTP);
    if (CheckResponse(sent, AResponse)) {
      FError = before;
      return true;
    }
    if (!RetryRequest(CallEvents)) return false;
  }
}

// --- repeating a failed request ---

bool TKofClient::RetryRequest(bool CallEvents) {
  if (!CallEvents) return false;
  if (FOnUserLogin && FError.Code == 401 && SameText(FError.Key, kKeyLoginFailed)) return ReloginThroughCallbacks();
  const bool invalid = SameText(FError.Key, kKeyInvalidAccessCode);
  if (invalid || SameText(FError.Key, kKeyMissingAccessCode)) return AskForAccessCode(invalid, true);
  if (FError.Code == 400 && StartsText(kMissingAccessCodeHeader, ErrorMsg())) return AskForAccessCode(false, false);
  // A mistyped second-factor code keeps its key, so a relogin can ask for the code again.
  if (FError.Code == 500 && !SameText(FError.Key, kKeySecondFactorInvalid)) FError.Key = kKeyInternalServerError;
  return false;
}

bool TKofClient::AskForAccessCode(bool AInvalid, bool AEmptyFirst) {
  if (FAcCallbackRuns) return false;
  TFlagScope running(FAcCallbackRuns);
  if (AEmptyFirst) WipeStrings(TWhatWipe::wipAccessCode);
  if (!FOnGetAccessCode) return false;
  SecureString code;
  const bool entered = FOnGetAccessCode(code, AInvalid);
  if (entered && !code.Empty()) SetAccessCode(code.View());
  return entered;
}

bool TKofClient::ReloginThroughCallbacks() {
  if (FLoginCallbackRuns) return false;
  TFlagScope running(FLoginCallbackRuns);
  WipeStrings(TWhatWipe::wipAccessCode);
  for (;;) {
    bool connected = false;
    std::string certificate;
    if (FOnGetCertificate && FOnGetCertificate(certificate)) {
      Disconnect(true);
      connected = Connect(&certificate, "", "", "", true);
    }
    if (!connected) {
      SecureString password;
      if (!FOnUserLogin || !FOnUserLogin(FBaseURL, FDomain, FUserName, password)) {
        ClearError(true);
        return false;
      }
      Disconnect(true);
      FPassword = password;
      connected = Connect(nullptr, "", "", "", true);
    }
    if (!connected) {
      if (SameText(FError.Key, kKeyLoginFailed)) continue;
      return false;
    }
    if (!FSecondFactorRequired) return true;
    if (!FOnCheckSecondFactor || !FOnCheckSecondFactor(*this)) {
      // Disconnecting clears the error state, so the reason is set afterwards.
      Disconnect(true);
      SetError(401, "You have been logged out", kKeyLoginFailed);
      return false;
    }
    if (FError.Code == 0) return true;
    if (SameText(FError.Key, kKeyLoginFailed) || SameText(FError.Key, kKeySecondFactorInvalid)) continue;
    const TKofError reason = FError;
    Disconnect(true);
    FError = reason;
    return false;
  }
}

// --- status and login ---

void TKofClient::SetStatusFailed() {
  FError.Msg = kStatusFailed;
  FError.Subj.clear();
}

bool TKofClient::Status(bool) {
  return Guarded([this] {
    CreateHTTP();
    ClearError(true);
    std::string answer;
    if (!CheckResponse(FHTTP->OpenGet(URL(api::Status()), &answer, true), answer)) {
      SetStatusFailed();
      return false;
    }
    if (ErrorMessages().Empty()) {
      ErrorMessages().SetLanguage(TKofLanguage::koflngEnglish);
      if (FError.Code != 0 && FError.Code != 200) return false;
    }
    TJSONParsed parsed = ParseJSON(answer);
    if (parsed.Fault == TJSONFault::jfTooDeep) throw EKofResponseError("The server's status answer is nested too deeply");
    TJSONObject doc = parsed.Value.is_object() ? std::move(parsed.Value) : TJSONObject::object();
    ParseStatus(doc);
    if (FConnected && !SwitchEncryptionFromStatus(doc)) return false;
    if (FKofProduct != "Koffra" && FKofProduct != "Koffra5") {
      SetStatusFailed();
      return false;
    }
    return true;
  });
}

void TKofClient::ParseStatus(const TJSONObject& AObject) {
  FKofProduct.clear();
  TakeText(AObject, "product", FKofProduct);
  TakeText(AObject, "apiVersion", FKofApiVersion);
  TakeNumber(AObject, "gmtTime", FKofGmtTime);
  TakeText(AObject, "serverTime", FKofServerTime);
  TakeText(AObject, "version", FKofVersion);
  FSecondFactorRequired = GetJSONBool(AObject, "secondFactorRequired");
}

bool TKofClient::SwitchEncryptionFromStatus(const TJSONObject& AObject) {
  std::string key;
  TakeText(AObject, "cePublicKey", key);
  SetKOFServerCePublicKey(key);
  const auto bytes = Base64Decode(key);
  SetKOFServerPublicKeyBytes(bytes ? *bytes : TBytes());
  if (key.empty()) return true;
  std::string algorithm;
  TakeText(AObject, "ceAlgorithm", algorithm);
  SetKOFServerCeAlgorithm(algorithm);
  if (algorithm != "NaCL") return true;
  // Without a usable server key every encrypted value would be empty.
  if (!bytes || bytes->size() != kNaCLKeyLength) {
    SetError(500, "The server announced client encryption with an invalid public key", kKeyDataError);
    return false;
  }
  SetNaCLEncryption(std::make_unique<TSaltyClientEncryption>());
  return true;
}

void TKofClient::AddClientFields(TBodyStringList& AForm, std::string_view AClientName,
                                 std::string_view AClientVersion, std::string_view AClientBuild) const {
  if (!AClientName.empty()) AForm.Add("clientName", AClientName);
  if (!AClientVersion.empty()) AForm.Add("clientVersion", AClientVersion);
  if (!AClientBuild.empty()) AForm.Add("clientBuild", AClientBuild);
}

bool TKofClient::Connect(const std::string* ACertificate, std::string_view AClientName,
                         std::string_view AClientVersion, std::string_view AClientBuild, bool) {
  if (FConnected) return true;
  return Guarded([&] {
    CreateHTTP();
    ClearError(true);
    ErrorMessages().SetLanguage(TKofLanguage::koflngEnglish);
    TBodyStringList form;
    std::string answer;
    bool sent = false;
    if (ACertificate) {
      form.Add("authCert", Base64Encode(*ACertificate));
      AddClientFields(form, AClientName, AClientVersion, AClientBuild);
      FHTTP->SetTextResponse(false);
      sent = FHTTP->PostCert(URL(api::CertLogin()), form, &answer);
    } else {
      SecureString login(FUserName);
      if (!FDomain.empty()) {
        form.Add("username", FUserName);
        form.Add("domain", FDomain);
        login.Assign(FDomain + "\\" + FUserName);
      }
      form.Add("login", login.View());
      form.Add("password", FPassword.View());
      AddClientFields(form, AClientName, AClientVersion, AClientBuild);
      sent = FHTTP->Post(URL(api::Login()), form, &answer);
    }
    bool authenticated = false;
    if (CheckResponse(sent, answer)) {
      WipeString(FPassword);
      ParseLoginStatus(ParseAnswerObject(answer), authenticated);
    }
    FConnected = authenticated;
    if (authenticated && ACertificate) FConnectedByCertificate = true;
    return authenticated;
  });
}

void TKofClient::ParseLoginStatus(const TJSONObject& AObject, bool& AAuthenticated) {
  AAuthenticated = GetJSONBool(AObject, "authenticated");
  TakeText(AObject, "uid", FUid);
  FKofUser = GetJSONBool(AObject, "KOF_USER");
  FKofAdmin = GetJSONBool(AObject, "KOF_ADMIN");
  FCfgAdmin = GetJSONBool(AObject, "CFG_ADMIN");
  FUserManager = GetJSONBool(AObject, "USER_MANAGER");
  FSafeBoxUser = GetJSONBool(AObject, "SAFEBOX_USER");
  FSafeBoxAdmin = GetJSONBool(AObject, "SAFEBOX_ADMIN");
  FSafeBoxManager = GetJSONBool(AObject, "SAFEBOX_MANAGER");
  FAuditor = GetJSONBool(AObject, "AUDITOR");
  FSecurityOfficer = GetJSONBool(AObject, "SECURITY_OFFICER");
  TakeText(AObject, "locale", FLocale);
  FSecondFactorRequired = GetJSONBool(AObject, "secondFactorRequired");
  TakeNumber(AObject, "accessCodeTimeout", FAccessCodeValidityTimeoutSec);
  FHasAccessCode = GetJSONBool(AObject, "hasAccessCode");
  FMustConfigureSecondFactor = GetJSONBool(AObject, "mustConfigureSecondFactor");
}

bool TKofClient::LoginStatus(bool& AAuthenticated, bool CallEvents) {
  AAuthenticated = false;
  return Guarded([&] {
    CreateHTTP();
    std::string answer;
    const auto send = [&](TRESTsend& http) { return http.OpenGet(URL(api::LoginStatus()), &answer, true); };
    if (!RunRequest(send, answer, CallEvents)) return false;
    ParseLoginStatus(ParseAnswerObject(answer), AAuthenticated);
    return Status(true);
  });
}

bool TKofClient::Authenticated() {
  if (!FConnected) return false;
  bool authenticated = false;
  return LoginStatus(authenticated, true) && authenticated;
}

bool TKofClient::GetUserConfiguration(std::string_view AUserCodeInURL, bool ACheckBase) {
  if (FConnected && !AUserCodeInURL.empty()) return false;
  return Guarded([&] {
    CreateHTTP();
    std::string path = api::UserConfig();
    if (!AUserCodeInURL.empty()) {
      if (ACheckBase && !InvitationHostMatches(FBaseURL, AUserCodeInURL)) {
        FError.Code = -1;
        return false;
      }
      const TUrlParts link = ParseURL(AUserCodeInURL);
      path = api::UserConfigByCode(link.Param);
      if (FBaseURL.empty()) FBaseURL = BaseURLFromParts(link.Protocol, link.Host, link.Port, link.Path);
    }
    std::string answer;
    const auto send = [&](TRESTsend& http) { return http.OpenGet(URL(path), &answer, true); };
    if (!RunRequest(send, answer)) return false;
    // A configuration that cannot be read is recorded; the request itself succeeded.
    Guarded([&] {
      ParseUserConfiguration(ParseAnswerObject(answer));
      return true;
    });
    return true;
  });
}

void TKofClient::ParseUserConfiguration(const TJSONObject& AObject) {
  TakeText(AObject, "username", FUserName);
  TakeText(AObject, "domain", FDomain);
  TakeNumber(AObject, "accessCodeTimeout", FAccessCodeValidityTimeoutSec);
  FHasAccessCode = GetJSONBool(AObject, "hasAccessCode");
  if (const auto it = AObject.find("loginPasswordRequirements"); it != AObject.end())
    FLoginPasswordRequirements = ReadRequirements(*it);
  if (const auto it = AObject.find("accessCodeRequirements"); it != AObject.end())
    FAccessCodeRequirements = ReadRequirements(*it);
  std::string lang;
  TakeText(AObject, "lang", lang);
  if (AObject.contains("lang")) ErrorMessages().SetLanguage(LanguageFromCode(lang));
}

bool TKofClient::LoadErrorMessages(std::string& JSONMessages) {
  if (!FHTTP || Trim(FBaseURL).empty()) return false;
  if (FHTTP->OpenGet(URL(api::Messages(ErrorMessages().Language())), &JSONMessages, true)) return true;
  SetError(410, kStatusFailed, FError.Key);
  return false;
}

TKofVersion TKofClient::KofVersionEncoded() const {
  TKofVersion version{1, 0, 0, 0};
  if (!FKofVersion.empty()) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
      const std::size_t dot = FKofVersion.find('.', start);
      items.push_back(FKofVersion.substr(start, dot - start));
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    version.Version = LeadingNumber(items[0]);
    version.Revision = items.size() > 1 ? LeadingNumber(items[1]) : 0;
    version.Build = items.size() > 2 ? LeadingNumber(items[2]) : 0;
  }
  version.Encoded = std::int64_t(version.Version) * 1000000 + std::int64_t(version.Revision) * 1000 + version.Build;
  return version;
}

// --- access code, wiping, disconnect ---

void TKofClient::SetAccessCode(std::string_view AValue) {
  FAccessCode.Assign(AValue);
  if (FHTTP) FHTTP->SetAccessCode(AValue);
}

void TKofClient::WipeStrings(TWhatWipeSet WhatWipe) {
  if (WhatWipe & unsigned(TWhatWipe::wipAccessCode)) {
    WipeString(FAccessCode);
    if (FHTTP) FHTTP->ClearAccessCode();
  }
  if (WhatWipe & unsigned(TWhatWipe::wipPassword)) WipeString(FPassword);
}

void TKofClient::Disconnect(bool AWipeStrings) {
  FConnectedByCertificate = false;
  ClearError(true);
  if (!FHTTP) return;
  FHTTP.reset();
  FConnected = false;
  if (AWipeStrings) WipeStrings(TWhatWipe::wipPassword | TWhatWipe::wipAccessCode);
}

void TKofClient::SetConnected(bool AValue) {
  // A setter has no result: a failed login shows in Connected() and the error state.
  if (AValue && !FConnected)
    static_cast<void>(Connect(nullptr, "", "", "", false));
  else if (!AValue && FConnected)
    Disconnect(true);
}

void TKofClient::SetReadTimeout(int AValue) {
  FReadTimeout = AValue;
  if (FHTTP && AValue > 0) FHTTP->SetTimeout(AValue);
}

void TKofClient::SetConnectionTimeout(int AValue) {
  FConnectionTimeout = AValue;
  if (FHTTP && AValue != 0) FHTTP->SetConnectionTimeout(AValue);
}

bool TKofClient::SetNewAccessCode(std::string_view ANewAccessCode) {
  if (!FConnected) return false;
  return Guarded([&] {
    CreateHTTP();
    SecureString body = TwinSecretBody("accesscode_new", "accesscode_repeat", ANewAccessCode, NaCLEncryption(),
                                       KOFServerPublicKeyBytes());
    std::string bytes(body.View());
    std::string answer;
    const auto send = [&](TRESTsend& http) { return http.Post(URL(api::NewAccessCode()), &bytes, &answer); };
    const bool ok = RunRequest(send, answer);
    WipeString(bytes);
    if (ok) SetAccessCode(ANewAccessCode);
    return ok;
  });
}

// --- second factor ---

bool TKofClient::SecondFactor(std::string_view ASecurityCode, std::string_view ATOTPKey) {
  return Guarded([&] {
    CreateHTTP();
    ClearError(true);
    TBodyStringList form;
    form.Add("securityCode", ASecurityCode);
    if (!ATOTPKey.empty()) form.Add("key", ATOTPKey);
    std::string answer;
    const auto send = [&](TRESTsend& http) { return http.OpenPost(URL(api::SecondFactor()), form, &answer); };
    return RunRequest(send, answer);
  });
}

bool TKofClient::RegisterSecondFactor(std::string& ASecretKeyUri, std::string_view ASecurityKey,
                                      std::string_view AIssuer, std::string_view AUsername,
                                      std::string_view ADomain) {
  ASecretKeyUri.clear();
  return Guarded([&] {
    CreateHTTP();
    ClearError(true);
    TBodyStringList form;
    const bool withIssuer = !AIssuer.empty();
    if (withIssuer) {
      std::string account;
      if (!AUsername.empty())
        account = ADomain.empty() ? std::string(AUsername) : std::string(AUsername) + " (" + std::string(ADomain) + ")";
      else
        account = FDomain.empty() ? FUserName : FUserName + " (" + FDomain + ")";
      form.Add("issuer", AIssuer);
      form.Add("account", account);
    }
    form.Add("key", ASecurityKey);
    std::string answer;
    const std::string url = URL(api::SecondFactorReg());
    const auto send = [&](TRESTsend& http) {
      return withIssuer ? http.OpenOptions(url, &form, &answer, false) : http.OpenPost(url, form, &answer);
    };
    if (!RunRequest(send, answer)) return false;
    TakeText(ParseAnswerObject(answer), "secretKeyUri", ASecretKeyUri);
    return true;
  });
}

bool TKofClient::GetSecondFactorQR(std::string_view ASecretKeyUri, std::string* APngImage) {
  if (APngImage == nullptr) return false;
  return Guarded([&] {
    CreateHTTP();
    ClearError(true);
    std::string answer;
    const std::string url = URL(api::SecondFactorQR(ASecretKeyUri));
    const auto send = [&](TRESTsend& http) { return http.OpenGet(url, &answer, true); };
    if (!RunRequest(send, answer)) return false;
    *APngImage = std::move(answer);
    return true;
  });
}

// --- TLS ---

void TKofClient::SetVerifyCertificate(bool AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetVerifyCert(AValue); }, false);
}

void TKofClient::ChangeTLS(const std::function<void(TKofOpenSSL&)>& AChange, bool ATurnsVerificationOn) {
  AChange(FTLS);
  if (ATurnsVerificationOn) FTLS.SetVerifyCert(true);
  if (FHTTP) FHTTP->SSL() = FTLS;
}

void TKofClient::SetCertificateFile(std::string_view AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetCertificateFile(AValue); }, !AValue.empty());
}
void TKofClient::SetCertificate(std::string_view AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetCertificate(AValue); }, !AValue.empty());
}
void TKofClient::SetCertCAFile(std::string_view AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetCertCAFile(AValue); }, !AValue.empty());
}
void TKofClient::SetCertCA(std::string_view AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetCertCA(AValue); }, !AValue.empty());
}
void TKofClient::SetCertCABytes(const TBytes& AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetCertCABytes(AValue); }, !AValue.empty());
}
void TKofClient::SetPFX(std::string_view AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetPFX(AValue); }, !AValue.empty());
}

// A pin is checked whether or not the chain is verified (see TKofOpenSSL).
void TKofClient::SetImprint(std::string_view AValue) {
  ChangeTLS([&](TKofOpenSSL& tls) { tls.SetImprint(AValue); }, false);
}

// --- library checks ---

namespace {
// The Windows build links the engine into the plugin itself: there is no
// library file to find there, and the names say which engine is in use.
#ifdef _WIN32
constexpr bool kEngineLinkedIn = true;
#else
constexpr bool kEngineLinkedIn = false;
#endif

std::string OpenSSLLibraryName(const char* base) {
  if (kEngineLinkedIn) return std::string(base) + " " + OpenSSL_version(OPENSSL_VERSION_STRING) + " (static)";
  return std::string(base) + ".so." + std::to_string(OPENSSL_version_major());
}
}  // namespace

std::string TKofClient::CryptoLibraryName() { return OpenSSLLibraryName("libcrypto"); }

std::string TKofClient::SSLLibraryName() { return OpenSSLLibraryName("libssl"); }

bool TKofClient::CheckSSL(std::string_view, bool) { return OpenSSLBackendWorks(); }

int TKofClient::CheckSSLLib(int AWhat, std::string& LibPath) {
  LibPath = AWhat == 1 ? CryptoLibraryName() : SSLLibraryName();
  constexpr int kModuleNotFound = 126;
  if (kEngineLinkedIn) return OpenSSLBackendWorks() ? 0 : kModuleNotFound;
  return LibraryLoaded(LibPath) ? 0 : kModuleNotFound;
}

}  // namespace kof
