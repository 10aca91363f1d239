#include "tests/server/KofTestRequest.h"

#include <sodium.h>

#include "support/KofText.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

bool SameSecret(const SecureString& a, const SecureString& b) {
  return a.Size() == b.Size() && sodium_memcmp(a.CStr(), b.CStr(), a.Size()) == 0;
}

bool Matches(const TUser& user, const TPresentedCode& code) {
  if (!code.Readable || user.AccessCode.Empty()) return false;
  return SameSecret(user.AccessCode, code.Code);
}

TPresentedCode DecryptCode(TServerContext& ctx, const std::optional<TBoxKey>& key, const std::string& text) {
  TPresentedCode code;
  code.Present = !text.empty();
  if (!code.Present) return code;
  auto plain = key ? ctx.Crypto.Decrypt(*key, text) : std::nullopt;
  code.Readable = plain.has_value();
  if (plain) code.Code = std::move(*plain);
  return code;
}

}  // namespace

void SendJson(httplib::Response& res, const json& body, int status) {
  res.status = status;
  res.set_content(body.dump(), "application/json;charset=UTF-8");
}

void SendError(httplib::Response& res, int status, std::string_view key, const std::vector<std::string>& params,
               int recordId) {
  SendJson(res, ErrorBody(key, params, recordId), status);
}

void SendErrText(httplib::Response& res, int status, std::string_view text) {
  res.status = status;
  res.set_content("err," + std::string(text), "text/plain;charset=UTF-8");
}

std::string SessionToken(const httplib::Request& req) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string prefix = std::string(kSessionCookie) + "=";
  std::size_t pos = 0;
  while (pos < cookies.size()) {
    std::size_t end = cookies.find(';', pos);
    if (end == std::string::npos) end = cookies.size();
    std::string item = Trim(std::string_view(cookies).substr(pos, end - pos));
    if (item.rfind(prefix, 0) == 0) return item.substr(prefix.size());
    pos = end + 1;
  }
  return {};
}

TSession* FindSession(TServerContext& ctx, const std::string& token) {
  if (token.empty()) return nullptr;
  auto it = ctx.State.Sessions.find(token);
  if (it == ctx.State.Sessions.end()) return nullptr;
  const std::int64_t now = NowMs();
  const int ttl = ctx.State.Settings.SessionTtlSeconds;
  if (ttl > 0 && now - it->second.LastUseMs > static_cast<std::int64_t>(ttl) * 1000) {
    ctx.State.Sessions.erase(it);
    return nullptr;
  }
  it->second.LastUseMs = now;
  return &it->second;
}

std::string StartSession(TServerContext& ctx, std::size_t userIndex, bool secondFactorPending) {
  unsigned char bytes[24];
  randombytes_buf(bytes, sizeof bytes);
  char hex[2 * sizeof bytes + 1];
  sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
  TSession session;
  session.UserIndex = userIndex;
  session.SecondFactorPending = secondFactorPending;
  session.LastUseMs = NowMs();
  ctx.State.Sessions[hex] = std::move(session);
  return hex;
}

void SetSessionCookie(httplib::Response& res, const std::string& token) {
  res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + token + "; Path=/; Secure; HttpOnly");
}

std::optional<TBoxKey> ClientKeyOf(const httplib::Request& req) {
  if (!SameText(Trim(req.get_header_value("KOF-Encryption")), "record")) return std::nullopt;
  return DecodeBoxKey(PercentDecode(Trim(req.get_header_value("KOF-PublicKey"))));
}

std::optional<TCaller> RequireLogin(TServerContext& ctx, const httplib::Request& req, httplib::Response& res,
                                    bool allowPendingSecondFactor) {
  TCaller caller;
  caller.Token = SessionToken(req);
  caller.Session = FindSession(ctx, caller.Token);
  if (!caller.Session || caller.Session->UserIndex >= ctx.State.Users.size()) {
    SendError(res, 401, "login.failed");
    return std::nullopt;
  }
  if (caller.Session->SecondFactorPending && !allowPendingSecondFactor) {
    SendError(res, 403, "err.secondfactor.required");
    return std::nullopt;
  }
  caller.User = &ctx.State.Users[caller.Session->UserIndex];
  caller.ClientKey = ClientKeyOf(req);
  return caller;
}

