#include "tests/server/KofTestControl.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/server/KofTestRequest.h"
#include "tests/server/KofTestSeed.h"
#include "tests/server/KofTestTotp.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

constexpr std::size_t kLogLimit = 1000;
constexpr std::string_view kControlPrefix = "/__control/";

const std::pair<const char*, TFaultKind> kKinds[] = {{"delay", TFaultKind::Delay},
                                                     {"fail", TFaultKind::Fail},
                                                     {"drop", TFaultKind::Drop},
                                                     {"garbage", TFaultKind::Garbage},
                                                     {"expire", TFaultKind::Expire},
                                                     {"trickle", TFaultKind::Trickle}};

const char* KindName(TFaultKind kind) {
  for (const auto& [name, value] : kKinds)
    if (value == kind) return name;
  return "?";
}

bool PathMatches(const std::string& pattern, const std::string& path) {
  if (!pattern.empty() && pattern.back() == '*') return path.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0;
  return pattern == path;
}

json FaultToJson(const TFault& f) {
  return {{"id", f.Id},           {"path", f.Path},     {"method", f.Method}, {"kind", KindName(f.Kind)},
          {"delayMs", f.DelayMs}, {"status", f.Status}, {"body", f.Body},     {"contentType", f.ContentType},
          {"times", f.Times},     {"after", f.After}};
}

// A body that is neither JSON nor UTF-8.
std::string GarbageBody() {
  static const char kBytes[] = "\xFF\xFE{\"msg\":[\x01\x02 garbage \xC3(";
  return std::string(kBytes, sizeof kBytes - 1);
}

void AnswerDrop(httplib::Response& res, int status) {
  // Announces 64 KiB, sends a part of it, then gives up: the client sees the
  // connection close in the middle of the body.
  constexpr std::size_t kAnnounced = 64 * 1024;
  res.status = status;
  res.set_content_provider(kAnnounced, "application/json",
                           [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                             if (offset > 0) return false;
                             static const std::string part = "{\"safeboxes\":[{\"id\":1,\"name\":\"trunc";
                             sink.write(part.data(), part.size());
                             return true;
                           });
}

// One byte at a time, each after a pause: the line never falls silent for
// long, yet the whole answer takes its size times the pause.
void AnswerTrickle(httplib::Response& res, const TFault& fault) {
  constexpr std::size_t kDefaultSize = 1024;
  std::string text = fault.Body;
  if (text.empty()) text = std::string(kDefaultSize - 2, ' ') + "{}";
  const auto body = std::make_shared<const std::string>(std::move(text));
  const auto pause = std::chrono::milliseconds(fault.DelayMs > 0 ? fault.DelayMs : 1000);
  res.status = fault.Status;
  res.set_content_provider(body->size(), fault.ContentType,
                           [body, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                             std::this_thread::sleep_for(pause);
                             return sink.is_writable() && sink.write(body->data() + offset, 1);
                           });
}

void ExpireCallerSession(TServerContext& ctx, const httplib::Request& req) {
  std::lock_guard lock(ctx.Lock);
  ctx.State.Sessions.erase(SessionToken(req));
}

void ControlFaults(httplib::Server& server, TServerContext& ctx) {
  server.Post("/__control/faults", [&](const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body, nullptr, false);
    std::string error;
    auto fault = body.is_object() ? FaultFromJson(body, error) : std::nullopt;
    if (!fault) {
      SendErrText(res, 400, error.empty() ? "fault must be a JSON object" : error);
      return;
    }
    SendJson(res, {{"id", ctx.Faults.Add(*fault)}});
  });
  server.Get("/__control/faults",
             [&](const httplib::Request&, httplib::Response& res) { SendJson(res, ctx.Faults.List()); });
  server.Delete("/__control/faults", [&](const httplib::Request&, httplib::Response& res) {
    ctx.Faults.Clear();
    SendJson(res, json::object());
  });
}

