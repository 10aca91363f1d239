#include "tests/server/KofTestRecordRoutes.h"

#include "support/KofText.h"
#include "tests/server/KofTestRecordWire.h"
#include "tests/server/KofTestSeed.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

TRecord* RecordOr404(TServerContext& ctx, int id, httplib::Response& res) {
  TRecord* record = ctx.State.FindRecord(id);
  if (!record || ctx.State.BoxChainDeleted(record->BoxId)) {
    SendError(res, 404, "err.record.notFound", {std::to_string(id)}, id);
    return nullptr;
  }
  return record;
}

// The record and its box when the box grants `right`; otherwise an answer is sent.
TRecord* RecordWithRight(TServerContext& ctx, int id, char right, const char* action, httplib::Response& res) {
  TRecord* record = RecordOr404(ctx, id, res);
  if (!record) return nullptr;
  TBox* box = ctx.State.FindBox(record->BoxId);
  return box && Allowed(*box, right, action, res) ? record : nullptr;
}

void GetRecords(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  const int boxId = PathId(req);
  if (!BoxOr404(ctx, boxId, res)) return;
  const bool sizes = QueryFlag(req, "fileInfo") && ctx.State.Settings.ListingFileSizes;
  const auto detail = sizes ? TRecordDetail::ListingWithFileSizes : TRecordDetail::Listing;
  json list = json::array();
  for (const auto& [id, record] : ctx.State.Records) {
    if (record.BoxId == boxId && !record.Deleted) list.push_back(RecordToWire(ctx, caller, record, detail));
  }
  SendJson(res, {{"records", list}});
}

// Secrets only with a valid access code; without one the record comes as in
// a listing (the route wrapper already refused a wrong code).
void GetRecord(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  TRecord* record = RecordOr404(ctx, PathId(req), res);
  if (!record) return;
  const bool withSecrets = HeaderAccessCode(ctx, req).Present;
  // One record read always tells an external file's size, which is no secret.
  auto detail = withSecrets ? TRecordDetail::WithSecrets : TRecordDetail::ListingWithFileSizes;
  SendJson(res, {{"record", RecordToWire(ctx, caller, *record, detail)}});
}

void GetPasswords(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  TRecord* record = RecordOr404(ctx, PathId(req), res);
  if (!record) return;
  if (!IsPasswordKind(record->Template())) {
    SendError(res, 400, "err.record.kind", {std::to_string(record->Id())}, record->Id());
    return;
  }
  const json& password = record->Data.contains("password") ? record->Data["password"] : json(nullptr);
  if (password.is_null()) {
    SendJson(res, {{"password", nullptr}});
    return;
  }
  SendJson(res, {{"password", ForCaller(ctx, caller, password.get<std::string>())}});
}

std::optional<json> DecryptedPasswords(TServerContext& ctx, const TCaller& caller, const json& body) {
  if (!caller.ClientKey || !ctx.State.Settings.ClientEncryption) return body;
  json out = json::object();
  for (const char* key : {"password", "passwordRe"}) {
    if (!body.contains(key) || !body[key].is_string()) continue;
    auto plain = ctx.Crypto.Decrypt(*caller.ClientKey, PercentDecode(body[key].get<std::string>()));
    if (!plain) return std::nullopt;
    out[key] = plain->Unprotected();
  }
  return out;
}

void SetPasswords(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  auto body = JsonBody(req, res);
  if (!body) return;
  TRecord* record = RecordWithRight(ctx, PathId(req), 'M', "modify", res);
  if (!record) return;
  if (!IsPasswordKind(record->Template())) {
    SendError(res, 400, "err.record.kind", {std::to_string(record->Id())}, record->Id());
    return;
  }
  auto plain = DecryptedPasswords(ctx, caller, *body);
  if (!plain) {
    SendError(res, 400, "err.decrypt");
    return;
  }
  const std::string password = plain->value("password", "");
  if (password != plain->value("passwordRe", password)) {
    SendError(res, 400, "err.password.mismatch");
    return;
  }
  record->Data["password"] = password;
  record->Data["passwordRe"] = password;
  record->Data["modified"] = NowMs();
  SendJson(res, json::object());
}

// Tags of a new or changed record: known ones stay; unknown ones are created in
// the box's domain only when the client asks for it, and are kept on the record either way.
void RegisterTags(TServerContext& ctx, const TRecord& record, bool create) {
  if (!create) return;
  const TBox* box = ctx.State.FindBox(record.BoxId);
  const std::string domain = box ? box->Data.value("domainName", "SYSTEM") : "SYSTEM";
  for (const auto& tag : record.Data.value("tags", json::array())) {
    if (tag.is_string() && !tag.get<std::string>().empty()) ctx.State.AddTag(tag.get<std::string>(), domain);
  }
}

bool ContentWithinLimit(TServerContext& ctx, const TRecord& record, httplib::Response& res) {
  const std::int64_t limit = ctx.State.Settings.FileSizeLimit;
  if (limit < 0 || !record.HasContent || static_cast<std::int64_t>(record.Content.size()) <= limit) return true;
  SendError(res, 413, "err.file.tooLarge", {std::to_string(limit)});
  return false;
}

