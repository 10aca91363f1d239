#include "tests/server/KofTestAuthRoutes.h"

#include <sodium.h>

#include <algorithm>
#include <ctime>

#include "support/KofText.h"
#include "tests/server/KofTestMessages.h"
#include "tests/server/KofTestPng.h"
#include "tests/server/KofTestRequest.h"
#include "tests/server/KofTestTotp.h"

namespace kof::testserver {
namespace {

using nlohmann::json;
using TForm = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kRoles[] = {"KOF_USER",      "KOF_ADMIN",       "CFG_ADMIN", "USER_MANAGER",    "SAFEBOX_USER",
                                  "SAFEBOX_ADMIN", "SAFEBOX_MANAGER", "AUDITOR",   "SECURITY_OFFICER"};

std::string DecodedField(const TForm& form, std::string_view name) {
  return PercentDecode(FormValue(form, name).value_or(""));
}

std::string IsoTime(std::int64_t ms) {
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool SecondFactorPending(TServerContext& ctx, const httplib::Request& req) {
  TSession* session = FindSession(ctx, SessionToken(req));
  return session && session->SecondFactorPending;
}

json StatusJson(TServerContext& ctx, const httplib::Request& req) {
  const auto& s = ctx.State.Settings;
  const std::int64_t now = NowMs();
  json status = {{"product", s.Product}, {"apiVersion", s.ApiVersion},
                 {"gmtTime", now},       {"serverTime", IsoTime(now)},
                 {"version", s.Version}, {"secondFactorRequired", SecondFactorPending(ctx, req)}};
  if (s.ClientEncryption) {
    status["cePublicKey"] = ctx.Crypto.PublicKeyBase64();
    status["ceAlgorithm"] = "NaCL";
  }
  return status;
}

json LoginStatusJson(const TUser& user, const TSession& session) {
  json status = {{"authenticated", true},
                 {"uid", user.Uid},
                 {"locale", user.Locale},
                 {"secondFactorRequired", session.SecondFactorPending},
                 {"accessCodeTimeout", user.AccessCodeTimeout},
                 {"hasAccessCode", !user.AccessCode.Empty()},
                 {"mustConfigureSecondFactor", user.MustConfigureSecondFactor}};
  for (const char* role : kRoles) {
    status[role] = std::find(user.Roles.begin(), user.Roles.end(), role) != user.Roles.end();
  }
  return status;
}

json UserConfigJson(const TUser& user) {
  return {{"username", user.Login},
          {"domain", user.Domain},
          {"accessCodeTimeout", user.AccessCodeTimeout},
          {"hasAccessCode", !user.AccessCode.Empty()},
          {"loginPasswordRequirements", user.LoginPasswordRequirements},
          {"accessCodeRequirements", user.AccessCodeRequirements},
          {"lang", user.Lang}};
}

std::size_t UserIndex(const TServerContext& ctx, const TUser* user) {
  return static_cast<std::size_t>(user - ctx.State.Users.data());
}

void AnswerLogin(TServerContext& ctx, httplib::Response& res, TUser* user) {
  if (!user) {
    SendError(res, 401, "login.failed");
    return;
  }
  const bool pending = user->SecondFactor && !user->TotpSecret.Empty();
  const std::string token = StartSession(ctx, UserIndex(ctx, user), pending);
  SetSessionCookie(res, token);
  SendJson(res, LoginStatusJson(*user, ctx.State.Sessions[token]));
}

TUser* UserByPassword(TServerContext& ctx, const TForm& form) {
  std::string login = DecodedField(form, "login");
  std::string domain = DecodedField(form, "domain");
  if (auto slash = login.find('\\'); slash != std::string::npos) {
    if (domain.empty()) domain = login.substr(0, slash);
    login = login.substr(slash + 1);
  }
  if (login.empty()) login = DecodedField(form, "username");
  TUser* user = ctx.State.FindUser(login, domain);
  std::string typed = DecodedField(form, "password");
  SecureString password(typed);
  WipeString(typed);
  const bool ok = user && !user->Password.Empty() && user->Password == password;
  return ok ? user : nullptr;
}

TUser* UserByCertificate(TServerContext& ctx, const TForm& form) {
  auto presented = Base64Decode(PercentDecode(FormValue(form, "authCert").value_or("")));
  if (!presented || presented->empty()) return nullptr;
  for (auto& user : ctx.State.Users) {
    auto known = Base64Decode(user.Certificate);
    if (known && *known == *presented) return &user;
  }
  return nullptr;
}

void HandleStatus(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  SendJson(res, StatusJson(ctx, req));
}

void HandleMessages(const httplib::Request& req, httplib::Response& res) {
  auto catalogue = MessageCatalogue(req.matches[1].str());
  if (!catalogue) {
    SendError(res, 404, "err.request.invalid", {"unknown language"});
    return;
  }
  res.set_content(*catalogue, "application/json;charset=UTF-8");
}

void HandleLoginStatus(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  TSession* session = FindSession(ctx, SessionToken(req));
  if (!session) {
    SendJson(res, {{"authenticated", false}});
    return;
  }
  TUser& user = ctx.State.Users[session->UserIndex];
  TPresentedCode code = HeaderAccessCode(ctx, req);
  if (!CheckAccessCode(ctx, res, user, code, false)) return;
  SendJson(res, LoginStatusJson(user, *session));
}

void HandleUserConfig(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  auto caller = RequireLogin(ctx, req, res, true);
  if (!caller) return;
  TPresentedCode code = HeaderAccessCode(ctx, req);
  if (!CheckAccessCode(ctx, res, *caller->User, code, false)) return;
  SendJson(res, UserConfigJson(*caller->User));
}

// "public/api?code=<whole query of the link>": the code may arrive as
// "code=code=XYZ&..." when the link's own query is passed on whole.
std::string InvitationCode(const httplib::Request& req) {
  std::string code = req.get_param_value("code");
  if (auto pos = code.rfind("code="); pos != std::string::npos) code = code.substr(pos + 5);
  if (auto amp = code.find('&'); amp != std::string::npos) code.resize(amp);
  return code;
}

void HandleInvitation(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  const std::string code = InvitationCode(req);
  for (const auto& user : ctx.State.Users) {
    if (!code.empty() && user.InvitationCode == code) {
      SendJson(res, UserConfigJson(user));
      return;
    }
  }
  SendError(res, 404, "err.invitation.invalid");
}

void HandleNewAccessCode(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  auto caller = RequireLogin(ctx, req, res);
  if (!caller) return;
  auto body = JsonBody(req, res);
  if (!body) return;
  auto fresh = ReadSecretMember(ctx, caller->ClientKey, *body, "accesscode_new");
  auto repeat = ReadSecretMember(ctx, caller->ClientKey, *body, "accesscode_repeat");
  if (!fresh || !repeat) {
    SendError(res, 400, "err.decrypt");
    return;
  }
  if (!(*fresh == *repeat)) {
    SendError(res, 400, "err.accesscode.mismatch");
    return;
  }
  const int minLength = caller->User->AccessCodeRequirements.value("minLength", 0);
  if (static_cast<int>(fresh->Size()) < minLength || fresh->Empty()) {
    SendError(res, 400, "err.accesscode.tooShort", {std::to_string(std::max(minLength, 1))});
    return;
  }
  caller->User->AccessCode = std::move(*fresh);
  caller->User->FailedAccessCodes = 0;
  SendJson(res, json::object());
}

bool VerifyCode(const std::string& base32Key, std::string_view code) {
  auto key = Base32Decode(base32Key);
  return key && !key->Empty() && VerifyTotp(*key, code, NowMs() / 1000);
}

void HandleSecondFactor(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  auto caller = RequireLogin(ctx, req, res, true);
  if (!caller) return;
  const TForm form = ParseFormRaw(req.body);
  const std::string code = Trim(DecodedField(form, "securityCode"));
  std::string offeredKey = DecodedField(form, "key");
  if (offeredKey.empty()) offeredKey = caller->User->TotpSecret.Unprotected();
  if (offeredKey.empty()) offeredKey = caller->Session->RegisteringTotpKey.Unprotected();
  if (offeredKey.empty()) {
    SendError(res, 400, "err.secondfactor.notConfigured");
    return;
  }
  bool ok = VerifyCode(offeredKey, code);
  // The code may be for the key of the registration rather than the one in
  // the form: the user scanned the key the registration answered with.
  if (!ok && !caller->Session->RegisteringTotpKey.Empty()) {
    WipeString(offeredKey);
    offeredKey = caller->Session->RegisteringTotpKey.Unprotected();
    ok = VerifyCode(offeredKey, code);
  }
  if (ok && !(caller->User->TotpSecret == SecureString(offeredKey))) {
    caller->User->TotpSecret.Assign(offeredKey);  // registration confirmed
    caller->User->SecondFactor = true;
    caller->User->MustConfigureSecondFactor = false;
  }
  WipeString(offeredKey);
  if (!ok) {
    SendError(res, 500, "err.secondfactor.invalid");
    return;
  }
  caller->Session->SecondFactorPending = false;
  caller->Session->RegisteringTotpKey.Clear();
  SendJson(res, json::object());
}

void HandleSecondFactorRegistration(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  auto caller = RequireLogin(ctx, req, res, true);
  if (!caller) return;
  const TForm form = ParseFormRaw(req.body);
  std::string key = DecodedField(form, "key");
  if (key.empty() || !Base32Decode(key)) key = NewTotpSecret();
  std::string issuer = DecodedField(form, "issuer");
  if (issuer.empty()) issuer = "Koffra";
  std::string account = DecodedField(form, "account");
  if (account.empty()) account = caller->User->Login;
  caller->Session->RegisteringTotpKey.Assign(key);
  const std::string uri = "otpauth://totp/" + PercentEncode(issuer + ":" + account) + "?secret=" + key +
                          "&issuer=" + PercentEncode(issuer) + "&algorithm=SHA1&digits=6&period=30";
  WipeString(key);
  SendJson(res, {{"secretKeyUri", uri}});
}

void HandleQr(const httplib::Request& req, httplib::Response& res) {
  const std::string url = req.get_param_value("url");
  if (url.empty()) {
    SendErrText(res, 400, "missing query parameter (url)");
    return;
  }
  res.set_content(MakeCodeImagePng(url), "image/png");
}

void HandleLogout(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  ctx.State.Sessions.erase(SessionToken(req));
  SendJson(res, json::object());
}

}  // namespace

void RegisterAuthRoutes(httplib::Server& server, TServerContext& ctx) {
  server.Get("/public/api/status", [&](const auto& req, auto& res) { HandleStatus(ctx, req, res); });
  server.Get(R"(/public/api/messages/([A-Za-z]+))", [](const auto& req, auto& res) { HandleMessages(req, res); });
  server.Post("/api/login", [&](const auto& req, auto& res) {
    std::lock_guard lock(ctx.Lock);
    AnswerLogin(ctx, res, UserByPassword(ctx, ParseFormRaw(req.body)));
  });
  server.Post("/api/certlogin", [&](const auto& req, auto& res) {
    std::lock_guard lock(ctx.Lock);
    AnswerLogin(ctx, res, UserByCertificate(ctx, ParseFormRaw(req.body)));
  });
  server.Post("/api/logout", [&](const auto& req, auto& res) { HandleLogout(ctx, req, res); });
  server.Get("/public/api/loginStatus", [&](const auto& req, auto& res) { HandleLoginStatus(ctx, req, res); });
  server.Get("/public/api/user/config", [&](const auto& req, auto& res) { HandleUserConfig(ctx, req, res); });
  server.Get("/public/api", [&](const auto& req, auto& res) { HandleInvitation(ctx, req, res); });
  server.Post("/api/user/accesscode/new", [&](const auto& req, auto& res) { HandleNewAccessCode(ctx, req, res); });
  server.Post("/api/user/secondfactor", [&](const auto& req, auto& res) { HandleSecondFactor(ctx, req, res); });
  auto registration = [&](const httplib::Request& req, httplib::Response& res) {
    // An OPTIONS body is read by us, not by the HTTP library (ReadOptionsBody);
    // a fresh connection afterwards keeps any byte of it from the next request.
    const std::string length = req.get_header_value("Content-Length");
    if (req.method == "OPTIONS" && !length.empty() && length != "0") res.set_header("Connection", "close");
    HandleSecondFactorRegistration(ctx, req, res);
  };
  server.Post("/api/user/secondfactor-reg", registration);
  server.Options("/api/user/secondfactor-reg", registration);
  server.Get("/public/api/qr", [](const auto& req, auto& res) { HandleQr(req, res); });
}

}  // namespace kof::testserver