void ControlSessions(httplib::Server& server, TServerContext& ctx) {
  server.Post("/__control/expire-sessions", [&](const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body.empty() ? "{}" : req.body, nullptr, false);
    const std::string user = body.is_object() ? body.value("user", "") : "";
    std::lock_guard lock(ctx.Lock);
    int expired = 0;
    for (auto it = ctx.State.Sessions.begin(); it != ctx.State.Sessions.end();) {
      const bool hit = user.empty() || ctx.State.Users[it->second.UserIndex].Login == user;
      it = hit ? (++expired, ctx.State.Sessions.erase(it)) : std::next(it);
    }
    SendJson(res, {{"expired", expired}});
  });
  server.Get("/__control/totp", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(ctx.Lock);
    TUser* user = ctx.State.FindUser(req.get_param_value("user"), req.get_param_value("domain"));
    auto key = user ? Base32Decode(user->TotpSecret.View()) : std::nullopt;
    if (!key || key->Empty()) {
      SendErrText(res, 404, "no such user with a second factor");
      return;
    }
    SendJson(res, {{"code", TotpCode(*key, NowMs() / 1000)}});
  });
}

json RecordState(const TRecord& record) {
  json out = record.Data;
  out["boxId"] = record.BoxId;
  out["deleted"] = record.Deleted;
  if (record.HasContent) out["contentBase64"] = Base64Encode(record.Content);
  return out;
}

void ControlState(httplib::Server& server, TServerContext& ctx) {
  server.Post("/__control/settings", [&](const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body, nullptr, false);
    if (!body.is_object()) {
      SendErrText(res, 400, "settings must be a JSON object");
      return;
    }
    std::lock_guard lock(ctx.Lock);
    try {
      ReadSettings(ctx.State.Settings, body);
    } catch (const json::exception& e) {
      SendErrText(res, 400, e.what());
      return;
    }
    SendJson(res, json::object());
  });
  server.Post("/__control/reset", [&](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(ctx.Lock);
    ctx.State = LoadSeed(ctx.Seed);
    ctx.Faults.Clear();
    ctx.Log.Clear();
    ctx.Capture.Disarm();
    SendJson(res, json::object());
  });
  server.Get("/__control/state", [&](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(ctx.Lock);
    json boxes = json::array(), records = json::array();
    for (const auto& [id, box] : ctx.State.Boxes) {
      json item = box.Data;
      item["deleted"] = box.Deleted;
      boxes.push_back(item);
    }
    for (const auto& [id, record] : ctx.State.Records) records.push_back(RecordState(record));
    SendJson(res, {{"boxes", boxes}, {"records", records}, {"sessions", ctx.State.Sessions.size()}});
  });
  server.Post("/__control/capture", [&](const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body, nullptr, false);
    const std::string path = body.is_object() ? body.value("path", "") : "";
    if (path.empty() || path.front() != '/') {
      SendErrText(res, 400, "capture needs a path beginning with /");
      return;
    }
    ctx.Capture.Arm(path);
    SendJson(res, json::object());
  });
  server.Get("/__control/captured",
             [&](const httplib::Request&, httplib::Response& res) { SendJson(res, ctx.Capture.List()); });
  server.Delete("/__control/capture", [&](const httplib::Request&, httplib::Response& res) {
    ctx.Capture.Disarm();
    SendJson(res, json::object());
  });
  server.Get("/__control/requests",
             [&](const httplib::Request&, httplib::Response& res) { SendJson(res, ctx.Log.List()); });
  server.Delete("/__control/requests", [&](const httplib::Request&, httplib::Response& res) {
    ctx.Log.Clear();
    SendJson(res, json::object());
  });
}

}  // namespace

int TFaultTable::Add(TFault fault) {
  std::lock_guard lock(FLock);
  fault.Id = FNextId++;
  FFaults.push_back(fault);
  return fault.Id;
}

void TFaultTable::Clear() {
  std::lock_guard lock(FLock);
  FFaults.clear();
}