std::optional<json> RecordBody(TServerContext& ctx, const TCaller& caller, const httplib::Request& req,
                               httplib::Response& res) {
  auto body = JsonBody(req, res);
  if (!body) return std::nullopt;
  auto plain = PlainRecordBody(ctx, caller, *body);
  if (!plain) SendError(res, 400, "err.decrypt");
  return plain;
}

// Names are unique within a box, ignoring case, as the vault keeps them; the
// answer names the record that holds the name.
bool NameFree(TServerContext& ctx, int boxId, const std::string& name, int exceptId, httplib::Response& res) {
  for (const auto& [otherId, other] : ctx.State.Records) {
    if (otherId == exceptId || other.Deleted || other.BoxId != boxId || LowerCase(other.Name()) != LowerCase(name))
      continue;
    SendError(res, 400, "record.duplicate", {name}, otherId);
    return false;
  }
  return true;
}

void AddRecord(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  const int boxId = PathId(req);
  TBox* box = BoxOr404(ctx, boxId, res);
  if (!box || !Allowed(*box, 'C', "create", res)) return;
  auto body = RecordBody(ctx, caller, req, res);
  if (!body) return;
  TRecord record;
  try {
    record = RecordFromJson(*body, boxId);
  } catch (const std::exception& e) {
    SendError(res, 400, "err.request.invalid", {e.what()});
    return;
  }
  if (!ContentWithinLimit(ctx, record, res)) return;
  if (!NameFree(ctx, boxId, record.Name(), 0, res)) return;
  const int id = ctx.State.NewId();
  record.Data["id"] = id;
  RegisterTags(ctx, record, QueryFlag(req, "forceCreateTags"));
  ctx.State.Records[id] = std::move(record);
  SendJson(res, {{"id", id}});
}

json MergedRecord(const TRecord& stored, const json& body) {
  json merged = stored.Data;
  for (const auto& [key, value] : body.items()) {
    if (key == "id" || key == "template") continue;
    if (key == "attributes" && value.is_object() && merged.contains("attributes") && merged["attributes"].is_object()) {
      for (const auto& [name, attribute] : value.items()) merged["attributes"][name] = attribute;
      continue;
    }
    merged[key] = value;
  }
  if (body.contains("password") && !body.contains("passwordRe")) merged["passwordRe"] = body["password"];
  return merged;
}

void UpdateRecord(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  TRecord* stored = RecordWithRight(ctx, PathId(req), 'M', "modify", res);
  if (!stored) return;
  auto body = RecordBody(ctx, caller, req, res);
  if (!body) return;
  TRecord updated;
  try {
    updated = RecordFromJson(MergedRecord(*stored, *body), stored->BoxId);
  } catch (const std::exception& e) {
    SendError(res, 400, "err.request.invalid", {e.what()});
    return;
  }
  if (!NameFree(ctx, stored->BoxId, updated.Name(), stored->Id(), res)) return;
  if (!updated.HasContent) {
    updated.HasContent = stored->HasContent;
    updated.Content = std::move(stored->Content);
  } else if (!ContentWithinLimit(ctx, updated, res)) {
    return;
  }
  updated.Data["id"] = stored->Id();
  updated.Data["modified"] = NowMs();
  updated.WatchedChanges = stored->WatchedChanges;
  updated.WatchedAccesses = stored->WatchedAccesses;
  RegisterTags(ctx, updated, QueryFlag(req, "forceCreateTags"));
  *stored = std::move(updated);
  SendJson(res, json::object());
}

void DeleteRecord(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  TRecord* record = RecordWithRight(ctx, PathId(req), 'D', "delete", res);
  if (!record) return;
  record->Deleted = true;
  record->DeletedAt = NowMs();
  SendJson(res, json::object());
}

void UploadFile(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  TRecord* record = RecordWithRight(ctx, PathId(req), 'M', "modify", res);
  if (!record) return;
  if (!req.has_file("file")) {
    SendErrText(res, 400, "missing multipart field (file)");
    return;
  }
  const auto part = req.get_file_value("file");
  const std::int64_t limit = ctx.State.Settings.FileSizeLimit;
  if (limit >= 0 && static_cast<std::int64_t>(part.content.size()) > limit) {
    SendError(res, 413, "err.file.tooLarge", {std::to_string(limit)});
    return;
  }
  record->Content = part.content;
  record->HasContent = true;
  record->Data["fileSizeApprox"] = static_cast<std::int64_t>(part.content.size());
  if (!part.filename.empty()) record->Data["fileName"] = part.filename;
  record->Data["modified"] = NowMs();
  SendJson(res, json::object());
}

