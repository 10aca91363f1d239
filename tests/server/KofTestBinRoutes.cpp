#include "tests/server/KofTestBinRoutes.h"

#include <algorithm>

#include "tests/server/KofTestRequest.h"

namespace kof::testserver {
namespace {

using nlohmann::json;

std::string NameOf(TVaultState& state, int boxId) {
  const TBox* box = state.FindBox(boxId, true);
  return box ? box->Name() : "";
}

json ParentMembers(TVaultState& state, int parentId) {
  const bool parentDeleted = parentId != 0 && state.BoxChainDeleted(parentId);
  return {{"parent", NameOf(state, parentId)},
          {"deletedParent", parentDeleted},
          {"deletedParentId", parentDeleted ? parentId : -1},
          {"deletedParentName", parentDeleted ? NameOf(state, parentId) : ""}};
}

json BoxItem(TVaultState& state, const TBox& box) {
  json item = {{"id", box.Id()},
               {"name", box.Name()},
               {"owner", box.Data.value("ownerName", "")},
               {"ownerId", -1},
               {"type", box.Data.value("type", "SAFEBOX")},
               {"template", ""},
               {"icon", 0},
               {"description", box.Data.value("description", "")},
               {"login", ""},
               {"fromSite", ""},
               {"date", box.DeletedAt},
               {"whitebox", false}};
  item.update(ParentMembers(state, box.ParentId()));
  return item;
}

// The server names every record "account" and tells its kind in "template".
json RecordItem(TVaultState& state, const TRecord& record) {
  const TBox* box = state.FindBox(record.BoxId, true);
  json item = {{"id", record.Id()},
               {"name", record.Name()},
               {"owner", box ? box->Data.value("ownerName", "") : ""},
               {"ownerId", -1},
               {"type", "account"},
               {"template", record.Template()},
               {"icon", 0},
               {"description", record.Data.value("description", "")},
               {"login", record.Data.value("loginName", "")},
               {"fromSite", record.Data.value("site", "")},
               {"date", record.DeletedAt},
               {"whitebox", false}};
  item.update(ParentMembers(state, record.BoxId));
  return item;
}

void ListDeleted(TServerContext& ctx, TCaller&, const httplib::Request&, httplib::Response& res) {
  json items = json::array();
  for (const auto& [id, box] : ctx.State.Boxes)
    if (box.Deleted) items.push_back(BoxItem(ctx.State, box));
  for (const auto& [id, record] : ctx.State.Records)
    if (record.Deleted) items.push_back(RecordItem(ctx.State, record));
  SendJson(res, {{"items", items}});
}

std::optional<std::vector<int>> IdsOf(const httplib::Request& req, httplib::Response& res) {
  auto body = JsonBody(req, res);
  if (!body) return std::nullopt;
  if (!body->contains("boxes") || !(*body)["boxes"].is_array()) {
    SendError(res, 400, "err.request.invalid", {"boxes"});
    return std::nullopt;
  }
  std::vector<int> ids;
  for (const auto& id : (*body)["boxes"]) {
    if (!id.is_number_integer()) {
      SendError(res, 400, "err.request.invalid", {"boxes"});
      return std::nullopt;
    }
    ids.push_back(id.get<int>());
  }
  return ids;
}

bool InBin(TVaultState& state, int id) {
  const TBox* box = state.FindBox(id, true);
  const TRecord* record = state.FindRecord(id, true);
  return (box && box->Deleted) || (record && record->Deleted);
}

// All ids are checked before anything changes, so a bad id changes nothing.
bool CheckAllInBin(TVaultState& state, const std::vector<int>& ids, httplib::Response& res) {
  for (int id : ids) {
    if (!InBin(state, id)) {
      SendError(res, 404, "err.item.notFound", {std::to_string(id)}, id);
      return false;
    }
  }
  return true;
}

int ParentOf(TVaultState& state, int id) {
  if (const TBox* box = state.FindBox(id, true)) return box->ParentId();
  return state.FindRecord(id, true)->BoxId;
}

bool ParentsRestorable(TVaultState& state, const std::vector<int>& ids, httplib::Response& res) {
  for (int id : ids) {
    const int parent = ParentOf(state, id);
    const bool parentComesBack = std::find(ids.begin(), ids.end(), parent) != ids.end();
    if (parent != 0 && state.BoxChainDeleted(parent) && !parentComesBack) {
      SendError(res, 409, "err.parent.deleted", {std::to_string(id)}, id);
      return false;
    }
  }
  return true;
}

void Restore(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  auto ids = IdsOf(req, res);
  if (!ids || !CheckAllInBin(ctx.State, *ids, res) || !ParentsRestorable(ctx.State, *ids, res)) return;
  for (int id : *ids) {
    if (TBox* box = ctx.State.FindBox(id, true)) box->Deleted = false;
    if (TRecord* record = ctx.State.FindRecord(id, true)) record->Deleted = false;
  }
  SendJson(res, json::object());
}

void PurgeBox(TVaultState& state, int boxId) {
  for (auto it = state.Records.begin(); it != state.Records.end();)
    it = it->second.BoxId == boxId ? state.Records.erase(it) : std::next(it);
  std::vector<int> children;
  for (const auto& [id, box] : state.Boxes)
    if (box.ParentId() == boxId) children.push_back(id);
  state.Boxes.erase(boxId);
  for (int child : children) PurgeBox(state, child);
}

void Remove(TServerContext& ctx, TCaller&, const httplib::Request& req, httplib::Response& res) {
  auto ids = IdsOf(req, res);
  if (!ids || !CheckAllInBin(ctx.State, *ids, res)) return;
  for (int id : *ids) {
    if (ctx.State.Boxes.count(id)) PurgeBox(ctx.State, id);
    ctx.State.Records.erase(id);
  }
  SendJson(res, json::object());
}

}  // namespace

void RegisterBinRoutes(httplib::Server& server, TServerContext& ctx) {
  server.Get("/safe/deleted", VaultRoute(ctx, ListDeleted));
  server.Put("/safe/deleted", VaultRoute(ctx, Restore));
  server.Delete("/safe/deleted", VaultRoute(ctx, Remove));
}

}  // namespace kof::testserver