json TFaultTable::List() const {
  std::lock_guard lock(FLock);
  json list = json::array();
  for (const auto& f : FFaults) list.push_back(FaultToJson(f));
  return list;
}

std::optional<TFault> TFaultTable::Take(const std::string& method, const std::string& path) {
  std::lock_guard lock(FLock);
  for (auto it = FFaults.begin(); it != FFaults.end(); ++it) {
    if (!PathMatches(it->Path, path) || (!it->Method.empty() && it->Method != method)) continue;
    if (it->After > 0) {
      --it->After;
      return std::nullopt;
    }
    TFault hit = *it;
    if (it->Times > 0 && --it->Times == 0) FFaults.erase(it);
    return hit;
  }
  return std::nullopt;
}

void TRequestLog::Add(const httplib::Request& req, const httplib::Response& res) {
  if (req.path.rfind(kControlPrefix, 0) == 0) return;
  json headers = json::array();
  for (const char* name : {"KOF-Access-Code", "KOF-Encryption", "KOF-PublicKey", "Cookie"})
    if (req.has_header(name)) headers.push_back(name);
  std::lock_guard lock(FLock);
  FEntries.push_back({{"method", req.method},
                      {"path", req.path},
                      {"status", res.status},
                      {"headers", headers},
                      {"bodySize", req.body.size()}});
  if (FEntries.size() > kLogLimit) FEntries.pop_front();
}

json TRequestLog::List() const {
  std::lock_guard lock(FLock);
  return json(FEntries);
}

void TRequestLog::Clear() {
  std::lock_guard lock(FLock);
  FEntries.clear();
}

void TRequestCapture::Arm(std::string pattern) {
  std::lock_guard lock(FLock);
  FPattern = std::move(pattern);
  FEntries.clear();
}

void TRequestCapture::Disarm() {
  std::lock_guard lock(FLock);
  FPattern.clear();
  FEntries.clear();
}

void TRequestCapture::Add(const httplib::Request& req) {
  std::lock_guard lock(FLock);
  if (FPattern.empty() || req.path.rfind(kControlPrefix, 0) == 0 || !PathMatches(FPattern, req.path)) return;
  json headers = json::object();
  for (const char* name :
       {"Accept", "Content-Type", "KOF-Access-Code", "KOF-Encryption", "KOF-PublicKey", "Cookie", "Expect"})
    if (req.has_header(name)) headers[name] = req.get_header_value(name);
  FEntries.push_back({{"method", req.method},
                      {"target", req.target},
                      {"headers", headers},
                      {"bodyBase64", Base64Encode(req.body)}});
  if (FEntries.size() > kLogLimit) FEntries.pop_front();
}

json TRequestCapture::List() const {
  std::lock_guard lock(FLock);
  return json(FEntries);
}

std::optional<TFault> FaultFromJson(const json& in, std::string& error) {
  TFault fault;
  try {
    fault.Path = in.value("path", "");
    if (!fault.Path.empty() && fault.Path.front() != '/') fault.Path.insert(0, "/");
    fault.Method = in.value("method", "");
    fault.DelayMs = in.value("delayMs", 0);
    fault.Body = in.value("body", "");
    // Bytes a JSON text cannot carry (not UTF-8) come Base64-encoded.
    if (in.contains("bodyBase64")) {
      const auto bytes = Base64Decode(in.at("bodyBase64").get<std::string>());
      if (!bytes) {
        error = "bodyBase64 is not Base64";
        return std::nullopt;
      }
      fault.Body = *bytes;
    }
    fault.ContentType = in.value("contentType", fault.ContentType);
    fault.Times = in.value("times", -1);
    fault.After = in.value("after", 0);
    const std::string kind = in.value("kind", "fail");
    auto it = std::find_if(std::begin(kKinds), std::end(kKinds), [&](const auto& k) { return kind == k.first; });
    if (it == std::end(kKinds)) {
      error = "unknown fault kind: " + kind;
      return std::nullopt;
    }
    fault.Kind = it->second;
    fault.Status = in.value("status", fault.Kind == TFaultKind::Fail ? 500 : 200);
  } catch (const json::exception& e) {
    error = e.what();
    return std::nullopt;
  }
  if (fault.Path.empty() || fault.Times == 0 || fault.After < 0 || fault.Status < 100 || fault.Status > 599 || fault.DelayMs < 0) {
    error = "a fault needs a path, a status 100-599, times other than 0 and delayMs >= 0";
    return std::nullopt;
  }
  return fault;
}