TPresentedCode HeaderAccessCode(TServerContext& ctx, const httplib::Request& req) {
  if (!req.has_header("KOF-Access-Code")) return {};
  std::string raw = PercentDecode(Trim(req.get_header_value("KOF-Access-Code")));
  TPresentedCode code;
  if (SameText(Trim(req.get_header_value("KOF-Encryption")), "record")) {
    code = DecryptCode(ctx, ClientKeyOf(req), raw);
  } else {
    code.Present = !raw.empty();
    code.Code.Assign(raw);
  }
  WipeString(raw);
  return code;
}

TPresentedCode FormAccessCode(TServerContext& ctx, const std::vector<std::pair<std::string, std::string>>& form) {
  auto raw = FormValue(form, "KOF-Access-Code");
  if (!raw) return {};
  auto encryption = FormValue(form, "KOF-Encryption");
  if (encryption && SameText(*encryption, "record")) {
    auto key = DecodeBoxKey(PercentDecode(FormValue(form, "KOF-PublicKey").value_or("")));
    return DecryptCode(ctx, key, PercentDecode(*raw));
  }
  // The clear code travels unencoded in this form; take it byte for byte.
  TPresentedCode code;
  code.Present = !raw->empty();
  code.Code.Assign(*raw);
  return code;
}

bool CheckAccessCode(TServerContext& ctx, httplib::Response& res, TUser& user, TPresentedCode& code, bool required) {
  const int maxAttempts = ctx.State.Settings.AccessCodeMaxAttempts;
  const bool banned = maxAttempts > 0 && user.FailedAccessCodes >= maxAttempts;
  if (!code.Present) {
    if (!required) return true;
    SendError(res, 403, banned ? "AccessCode.banned" : "AccessCodeValidator.missing");
    return false;
  }
  if (banned) {
    SendError(res, 403, "AccessCode.banned");
    return false;
  }
  const bool ok = Matches(user, code);
  WipeString(code.Code);
  if (ok) {
    user.FailedAccessCodes = 0;
    return true;
  }
  ++user.FailedAccessCodes;
  const bool nowBanned = maxAttempts > 0 && user.FailedAccessCodes >= maxAttempts;
  SendError(res, 403, nowBanned ? "AccessCode.banned" : "AccessCodeValidator.invalid.password");
  return false;
}

std::optional<json> JsonBody(const httplib::Request& req, httplib::Response& res) {
  json body = json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    SendErrText(res, 400, "Invalid JSON body");
    return std::nullopt;
  }
  return body;
}

int PathId(const httplib::Request& req, std::size_t index) {
  if (index >= req.matches.size()) return 0;
  try {
    return std::stoi(req.matches[index].str());
  } catch (const std::exception&) {
    return 0;
  }
}

bool QueryFlag(const httplib::Request& req, const std::string& name) {
  return req.has_param(name.c_str()) && SameText(req.get_param_value(name.c_str()), "true");
}

std::optional<SecureString> ReadSecretMember(TServerContext& ctx, const std::optional<TBoxKey>& clientKey,
                                             const json& body, const char* name) {
  if (!body.contains(name) || !body[name].is_string()) return std::nullopt;
  std::string text = body[name].get<std::string>();
  if (!clientKey) return SecureString(text);
  auto plain = ctx.Crypto.Decrypt(*clientKey, PercentDecode(text));
  WipeString(text);
  return plain;
}

std::string ForCaller(TServerContext& ctx, const TCaller& caller, const std::string& plain) {
  if (!caller.ClientKey || !ctx.State.Settings.ClientEncryption) return plain;
  return ctx.Crypto.Encrypt(*caller.ClientKey, plain);
}

httplib::Server::Handler VaultRoute(TServerContext& ctx, TVaultHandler handler, bool accessCodeRequired) {
  return [&ctx, handler, accessCodeRequired](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(ctx.Lock);
    auto caller = RequireLogin(ctx, req, res);
    if (!caller) return;
    TPresentedCode code = HeaderAccessCode(ctx, req);
    if (!CheckAccessCode(ctx, res, *caller->User, code, accessCodeRequired)) return;
    handler(ctx, *caller, req, res);
  };
}

TBox* BoxOr404(TServerContext& ctx, int id, httplib::Response& res) {
  TBox* box = ctx.State.FindBox(id);
  if (!box || ctx.State.BoxChainDeleted(id)) {
    SendError(res, 404, "err.box.notFound", {std::to_string(id)});
    return nullptr;
  }
  return box;
}

bool Allowed(const TBox& box, char right, const char* action, httplib::Response& res) {
  if (box.Data.value("boxACL", "").find(right) != std::string::npos) return true;
  SendError(res, 403, "err.access.denied", {action, box.Name()});
  return false;
}

}  // namespace kof::testserver
