#include "tests/server/KofTestBoxRoutes.h"

#include <sodium.h>

#include <cctype>

#include "support/KofText.h"
#include "tests/server/KofTestExtStore.h"
#include "tests/server/KofTestRecordWire.h"
#include "tests/server/KofTestSeed.h"

namespace kof::testserver {
namespace {

using nlohmann::json;
void ListBoxes(TServerContext& ctx, int parentId, const httplib::Request& req, httplib::Response& res) {
  json list = json::array();
  const bool counts = QueryFlag(req, "getRecordsCount");
  for (int id : ctx.State.ChildBoxes(parentId))
    list.push_back(BoxToWire(ctx.State, ctx.State.Boxes[id], counts, false));
  SendJson(res, {{"safeboxes", list}});
}

void GetTopBoxes(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  ListBoxes(ctx, 0, req, res);
}

void GetChildBoxes(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  const int id = PathId(req);
  if (BoxOr404(ctx, id, res)) ListBoxes(ctx, id, req, res);
}

void GetBox(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  TBox* box = BoxOr404(ctx, PathId(req), res);
  if (!box) return;
  json wire = BoxToWire(ctx.State, *box, true, QueryFlag(req, "getExternalFilesPath"));
  if (wire.contains("externalFilesPath")) wire["externalFilesPath"] = BoxStorageRoot(ctx.State.Settings, *box);
  SendJson(res, {{"safebox", wire}});
}

std::optional<int> ParentForNewBox(TServerContext& ctx, int parentId, httplib::Response& res) {
  if (parentId <= 0) return 0;
  TBox* parent = BoxOr404(ctx, parentId, res);
  if (!parent) return std::nullopt;
  if (!parent->IsGroup()) {
    SendError(res, 400, "err.box.notGroup", {parent->Name()});
    return std::nullopt;
  }
  if (!Allowed(*parent, 'C', "create", res)) return std::nullopt;
  return parentId;
}

// Names are unique among the live boxes of one parent, ignoring case; the
// answer names the box that holds the name, so that a client can reuse it.
bool NameFree(TServerContext& ctx, int parentId, const std::string& name, int exceptId, httplib::Response& res) {
  for (int id : ctx.State.ChildBoxes(parentId)) {
    if (id == exceptId || LowerCase(ctx.State.Boxes[id].Name()) != LowerCase(name)) continue;
    SendError(res, 400, "safebox.duplicate", {name}, id);
    return false;
  }
  return true;
}

void AddBox(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  auto body = JsonBody(req, res);
  if (!body) return;
  auto parentId = ParentForNewBox(ctx, PathId(req), res);
  if (!parentId) return;
  const std::string name = body->value("name", "");
  const std::string type = body->value("type", "SAFEBOX");
  if (name.empty() || (type != "SAFEBOX" && type != "SAFEBOX_GROUP")) {
    SendError(res, 400, "err.request.invalid", {name.empty() ? "name" : "type"});
    return;
  }
  if (!NameFree(ctx, *parentId, name, 0, res)) return;
  const bool privateBox = body->value("privateBox", false);
  TBox box;
  const int id = ctx.State.NewId();
  const TBox* parent = ctx.State.FindBox(*parentId);
  box.Data = {{"id", id},
              {"name", name},
              {"type", type},
              {"parentId", *parentId},
              {"description", ""},
              {"passwordPattern", ""},
              {"privateBox", false},
              // Only a private box has an owner to show.
              {"ownerName", privateBox ? body->value("ownerName", caller.User->Login) : ""},
              {"domainName", parent ? parent->Data.value("domainName", "SYSTEM") : caller.User->Domain},
              {"boxACL", "CRMD"},
              {"watched", false},
              {"watchedAccesses", false},
              {"externalFilesPath", ""},
              {"canCreateRecordTags", true},
              {"order", 0}};
  ApplyBoxFields(box.Data, *body);
  ctx.State.Boxes[id] = box;
  if (!box.IsGroup()) MakeBoxStorageFolder(ctx.State.Settings, box);
  SendJson(res, {{"id", id}});
}

bool WouldNestInItself(const TVaultState& state, int boxId, int newParentId) {
  for (std::size_t hops = 0; newParentId != 0 && hops <= state.Boxes.size(); ++hops) {
    if (newParentId == boxId) return true;
    auto it = state.Boxes.find(newParentId);
    if (it == state.Boxes.end()) return false;
    newParentId = it->second.ParentId();
  }
  return false;
}

bool MoveBox(TServerContext& ctx, TBox& box, const json& body, httplib::Response& res) {
  if (!body.contains("parentId") || !body["parentId"].is_number_integer()) return true;
  const int newParent = body["parentId"].get<int>();
  if (newParent == box.ParentId()) return true;
  if (WouldNestInItself(ctx.State, box.Id(), newParent)) {
    SendError(res, 400, "err.box.notGroup", {box.Name()});
    return false;
  }
  auto parent = ParentForNewBox(ctx, newParent, res);
  if (!parent) return false;
  box.Data["parentId"] = *parent;
  return true;
}

void UpdateBox(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  auto body = JsonBody(req, res);
  if (!body) return;
  TBox* box = BoxOr404(ctx, PathId(req), res);
  if (!box || !Allowed(*box, 'M', "modify", res) || !MoveBox(ctx, *box, *body, res)) return;
  if (body->contains("name") && body->value("name", "").empty()) {
    SendError(res, 400, "err.request.invalid", {"name"});
    return;
  }
  if (body->contains("name") && !NameFree(ctx, box->ParentId(), body->value("name", ""), box->Id(), res)) return;
  ApplyBoxFields(box->Data, *body);
  SendJson(res, json::object());
}

void DeleteBox(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  TBox* box = BoxOr404(ctx, PathId(req), res);
  if (!box || !Allowed(*box, 'D', "delete", res)) return;
  if (!ctx.State.ChildBoxes(box->Id()).empty()) {
    SendError(res, 409, "err.box.notEmpty", {box->Name()});
    return;
  }
  // Their stored files live outside the vault: the client removes them first.
  for (const auto& [id, record] : ctx.State.Records) {
    if (record.BoxId != box->Id() || record.Deleted || LowerCase(record.Template()) != "external-file") continue;
    SendError(res, 400, "safebox.delete.hasexternalfiles", {box->Name()});
    return;
  }
  box->Deleted = true;
  box->DeletedAt = NowMs();
  SendJson(res, json::object());
}

void SetWatch(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  TBox* box = BoxOr404(ctx, PathId(req), res);
  if (!box) return;
  const std::string action = req.matches[2].str();
  const bool on = action.rfind("enable", 0) == 0;
  const bool accesses = action.find("Accesses") != std::string::npos;
  const bool withRecords = action.size() > 3 && action.compare(action.size() - 3, 3, "All") == 0;
  box->Data[accesses ? "watchedAccesses" : "watched"] = on;
  if (withRecords) {
    for (auto& [id, record] : ctx.State.Records) {
      if (record.BoxId == box->Id()) (accesses ? record.WatchedAccesses : record.WatchedChanges) = on;
    }
  }
  SendJson(res, json::object());
}

json TagsOfDomain(const TVaultState& state, const std::string& domain) {
  json list = json::array();
  for (const auto& tag : state.Tags) {
    if (tag.Domain == domain || (domain.empty() && tag.Domain == "SYSTEM"))
      list.push_back(
          {{"id", tag.Id}, {"name", tag.Name}, {"description", tag.Description}, {"domainId", tag.DomainId}});
  }
  return list;
}

void GetTags(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  std::string domain = req.get_param_value("domain");
  if (req.has_param("boxId")) {
    int id = 0;
    try {
      id = std::stoi(req.get_param_value("boxId"));
    } catch (const std::exception&) {
    }
    TBox* box = BoxOr404(ctx, id, res);
    if (!box) return;
    domain = box->Data.value("domainName", "SYSTEM");
  }
  SendJson(res, {{"tags", TagsOfDomain(ctx.State, domain.empty() ? "SYSTEM" : domain)}});
}

void GetFileSizeLimit(TServerContext& ctx, TCaller&, const httplib::Request&, httplib::Response& res) {
  const std::int64_t limit = ctx.State.Settings.FileSizeLimit;
  SendJson(res, limit >= 0 ? json{{"fileSizeLimit", limit}} : json::object());
}

void GetExternalFileParams(TServerContext& ctx, TCaller& caller, const httplib::Request& req, httplib::Response& res) {
  TBox* box = BoxOr404(ctx, PathId(req), res);
  if (!box) return;
  const std::string path = NewStoredFilePath(ctx.State.Settings, *box);
  std::string key = RandomHex(32);
  SendJson(res, {{"filePath", ForCaller(ctx, caller, path)},
                 {"key", ForCaller(ctx, caller, key)},
                 {"iv", ForCaller(ctx, caller, RandomHex(12))},
                 {"aad", ForCaller(ctx, caller, RandomHex(16))}});
  WipeString(key);
}

}  // namespace

void RegisterBoxRoutes(httplib::Server& server, TServerContext& ctx) {
  server.Get("/safe/boxes", VaultRoute(ctx, GetTopBoxes));
  server.Get(R"(/safe/boxes/(\d+)/boxes)", VaultRoute(ctx, GetChildBoxes));
  server.Get(R"(/safe/boxes/(\d+))", VaultRoute(ctx, GetBox));
  server.Post(R"(/safe/boxes/(\d+))", VaultRoute(ctx, AddBox));
  server.Put(R"(/safe/boxes/(\d+))", VaultRoute(ctx, UpdateBox));
  server.Delete(R"(/safe/boxes/(\d+))", VaultRoute(ctx, DeleteBox));
  server.Post(R"(/safe/watch/(\d+)/((?:enable|disable)(?:Changes|Accesses)(?:All)?))", VaultRoute(ctx, SetWatch));
  server.Get("/safe/tags", VaultRoute(ctx, GetTags));
  server.Get("/safe/fileSizeLimit", VaultRoute(ctx, GetFileSizeLimit));
  server.Get(R"(/safe/boxes/(\d+)/generateExternalFileParams)", VaultRoute(ctx, GetExternalFileParams, true));
}

}  // namespace kof::testserver
