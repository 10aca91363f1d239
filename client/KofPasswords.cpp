#include "client/KofPasswords.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <limits>
#include <vector>

#include "client/KofAnswers.h"
#include "support/KofJSON.h"

namespace kof {

namespace {

constexpr const char* kForeignInvitation = "The invitation link belongs to another server than this session's";
constexpr const char* kInvitationWhileLoggedIn = "An invitation link is for a user who is not logged in";
constexpr const char* kInvalidParameters = "Invalid parameters";

std::string_view TypeText(TGenerationType AType) {
  return AType == TGenerationType::gtAccessCode ? "accessCode" : "login";
}

// The catalogue's text for an "m:" message; empty for any other text or an unknown key.
std::string CatalogueText(const TKofErrorMessages& ACatalogue, const TJSONObject& AValue) {
  if (!AValue.is_string()) return {};
  const auto message = ParseServerMessage(AValue.get<std::string>());
  std::string text;
  if (!message || !ACatalogue.GetErrorText(message->Key, message->Params, text)) return {};
  return text;
}

// A whole number that fits 64 bits; the largest one for any other number.
void TakeSeconds(const TJSONObject& AObject, const char* AName, std::int64_t& AField) {
  const auto it = AObject.find(AName);
  if (it == AObject.end() || !it->is_number()) return;
  const bool fits = it->is_number_integer() && (!it->is_number_unsigned() ||
                                                it->get<std::uint64_t>() <= std::uint64_t(INT64_MAX));
  AField = fits ? it->get<std::int64_t>() : std::numeric_limits<std::int64_t>::max();
}

void TakeFlag(const TJSONObject& AObject, const char* AName, bool& AField) {
  const auto it = AObject.find(AName);
  if (it != AObject.end() && it->is_boolean()) AField = it->get<bool>();
}

// The text member AName into wiping storage; null or absent leave it empty.
void TakeSecret(const TJSONObject& AObject, const char* AName, SecureString& AField) {
  const auto it = AObject.find(AName);
  if (it != AObject.end() && it->is_string()) AField.Assign(it->get_ref<const std::string&>());
}

std::vector<std::string_view> SplitAtCommas(std::string_view AText) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t comma = AText.find(',', start);
    fields.push_back(AText.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

int CodeOf(std::string_view AField) {
  int code = 0;
  const auto [end, error] = std::from_chars(AField.data(), AField.data() + AField.size(), code);
  return error == std::errc() && end == AField.data() + AField.size() ? code : 500;
}

}  // namespace

// --- invitations ---

// No request is sent, but the caller learns why nothing happened.
bool TKofPasswords::RefusedWhileConnected(bool AWithInvitation) {
  if (!FClient.Connected() || !AWithInvitation) return false;
  FClient.SetError(-1, kInvitationWhileLoggedIn, "");
  return true;
}

bool TKofPasswords::TakeInvitation(std::string_view ALink, bool ACheckBase, TInvitation& AInvitation) {
  if (ALink.empty()) return true;
  if (ACheckBase && !InvitationHostMatches(FClient.FBaseURL, ALink)) {
    FClient.SetError(-1, kForeignInvitation, "");
    return false;
  }
  const TUrlParts link = ParseURL(ALink);
  if (FClient.FBaseURL.empty()) FClient.FBaseURL = BaseURLFromParts(link.Protocol, link.Host, link.Port, link.Path);
  AInvitation.Code = InvitationCode(link.Param);
  AInvitation.Query = link.Param;
  return true;
}

bool TKofPasswords::GeneratePasswordOrAccCode(TGenerationType AType, std::string_view AUserCodeInURL,
                                              SecureString& ANew, bool ACheckBase) {
  ANew.Clear();
  if (RefusedWhileConnected(!AUserCodeInURL.empty())) return false;
  return FClient.Guarded([&] {
    FClient.CreateHTTP();
    TInvitation invitation;
    if (!TakeInvitation(AUserCodeInURL, ACheckBase, invitation)) return false;
    const std::string url = FClient.URL(api::GeneratePassword(AType, invitation.Code));
    TAnswer answer;
    const auto send = [&](TRESTsend& http) { return http.Get(url, &answer.Text, true); };
    if (!FClient.RunRequest(send, answer.Text)) return false;
    TJSONObject doc = ParseAnswerObject(answer.Text);
    const TJSONWiper wiper(doc);
    SecureString wire;
    TakeSecret(doc, "password", wire);
    TSaltyClientEncryption* engine = FClient.NaCLEncryption();
    if (engine == nullptr || wire.Empty()) {
      ANew = std::move(wire);
      return true;
    }
    ANew = engine->Decrypt(FClient.KOFServerPublicKeyBytes(), wire.View());
    if (!engine->CryptError()) return true;
    ANew.Clear();
    FClient.SetDecryptError();
    return false;
  });
}

bool TKofPasswords::CheckPasswordCorrectness(TGenerationType AType, std::string_view AUserCodeInURL,
                                             std::string_view APassword, TCheckPasswordResult& AResult,
                                             bool ACheckBase) {
  AResult.Init();
  if (RefusedWhileConnected(!AUserCodeInURL.empty())) return false;
  return FClient.Guarded([&] {
    FClient.CreateHTTP();
    TInvitation invitation;
    if (!TakeInvitation(AUserCodeInURL, ACheckBase, invitation)) return false;
    TBodyStringList form;
    if (!invitation.Code.empty()) form.Add("code", invitation.Code);
    form.Add("password", APassword);
    form.Add("type", TypeText(AType));
    const std::string url = FClient.URL(api::CheckPassword());
    std::string answer;
    const auto send = [&](TRESTsend& http) { return http.Options(url, &form, &answer, true); };
    if (!FClient.RunRequest(send, answer)) return false;
    FillVerdict(ParseAnswerObject(answer), AResult);
    return true;
  });
}

void TKofPasswords::FillVerdict(const TJSONObject& AAnswer, TCheckPasswordResult& AResult) const {
  TakeNumber(AAnswer, "len", AResult.Len);
  if (const auto it = AAnswer.find("timeToCrackOffline"); it != AAnswer.end())
    AResult.TimeToCrackOffline = CatalogueText(FClient.ErrorMessages(), *it);
  if (const auto it = AAnswer.find("timeToCrackOnline"); it != AAnswer.end())
    AResult.TimeToCrackOnline = CatalogueText(FClient.ErrorMessages(), *it);
  TakeSeconds(AAnswer, "secondsToCrackOffline", AResult.SecondsToCrackOffline);
  TakeSeconds(AAnswer, "secondsToCrackOnline", AResult.SecondsToCrackOnline);
  if (const auto it = AAnswer.find("entropy"); it != AAnswer.end() && it->is_number()) {
    const double entropy = it->get<double>();
    AResult.Entropy = std::isfinite(entropy) ? entropy : 1e21;
  }
  TakeNumber(AAnswer, "lowercase", AResult.LowerCaseCount);
  TakeNumber(AAnswer, "uppercase", AResult.UpperCaseCount);
  TakeNumber(AAnswer, "digits", AResult.DigitCount);
  TakeNumber(AAnswer, "special", AResult.SpecialCharCount);
  TakeFlag(AAnswer, "lowercaseBad", AResult.LowerCaseBad);
  TakeFlag(AAnswer, "uppercaseBad", AResult.UppercaseBad);
  TakeFlag(AAnswer, "digitsBad", AResult.DigitsBad);
  TakeFlag(AAnswer, "specialBad", AResult.SpecialBad);
  TakeFlag(AAnswer, "entropyBad", AResult.EntropyBad);
}

bool TKofPasswords::SetPasswordToInvitedUser(std::string_view AUserCodeInURL, std::string_view ANewPassword,
                                             bool ACheckBase) {
  if (RefusedWhileConnected(true)) return false;
  return FClient.Guarded([&] {
    FClient.CreateHTTP();
    TInvitation invitation;
    if (!TakeInvitation(AUserCodeInURL, ACheckBase, invitation)) return false;
    const SecureString body = TwinSecretBody("password_new", "password_repeat", ANewPassword,
                                             FClient.NaCLEncryption(), FClient.KOFServerPublicKeyBytes());
    const std::string url = FClient.URL(api::InitUser(invitation.Query));
    std::string bytes(body.View());
    std::string answer;
    const auto send = [&](TRESTsend& http) { return http.Post(url, &bytes, &answer); };
    const bool ok = FClient.RunRequest(send, answer);
    WipeString(bytes);
    if (!ok) return false;
    FClient.SetPassword(ANewPassword);
    // The password is set by now; an answer without the user's names changes nothing else.
    const TJSONParsed parsed = ParseJSON(answer);
    if (parsed.Value.is_object()) {
      if (const auto it = parsed.Value.find("domain"); it != parsed.Value.end() && it->is_string())
        FClient.SetDomain(it->get<std::string>());
      if (const auto it = parsed.Value.find("username"); it != parsed.Value.end() && it->is_string())
        FClient.SetUserName(it->get<std::string>());
    }
    return true;
  });
}

// --- managed stations and agents ---

bool TKofPasswords::ReadManagedPassword(const std::string& APath, SecureString& APassword) {
  APassword.Clear();
  FClient.ClearError(true);
  return FClient.Guarded([&] {
    FClient.CreateHTTP();
    TAnswer answer;
    if (!FClient.Read(APath, answer.Text, false, true)) return false;
    TJSONObject doc = ParseAnswerObject(answer.Text);
    const TJSONWiper wiper(doc);
    TakeSecret(doc, "password", APassword);
    return true;
  });
}

bool TKofPasswords::GetAgentPassword(std::string_view AName, std::string_view AConfiguration,
                                     std::string_view APlatform, std::string_view AUser,
                                     const std::chrono::year_month_day& ADate, SecureString& APassword) {
  return ReadManagedPassword(
      api::AgentPassword(AConfiguration, APlatform, AName, AUser, FormatPasswordDate(ADate)), APassword);
}

bool TKofPasswords::GetStationPassword(std::string_view AName, std::string_view AConfiguration,
                                       std::string_view APlatform, std::string_view AUser,
                                       const std::chrono::year_month_day& ADate, SecureString& APassword) {
  return ReadManagedPassword(
      api::StationPassword(AConfiguration, APlatform, AName, AUser, FormatPasswordDate(ADate)), APassword);
}

bool TKofPasswords::GetTicketPassword(std::string_view ATicketId, std::string_view AStationName,
                                      std::string_view APlatform, std::string_view AUserName,
                                      SecureString& APassword) {
  APassword.Clear();
  FClient.ClearError(true);
  return FClient.Guarded([&] {
    FClient.CreateHTTP();
    FClient.HTTP()->SetTextResponse(true);
    TAnswer answer;
    if (!FClient.Read(api::TicketPassword(ATicketId, AStationName, APlatform, AUserName), answer.Text, false, true))
      return false;
    const std::vector<std::string_view> fields = SplitAtCommas(answer.Text);
    if (fields.size() == 3 && fields[0] == "OK") {
      APassword.Assign(fields[2]);
      return true;
    }
    FClient.SetError(CodeOf(fields[0]), kInvalidParameters, "");
    return false;
  });
}

bool TKofPasswords::ReadList(TKofList* AList, const char* AObjectName,
                             const std::function<bool(TRESTsend&, std::string&)>& ASend) {
  if (AList == nullptr) return false;
  AList->Clear();
  FClient.ClearError(true);
  return FClient.Guarded([&] {
    FClient.CreateHTTP();
    std::string answer;
    if (!FClient.RunRequest([&](TRESTsend& http) { return ASend(http, answer); }, answer)) return false;
    TKofObject::AddObjects(&FClient, *AList, answer, AObjectName, true, true);
    return true;
  });
}

bool TKofPasswords::GetConfigurations(TKofList* AList) {
  const std::string url = FClient.URL(api::AgentConfigs());
  return ReadList(AList, "configs",
                  [&](TRESTsend& http, std::string& answer) { return http.OpenOptions(url, nullptr, &answer, false); });
}

bool TKofPasswords::GetStations(TKofList* AList, std::string_view AConfigName) {
  const std::string url = FClient.URL(api::Stations(AConfigName));
  return ReadList(AList, "stations",
                  [&](TRESTsend& http, std::string& answer) { return http.OpenGet(url, &answer, true); });
}

// --- the about page ---

bool TKofPasswords::GetAbout(std::string* ADocument) {
  if (ADocument == nullptr) return false;
  // Its own request object, without the access code, so the page is fetched
  // without the session's cookies too.
  TRESTsend page(&FClient, SecureString());
  page.SSL() = FClient.TLS();
  if (FClient.ConnectionTimeout() != 0) page.SetConnectionTimeout(FClient.ConnectionTimeout());
  if (FClient.ReadTimeout() > 0) page.SetTimeout(FClient.ReadTimeout());
  if (!page.OpenGetPage(FClient.URL(api::About()))) return false;
  *ADocument = page.Document();
  return true;
}

}  // namespace kof
