#include "tests/server/KofTestPasswordRoutes.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sodium.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tests/server/KofTestRequest.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxOptionsBody = 64 * 1024;
constexpr int kBodyWaitMs = 5000;

const std::string kLower = "abcdefghijklmnopqrstuvwxyz";
const std::string kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string kDigits = "0123456789";
const std::string kSpecials = "!#$%*+-.:=?@_~";

// The code of an invitation query: the value of its first "code=" piece, or
// the whole query when it has none (links may carry a bare code).
std::string InvitationCodeOf(std::string_view query) {
  for (std::size_t start = 0; start <= query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view piece = query.substr(start, end - start);
    if (const std::size_t at = piece.find("code="); at != std::string_view::npos)
      return PercentDecode(piece.substr(at + 5));
    start = end + 1;
  }
  return PercentDecode(query);
}

std::string RawQuery(const httplib::Request& req) {
  const std::size_t mark = req.target.find('?');
  return mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
}

TUser* InvitedUser(TServerContext& ctx, const std::string& code) {
  if (code.empty()) return nullptr;
  for (auto& user : ctx.State.Users)
    if (user.InvitationCode == code) return &user;
  return nullptr;
}

// The user a password service acts for: the invited user of a code, else the
// logged-in caller (whose access code, when sent, must be right). Nothing when
// an answer has been sent.
std::optional<TCaller> ServiceCaller(TServerContext& ctx, const httplib::Request& req, httplib::Response& res,
                                     const std::string& code) {
  if (!code.empty()) {
    TCaller caller;
    caller.User = InvitedUser(ctx, code);
    if (!caller.User) {
      SendError(res, 404, "err.invitation.invalid");
      return std::nullopt;
    }
    caller.ClientKey = ClientKeyOf(req);
    return caller;
  }
  auto caller = RequireLogin(ctx, req, res);
  if (!caller) return std::nullopt;
  TPresentedCode presented = HeaderAccessCode(ctx, req);
  if (!CheckAccessCode(ctx, res, *caller->User, presented, false)) return std::nullopt;
  return caller;
}

// nullptr (and a 400 answer) for a type the server does not know.
const json* RequirementsFor(const TUser& user, const std::string& type, httplib::Response& res) {
  if (type == "login") return &user.LoginPasswordRequirements;
  if (type == "accessCode") return &user.AccessCodeRequirements;
  SendError(res, 400, "err.request.invalid", {"type"});
  return nullptr;
}

int Requirement(const json& requirements, const char* name) {
  const auto it = requirements.find(name);
  return it != requirements.end() && it->is_number() ? it->get<int>() : 0;
}

char RandomOf(const std::string& set) { return set[randombytes_uniform(static_cast<std::uint32_t>(set.size()))]; }

// At least the minimum of every class, filled up from all of them, shuffled.
SecureString GeneratePassword(const json& requirements, bool accessCode) {
  const int length = std::max(Requirement(requirements, "minLength"), accessCode ? 8 : 16);
  const std::pair<const std::string*, int> classes[] = {{&kLower, Requirement(requirements, "minLower")},
                                                        {&kUpper, Requirement(requirements, "minUpper")},
                                                        {&kDigits, Requirement(requirements, "minDigits")},
                                                        {&kSpecials, Requirement(requirements, "minSpecial")}};
  const std::string all = accessCode ? kDigits + kUpper : kLower + kUpper + kDigits + kSpecials;
  SecureString out;
  for (const auto& [set, count] : classes)
    for (int i = 0; i < count; ++i) out.PushBack(RandomOf(*set));
  while (static_cast<int>(out.Size()) < length) out.PushBack(RandomOf(all));
  for (std::size_t i = out.Size(); i > 1; --i)
    std::swap(out.Data()[i - 1], out.Data()[randombytes_uniform(static_cast<std::uint32_t>(i))]);
  return out;
}

std::string CrackMessage(double seconds) {
  if (seconds < 1) return ServerMessage("password.crack.instant", {});
  const std::pair<double, const char*> units[] = {{31536000.0 * 100, nullptr},
                                                  {31536000.0, "password.crack.years"},
                                                  {86400.0, "password.crack.days"},
                                                  {3600.0, "password.crack.hours"},
                                                  {60.0, "password.crack.minutes"},
                                                  {1.0, "password.crack.seconds"}};
  for (const auto& [unit, key] : units) {
    if (seconds < unit) continue;
    if (!key) return ServerMessage("password.crack.centuries", {});
    return ServerMessage(key, {std::to_string(static_cast<long long>(seconds / unit))});
  }
  return ServerMessage("password.crack.instant", {});
}

// Seconds as a whole number while they fit one, else as a floating-point number.
json SecondsJson(double seconds) {
  if (seconds < 9.0e18) return static_cast<std::int64_t>(seconds);
  return seconds;
}