// Faults answer before the request body is read; on a kept-alive connection the
// unread body would be taken for the next request, so such a connection ends here.
void CloseAfterUnreadBody(const httplib::Request& req, httplib::Response& res) {
  if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding")) res.set_header("Connection", "close");
}

httplib::Server::HandlerResponse ApplyFaults(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  using R = httplib::Server::HandlerResponse;
  if (req.path.rfind(kControlPrefix, 0) == 0) return R::Unhandled;
  auto fault = ctx.Faults.Take(req.method, req.path);
  if (!fault) return R::Unhandled;
  switch (fault->Kind) {
    case TFaultKind::Delay:
      std::this_thread::sleep_for(std::chrono::milliseconds(fault->DelayMs));
      return R::Unhandled;
    case TFaultKind::Expire:
      ExpireCallerSession(ctx, req);
      return R::Unhandled;
    case TFaultKind::Fail:
      res.status = fault->Status;
      res.set_content(fault->Body, fault->ContentType);
      CloseAfterUnreadBody(req, res);
      return R::Handled;
    case TFaultKind::Garbage:
      res.status = fault->Status;
      res.set_content(fault->Body.empty() ? GarbageBody() : fault->Body, fault->ContentType);
      CloseAfterUnreadBody(req, res);
      return R::Handled;
    case TFaultKind::Drop:
      AnswerDrop(res, fault->Status);
      return R::Handled;
    case TFaultKind::Trickle:
      AnswerTrickle(res, *fault);
      CloseAfterUnreadBody(req, res);
      return R::Handled;
  }
  return R::Unhandled;
}

// The user's login is the common-name other-name, as a single-sign-on client's
// certificate carries it; a new certificate replaces the user's earlier one.
static void ControlCertificates(httplib::Server& server, TServerContext& ctx) {
  server.Post("/__control/issue-certificate", [&](const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body, nullptr, false);
    const std::string login = body.is_object() ? body.value("user", "") : "";
    const std::string domain = body.is_object() ? body.value("domain", "") : "";
    TUser* user = nullptr;
    {
      std::lock_guard lock(ctx.Lock);
      user = ctx.State.FindUser(login, domain);
    }
    if (!user) {
      SendErrText(res, 404, "no such user");
      return;
    }
    SendJson(res, IssueUserCertificate(ctx, *user, body.is_object() && body.value("hwToken", false)));
  });
}

json IssueUserCertificate(TServerContext& ctx, TUser& user, bool hwToken) {
  std::lock_guard lock(ctx.Lock);
  if (!ctx.UserCa) ctx.UserCa = GenerateSelfSigned();
  std::string names = "otherName:2.5.4.3;UTF8:" + user.Login + ",email:" + user.Login + "@vault.test";
  if (hwToken) names += ",otherName:2.5.4.72;UTF8:hwTokenPresent";
  const TTlsIdentity issued = IssueClientCertificate(*ctx.UserCa, user.Login, names);
  user.Certificate = Base64Encode(CertificateToDer(issued.Cert.get()));
  return {{"cert", CertificateToPem(issued.Cert.get())}, {"key", PrivateKeyToPem(issued.Key.get())}};
}

void RegisterControlRoutes(httplib::Server& server, TServerContext& ctx) {
  ControlCertificates(server, ctx);
  ControlFaults(server, ctx);
  ControlSessions(server, ctx);
  ControlState(server, ctx);
}

}  // namespace kof::testserver