void DownloadFile(TServerContext& ctx, const httplib::Request& req, httplib::Response& res) {
  std::lock_guard lock(ctx.Lock);
  auto caller = RequireLogin(ctx, req, res);
  if (!caller) return;
  const auto form = ParseFormRaw(req.body);
  if (!FormValue(form, "KOF-Access-Code")) {
    SendErrText(res, 400, "missing query parameter (KOF-Access-Code)");
    return;
  }
  TPresentedCode code = FormAccessCode(ctx, form);
  if (!CheckAccessCode(ctx, res, *caller->User, code, true)) return;
  TRecord* record = RecordOr404(ctx, PathId(req), res);
  if (!record) return;
  if (!record->HasContent) {
    SendError(res, 404, "err.file.noFile", {std::to_string(record->Id())}, record->Id());
    return;
  }
  res.set_content(record->Content, "application/octet-stream");
}

// The expression is the rest of the raw request target: clients put it into the
// path unencoded, so a "?" or "&" of the expression must not end it.
std::string ExpressionFromTarget(const httplib::Request& req, std::string_view prefix) {
  std::string target = req.target.empty() ? req.path : req.target;
  if (target.rfind(prefix, 0) != 0) return {};
  target = target.substr(prefix.size());
  for (std::string_view suffix : {"?queryType=DEFAULT", "?queryType=STANDARD"}) {
    if (target.size() >= suffix.size() && target.compare(target.size() - suffix.size(), suffix.size(), suffix) == 0) {
      target.resize(target.size() - suffix.size());
      break;
    }
  }
  return PercentDecode(target);
}

bool Contains(const std::string& haystack, const std::string& lowerNeedle) {
  return LowerCase(haystack).find(lowerNeedle) != std::string::npos;
}

bool RecordMatches(const TRecord& record, const std::string& needle) {
  if (Contains(record.Name(), needle) || Contains(record.Data.value("description", ""), needle)) return true;
  for (const auto& tag : record.Data.value("tags", json::array()))
    if (tag.is_string() && Contains(tag.get<std::string>(), needle)) return true;
  return false;
}

std::string BoxName(TVaultState& state, int id) {
  const TBox* box = state.FindBox(id);
  return box ? box->Name() : "";
}

void Search(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  const std::string needle = LowerCase(Trim(ExpressionFromTarget(req, "/safe/search/")));
  json result = json::array();
  for (const auto& [id, box] : ctx.State.Boxes) {
    if (needle.empty() || ctx.State.BoxChainDeleted(id) || !Contains(box.Name(), needle)) continue;
    result.push_back({{"id", id},
                      {"parentId", box.ParentId()},
                      {"name", box.Name()},
                      {"description", box.Data.value("description", "")},
                      {"type", box.Data.value("type", "")},
                      {"ownerId", -1},
                      {"template", ""},
                      {"parent", BoxName(ctx.State, box.ParentId())}});
  }
  for (const auto& [id, record] : ctx.State.Records) {
    if (needle.empty() || record.Deleted || ctx.State.BoxChainDeleted(record.BoxId)) continue;
    if (!RecordMatches(record, needle)) continue;
    result.push_back({{"id", id},
                      {"parentId", record.BoxId},
                      {"name", record.Name()},
                      {"description", record.Data.value("description", "")},
                      {"type", record.Template()},
                      {"ownerId", -1},
                      {"template", record.Template()},
                      {"parent", BoxName(ctx.State, record.BoxId)}});
  }
  SendJson(res, {{"result", result}});
}

void SearchByNote(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  const std::string needle = LowerCase(Trim(ExpressionFromTarget(req, "/safe/searchIdsByNote/")));
  json ids = json::array();
  for (const auto& [id, record] : ctx.State.Records) {
    if (needle.empty() || record.Deleted || ctx.State.BoxChainDeleted(record.BoxId)) continue;
    if (Contains(record.Data.value("note", ""), needle)) ids.push_back({{"id", id}, {"parentId", record.BoxId}});
  }
  SendJson(res, {{"recordIds", ids}});
}

}  // namespace

void RegisterRecordRoutes(httplib::Server& server, TServerContext& ctx) {
  server.Get(R"(/safe/boxes/(\d+)/records)", VaultRoute(ctx, GetRecords));
  server.Post(R"(/safe/boxes/(\d+)/records)", VaultRoute(ctx, AddRecord));
  server.Get(R"(/safe/records/(\d+))", VaultRoute(ctx, GetRecord));
  server.Put(R"(/safe/records/(\d+))", VaultRoute(ctx, UpdateRecord));
  server.Delete(R"(/safe/records/(\d+))", VaultRoute(ctx, DeleteRecord));
  server.Get(R"(/safe/records/(\d+)/passwords)", VaultRoute(ctx, GetPasswords, true));
  server.Post(R"(/safe/records/(\d+)/passwords)", VaultRoute(ctx, SetPasswords));
  server.Post(R"(/safe/records/(\d+)/upload/file)", VaultRoute(ctx, UploadFile));
  server.Post(R"(/safe/records/(\d+)/download/file)",
              [&](const httplib::Request& req, httplib::Response& res) { DownloadFile(ctx, req, res); });
  server.Get(R"(/safe/search/(.*))", VaultRoute(ctx, Search));
  server.Get(R"(/safe/searchIdsByNote/(.*))", VaultRoute(ctx, SearchByNote));
}

}  // namespace kof::testserver