json RatePassword(std::string_view password, const json& requirements) {
  int length = 0, lower = 0, upper = 0, digits = 0, special = 0;
  for (unsigned char c : password) {
    if ((c & 0xC0) == 0x80) continue;  // inside a multi-byte character
    ++length;
    if (c >= 'a' && c <= 'z')
      ++lower;
    else if (c >= 'A' && c <= 'Z')
      ++upper;
    else if (c >= '0' && c <= '9')
      ++digits;
    else
      ++special;
  }
  const int pool = (lower ? 26 : 0) + (upper ? 26 : 0) + (digits ? 10 : 0) + (special ? 33 : 0);
  const double entropy = pool > 0 ? length * std::log2(double(pool)) : 0.0;
  const double guesses = std::pow(2.0, entropy);
  const double offline = guesses / 1e10, online = guesses / 100;
  const auto minEntropy = requirements.value("minEntropy", 0.0);
  return {{"len", length},
          {"timeToCrackOffline", CrackMessage(offline)},
          {"timeToCrackOnline", CrackMessage(online)},
          {"secondsToCrackOffline", SecondsJson(offline)},
          {"secondsToCrackOnline", SecondsJson(online)},
          {"entropy", entropy},
          {"lowercase", lower},
          {"uppercase", upper},
          {"digits", digits},
          {"special", special},
          {"lowercaseBad", lower < Requirement(requirements, "minLower")},
          {"uppercaseBad", upper < Requirement(requirements, "minUpper")},
          {"digitsBad", digits < Requirement(requirements, "minDigits")},
          {"specialBad", special < Requirement(requirements, "minSpecial")},
          {"entropyBad", entropy < minEntropy}};
}

void HandleGenerate(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  auto caller = ServiceCaller(ctx, req, res, req.get_param_value("code"));
  if (!caller) return;
  const std::string type = req.get_param_value("type");
  const json* requirements = RequirementsFor(*caller->User, type, res);
  if (!requirements) return;
  const SecureString password = GeneratePassword(*requirements, type == "accessCode");
  SendJson(res, {{"password", ForCaller(ctx, *caller, password.Unprotected())}});
}

void HandleCheck(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  const auto form = ParseFormRaw(req.body);
  auto caller = ServiceCaller(ctx, req, res, PercentDecode(FormValue(form, "code").value_or("")));
  if (!caller) return;
  const json* requirements = RequirementsFor(*caller->User, PercentDecode(FormValue(form, "type").value_or("")), res);
  if (!requirements) return;
  const auto raw = FormValue(form, "password");
  if (!raw) {
    SendErrText(res, 400, "missing form field (password)");
    return;
  }
  const SecureString password(PercentDecode(*raw));
  SendJson(res, RatePassword(password.View(), *requirements));
}

void HandleInitUser(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  TUser* user = InvitedUser(ctx, InvitationCodeOf(RawQuery(req)));
  if (!user) {
    SendError(res, 404, "err.invitation.invalid");
    return;
  }
  auto body = JsonBody(req, res);
  if (!body) return;
  const auto key = ClientKeyOf(req);
  auto fresh = ReadSecretMember(ctx, key, *body, "password_new");
  auto repeat = ReadSecretMember(ctx, key, *body, "password_repeat");
  if (!fresh || !repeat) {
    SendError(res, 400, "err.decrypt");
    return;
  }
  if (!(*fresh == *repeat)) {
    SendError(res, 400, "err.password.mismatch");
    return;
  }
  const int minLength = std::max(Requirement(user->LoginPasswordRequirements, "minLength"), 1);
  if (static_cast<int>(fresh->Size()) < minLength) {
    SendError(res, 400, "err.password.tooShort", {std::to_string(minLength)});
    return;
  }
  user->Password = std::move(*fresh);
  user->InvitationCode.clear();  // an invitation is good for one first password
  SendJson(res, {{"domain", user->Domain}, {"username", user->Login}});
}

// --- managed stations ---

// The array member of a seeded object, or an empty one; a reference into the state, not a copy.
const json& Items(const json& object, const char* name) {
  static const json kNone = json::array();
  const auto it = object.find(name);
  return it != object.end() && it->is_array() ? *it : kNone;
}

const json* FindConfig(const TServerContext& ctx, const std::string& name) {
  for (const auto& config : Items(ctx.State.Agents, "configs"))
    if (config.value("name", "") == name) return &config;
  return nullptr;
}

bool IsPasswordDate(std::string_view date) {
  if (date.size() != 8 || date[2] != '/' || date[5] != '/') return false;
  int day = 0, month = 0, year = 0;
  std::from_chars(date.data(), date.data() + 2, day);
  std::from_chars(date.data() + 3, date.data() + 5, month);
  const auto last = std::from_chars(date.data() + 6, date.data() + 8, year);
  return day >= 1 && day <= 31 && month >= 1 && month <= 12 && last.ptr == date.data() + 8;
}

void HandleManagedPassword(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  if (!IsPasswordDate(req.get_param_value("passwordDate"))) {
    SendError(res, 400, "err.request.invalid", {"passwordDate"});
    return;
  }
  const std::string station = req.get_param_value("stationName");
  const json* config = FindConfig(ctx, req.get_param_value("configName"));
  if (config) {
    for (const auto& item : Items(*config, "stations")) {
      if (item.value("stationName", "") != station || item.value("platform", "") != req.get_param_value("platform"))
        continue;
      const json passwords = item.value("passwords", json::object());
      const auto it = passwords.find(req.get_param_value("userName"));
      if (it == passwords.end()) break;
      SendJson(res, {{"password", *it}});
      return;
    }
  }
  SendError(res, 404, "err.station.notFound", {station});
}

json StationJson(const json& station, const std::string& configName) {
  json out = station;
  out.erase("passwords");
  out["configName"] = configName;
  out["template"] = "station";
  return out;
}

void HandleConfigs(TServerContext& ctx, TCaller&, const httplib::Request&, httplib::Response& res) {
  json configs = json::array();
  for (const auto& config : Items(ctx.State.Agents, "configs")) {
    json out = config;
    out.erase("stations");
    out["template"] = "";
    configs.push_back(out);
  }
  SendJson(res, {{"configs", configs}});
}

void HandleStations(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  const std::string name = req.matches[1].str();
  const json* config = FindConfig(ctx, name);
  if (!config) {
    SendError(res, 404, "err.config.notFound", {name});
    return;
  }
  json stations = json::array();
  for (const auto& station : Items(*config, "stations")) stations.push_back(StationJson(station, name));
  SendJson(res, {{"stations", stations}});
}

// Tickets answer in three comma-separated fields: OK or an error code, the
// station or a reason, the password or nothing.
void HandleTicket(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  if (req.get_header_value("Accept").find("text/plain") == std::string::npos) {
    SendError(res, 406, "err.request.invalid", {"Accept: text/plain"});
    return;
  }
  std::lock_guard lock(ctx.Lock);
  const std::string ticket = req.get_param_value("ticket");
  std::string answer = "404,Unknown ticket,";
  for (const auto& item : Items(ctx.State.Agents, "tickets")) {
    if (item.value("ticket", "") != ticket) continue;
    const bool matches = item.value("station", "") == req.get_param_value("station") &&
                         item.value("platform", "") == req.get_param_value("platform") &&
                         item.value("user", "") == req.get_param_value("user");
    answer = matches ? "OK," + item.value("station", "") + "," + item.value("password", "")
                     : "403,Ticket does not match,";
    break;
  }
  res.set_content(answer, "text/plain;charset=UTF-8");
}

void HandleAbout(TServerContext& ctx, const httplib::Request&, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  const auto& s = ctx.State.Settings;
  res.set_content("<!DOCTYPE html>\n<html><head><title>About</title></head><body><h1>" + s.Product + "</h1><p>Version " +
                      s.Version + ", API " + s.ApiVersion + "</p></body></html>\n",
                  "text/html;charset=UTF-8");
}

}  // namespace

void ReadOptionsBody(const httplib::Request& req) {
  if (req.method != "OPTIONS" || !req.body.empty() || req.ssl == nullptr) return;
  const std::string length = req.get_header_value("Content-Length");
  std::size_t size = 0;
  const auto parsed = std::from_chars(length.data(), length.data() + length.size(), size);
  if (parsed.ec != std::errc() || size == 0 || size > kMaxOptionsBody) return;
  // The library's request object is ours for this request; the body is
  // filled in as it would be for any other method.
  SSL* ssl = const_cast<SSL*>(req.ssl);
  std::string body(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    if (SSL_pending(ssl) == 0) {
      pollfd wait{SSL_get_fd(ssl), POLLIN, 0};
      if (poll(&wait, 1, kBodyWaitMs) <= 0) break;
    }
    const int n = SSL_read(ssl, body.data() + got, static_cast<int>(size - got));
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ) {
      break;
    }
  }
  body.resize(got);
  const_cast<httplib::Request&>(req).body = std::move(body);
}

void RegisterPasswordRoutes(httplib::Server& server, TServerContext& ctx) {
  server.Get("/public/api/user/generate-password", [&](const auto& req, auto& res) { HandleGenerate(ctx, req, res); });
  server.Options("/public/api/user/generate-password", [&](const auto& req, auto& res) { HandleCheck(ctx, req, res); });
  server.Post("/public/api/inituser", [&](const auto& req, auto& res) { HandleInitUser(ctx, req, res); });
  server.Get("/agent/getPassword", VaultRoute(ctx, HandleManagedPassword));
  server.Get("/private/api/stationPassword", VaultRoute(ctx, HandleManagedPassword));
  server.Options("/private/api/agentConfigs", VaultRoute(ctx, HandleConfigs));
  server.Get(R"(/private/api/agentConfigs/([^/]+)/stations)", VaultRoute(ctx, HandleStations));
  server.Get("/public/api/getPassword", [&](const auto& req, auto& res) { HandleTicket(ctx, req, res); });
  server.Get("/static/about.page", [&](const auto& req, auto& res) { HandleAbout(ctx, req, res); });
}

}  // namespace kof::testserver
